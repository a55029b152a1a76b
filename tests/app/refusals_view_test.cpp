#include <QAction>
#include <QSignalSpy>
#include <QTableView>
#include <QtTest>

#include "app/main_window.h"
#include "app/refusals_view.h"
#include "app/widget_child.h"
#include "app/window_commands.h"
#include "guard/refusal_store.h"
#include "program/program.h"
#include "support/fake_kernel_guard.h"
#include "support/program_fixture.h"

namespace bw {

using test::child;

class RefusalsViewTest : public QObject {
    Q_OBJECT

private slots:
    void showsEachDetailInItsColumn();
    void followsTheBoundAndRepeatsWithoutStartingOver();
    void recordsOfAnotherRunReplaceTheRows();
    void theSettingsMenuShowsTheRefusalsOfTheProgram();
};

namespace {

// A store over fake data, as the guards feed it.
struct StoreFixture {
    explicit StoreFixture(std::size_t bound = kRecentRefusalRecords)
        : store(records, host, clock, bound) {}

    void refuse(std::uint32_t address, std::uint32_t pid = 4242, const char* command = "refusme") {
        RefusalRecord r;
        r.address = IpAddress::fromV4(address);
        r.entry = "Example Net";
        r.pid = pid;
        r.command = command;
        r.port = 443;
        r.protocol = 6;
        store.record(r, true);
    }

    RecentRefusals records;
    test::RecordingHost host;
    test::FakeClock clock;
    RefusalStore store;
};

QString cell(const RefusalsModel& model, int row, int column) {
    return model.data(model.index(row, column)).toString();
}

// Every column of a row, as the user reads it.
QString rowText(const RefusalsModel& model, int row) {
    QStringList cells;
    for (int column = 0; column < RefusalsModel::kColumns; ++column)
        cells << cell(model, row, column);
    return cells.join(QStringLiteral(" | "));
}

}  // namespace

void RefusalsViewTest::showsEachDetailInItsColumn() {
    StoreFixture f;
    f.refuse(0x0A000005);
    RefusalRecord incoming;
    incoming.address = IpAddress::fromV4(0xC0000209);
    incoming.entry = "Bad Net [level1]";
    incoming.programUnknown = "a packet coming in";
    incoming.port = 51234;
    incoming.protocol = 17;
    incoming.direction = RefusedDirection::Incoming;
    f.store.record(incoming, true);
    RefusalRecord ipv6 = incoming;
    ipv6.address = *parseIpAddress("2001:DB8:0:0:0:0:0:5");
    ipv6.entry = "Doc Net";
    f.store.record(ipv6, true);

    RefusalsView view(nullptr);
    view.follow(f.records);
    const RefusalsModel& model = *view.model();
    QCOMPARE(model.rowCount(), 3);
    QCOMPARE(model.headerData(RefusalsModel::kTimes, Qt::Horizontal).toString(),
             QStringLiteral("Times in a row"));
    QCOMPARE(rowText(model, 0),
             QStringLiteral("12-05-2026 21:41:15 | 10.0.0.5 | Example Net | refusme (pid 4242) | "
                            "443 | TCP | outgoing | 1"));
    QCOMPARE(rowText(model, 1),
             QStringLiteral("12-05-2026 21:41:15 | 192.0.2.9 | Bad Net [level1] | unknown (a "
                            "packet coming in) | 51234 | UDP | incoming | 1"));
    QCOMPARE(rowText(model, 2),
             QStringLiteral("12-05-2026 21:41:15 | 2001:db8::5 | Doc Net | unknown (a "
                            "packet coming in) | 51234 | UDP | incoming | 1"));
}

void RefusalsViewTest::followsTheBoundAndRepeatsWithoutStartingOver() {
    StoreFixture f(3);
    RefusalsView view(nullptr);
    RefusalsModel& model = *view.model();
    for (std::uint32_t a = 1; a <= 3; ++a) f.refuse(a);
    view.follow(f.records);
    QSignalSpy resets(&model, &QAbstractItemModel::modelReset);
    QSignalSpy removed(&model, &QAbstractItemModel::rowsRemoved);
    QSignalSpy inserted(&model, &QAbstractItemModel::rowsInserted);
    QSignalSpy changed(&model, &QAbstractItemModel::dataChanged);

    f.refuse(4);
    f.refuse(5);
    view.follow(f.records);
    QCOMPARE(model.rowCount(), 3);
    QCOMPARE(cell(model, 0, RefusalsModel::kAddress), QStringLiteral("0.0.0.3"));
    QCOMPARE(cell(model, 2, RefusalsModel::kAddress), QStringLiteral("0.0.0.5"));
    QCOMPARE(removed.count(), 1);
    QCOMPARE(inserted.count(), 1);

    f.clock.time.second = 20;
    f.refuse(5);
    f.refuse(5);
    view.follow(f.records);
    QCOMPARE(model.rowCount(), 3);
    QCOMPARE(cell(model, 2, RefusalsModel::kTimes), QStringLiteral("3"));
    QCOMPARE(cell(model, 2, RefusalsModel::kTime), QStringLiteral("12-05-2026 21:41:20"));
    QCOMPARE(changed.count(), 1);
    QCOMPARE(resets.count(), 0);

    view.follow(f.records);  // nothing new: nothing signalled
    QCOMPARE(removed.count() + inserted.count() + changed.count(), 3);
}

void RefusalsViewTest::recordsOfAnotherRunReplaceTheRows() {
    StoreFixture first;
    first.refuse(1);
    first.refuse(2);
    StoreFixture second;  // its serials start again at 1
    second.refuse(7, 1, "other");
    RefusalsView view(nullptr);
    view.follow(first.records);
    view.follow(second.records);
    QCOMPARE(view.model()->rowCount(), 1);
    QCOMPARE(cell(*view.model(), 0, RefusalsModel::kProgram), QStringLiteral("other (pid 1)"));
    view.follow(RecentRefusals{});
    QCOMPARE(view.model()->rowCount(), 0);
}

// The window over a program whose kernel guard (a fake) refuses a program.
void RefusalsViewTest::theSettingsMenuShowsTheRefusalsOfTheProgram() {
    test::FakeServices fakes;
    fakes.dir.write("Moatlist.P2P", "Example Net:10.0.0.0-10.0.0.255\r\n");
    test::FakeKernelGuard kernel;
    ProgramServices services = fakes.services();
    services.kernelGuard = &kernel;
    MainWindow window(true);
    window.setExitHandler([](int) {});
    Program program(window, services);
    ProgramCommands commands(program);
    window.attach(commands);
    program.load("");
    window.show();

    kernel.queued.push_back(
        {IpAddress::fromV4(0x0A000005), 443, 6, RefusalDirection::Outgoing, 4242, "refusme"});
    program.guardTimerFired();
    child<QAction>(window, "mnuView_Refusals")->trigger();
    QVERIFY(window.refusalsView()->isVisible());
    QCOMPARE(window.refusalsView()->table()->model()->rowCount(), 1);
    QCOMPARE(rowText(*window.refusalsView()->model(), 0),
             QStringLiteral("12-05-2026 21:41:15 | 10.0.0.5 | Example Net | refusme (pid 4242) | "
                            "443 | TCP | outgoing | 1"));
    child<QAction>(window, "mnuView_status")->trigger();
    QVERIFY(!window.refusalsView()->isVisible());
    window.showRefusalsView();
    window.showListsView();
    QVERIFY(!window.refusalsView()->isVisible());
}

}  // namespace bw

QTEST_MAIN(bw::RefusalsViewTest)
#include "refusals_view_test.moc"
