#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QMenu>
#include <QMessageBox>
#include <QMimeData>
#include <QPlainTextEdit>
#include <QProgressDialog>
#include <QPushButton>
#include <QSlider>
#include <QTimer>
#include <QUrl>
#include <QtTest>

#include "app/add_range_dialog.h"
#include "app/main_window.h"
#include "app/tray_backend.h"
#include "app/widget_child.h"
#include "app/window_commands.h"

namespace bw {

using test::child;

// Stands in for the program: holds a state and a table, records each call.
class FakeCommands : public WindowCommands {
public:
    const ProgramState& state() const override { return programState; }
    const BanTable& table() const override { return banTable; }
    void guardTimerFired() override { calls << QStringLiteral("tick"); }
    void sliderClicked(int position) override {
        calls << QStringLiteral("slider %1").arg(position);
    }
    void startHiddenClicked(bool on) override { calls << QStringLiteral("check1 %1").arg(on); }
    void blockingClicked(bool on) override { calls << QStringLiteral("check2 %1").arg(on); }
    void fullLogClicked(bool on) override { calls << QStringLiteral("check3 %1").arg(on); }
    AddOutcome addRange(std::string_view profile, std::string_view start,
                        std::string_view end) override {
        calls << QStringLiteral("add [%1] [%2] [%3]")
                     .arg(QString::fromStdString(std::string(profile)),
                          QString::fromStdString(std::string(start)),
                          QString::fromStdString(std::string(end)));
        return addOutcome;
    }
    void removeEntry(EntryRef e) override {
        calls << QStringLiteral("remove %1/%2").arg(e.bucket).arg(e.slot);
    }
    void filesDropped(const std::vector<std::string>& paths) override {
        QStringList p;
        for (const auto& s : paths) p << QString::fromStdString(s);
        calls << QStringLiteral("drop ") + p.join(QLatin1Char('|'));
    }
    void checkForUpdates() override { calls << QStringLiteral("update"); }
    void viewConnectionLog() override { calls << QStringLiteral("viewlog"); }
    void openSupportPage(SupportPage page) override {
        calls << QStringLiteral("page %1").arg(static_cast<int>(page));
    }
    void unload() override { calls << QStringLiteral("unload"); }

    ProgramState programState;
    BanTable banTable;
    QStringList calls;
    AddOutcome addOutcome = AddOutcome::Added;
};

// A shown window over FakeCommands, its add dialog opened with the window's button.
struct WindowWithAddDialog {
    explicit WindowWithAddDialog(bool trayAvailable = true, AddOutcome outcome = AddOutcome::Added)
        : window(trayAvailable) {
        program.addOutcome = outcome;
        window.attach(program);
        window.show();
        form = openAddDialog();
    }
    AddRangeDialog* openAddDialog() {
        child<QPushButton>(window, "Command1")->click();
        return window.addDialog();
    }

    MainWindow window;
    FakeCommands program;
    AddRangeDialog* form = nullptr;
};

class MainWindowTest : public QObject {
    Q_OBJECT

private:
    static QAction* action(MainWindow& window, const char* name) {
        return child<QAction>(window, name);
    }
    // The next question box that comes up is answered with the button, and its text kept.
    static void answerTheNextQuestion(QObject* context, QMessageBox::StandardButton answer,
                                      QString* asked = nullptr) {
        QTimer::singleShot(0, context, [answer, asked] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            if (!box)
                return;
            if (asked)
                *asked = box->text();
            box->button(answer)->click();
        });
    }

private slots:
    void showsEveryCaptionAndInitialState();
    void placesTheWidgetsByTheTwipTables();
    void menuItemsReachTheProgram();
    void resizeRulesOnTheEightThousandTwipWindow();
    void resizeRulesOnAWindowNarrowerThan4400Twips();
    void resizeRulesFollowTheWindowsOwnSize();
    void switchesViews();
    void minimiseHidesAndALeftDoubleClickRestores_data();
    void minimiseHidesAndALeftDoubleClickRestores();
    void trayMenuOffersTheWindowsCommands();
    void closingUnloadsTheProgram();
    void theTrayMenusCloseUnloadsAHiddenWindow();
    void showsTheProgramState();
    void followsTheProgramsWishToHide();
    void widgetsReachTheProgram();
    void removesOnlyASelectedRow();
    void rowsStayThoseOfTheLastRefreshWhileEntriesArrive();
    void logBoxAppendsAndKeepsItsCapacity();
    void messageBoxShowsTextTitleIconAndOk_data();
    void messageBoxShowsTextTitleIconAndOk();
    void progressBoxRunsUntilFinished();
    void addDialogHasItsFieldsAndLayout();
    void addDialogIsOneInstanceAndAddsOnce();
    void addDialogClosedWithoutAddAddsNothing();
    void addDialogSaysWhyItRefusedAndStaysOpen();
    void addDialogTakesEnterAndEscape();
    void addDialogAsksBeforeItAddsARangeWiderThanASlashEight();
    void addDialogComesBackWithTheWindow();
    void filesDroppedOnTheListGoToTheProgram();
    void aDropWithoutFilesIsIgnored();
};

