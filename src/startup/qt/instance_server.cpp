#include "startup/qt/instance_server.h"

#include <QLocalServer>
#include <QLocalSocket>

namespace velarion::qt {

InstanceServer::InstanceServer(QObject* parent) : QObject(parent) {}

bool InstanceServer::another_running() {
    lock_ = InstanceLock::try_acquire();
    if (!lock_) return true;
    // The lock is ours, so a socket left by a crashed instance is stale.
    const QString path = QString::fromStdString(InstanceLock::socket_path());
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
    socket.connectToServer(QString::fromStdString(InstanceLock::socket_path()));
    if (!socket.waitForConnected(1000)) return;
    socket.write("raise\n");
    socket.waitForBytesWritten(1000);
    socket.disconnectFromServer();
}

}  // namespace velarion::qt
