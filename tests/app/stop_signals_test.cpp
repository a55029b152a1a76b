// A stop signal closes the program from the event loop, as the close box does.

#include <QObject>
#include <QtTest>
#include <csignal>

#include "app/stop_signals.h"

namespace bw {

class StopSignalsTest : public QObject {
    Q_OBJECT

private slots:
    void aStopSignalClosesFromTheEventLoop_data() {
        QTest::addColumn<int>("signal");
        QTest::newRow("SIGTERM") << SIGTERM;
        QTest::newRow("SIGINT") << SIGINT;
    }

    void aStopSignalClosesFromTheEventLoop() {
        QFETCH(int, signal);
        QObject owner;
        int closes = 0;
        closeOnStopSignals(&owner, [&closes] { ++closes; });
        std::raise(signal);
        QCOMPARE(closes, 0);  // not from inside the signal handler
        QTRY_COMPARE(closes, 1);
    }
};

}  // namespace bw

QTEST_GUILESS_MAIN(bw::StopSignalsTest)
#include "stop_signals_test.moc"