void MainWindowTest::showsEveryCaptionAndInitialState() {
    MainWindow window(true);
    QCOMPARE(window.windowTitle(), QStringLiteral("Bastionwatch v1.99"));
    QVERIFY(!window.windowIcon().isNull());

    const struct {
        const char* name;
        const char* caption;
    } menu[] = {
        {"mnuView_viewlog", "&View Full Connection Log"},
        {"mnuView_status", "&Status && Settings"},
        {"mnuView_Blocks", "&IP Ranges/Blocklist"},
        {"mnuForums2", "Bastionwatch Community Forums"},
        {"mnuForums1", "Bastionwatch (Tallrig) Forums"},
        {"mnuchkupdate", "Check for blocklist updates"},
        {"mnuSupport_tallrigsite1", "Homepage - Tallrig HQ"},
        {"mnuSupp_tallrigsite2", "Homepage - Tallrig Mirror"},
        {"mnuSupp_bw2ipsite", "On-line IP Database"},
    };
    for (const auto& m : menu) QCOMPARE(action(window, m.name)->text(), QLatin1String(m.caption));
    QCOMPARE(child<QMenu>(window, "mnuView")->title(), QStringLiteral("&Settings"));
    QMenu* support = child<QMenu>(window, "mnuSupp");
    QCOMPARE(support->title(), QStringLiteral("&Support"));
    QStringList supportItems;
    for (QAction* a : support->actions()) supportItems << a->objectName();
    QCOMPARE(supportItems,
             (QStringList{QStringLiteral("mnuForums2"), QStringLiteral("mnuForums1"),
                          QStringLiteral("mnudivx40"), QStringLiteral("mnuchkupdate"),
                          QStringLiteral("mnudivx"), QStringLiteral("mnuSupport_tallrigsite1"),
                          QStringLiteral("mnuSupp_tallrigsite2"), QStringLiteral("mnudiv"),
                          QStringLiteral("mnuSupp_bw2ipsite")}));
    for (const char* divider : {"mnudivx40", "mnudivx", "mnudiv"})
        QVERIFY(action(window, divider)->isSeparator());

    const struct {
        const char* name;
        const char* text;
    } labels[] = {
        {"Label4", "Addresses:"},  {"Label3", "Ranges:"}, {"Label5", "Blocked:"},
        {"Label6_0", "0"},         {"Label6_1", "0"},     {"Label6_2", "0"},
        {"Label1", "Aggression:"}, {"Label2", "90%"},
    };
    for (const auto& l : labels)
        QCOMPARE(child<QLabel>(window, l.name)->text(), QLatin1String(l.text));
    for (const char* bold : {"Label6_0", "Label6_1", "Label6_2", "Label2"})
        QVERIFY(child<QLabel>(window, bold)->font().bold());
    QVERIFY(child<QLabel>(window, "Label6_1")->alignment() & Qt::AlignRight);
    QVERIFY(child<QLabel>(window, "Label2")->alignment() & Qt::AlignHCenter);

    const struct {
        const char* name;
        const char* caption;
        bool ticked;
    } checks[] = {
        {"Check2", "Block banned IPs.", true},
        {"Check1", "Lanch Minimzed", false},
        {"Check3", "Full Conn. Log", true},
    };
    for (const auto& c : checks) {
        QCOMPARE(child<QCheckBox>(window, c.name)->text(), QLatin1String(c.caption));
        QCOMPARE(child<QCheckBox>(window, c.name)->isChecked(), c.ticked);
    }
    QSlider* slider = child<QSlider>(window, "Slider1");
    QCOMPARE(slider->orientation(), Qt::Horizontal);
    QCOMPARE(slider->minimum(), 0);
    QCOMPARE(slider->maximum(), 100);
    QCOMPARE(slider->value(), 90);
    QCOMPARE(slider->singleStep(), 1);
    QCOMPARE(slider->pageStep(), 5);

    QPlainTextEdit* log = child<QPlainTextEdit>(window, "Text2");
    QVERIFY(log->toPlainText().isEmpty());
    QCOMPARE(log->verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOn);
    QCOMPARE(child<QPushButton>(window, "Command1")->text(),
             QStringLiteral("Add New Range/Address"));
    QCOMPARE(child<QPushButton>(window, "Command2")->text(),
             QStringLiteral("Remove Range/Address"));
    QVERIFY(child<QListView>(window, "List1")->acceptDrops());
    QVERIFY(child<QLabel>(window, "Picture9")->pixmap().isNull());
    QCOMPARE(child<QLabel>(window, "Picture8")->pixmap().size(), QSize(121, 49));
    QCOMPARE(child<QLabel>(window, "Picture10")->pixmap().size(), QSize(109, 49));

    QTimer* tmr1 = child<QTimer>(window, "tmr1");
    QCOMPARE(tmr1->interval(), 100);
    QVERIFY(!tmr1->isActive());
    QCOMPARE(tmr1->timerType(), Qt::PreciseTimer);

    QVERIFY(window.shellIcon().visible());
    QVERIFY(window.shellIcon().iconShown());
    QVERIFY(window.shellIcon().toolTipText().empty());
    QVERIFY(window.shellIcon().sysMenu());

    window.show();
    QWidget* status = child<QWidget>(window, "Picture4");
    QWidget* ranges = child<QWidget>(window, "Picture3");
    QVERIFY(status->isVisible());
    QVERIFY(ranges->isVisible());
    const QObjectList stacking = status->parentWidget()->children();
    QVERIFY(stacking.indexOf(status) > stacking.indexOf(ranges));  // status view lies above
    QVERIFY(!child<QLabel>(window, "Picture8")->isVisible());
    QVERIFY(!child<QLabel>(window, "Picture10")->isVisible());
}

