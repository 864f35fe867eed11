#include "startup/qt/instance_server.h"

#include <QLocalServer>
#include <QLocalSocket>

#include "common/work_folder.h"

namespace velarion::qt {

InstanceServer::InstanceServer(QObject* parent) : QObject(parent) {}

bool InstanceServer::another_running(const std::string& work_dir, const std::string& name) {
    name_ = name;
    if (work_dir.empty()) return false;
    lock_ = InstanceLock::try_acquire(work_folder::instance_lock(work_dir, name));
    if (!lock_) return true;
    // The lock is ours (or none could be made), so a socket left by a crashed instance is stale.
    const QString path = QString::fromStdString(InstanceLock::socket_path(name));
    QLocalServer::removeServer(path);
    server_ = new QLocalServer(this);
    server_->setSocketOptions(QLocalServer::UserAccessOption);
    connect(server_, &QLocalServer::newConnection, this, [this] {
        while (QLocalSocket* s = server_->nextPendingConnection()) {
            connect(s, &QLocalSocket::readyRead, this, [this, s] {
                if (s->readAll().startsWith("raise")) emit raiseRequested();
            });
            connect(s, &QLocalSocket::disconnected, s, &QObject::deleteLater);
        }
    });
    server_->listen(path);
    return false;
}

void InstanceServer::raise_other() {
    QLocalSocket socket;
    socket.connectToServer(QString::fromStdString(InstanceLock::socket_path(name_)));
    if (!socket.waitForConnected(1000)) return;
    socket.write("raise\n");
    socket.waitForBytesWritten(1000);
    socket.disconnectFromServer();
}

}  // namespace velarion::qt
