// Single instance for the window: the per-user instance lock, and a local
// socket on which the running instance hears "raise" from a second one.
#pragma once

#include <QObject>
#include <optional>

#include "platform/os/instance_lock.h"
#include "startup/sub_main.h"

class QLocalServer;

namespace velarion::qt {

class InstanceServer final : public QObject, public InstanceGuard {
    Q_OBJECT
public:
    explicit InstanceServer(QObject* parent = nullptr);

    // Takes the lock; when it is free, listens for "raise" requests.
    bool another_running() override;
    // Asks the running instance to raise its window.
    void raise_other() override;

signals:
    void raiseRequested();

private:
    std::optional<InstanceLock> lock_;
    QLocalServer* server_ = nullptr;
};

}  // namespace velarion::qt