void MainWindowTest::placesTheWidgetsByTheTwipTables() {
    MainWindow window(true);  // not shown: no resize rule has run yet
    const TwipScale& s = window.scale();
    const struct {
        const char* name;
        TwipBox box;
    } widgets[] = {
        {"Picture4", {0, 0, 6075, 3195}},    {"Picture9", {60, 60, 1815, 735}},
        {"Picture7", {1920, 60, 2175, 735}}, {"Label4", {60, 0, 855, 255}},
        {"Label3", {60, 240, 855, 255}},     {"Label5", {60, 480, 735, 255}},
        {"Label6_1", {900, 0, 1155, 255}},   {"Label6_0", {900, 240, 1155, 255}},
        {"Label6_2", {900, 480, 1155, 255}}, {"Picture2", {4140, 60, 1815, 315}},
        {"Check2", {60, 0, 1695, 255}},      {"Picture11", {4140, 455, 1815, 315}},
        {"Check1", {60, 0, 1575, 255}},      {"Picture5", {4140, 840, 1815, 315}},
        {"Check3", {60, 0, 1635, 255}},      {"Picture6", {60, 840, 4035, 315}},
        {"Slider1", {0, 0, 2535, 225}},      {"Label1", {2580, 30, 855, 255}},
        {"Label2", {3420, 30, 555, 255}},    {"Text2", {60, 1200, 5895, 1875}},
        {"Picture3", {0, 0, 6075, 3195}},    {"Picture1", {60, 60, 5895, 435}},
        {"Command1", {0, 0, 2955, 375}},     {"Command2", {2940, 0, 2895, 375}},
        {"List1", {60, 540, 5895, 2400}},
    };
    for (const auto& w : widgets) {
        QWidget* widget = child<QWidget>(window, w.name);
        QVERIFY2(widget->geometry() == s.rect(w.box), w.name);
    }
    QCOMPARE(child<QWidget>(window, "Picture9")->parentWidget()->objectName(),
             QStringLiteral("Picture4"));
    QCOMPARE(child<QWidget>(window, "Command2")->parentWidget()->objectName(),
             QStringLiteral("Picture1"));
    window.show();
    QCOMPARE(window.centralWidget()->size(), QSize(s.px(6165), s.px(4590)));
}

void MainWindowTest::menuItemsReachTheProgram() {
    MainWindow window(true);
    FakeCommands program;
    window.attach(program);
    for (const char* name :
         {"mnuView_viewlog", "mnuForums2", "mnuForums1", "mnuchkupdate", "mnuSupport_tallrigsite1",
          "mnuSupp_tallrigsite2", "mnuSupp_bw2ipsite"})
        action(window, name)->trigger();
    QCOMPARE(program.calls, (QStringList{QStringLiteral("viewlog"), QStringLiteral("page 0"),
                                         QStringLiteral("page 1"), QStringLiteral("update"),
                                         QStringLiteral("page 2"), QStringLiteral("page 3"),
                                         QStringLiteral("page 4")}));
}

void MainWindowTest::resizeRulesOnTheEightThousandTwipWindow() {
    MainWindow window(true);
    const TwipScale& s = window.scale();
    window.applyOuterSize(8000, 6000);
    const struct {
        const char* name;
        double width;
    } widths[] = {
        {"Picture4", 7850}, {"Picture3", 7850},  {"Text2", 7750}, {"Picture2", 3600},
        {"Picture5", 3600}, {"Picture11", 3600}, {"List1", 7700}, {"Picture1", 7700},
        {"Command1", 3850}, {"Command2", 3805},
    };
    for (const auto& w : widths)
        QVERIFY2(child<QWidget>(window, w.name)->width() == s.px(w.width), w.name);
    QCOMPARE(child<QWidget>(window, "Command2")->x(), s.px(3850));
    QCOMPARE(child<QWidget>(window, "Picture4")->height(), s.px(5155));
    QCOMPARE(child<QWidget>(window, "Text2")->height(), s.px(3900));
    QCOMPARE(child<QWidget>(window, "List1")->height(), s.px(4500));
    QCOMPARE(child<QWidget>(window, "Text2")->pos(), QPoint(s.px(60), s.px(1200)));
}

void MainWindowTest::resizeRulesOnAWindowNarrowerThan4400Twips() {
    MainWindow window(true);
    const TwipScale& s = window.scale();
    window.applyOuterSize(8000, 6000);
    window.applyOuterSize(4000, 6000);
    for (const char* panel : {"Picture2", "Picture5", "Picture11"})
        QVERIFY2(child<QWidget>(window, panel)->width() == s.px(3600), panel);
    QCOMPARE(child<QWidget>(window, "Picture4")->width(), s.px(3850));
    QCOMPARE(child<QWidget>(window, "Text2")->width(), s.px(3750));
    QCOMPARE(child<QWidget>(window, "Command1")->width(), s.px(1850));
    QCOMPARE(child<QWidget>(window, "Command2")->x(), s.px(1850));
}

