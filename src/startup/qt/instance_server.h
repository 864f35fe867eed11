// Single instance for the window: the operator's instance lock in the work
// folder, and a local socket on which the running instance hears "raise"
// from a second one.
#pragma once

#include <QObject>
#include <optional>
#include <string>

#include "platform/os/instance_lock.h"
#include "startup/instance_guard.h"

class QLocalServer;

namespace velarion::qt {

class InstanceServer final : public QObject, public InstanceGuard {
    Q_OBJECT
public:
    explicit InstanceServer(QObject* parent = nullptr);

    // Takes the lock; when it is ours, listens for "raise" requests. Where
    // the lock cannot be made (no work folder yet) the window runs on, so
    // that its settings can be put right.
    bool another_running(const std::string& work_dir, const std::string& name) override;
    // Asks the running instance to raise its window.
    void raise_other() override;

signals:
    void raiseRequested();

private:
    std::optional<InstanceLock> lock_;
    std::string name_;
    QLocalServer* server_ = nullptr;
};

}  // namespace velarion::qt
