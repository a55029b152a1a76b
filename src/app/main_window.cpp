#include "app/main_window.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QEventLoop>
#include <QGuiApplication>
#include <QLabel>
#include <QMenuBar>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QProgressDialog>
#include <QPushButton>
#include <QScreen>
#include <QSlider>
#include <QTimer>
#include <cstdio>
#include <cstdlib>

#include "app/add_range_dialog.h"
#include "app/ban_list_model.h"
#include "app/ban_list_view.h"
#include "app/check_address_dialog.h"
#include "app/lists_view.h"
#include "app/qt_text.h"
#include "app/refusals_view.h"
#include "app/tray_backend.h"
#include "app/window_commands.h"
#include "base/product.h"
#include "program/add_refusal.h"
#include "program/wide_entries.h"

namespace bw {

namespace {

QFont boldFont(QFont font) {
    font.setBold(true);
    return font;
}

QMessageBox::Icon boxIcon(MessageIcon icon) {
    switch (icon) {
        case MessageIcon::Information:
            return QMessageBox::Information;
        case MessageIcon::Exclamation:
            return QMessageBox::Warning;
        case MessageIcon::None:
            break;
    }
    return QMessageBox::NoIcon;
}

// The log's line ends become the editor's paragraph breaks.
QString logText(std::string_view text) {
    QString t = textFromBytes(text);
    t.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    t.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    return t;
}

QPixmap picture(const char* path) {
    return QPixmap(QString::fromLatin1(path));
}

}  // namespace

MainWindow::MainWindow(bool trayAvailable)
    : scale_(TwipScale::forScreen(QGuiApplication::primaryScreen())),
      trayAvailable_(trayAvailable),
      layout_(designLayout()) {
    setObjectName(QStringLiteral("frmMain"));
    setWindowTitle(textFromBytes(kWindowCaption));
    const QIcon programIcon(QStringLiteral(":/images/bastionwatch.png"));
    setWindowIcon(programIcon);
    // A narrow sans-serif where one is installed: the captions were sized for one.
    QFont font;
    font.setFamilies({QStringLiteral("Liberation Sans"), QStringLiteral("Arimo"),
                      QStringLiteral("Nimbus Sans"), QStringLiteral("Helvetica"),
                      QStringLiteral("Arial")});
    font.setStyleHint(QFont::SansSerif);
    font.setPointSizeF(8.25);
    setFont(font);

    buildMenus();
    auto* central = new QWidget(this);
    central->setObjectName(QStringLiteral("ClientArea"));
    setCentralWidget(central);
    buildRangesView(central);
    listsView_ = new ListsView(central);
    listsView_->setObjectName(QStringLiteral("listsView"));
    listsView_->hide();
    refusalsView_ = new RefusalsView(central);
    refusalsView_->setObjectName(QStringLiteral("refusalsView"));
    refusalsView_->hide();
    buildStatusView(central);  // created last, so it lies above the ranges view

    guardOnImage_ = new QLabel(this);
    guardOnImage_->setObjectName(QStringLiteral("Picture8"));
    guardOnImage_->setPixmap(picture(":/images/guard-on.png"));
    guardOnImage_->hide();
    guardOffImage_ = new QLabel(this);
    guardOffImage_->setObjectName(QStringLiteral("Picture10"));
    guardOffImage_->setPixmap(picture(":/images/guard-off.png"));
    guardOffImage_->hide();

    guardTimer_ = new QTimer(this);
    guardTimer_->setObjectName(QStringLiteral("tmr1"));
    guardTimer_->setTimerType(Qt::PreciseTimer);
    guardTimer_->setInterval(100);

    tray_ = new TrayBackendQt(*this, programIcon);
    ShellIconEvents& events = *this;
    shellIcon_ = std::make_unique<ShellIcon>(*tray_, events, reinterpret_cast<WindowHandle>(this));
    tray_->attach(*shellIcon_);
    shellIcon_->setIcon(TrayBackendQt::kProgramIcon);
    shellIcon_->setVisible(true);

    connectWidgets();
    resize(scale_.px(6165), scale_.px(4590) + menuBar()->sizeHint().height());
    if (const QScreen* screen = QGuiApplication::primaryScreen())
        move(screen->availableGeometry().center() - rect().center());
    placeLayout();
}

MainWindow::~MainWindow() {
    shellIcon_.reset();
}

void MainWindow::attach(WindowCommands& commands) {
    commands_ = &commands;
    model_->setTable(&commands.table());
    listsView_->attach(commands.lists());
    listsView_->showLifelines(
        [this] { return commands_ ? commands_->lifelines() : std::vector<Lifeline>{}; });
    stateChanged();
}

void MainWindow::showAtStart() {
    started_ = true;
    const bool visible = !commands_ || commands_->state().windowVisible;
    if (commands_)
        lastVisibilityRequest_ = commands_->state().visibilityRequests;
    if (visible) {
        show();
    } else if (!trayAvailable_) {
        showMinimized();
    }
}

// ---- building the widgets ------------------------------------------------

void MainWindow::buildMenus() {
    auto item = [this](QMenu* menu, const char* name, const char* caption, auto action) {
        QAction* a = menu->addAction(tr(caption), this, action);
        a->setObjectName(QString::fromLatin1(name));
    };
    auto divider = [](QMenu* menu, const char* name) {
        menu->addSeparator()->setObjectName(QString::fromLatin1(name));
    };
    auto page = [this](SupportPage p) {
        return [this, p] {
            if (commands_)
                commands_->openSupportPage(p);
        };
    };
    QMenu* view = menuBar()->addMenu(tr("&Settings"));
    view->setObjectName(QStringLiteral("mnuView"));
    item(view, "mnuView_viewlog", "&View Full Connection Log", [this] {
        if (commands_)
            commands_->viewConnectionLog();
    });
    item(view, "mnuView_status", "&Status && Settings", [this] { showStatusView(); });
    item(view, "mnuView_Blocks", "&IP Ranges/Blocklist", [this] { showRangesView(); });
    item(view, "mnuView_Lists", "&Lists", [this] { showListsView(); });
    item(view, "mnuView_Refusals", "&Recent Refusals", [this] { showRefusalsView(); });
    item(view, "mnuView_Check", "&Check an Address...", [this] { openCheckDialog(); });

    QMenu* support = menuBar()->addMenu(tr("&Support"));
    support->setObjectName(QStringLiteral("mnuSupp"));
    item(support, "mnuForums2", "Bastionwatch Community Forums", page(SupportPage::CommunityForum));
    item(support, "mnuForums1", "Bastionwatch (Tallrig) Forums", page(SupportPage::MakerForum));
    divider(support, "mnudivx40");
    item(support, "mnuchkupdate", "Check for blocklist updates", [this] {
        if (commands_)
            commands_->checkForUpdates();
    });
    divider(support, "mnudivx");
    item(support, "mnuSupport_tallrigsite1", "Homepage - Tallrig HQ", page(SupportPage::HomePage));
    item(support, "mnuSupp_tallrigsite2", "Homepage - Tallrig Mirror",
         page(SupportPage::HomeMirror));
    divider(support, "mnudiv");
    item(support, "mnuSupp_bw2ipsite", "On-line IP Database", page(SupportPage::IpDatabase));
}

QWidget* MainWindow::panel(QWidget* parent, const char* name, const TwipBox& box) {
    auto* p = new QWidget(parent);
    p->setObjectName(QString::fromLatin1(name));
    p->setGeometry(scale_.rect(box));
    p->setAutoFillBackground(true);  // panels are opaque: the status view covers the ranges view
    return p;
}

QLabel* MainWindow::label(QWidget* parent, const char* name, const QString& text,
                          const TwipBox& box) {
    auto* l = new QLabel(text, parent);
    l->setObjectName(QString::fromLatin1(name));
    l->setGeometry(scale_.rect(box));
    return l;
}

QCheckBox* MainWindow::checkBox(QWidget* parent, const char* name, const QString& text, bool ticked,
                                const TwipBox& box) {
    auto* c = new QCheckBox(text, parent);
    c->setObjectName(QString::fromLatin1(name));
    c->setChecked(ticked);
    c->setGeometry(scale_.rect(box));
    return c;
}

void MainWindow::buildStatusView(QWidget* central) {
    statusView_ = panel(central, "Picture4", layout_.statusView);
    banner_ = label(statusView_, "Picture9", QString(), {60, 60, 1815, 735});
    banner_->setAlignment(Qt::AlignLeft | Qt::AlignTop);

    QWidget* countersPanel = panel(statusView_, "Picture7", {1920, 60, 2175, 735});
    QPalette counters = countersPanel->palette();
    counters.setColor(QPalette::Window, counters.color(QPalette::Base));
    counters.setColor(QPalette::WindowText, counters.color(QPalette::Text));
    countersPanel->setPalette(counters);
    countersPanel->setAutoFillBackground(true);
    label(countersPanel, "Label4", QStringLiteral("Addresses:"), {60, 0, 855, 255});
    label(countersPanel, "Label3", QStringLiteral("Ranges:"), {60, 240, 855, 255});
    label(countersPanel, "Label5", QStringLiteral("Blocked:"), {60, 480, 735, 255});
    const char* counterNames[] = {"Label6_0", "Label6_1", "Label6_2"};
    const double counterTops[] = {240, 0, 480};  // ranges, addresses, blocked
    for (int i = 0; i < 3; ++i) {
        counterLabels_[i] = label(countersPanel, counterNames[i], QStringLiteral("0"),
                                  {900, counterTops[i], 1155, 255});
        counterLabels_[i]->setFont(boldFont(counterLabels_[i]->font()));
        counterLabels_[i]->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    }

    blockingPanel_ = panel(statusView_, "Picture2", layout_.blockingPanel);
    blockingBox_ = checkBox(blockingPanel_, "Check2", QStringLiteral("Block banned IPs."), true,
                            {60, 0, 1695, 255});
    startHiddenPanel_ = panel(statusView_, "Picture11", layout_.startHiddenPanel);
    startHiddenBox_ = checkBox(startHiddenPanel_, "Check1", QStringLiteral("Lanch Minimzed"), false,
                               {60, 0, 1575, 255});
    fullLogPanel_ = panel(statusView_, "Picture5", layout_.fullLogPanel);
    fullLogBox_ = checkBox(fullLogPanel_, "Check3", QStringLiteral("Full Conn. Log"), true,
                           {60, 0, 1635, 255});

    QWidget* aggressionPanel = panel(statusView_, "Picture6", {60, 840, 4035, 315});
    aggressionSlider_ = new QSlider(Qt::Horizontal, aggressionPanel);
    aggressionSlider_->setObjectName(QStringLiteral("Slider1"));
    aggressionSlider_->setRange(0, 100);
    aggressionSlider_->setValue(90);
    aggressionSlider_->setSingleStep(1);
    aggressionSlider_->setPageStep(5);
    aggressionSlider_->setGeometry(scale_.rect(0, 0, 2535, 225));
    label(aggressionPanel, "Label1", QStringLiteral("Aggression:"), {2580, 30, 855, 255});
    aggressionLabel_ =
        label(aggressionPanel, "Label2", QStringLiteral("90%"), {3420, 30, 555, 255});
    aggressionLabel_->setFont(boldFont(aggressionLabel_->font()));
    aggressionLabel_->setAlignment(Qt::AlignCenter);

    logView_ = new QPlainTextEdit(statusView_);
    logView_->setObjectName(QStringLiteral("Text2"));
    logView_->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    logView_->setMaximumBlockCount(kLogLines);
}

void MainWindow::buildRangesView(QWidget* central) {
    rangesView_ = panel(central, "Picture3", layout_.rangesView);
    buttonBar_ = panel(rangesView_, "Picture1", layout_.buttonBar);
    addButton_ = new QPushButton(QStringLiteral("Add New Range/Address"), buttonBar_);
    addButton_->setObjectName(QStringLiteral("Command1"));
    removeButton_ = new QPushButton(QStringLiteral("Remove Range/Address"), buttonBar_);
    removeButton_->setObjectName(QStringLiteral("Command2"));
    banList_ = new BanListView(rangesView_);
    banList_->setObjectName(QStringLiteral("List1"));
    model_ = new BanListModel(this);
    banList_->setModel(model_);
}

void MainWindow::connectWidgets() {
    connect(guardTimer_, &QTimer::timeout, this, &MainWindow::guardTick);
    connect(aggressionSlider_, &QSlider::valueChanged, this, [this](int value) {
        if (!applyingState_ && !aggressionSlider_->isSliderDown() && commands_)
            commands_->sliderClicked(value);
    });
    connect(aggressionSlider_, &QSlider::sliderReleased, this, [this] {
        if (commands_)
            commands_->sliderClicked(aggressionSlider_->value());
    });
    connect(startHiddenBox_, &QCheckBox::clicked, this, [this](bool on) {
        if (commands_)
            commands_->startHiddenClicked(on);
    });
    connect(blockingBox_, &QCheckBox::clicked, this, [this](bool on) {
        if (commands_)
            commands_->blockingClicked(on);
    });
    connect(fullLogBox_, &QCheckBox::clicked, this, [this](bool on) {
        if (commands_)
            commands_->fullLogClicked(on);
    });
    connect(addButton_, &QPushButton::clicked, this, &MainWindow::openAddDialog);
    connect(removeButton_, &QPushButton::clicked, this, &MainWindow::removeSelected);
    connect(banList_, &BanListView::filesDropped, this, [this](const QStringList& paths) {
        std::vector<std::string> files;
        for (const QString& p : paths) files.push_back(bytesFromText(p));
        if (commands_)
            commands_->filesDropped(files);
    });
    connect(tray_, &TrayBackendQt::restoreRequested, this, &MainWindow::restoreFromTray);
}

// ---- layout and views ----------------------------------------------------

void MainWindow::placeLayout() {
    statusView_->setGeometry(scale_.rect(layout_.statusView));
    rangesView_->setGeometry(scale_.rect(layout_.rangesView));
    listsView_->setGeometry(scale_.rect(layout_.rangesView));
    refusalsView_->setGeometry(scale_.rect(layout_.rangesView));
    logView_->setGeometry(scale_.rect(layout_.logView));
    blockingPanel_->setGeometry(scale_.rect(layout_.blockingPanel));
    fullLogPanel_->setGeometry(scale_.rect(layout_.fullLogPanel));
    startHiddenPanel_->setGeometry(scale_.rect(layout_.startHiddenPanel));
    banList_->setGeometry(scale_.rect(layout_.banList));
    buttonBar_->setGeometry(scale_.rect(layout_.buttonBar));
    addButton_->setGeometry(scale_.rect(layout_.addButton));
    removeButton_->setGeometry(scale_.rect(layout_.removeButton));
}

void MainWindow::applyOuterSize(double widthTwips, double heightTwips) {
    layout_ = applyResizeRules(layout_, widthTwips, heightTwips);
    placeLayout();
}

void MainWindow::applyOuterFrame() {
    if (isMinimized())
        return;
    const QSize outer = frameGeometry().size();
    applyOuterSize(scale_.twips(outer.width()), scale_.twips(outer.height()));
}

void MainWindow::showStatusView() {
    rangesView_->hide();
    listsView_->hide();
    refusalsView_->hide();
    statusView_->show();
}

void MainWindow::showRangesView() {
    rangesView_->show();
    listsView_->hide();
    refusalsView_->hide();
    statusView_->hide();
}

void MainWindow::showListsView() {
    listsView_->refresh();
    listsView_->show();
    listsView_->raise();
    rangesView_->hide();
    refusalsView_->hide();
    statusView_->hide();
}

void MainWindow::showRefusalsView() {
    refusalsView_->show();
    refusalsView_->raise();
    rangesView_->hide();
    listsView_->hide();
    statusView_->hide();
}

void MainWindow::resizeEvent(QResizeEvent* event) {
    QMainWindow::resizeEvent(event);
    applyOuterFrame();
}

void MainWindow::changeEvent(QEvent* event) {
    QMainWindow::changeEvent(event);
    // Hidden once the minimise is complete: showMinimized() shows the window
    // again after the state change that reports it.
    if (event->type() == QEvent::WindowStateChange && !isMinimized() && isVisible())
        bringAddDialogToFront();
    if (event->type() == QEvent::WindowStateChange && isMinimized() && trayAvailable_) {
        QMetaObject::invokeMethod(
            this,
            [this] {
                if (isMinimized())
                    hide();
            },
            Qt::QueuedConnection);
    }
}

void MainWindow::hideToTray() {
    if (trayAvailable_) {
        hide();
    } else {
        showMinimized();
    }
}

void MainWindow::restoreFromTray() {
    setWindowState(windowState() & ~(Qt::WindowMinimized | Qt::WindowMaximized));
    showNormal();
    raise();
    activateWindow();
    bringAddDialogToFront();
}

void MainWindow::dblClick(int button) {
    if (button == 1)
        restoreFromTray();
}

// Closing always ends the program: the program saves the settings and exits.
void MainWindow::closeEvent(QCloseEvent* event) {
    if (commands_)
        commands_->unload();
    event->accept();
}

// ---- commands ------------------------------------------------------------

CheckAddressDialog* MainWindow::openCheckDialog() {
    if (!checkDialog_) {
        checkDialog_ = new CheckAddressDialog(this, [this](const std::string& asked) {
            return commands_ ? commands_->checkAddress(asked) : std::string();
        });
        checkDialog_->setAttribute(Qt::WA_DeleteOnClose);
    }
    checkDialog_->show();
    checkDialog_->raise();
    checkDialog_->activateWindow();
    return checkDialog_;
}

void MainWindow::openAddDialog() {
    if (!addRangeDialog_) {
        addRangeDialog_ = new AddRangeDialog(scale_, this);
        QPointer<AddRangeDialog> dialog = addRangeDialog_;
        connect(addRangeDialog_, &AddRangeDialog::addRequested, this,
                [this, dialog](const QString& profile, const QString& start, const QString& end) {
                    dialog->setAddEnabled(false);
                    const QString refusal = addFromDialog(profile, start, end);
                    if (!dialog)
                        return;
                    dialog->setAddEnabled(true);
                    if (refusal.isEmpty()) {
                        dialog->close();
                    } else {
                        dialog->showRefusal(refusal);
                    }
                });
        // Closed: the next opening starts afresh.
        connect(addRangeDialog_, &AddRangeDialog::closed, this, [this, dialog] {
            if (addRangeDialog_ == dialog)
                addRangeDialog_ = nullptr;
            if (dialog)
                dialog->deleteLater();
        });
    }
    bringAddDialogToFront();
}

// An open dialog comes back with the window, so it never stays out of reach.
void MainWindow::bringAddDialogToFront() {
    if (!addRangeDialog_)
        return;
    addRangeDialog_->show();
    addRangeDialog_->raise();
    addRangeDialog_->activateWindow();
}

AddRangeDialog* MainWindow::addDialog() const {
    return addRangeDialog_;
}

QString MainWindow::addFromDialog(const QString& profile, const QString& start,
                                  const QString& end) {
    if (!commands_)
        return {};
    const std::string startBytes = bytesFromText(start);
    const std::string endBytes = bytesFromText(end);
    // A range wider than a /8 of public addresses is added only when the user says so.
    const std::string question = wideAddQuestion(bytesFromText(profile), startBytes, endBytes);
    if (!question.empty()) {
        QWidget* parent = addRangeDialog_ ? static_cast<QWidget*>(addRangeDialog_) : this;
        QMessageBox box(QMessageBox::Warning, QStringLiteral("Add New IP Range"),
                        textFromBytes(question), QMessageBox::Yes | QMessageBox::No, parent);
        box.setDefaultButton(QMessageBox::No);
        if (box.exec() != QMessageBox::Yes)
            return textFromBytes(kWideAddDeclinedText);
    }
    AddOutcome outcome = commands_->addRange(bytesFromText(profile), startBytes, endBytes);
    return textFromBytes(addRefusalText(startBytes, endBytes, outcome));
}

void MainWindow::removeSelected() {
    if (!commands_)
        return;
    const QModelIndexList rows = banList_->selectionModel()->selectedIndexes();
    if (rows.isEmpty())
        return;
    commands_->removeEntry(model_->entryAt(rows.first().row()));
}

// A tick that comes due while a pass yields to the event loop is skipped by
// the program's guard schedule, not nested.
void MainWindow::guardTick() {
    if (commands_)
        commands_->guardTimerFired();
    listsView_->followUpdates();
}

// ---- Host ----------------------------------------------------------------

void MainWindow::letPendingEventsRun() {
    QCoreApplication::processEvents();
}

void MainWindow::showMessage(const Message& message) {
    QMessageBox box(boxIcon(message.icon), textFromBytes(message.shownTitle()),
                    textFromBytes(message.text), QMessageBox::Ok, isVisible() ? this : nullptr);
    box.exec();
}

void MainWindow::clearLog() {
    logView_->clear();
}

void MainWindow::appendLog(std::string_view text) {
    logView_->moveCursor(QTextCursor::End);
    logView_->insertPlainText(logText(text));
    logView_->moveCursor(QTextCursor::End);
}

void MainWindow::banListReset() {
    model_->reset();
    banList_->clearSelection();
}

void MainWindow::stateChanged() {
    if (!commands_)
        return;
    const ProgramState& s = commands_->state();
    applyingState_ = true;
    counterLabels_[0]->setText(textFromBytes(s.counters.ranges));
    // The counters panel has no room for a fourth row; the IPv6 ranges are
    // counted where the ranges are.
    counterLabels_[0]->setToolTip(QStringLiteral("IPv6 ranges: ") +
                                  textFromBytes(s.counters.ranges6));
    counterLabels_[1]->setText(textFromBytes(s.counters.addresses));
    counterLabels_[2]->setText(QString::number(s.counters.blocked));
    startHiddenBox_->setChecked(s.options.startHidden);
    blockingBox_->setChecked(s.options.blocking);
    fullLogBox_->setChecked(s.options.fullLog);
    if (!aggressionSlider_->isSliderDown())
        aggressionSlider_->setValue(s.options.aggression);
    aggressionLabel_->setText(textFromBytes(s.options.aggressionText));
    applyingState_ = false;
    // Where nothing can be refused or closed, the banner never shows the guard on.
    showBanner(s.bannerShown, s.guardOnBanner && s.guardMode != GuardMode::ReportOnly);
    const QString unguarded = s.guardMode == GuardMode::ReportOnly
                                  ? QStringLiteral(
                                        "Not guarded: banned connections can only be "
                                        "reported (see the log view).")
                                  : QString();
    if (banner_->toolTip() != unguarded)
        banner_->setToolTip(unguarded);
    showTimer(s.timer.enabled, s.timer.intervalMs);
    if (shellIcon_->toolTipText() != s.trayToolTip)
        shellIcon_->setToolTipText(s.trayToolTip);
    if (shellIcon_->visible() != s.trayVisible)
        shellIcon_->setVisible(s.trayVisible);
    showVisibility(s.windowVisible, s.visibilityRequests);
    refusalsView_->follow(s.recentRefusals);
}

void MainWindow::showBanner(bool shown, bool guardOn) {
    if (!shown) {
        if (!banner_->pixmap().isNull())
            banner_->clear();
        return;
    }
    const QPixmap image = (guardOn ? guardOnImage_ : guardOffImage_)->pixmap();
    if (banner_->pixmap().cacheKey() != image.cacheKey())
        banner_->setPixmap(image);
}

void MainWindow::showTimer(bool enabled, int intervalMs) {
    if (guardTimer_->interval() != intervalMs)
        guardTimer_->setInterval(intervalMs);
    if (enabled && !guardTimer_->isActive())
        guardTimer_->start();
    if (!enabled && guardTimer_->isActive())
        guardTimer_->stop();
}

// The window follows the program's wish each time the program asks anew; in
// between, the user may have hidden it to the tray or brought it back.
void MainWindow::showVisibility(bool visible, unsigned request) {
    if (request == lastVisibilityRequest_)
        return;
    lastVisibilityRequest_ = request;
    if (!started_)
        return;
    if (visible) {
        // Also when it is shown already, behind other windows or minimised.
        setWindowState(windowState() & ~Qt::WindowMinimized);
        show();
        raise();
        activateWindow();
        bringAddDialogToFront();
    } else {
        hideToTray();
    }
}

void MainWindow::waitWithProgress(std::string_view caption, const std::function<bool()>& finished) {
    QProgressDialog box(isVisible() ? this : nullptr);
    box.setWindowTitle(textFromBytes(kApplicationTitle));
    box.setLabelText(textFromBytes(caption));
    box.setRange(0, 0);
    // A server that never answers must not hold the user until the time limit.
    box.setCancelButtonText(tr("Cancel"));
    box.setMinimumDuration(0);
    box.setWindowModality(Qt::ApplicationModal);
    box.show();
    // Wakes the loop now and then, so finished() is asked even when nothing
    // else happens.
    QTimer poll;
    poll.start(20);
    while (!finished() && !box.wasCanceled())
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
}

// Ends at once, as closing the window must: no further handlers, no
// destructors. The tray icon is taken down first so it does not linger.
void MainWindow::exitNow(int status) {
    if (exitHandler_) {
        exitHandler_(status);
        return;
    }
    shellIcon_->setVisible(false);
    std::fflush(nullptr);
    std::_Exit(status);
}

void MainWindow::setExitHandler(std::function<void(int)> handler) {
    exitHandler_ = std::move(handler);
}

}  // namespace bw