void MainWindowTest::resizeRulesFollowTheWindowsOwnSize() {
    MainWindow window(true);
    const TwipScale& s = window.scale();
    window.show();
    window.resize(s.px(9000), s.px(7000));
    QCoreApplication::processEvents();
    const QSize outer = window.frameGeometry().size();
    QCOMPARE(child<QWidget>(window, "Picture4")->width(), s.px(s.twips(outer.width()) - 150));
    QCOMPARE(child<QWidget>(window, "List1")->height(), s.px(s.twips(outer.height()) - 1500));
}

void MainWindowTest::switchesViews() {
    MainWindow window(true);
    window.show();
    QWidget* status = child<QWidget>(window, "Picture4");
    QWidget* ranges = child<QWidget>(window, "Picture3");
    action(window, "mnuView_Blocks")->trigger();
    action(window, "mnuView_Blocks")->trigger();
    QVERIFY(ranges->isVisible());
    QVERIFY(!status->isVisible());
    action(window, "mnuView_status")->trigger();
    QVERIFY(status->isVisible());
    QVERIFY(!ranges->isVisible());
}

void MainWindowTest::minimiseHidesAndALeftDoubleClickRestores_data() {
    QTest::addColumn<bool>("trayAvailable");
    QTest::newRow("tray") << true;
    QTest::newRow("no tray: stays in the task bar") << false;
}

void MainWindowTest::minimiseHidesAndALeftDoubleClickRestores() {
    QFETCH(bool, trayAvailable);
    MainWindow window(trayAvailable);
    window.show();
    window.showMinimized();
    QCoreApplication::processEvents();
    QCOMPARE(window.isVisible(), !trayAvailable);
    // A right double click does nothing; a left one brings the window back.
    window.shellIcon().mouseMessage(ShellIcon::kRightDoubleClick);
    QCOMPARE(window.isVisible(), !trayAvailable);
    // A double click comes as a click, then the double click.
    window.trayBackend().activated(QSystemTrayIcon::Trigger);
    window.trayBackend().activated(QSystemTrayIcon::DoubleClick);
    QVERIFY(window.isVisible());
    QVERIFY(!window.isMinimized());
    QVERIFY(!window.isMaximized());
    QVERIFY(!window.shellIcon().menuTimerOn());  // no single click follows the double click
}

void MainWindowTest::trayMenuOffersTheWindowsCommands() {
    MainWindow window(true);
    window.show();
    window.trayBackend().activated(QSystemTrayIcon::Context);
    QMenu* menu = window.trayBackend().systemMenu();
    QVERIFY(menu);
    QStringList items;
    for (QAction* a : menu->actions()) {
        if (!a->isSeparator())
            items << QStringLiteral("%1 %2").arg(a->text()).arg(a->isEnabled());
    }
    QCOMPARE(items, (QStringList{QStringLiteral("&Restore 0"), QStringLiteral("Mi&nimize 1"),
                                 QStringLiteral("Ma&ximize 1"), QStringLiteral("&Close 1")}));
    menu->close();
    window.hide();
    window.trayBackend().activated(QSystemTrayIcon::Context);
    menu->actions().at(0)->trigger();  // Restore
    QVERIFY(window.isVisible());
}

void MainWindowTest::closingUnloadsTheProgram() {
    MainWindow window(true);
    FakeCommands program;
    window.attach(program);
    window.show();
    window.showMinimized();
    QCoreApplication::processEvents();
    window.restoreFromTray();
    window.close();
    QCOMPARE(program.calls, QStringList{QStringLiteral("unload")});
}

// A window started hidden has never been shown; its Close still ends the program.
void MainWindowTest::theTrayMenusCloseUnloadsAHiddenWindow() {
    MainWindow window(true);
    FakeCommands program;
    program.programState.windowVisible = false;
    window.attach(program);
    window.showAtStart();
    window.trayBackend().activated(QSystemTrayIcon::Context);
    QAction* close = window.trayBackend().systemMenu()->actions().last();
    QCOMPARE(close->text(), QStringLiteral("&Close"));
    close->trigger();
    QCOMPARE(program.calls, QStringList{QStringLiteral("unload")});
}

