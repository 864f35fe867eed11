// The single-instance lock and the "raise" request between two instances.
#include <stdlib.h>

#include <QSignalSpy>
#include <QtTest>

#include "startup/qt/instance_server.h"
#include "support/test_support.h"

using namespace velarion;

class InstanceServerTest : public QObject {
    Q_OBJECT
private slots:
    void secondInstanceAsksTheFirstToRaise() {
        testing::TempDir runtime, work;
        setenv("XDG_RUNTIME_DIR", runtime.path().c_str(), 1);
        qt::InstanceServer first;
        QVERIFY(!first.another_running(work.path(), "AB"));
        QSignalSpy raised(&first, &qt::InstanceServer::raiseRequested);

        qt::InstanceServer second;
        QVERIFY(second.another_running(work.path(), "AB"));
        second.raise_other();
        QTRY_COMPARE(raised.count(), 1);
        // The headless runner's request reaches the same socket.
        QVERIFY(InstanceLock::request_raise("AB"));
        QTRY_COMPARE(raised.count(), 2);
        // Another operator's agent is not this one: its own lock, no raise.
        qt::InstanceServer other;
        QVERIFY(!other.another_running(work.path(), "CD"));
        QVERIFY(!InstanceLock::request_raise("XY"));
    }
};

QTEST_MAIN(InstanceServerTest)
#include "instance_server_test.moc"
