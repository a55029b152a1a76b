#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QScrollBar>
#include <QTableWidget>
#include <QTimer>
#include <QtTest>

#include "app/lists_view.h"
#include "app/main_window.h"
#include "app/widget_child.h"
#include "app/window_commands.h"
#include "maintenance/list_keeper.h"
#include "support/fake_clock.h"
#include "support/fake_kernel_guard.h"
#include "support/program_fixture.h"
#include "support/temp_dir.h"

namespace bw {

using test::child;

class ListsViewTest : public QObject {
    Q_OBJECT

private:
    static QString cell(const ListsView& view, int row, int column) {
        return view.table()->item(row, column)->text();
    }

private slots:
    void showsOneRowPerListWithItsState();
    void addsSwitchesEditsAndRemoves();
    void aRefusedAddSaysWhy();
    void showsTheLifelinesOneLineEach();
    void theWideBoxLetsAListBanEverything();
    void theSettingsMenuShowsTheListsView();
    void aSwitchInTheWindowReachesTheKernelTableOnce();
    void theColumnsThatSayAListWorksShowWithoutScrolling();
};

// A keeper over a fresh folder: a new installation's one allow list.
struct KeeperFixture {
    KeeperFixture() { keeper.load(true); }
    test::TempDir dir;
    test::FakeClock clock;
    test::NoNetworkDownloader downloader;
    ListKeeper keeper{downloader, clock, dir.path()};
};

void ListsViewTest::showsOneRowPerListWithItsState() {
    KeeperFixture f;
    ListsView view(nullptr);
    view.attach(&f.keeper);
    QCOMPARE(view.table()->rowCount(), 1);
    QCOMPARE(view.table()->item(0, ListsView::kOn)->checkState(), Qt::Checked);
    QCOMPARE(cell(view, 0, ListsView::kName), QStringLiteral("Private networks"));
    QCOMPARE(cell(view, 0, ListsView::kMode), QStringLiteral("allow"));
    QCOMPARE(cell(view, 0, ListsView::kSource), QStringLiteral("(kept here)"));
    QCOMPARE(cell(view, 0, ListsView::kRanges), QStringLiteral("4 IPv4\n2 IPv6"));
    QCOMPARE(cell(view, 0, ListsView::kLastUpdate), QStringLiteral("2026-12-05 21:41 UTC"));
    QCOMPARE(cell(view, 0, ListsView::kStatus), QStringLiteral("OK"));
}

void ListsViewTest::addsSwitchesEditsAndRemoves() {
    KeeperFixture f;
    f.dir.write("mine.txt", "Mine:192.0.2.0-192.0.2.255\nv6:[::1]-[::2]\n");
    ListsView view(nullptr);
    view.attach(&f.keeper);

    ListDialog* dialog = view.openAddDialog();
    QVERIFY(dialog);
    QCOMPARE(view.openAddDialog(), dialog);  // one at a time
    child<QLineEdit>(*dialog, "listName")->setText(QStringLiteral("mine"));
    child<QLineEdit>(*dialog, "listSource")
        ->setText(QString::fromStdString(f.dir.file("mine.txt").string()));
    dialog->accept();
    QCOMPARE(view.table()->rowCount(), 2);
    QCOMPARE(cell(view, 1, ListsView::kStatus), QStringLiteral("updating..."));
    // The file is read off the window's thread; the guard's timer carries it in,
    // and with it the news that the guard's table must follow.
    bool guardTold = false;
    while (f.keeper.updating()) {
        guardTold = f.keeper.poll() || guardTold;
        QTest::qWait(2);
    }
    view.followUpdates();
    QCOMPARE(cell(view, 1, ListsView::kRanges), QStringLiteral("1 IPv4\n1 IPv6"));
    QCOMPARE(cell(view, 1, ListsView::kStatus), QStringLiteral("OK"));
    QVERIFY(f.keeper.table().findBlock(0xC0000201u).has_value());
    QVERIFY(guardTold);

    view.table()->item(1, ListsView::kOn)->setCheckState(Qt::Unchecked);
    QVERIFY(!f.keeper.subscriptions()[1].enabled);

    view.table()->selectRow(1);
    dialog = view.openEditDialog();
    QVERIFY(dialog);
    QVERIFY(child<QLineEdit>(*dialog, "listName")->isReadOnly());
    child<QComboBox>(*dialog, "listMode")->setCurrentIndex(1);
    child<QCheckBox>(*dialog, "listOn")->setChecked(true);
    dialog->accept();
    QCOMPARE(cell(view, 1, ListsView::kMode), QStringLiteral("allow"));
    QVERIFY(f.keeper.table().allows(0xC0000201u));

    view.table()->selectRow(0);
    view.removeSelected();
    QCOMPARE(view.table()->rowCount(), 1);
    QCOMPARE(cell(view, 0, ListsView::kName), QStringLiteral("mine"));
}

void ListsViewTest::aRefusedAddSaysWhy() {
    KeeperFixture f;
    ListsView view(nullptr);
    view.attach(&f.keeper);
    ListDialog* dialog = view.openAddDialog();
    child<QLineEdit>(*dialog, "listName")->setText(QStringLiteral("Private networks"));
    child<QLineEdit>(*dialog, "listSource")->setText(QStringLiteral("https://example.net/x"));
    dialog->accept();
    QCOMPARE(view.problem(), QStringLiteral("there is already a list named Private networks"));
    QCOMPARE(view.table()->rowCount(), 1);
}

// Stands in for the program: only the lists are real.
class ListsCommands : public WindowCommands {
public:
    explicit ListsCommands(ListKeeper& keeper) : keeper_(keeper) {}
    const ProgramState& state() const override { return state_; }
    const BanTable& table() const override { return table_; }
    void guardTimerFired() override {}
    void sliderClicked(int) override {}
    void startHiddenClicked(bool) override {}
    void blockingClicked(bool) override {}
    void fullLogClicked(bool) override {}
    AddOutcome addRange(std::string_view, std::string_view, std::string_view) override {
        return {};
    }
    void removeEntry(EntryRef) override {}
    void filesDropped(const std::vector<std::string>&) override {}
    void checkForUpdates() override {}
    void viewConnectionLog() override {}
    void openSupportPage(SupportPage) override {}
    void unload() override {}
    ListKeeper* lists() override { return &keeper_; }

private:
    ListKeeper& keeper_;
    ProgramState state_;
    BanTable table_;
};

void ListsViewTest::theSettingsMenuShowsTheListsView() {
    KeeperFixture f;
    ListsCommands commands(f.keeper);
    MainWindow window(true);
    window.attach(commands);
    window.show();
    child<QAction>(window, "mnuView_Lists")->trigger();
    QVERIFY(window.listsView()->isVisible());
    QCOMPARE(window.listsView()->table()->rowCount(), 1);
    child<QAction>(window, "mnuView_status")->trigger();
    QVERIFY(!window.listsView()->isVisible());
    window.showListsView();
    window.showRangesView();
    QVERIFY(!window.listsView()->isVisible());
}

// The window changes the lists as any other copy of the program may: the
// guard's timer carries the change to the kernel's table, once.
void ListsViewTest::aSwitchInTheWindowReachesTheKernelTableOnce() {
    test::FakeServices world;
    std::filesystem::remove(world.dir.file("lists.json"));  // a new installation's allow list
    world.dir.write("Moatlist.P2P", "Own Net:10.0.0.0-10.0.0.255\r\n");
    test::FakeKernelGuard kernel;
    ProgramServices services = world.services();
    services.kernelGuard = &kernel;
    test::RecordingHost host;
    Program program(host, services);
    program.load("");
    ProgramCommands commands(program);
    MainWindow window(true);
    window.attach(commands);
    window.showListsView();
    auto* guardTimer = child<QTimer>(window, "tmr1");
    QVERIFY(QMetaObject::invokeMethod(guardTimer, "timeout"));
    const std::size_t tablesBefore = kernel.tables.size();
    QVERIFY(tablesBefore > 0);
    QVERIFY(kernel.tables.back().empty());  // the allow list spares the private range

    QCOMPARE(cell(*window.listsView(), 0, ListsView::kName), QStringLiteral("Private networks"));
    window.listsView()->table()->item(0, ListsView::kOn)->setCheckState(Qt::Unchecked);
    for (int tick = 0; tick < 3; ++tick) QVERIFY(QMetaObject::invokeMethod(guardTimer, "timeout"));

    QCOMPARE(kernel.tables.size(), tablesBefore + 1);
    QCOMPARE(kernel.tables.back(), (std::vector<AddressInterval>{{0x0A000000u, 0x0A0000FFu}}));
}

void ListsViewTest::showsTheLifelinesOneLineEach() {
    KeeperFixture f;
    ListsView view(nullptr);
    view.attach(&f.keeper);
    QCOMPARE(view.lifelinesText(), QString());
    view.showLifelines([] {
        return std::vector<Lifeline>{{IpAddress::fromV4(0xC0000235u), "DNS server"},
                                     {IpAddress::fromV4(0xC0000201u), "default gateway"}};
    });
    QCOMPARE(view.lifelinesText(), QStringLiteral("Never banned: 192.0.2.53 (DNS server)\n"
                                                  "Never banned: 192.0.2.1 (default gateway)"));
}

void ListsViewTest::theWideBoxLetsAListBanEverything() {
    for (bool wide : {false, true}) {
        KeeperFixture f;
        f.dir.write("all.txt", "0.0.0.0/0\n");
        ListsView view(nullptr);
        view.attach(&f.keeper);
        ListDialog* dialog = view.openAddDialog();
        QVERIFY(dialog);
        child<QLineEdit>(*dialog, "listName")->setText(QStringLiteral("all"));
        child<QLineEdit>(*dialog, "listSource")
            ->setText(QString::fromStdString(f.dir.file("all.txt").string()));
        child<QCheckBox>(*dialog, "listWide")->setChecked(wide);
        dialog->accept();
        while (f.keeper.updating()) {
            f.keeper.poll();
            QTest::qWait(2);
        }
        view.followUpdates();
        QCOMPARE(f.keeper.subscriptions()[1].wide, wide);
        QCOMPARE(cell(view, 1, ListsView::kShare),
                 wide ? QStringLiteral("100.0 % (wide)") : QStringLiteral("0.0 %"));
        QCOMPARE(cell(view, 1, ListsView::kStatus).startsWith(QStringLiteral("Error: refused")),
                 !wide);
    }
}

// At the window's own size, what says whether a list works (its ranges, last
// update and status) is in sight without scrolling; the long texts are cut in
// the middle and shown whole in their tooltips.
void ListsViewTest::theColumnsThatSayAListWorksShowWithoutScrolling() {
    KeeperFixture f;
    Subscription broken;
    broken.name = "Level one from the long address";
    broken.source = "https://lists.example.net/published/blocklists/level-one/ranges.p2p.gz";
    QCOMPARE(QString::fromStdString(f.keeper.add(broken)), QString());
    f.keeper.updateNow(broken.name);
    while (f.keeper.updating()) f.keeper.poll();
    ListsCommands commands(f.keeper);
    MainWindow window(true);
    window.attach(commands);
    window.show();
    window.showListsView();
    QCoreApplication::processEvents();

    QTableWidget* table = window.listsView()->table();
    QHeaderView* header = table->horizontalHeader();
    const int viewport = table->viewport()->width();
    QCOMPARE(table->horizontalScrollBar()->maximum(), 0);
    for (int column = 0; column < ListsView::kColumns; ++column) {
        QVERIFY2(
            table->isColumnHidden(column) ||
                header->sectionViewportPosition(column) + header->sectionSize(column) <= viewport,
            qPrintable(QStringLiteral("column %1 runs past the view").arg(column)));
    }
    for (int column : {ListsView::kRanges, ListsView::kLastUpdate}) {
        for (int row = 0; row < table->rowCount(); ++row) {
            const QModelIndex cell = table->model()->index(row, column);
            QVERIFY2(header->sectionSize(column) >= table->sizeHintForIndex(cell).width(),
                     qPrintable(QStringLiteral("column %1 is cut").arg(column)));
        }
    }
    QVERIFY(header->sectionSize(ListsView::kOn) < header->sectionSize(ListsView::kLastUpdate) / 2);
    QVERIFY(header->sectionSize(ListsView::kStatus) >=
            table->fontMetrics().horizontalAdvance(QStringLiteral("Error: cannot")));
    QCOMPARE(table->textElideMode(), Qt::ElideMiddle);
    QCOMPARE(table->item(1, ListsView::kSource)->toolTip(), QString::fromStdString(broken.source));
    const QString status = table->item(1, ListsView::kStatus)->text();
    QVERIFY2(status.startsWith(QStringLiteral("Error: ")), qPrintable(status));
    QCOMPARE(table->item(1, ListsView::kStatus)->toolTip(), status);
}

}  // namespace bw

QTEST_MAIN(bw::ListsViewTest)
#include "lists_view_test.moc"