void MainWindowTest::showsTheProgramState() {
    MainWindow window(true);
    FakeCommands program;
    window.attach(program);
    ProgramState& s = program.programState;
    s.counters = {"12", "3456", 7, "5"};
    s.options = {true, false, false, 50, "50"};
    s.timer = {true, 55};
    s.bannerShown = true;
    s.guardOnBanner = false;
    s.trayToolTip = "Bastionwatch v1.99";
    window.stateChanged();
    QCOMPARE(child<QLabel>(window, "Label6_0")->text(), QStringLiteral("12"));
    QCOMPARE(child<QLabel>(window, "Label6_0")->toolTip(), QStringLiteral("IPv6 ranges: 5"));
    QCOMPARE(child<QLabel>(window, "Label6_1")->text(), QStringLiteral("3456"));
    QCOMPARE(child<QLabel>(window, "Label6_2")->text(), QStringLiteral("7"));
    QVERIFY(child<QCheckBox>(window, "Check1")->isChecked());
    QVERIFY(!child<QCheckBox>(window, "Check2")->isChecked());
    QVERIFY(!child<QCheckBox>(window, "Check3")->isChecked());
    QCOMPARE(child<QSlider>(window, "Slider1")->value(), 50);
    QCOMPARE(child<QLabel>(window, "Label2")->text(), QStringLiteral("50"));
    QTimer* tmr1 = child<QTimer>(window, "tmr1");
    QVERIFY(tmr1->isActive());
    QCOMPARE(tmr1->interval(), 55);
    QCOMPARE(child<QLabel>(window, "Picture9")->pixmap().cacheKey(),
             child<QLabel>(window, "Picture10")->pixmap().cacheKey());
    QCOMPARE(window.shellIcon().toolTipText(), std::string("Bastionwatch v1.99"));
    QVERIFY(program.calls.isEmpty());  // showing the state is not a user action

    s.guardOnBanner = true;
    s.trayVisible = false;
    window.stateChanged();
    QCOMPARE(child<QLabel>(window, "Picture9")->pixmap().cacheKey(),
             child<QLabel>(window, "Picture8")->pixmap().cacheKey());
    QVERIFY(!window.shellIcon().iconShown());
}

void MainWindowTest::followsTheProgramsWishToHide() {
    MainWindow window(true);
    FakeCommands program;
    program.programState.windowVisible = false;  // the settings hid it during the load
    program.programState.visibilityRequests = 1;
    window.attach(program);
    window.showAtStart();
    QVERIFY(!window.isVisible());
    window.restoreFromTray();
    window.stateChanged();  // an unrelated change does not hide it again
    QVERIFY(window.isVisible());
    // A reload of the settings asks again with the same wish: the window hides again.
    program.programState.visibilityRequests = 2;
    window.stateChanged();
    QVERIFY(!window.isVisible());
    // And a reload that wants it shown brings back a window the user hid to the tray.
    program.programState.windowVisible = true;
    program.programState.visibilityRequests = 3;
    window.stateChanged();
    QVERIFY(window.isVisible());
}

void MainWindowTest::widgetsReachTheProgram() {
    MainWindow window(true);
    FakeCommands program;
    window.attach(program);
    window.show();
    QTest::mouseClick(child<QCheckBox>(window, "Check2"), Qt::LeftButton);
    QTest::mouseClick(child<QCheckBox>(window, "Check1"), Qt::LeftButton);
    QTest::mouseClick(child<QCheckBox>(window, "Check3"), Qt::LeftButton);
    QSlider* slider = child<QSlider>(window, "Slider1");
    slider->triggerAction(QAbstractSlider::SliderPageStepSub);
    QCOMPARE(program.calls, (QStringList{QStringLiteral("check2 0"), QStringLiteral("check1 1"),
                                         QStringLiteral("check3 0"), QStringLiteral("slider 85")}));
    program.calls.clear();
    slider->setSliderDown(true);
    slider->setValue(40);
    QVERIFY(program.calls.isEmpty());  // not while the handle is held
    slider->setSliderDown(false);
    QCOMPARE(program.calls, QStringList{QStringLiteral("slider 40")});
}

void MainWindowTest::removesOnlyASelectedRow() {
    MainWindow window(true);
    FakeCommands program;
    program.banTable.append(1, {"a:1.0.0.1", "a", 16777217, 16777217});
    program.banTable.append(10, {"b:10.0.0.0-10.0.0.255", "b", 167772160, 167772415});
    program.banTable.append(10, {"c:10.1.0.0-10.1.0.9", "c", 167837696, 167837705});
    // IPv6 entries are rows too, after the IPv4 ones, whatever the order of adding.
    program.banTable.append6(
        {"d:2001:db8::1", "d", {0x20010db800000000, 1}, {0x20010db800000000, 1}});
    program.banTable.append(2, {"e:2.0.0.1", "e", 33554433, 33554433});
    window.attach(program);
    window.banListReset();
    QListView* list = child<QListView>(window, "List1");
    QCOMPARE(list->model()->rowCount(), 5);
    QCOMPARE(list->model()->index(3, 0).data().toString(), QStringLiteral("c:10.1.0.0-10.1.0.9"));
    QCOMPARE(list->model()->index(4, 0).data().toString(), QStringLiteral("d:2001:db8::1"));
    child<QPushButton>(window, "Command2")->click();
    QVERIFY(program.calls.isEmpty());
    list->selectionModel()->select(list->model()->index(3, 0), QItemSelectionModel::Select);
    child<QPushButton>(window, "Command2")->click();
    QCOMPARE(program.calls, QStringList{QStringLiteral("remove 10/1")});
    window.banListReset();
    QVERIFY(!list->selectionModel()->hasSelection());
    list->selectionModel()->select(list->model()->index(4, 0), QItemSelectionModel::Select);
    child<QPushButton>(window, "Command2")->click();
    QCOMPARE(program.calls.last(), QStringLiteral("remove %1/0").arg(BanTable::kIpv6Bucket));
}

// Between an import's throttled refreshes the table grows under the list: the
// list keeps the rows it was told of, draws them, and removes nothing it cannot
// name for sure.
void MainWindowTest::rowsStayThoseOfTheLastRefreshWhileEntriesArrive() {
    MainWindow window(true);
    FakeCommands program;
    program.banTable.append(10, {"b:10.0.0.1", "b", 167772161, 167772161});
    window.attach(program);
    window.showRangesView();
    window.banListReset();
    QListView* list = child<QListView>(window, "List1");
    list->selectionModel()->select(list->model()->index(0, 0), QItemSelectionModel::Select);
    program.banTable.append(1, {"a:1.0.0.1", "a", 16777217, 16777217});
    program.banTable.append(11, {"c:11.0.0.1", "c", 184549377, 184549377});
    QCOMPARE(list->model()->rowCount(), 1);
    QCOMPARE(list->model()->index(0, 0).data().toString(), QStringLiteral("a:1.0.0.1"));
    list->grab();  // draws every row it knows
    child<QPushButton>(window, "Command2")->click();
    QCOMPARE(program.calls, QStringList{QStringLiteral("remove 256/0")});
    window.banListReset();
    QCOMPARE(list->model()->rowCount(), 3);
    QCOMPARE(list->model()->index(2, 0).data().toString(), QStringLiteral("c:11.0.0.1"));
}

void MainWindowTest::logBoxAppendsAndKeepsItsCapacity() {
    MainWindow window(true);
    QPlainTextEdit* log = child<QPlainTextEdit>(window, "Text2");
    window.appendLog("Bastionwatch v1.99\r\n");
    window.appendLog("Connection Rejected: ");
    window.appendLog("Example Net\r\n");
    QCOMPARE(log->toPlainText(),
             QStringLiteral("Bastionwatch v1.99\nConnection Rejected: Example Net\n"));
    window.clearLog();
    QVERIFY(log->toPlainText().isEmpty());
    for (int i = 0; i < MainWindow::kLogLines + 100; ++i)
        window.appendLog(QStringLiteral("line %1\r\n").arg(i).toStdString());
    QCOMPARE(log->document()->blockCount(), MainWindow::kLogLines);
    const QString text = log->toPlainText();
    QVERIFY(!text.contains(QStringLiteral("line 100\n")));
    QVERIFY(text.contains(QStringLiteral("line 101\n")));
    QVERIFY(text.endsWith(QStringLiteral("line %1\n").arg(MainWindow::kLogLines + 99)));
}

void MainWindowTest::messageBoxShowsTextTitleIconAndOk_data() {
    QTest::addColumn<int>("icon");
    QTest::addColumn<QString>("title");
    QTest::addColumn<int>("boxIcon");
    QTest::addColumn<QString>("boxTitle");
    QTest::newRow("no icon, application title")
        << static_cast<int>(MessageIcon::None) << QString() << static_cast<int>(QMessageBox::NoIcon)
        << QStringLiteral("Bastionwatch");
    QTest::newRow("information") << static_cast<int>(MessageIcon::Information) << QString()
                                 << static_cast<int>(QMessageBox::Information)
                                 << QStringLiteral("Bastionwatch");
    QTest::newRow("exclamation, own title")
        << static_cast<int>(MessageIcon::Exclamation) << QStringLiteral("Update Error")
        << static_cast<int>(QMessageBox::Warning) << QStringLiteral("Update Error");
}

void MainWindowTest::messageBoxShowsTextTitleIconAndOk() {
    QFETCH(int, icon);
    QFETCH(QString, title);
    QFETCH(int, boxIcon);
    QFETCH(QString, boxTitle);
    MainWindow window(true);
    window.show();
    QString seen;
    QTimer::singleShot(0, &window, [&] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (!box)
            return;
        seen = QStringLiteral("%1|%2|%3|%4")
                   .arg(box->text(), box->windowTitle())
                   .arg(static_cast<int>(box->icon()))
                   .arg(static_cast<int>(box->standardButtons()));
        box->accept();
    });
    window.showMessage(Message{"File could not be authenticated.", static_cast<MessageIcon>(icon),
                               MessageButtons::Ok, title.toStdString()});
    QCOMPARE(seen, QStringLiteral("File could not be authenticated.|%1|%2|%3")
                       .arg(boxTitle)
                       .arg(boxIcon)
                       .arg(static_cast<int>(QMessageBox::Ok)));
}

void MainWindowTest::progressBoxRunsUntilFinished() {
    MainWindow window(true);
    window.show();
    int polls = 0;
    QString caption;
    window.waitWithProgress("Downloading blocklist...", [&] {
        if (auto* box = qobject_cast<QProgressDialog*>(QApplication::activeModalWidget()))
            caption = box->labelText();
        return ++polls == 3;
    });
    QCOMPARE(polls, 3);
    QCOMPARE(caption, QStringLiteral("Downloading blocklist..."));
    QVERIFY(!qobject_cast<QProgressDialog*>(QApplication::activeModalWidget()));

    // Cancelling ends the wait for a download that would never finish.
    bool cancelled = false;
    window.waitWithProgress("Checking for blocklist updates...", [&] {
        if (auto* box = qobject_cast<QProgressDialog*>(QApplication::activeModalWidget())) {
            box->cancel();
            cancelled = true;
        }
        return false;
    });
    QVERIFY(cancelled);
}

void MainWindowTest::addDialogHasItsFieldsAndLayout() {
    MainWindow window(true);
    window.show();
    child<QPushButton>(window, "Command1")->click();
    AddRangeDialog* form = window.addDialog();
    QVERIFY(form);
    QVERIFY(form->isVisible());
    QVERIFY(!form->isModal());
    QCOMPARE(form->windowTitle(), QStringLiteral("Add New IP Range"));
    QVERIFY((form->windowFlags() & Qt::WindowType_Mask) == Qt::Tool);
    QVERIFY(!(form->windowFlags() & Qt::WindowMinMaxButtonsHint));
    const TwipScale& s = window.scale();
    QCOMPARE(form->size(), QSize(s.px(3195), s.px(2595)));
    QCOMPARE(form->minimumSize(), form->maximumSize());
    const struct {
        const char* name;
        const char* text;
        const char* label;
        double panelTop;
    } fields[] = {
        {"Text1", "Evil Corporation", "Profile Name", 0},
        {"Text2", "1.1.1.1", "Start of IP Range", 720},
        {"Text3", "2.2.2.2", "End of IP Range", 1440},
    };
    for (const auto& f : fields) {
        QLineEdit* field = child<QLineEdit>(*form, f.name);
        QCOMPARE(field->text(), QLatin1String(f.text));
        QVERIFY(field->font().bold());
        QCOMPARE(field->geometry(), s.rect(60, 240, 3015, 315));
        QCOMPARE(field->parentWidget()->geometry(), s.rect(0, f.panelTop, 3195, 675));
        QLabel* label = field->parentWidget()->findChild<QLabel*>();
        QCOMPARE(label->text(), QLatin1String(f.label));
        QCOMPARE(label->geometry(), s.rect(60, 0, 3015, 255));
    }
    QPushButton* add = child<QPushButton>(*form, "Command1");
    QCOMPARE(add->text(), QStringLiteral("Add This Range"));
    QVERIFY(add->font().bold());
    QCOMPARE(add->geometry(), s.rect(0, 0, 3135, 375));
    QCOMPARE(add->parentWidget()->geometry(), s.rect(0, 2160, 3195, 435));
    // Tab order: profile, start, end, button.
    auto nextTabStop = [](QWidget* w) {
        do {
            w = w->nextInFocusChain();
        } while (!(w->focusPolicy() & Qt::TabFocus));
        return w;
    };
    QCOMPARE(nextTabStop(child<QLineEdit>(*form, "Text1")), child<QLineEdit>(*form, "Text2"));
    QCOMPARE(nextTabStop(child<QLineEdit>(*form, "Text2")), child<QLineEdit>(*form, "Text3"));
    QCOMPARE(nextTabStop(child<QLineEdit>(*form, "Text3")), add);
}

void MainWindowTest::addDialogIsOneInstanceAndAddsOnce() {
    WindowWithAddDialog opened;
    auto& [window, program, form] = opened;
    child<QLineEdit>(*form, "Text1")->setText(QStringLiteral("Example Net"));
    child<QLineEdit>(*form, "Text3")->setText(QStringLiteral(" "));
    child<QPushButton>(window, "Command1")->click();
    QCOMPARE(window.addDialog(), form);  // brought to the front, fields kept
    QCOMPARE(child<QLineEdit>(*form, "Text1")->text(), QStringLiteral("Example Net"));
    QVERIFY(program.calls.isEmpty());  // opening adds nothing
    child<QPushButton>(*form, "Command1")->click();
    QCOMPARE(program.calls, QStringList{QStringLiteral("add [Example Net] [1.1.1.1] [ ]")});
    QVERIFY(!form->isVisible());
    child<QPushButton>(window, "Command1")->click();
    QCOMPARE(child<QLineEdit>(*window.addDialog(), "Text1")->text(),
             QStringLiteral("Evil Corporation"));
    QCOMPARE(child<QLineEdit>(*window.addDialog(), "Text3")->text(), QStringLiteral("2.2.2.2"));
}

void MainWindowTest::addDialogClosedWithoutAddAddsNothing() {
    WindowWithAddDialog opened;
    auto& [window, program, form] = opened;
    child<QLineEdit>(*form, "Text2")->setText(QStringLiteral("9.9.9.9"));
    form->close();
    QVERIFY(program.calls.isEmpty());
    QCOMPARE(child<QLineEdit>(*opened.openAddDialog(), "Text2")->text(), QStringLiteral("1.1.1.1"));
}

void MainWindowTest::addDialogSaysWhyItRefusedAndStaysOpen() {
    const struct {
        AddOutcome outcome;
        const char* start;
        const char* said;
    } cases[] = {
        {AddOutcome::NotAnEntry, "1.2.3", "Start of IP Range \"1.2.3\" is not an address"},
        {AddOutcome::Duplicate, "1.1.1.1", "already listed"},
    };
    for (const auto& c : cases) {
        WindowWithAddDialog opened(true, c.outcome);
        auto& [window, program, form] = opened;
        child<QLineEdit>(*form, "Text2")->setText(QLatin1String(c.start));
        // 1.1.1.1-2.2.2.2 is wide and asked about; "1.2.3" is no address and asks nothing.
        answerTheNextQuestion(&window, QMessageBox::Yes);
        child<QPushButton>(*form, "Command1")->click();
        QCOMPARE(program.calls.size(), 1);
        QVERIFY(form->isVisible());
        QCOMPARE(window.addDialog(), form);
        QCOMPARE(child<QLineEdit>(*form, "Text2")->text(), QLatin1String(c.start));
        QLabel* refusal = child<QLabel>(*form, "refusalText");
        QVERIFY(refusal->isVisible());
        QVERIFY2(refusal->text().contains(QLatin1String(c.said)), qPrintable(refusal->text()));
        QVERIFY(child<QPushButton>(*form, "Command1")->isEnabled());  // may be tried again
    }
}

void MainWindowTest::addDialogTakesEnterAndEscape() {
    WindowWithAddDialog opened;
    auto& [window, program, form] = opened;
    answerTheNextQuestion(&window, QMessageBox::Yes);  // the example range is wide
    QTest::keyClick(child<QLineEdit>(*form, "Text3"), Qt::Key_Return);
    QCOMPARE(program.calls,
             QStringList{QStringLiteral("add [Evil Corporation] [1.1.1.1] [2.2.2.2]")});
    QVERIFY(!form->isVisible());

    form = opened.openAddDialog();
    QVERIFY(form->isVisible());
    QTest::keyClick(child<QLineEdit>(*form, "Text1"), Qt::Key_Escape);
    QVERIFY(!form->isVisible());
    QCOMPARE(program.calls.size(), 1);  // Escape adds nothing
}

// The dialog's own example, 1.1.1.1-2.2.2.2, bans 16843010 public addresses:
// more than a /8, so it is added only when the user says yes.
void MainWindowTest::addDialogAsksBeforeItAddsARangeWiderThanASlashEight() {
    WindowWithAddDialog opened;
    auto& [window, program, form] = opened;
    QString asked;
    answerTheNextQuestion(&window, QMessageBox::No, &asked);
    child<QPushButton>(*form, "Command1")->click();
    QVERIFY2(asked.contains(QStringLiteral("16843010 public IPv4 addresses")), qPrintable(asked));
    QVERIFY(program.calls.isEmpty());
    QVERIFY(form->isVisible());
    QVERIFY(child<QLabel>(*form, "refusalText")->text().contains(QStringLiteral("Not added")));

    answerTheNextQuestion(&window, QMessageBox::Yes);
    child<QPushButton>(*form, "Command1")->click();
    QCOMPARE(program.calls,
             QStringList{QStringLiteral("add [Evil Corporation] [1.1.1.1] [2.2.2.2]")});

    // A narrower range is added without a question.
    child<QLineEdit>(*opened.openAddDialog(), "Text3")->setText(QStringLiteral("1.255.255.255"));
    asked.clear();
    answerTheNextQuestion(&window, QMessageBox::No, &asked);
    child<QPushButton>(*window.addDialog(), "Command1")->click();
    QVERIFY(asked.isEmpty());
    QCOMPARE(program.calls.size(), 2);
}

void MainWindowTest::addDialogComesBackWithTheWindow() {
    WindowWithAddDialog opened(false);  // no tray: minimising keeps the window in the task bar
    auto& [window, program, form] = opened;
    child<QLineEdit>(*form, "Text1")->setText(QStringLiteral("kept"));
    form->hide();  // as a window manager hides it with its minimised owner
    window.showMinimized();
    window.showNormal();
    QTRY_VERIFY(form->isVisible());
    form->hide();
    QCOMPARE(opened.openAddDialog(), form);  // pressed again: the same dialog
    QVERIFY(form->isVisible());
    QCOMPARE(child<QLineEdit>(*form, "Text1")->text(), QStringLiteral("kept"));
}

void MainWindowTest::filesDroppedOnTheListGoToTheProgram() {
    MainWindow window(true);
    FakeCommands program;
    window.attach(program);
    window.show();
    action(window, "mnuView_Blocks")->trigger();
    QListView* list = child<QListView>(window, "List1");
    QMimeData data;
    data.setUrls({QUrl::fromLocalFile(QStringLiteral("/tmp/one.p2p")),
                  QUrl::fromLocalFile(QStringLiteral("/tmp/two.P2P"))});
    QDragEnterEvent enter(QPoint(5, 5), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(list->viewport(), &enter);
    QVERIFY(enter.isAccepted());
    QDropEvent drop(QPointF(5, 5), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(list->viewport(), &drop);
    QVERIFY(drop.isAccepted());
    QCoreApplication::processEvents();
    QCOMPARE(program.calls, QStringList{QStringLiteral("drop /tmp/one.p2p|/tmp/two.P2P")});
}

void MainWindowTest::aDropWithoutFilesIsIgnored() {
    MainWindow window(true);
    FakeCommands program;
    window.attach(program);
    window.show();
    action(window, "mnuView_Blocks")->trigger();
    QListView* list = child<QListView>(window, "List1");
    QMimeData data;
    data.setText(QStringLiteral("Example Net:10.0.0.0-10.0.0.255"));
    QDragEnterEvent enter(QPoint(5, 5), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(list->viewport(), &enter);
    QVERIFY(!enter.isAccepted());
    QDropEvent drop(QPointF(5, 5), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(list->viewport(), &drop);
    QCoreApplication::processEvents();
    QVERIFY(program.calls.isEmpty());
}

}  // namespace bw

QTEST_MAIN(bw::MainWindowTest)
#include "main_window_test.moc"
