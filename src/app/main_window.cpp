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
#include "app/qt_text.h"
#include "app/tray_backend.h"
#include "app/window_commands.h"
#include "base/product.h"

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
    buildStatusView(central);  // created last, so it lies above the ranges view

    picture8_ = new QLabel(this);
    picture8_->setObjectName(QStringLiteral("Picture8"));
    picture8_->setPixmap(picture(":/images/guard-on.png"));
    picture8_->hide();
    picture10_ = new QLabel(this);
    picture10_->setObjectName(QStringLiteral("Picture10"));
    picture10_->setPixmap(picture(":/images/guard-off.png"));
    picture10_->hide();

    tmr1_ = new QTimer(this);
    tmr1_->setObjectName(QStringLiteral("tmr1"));
    tmr1_->setTimerType(Qt::PreciseTimer);
    tmr1_->setInterval(100);

    tray_ = new TrayBackend_Qt(*this, programIcon);
    ShellIconEvents& events = *this;
    shellIcon_ = std::make_unique<ShellIcon>(*tray_, events, reinterpret_cast<WindowHandle>(this));
    tray_->attach(*shellIcon_);
    shellIcon_->setIcon(TrayBackend_Qt::kProgramIcon);
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
    picture4_ = panel(central, "Picture4", layout_.picture4);
    picture9_ = label(picture4_, "Picture9", QString(), {60, 60, 1815, 735});
    picture9_->setAlignment(Qt::AlignLeft | Qt::AlignTop);

    QWidget* picture7 = panel(picture4_, "Picture7", {1920, 60, 2175, 735});
    QPalette counters = picture7->palette();
    counters.setColor(QPalette::Window, counters.color(QPalette::Base));
    counters.setColor(QPalette::WindowText, counters.color(QPalette::Text));
    picture7->setPalette(counters);
    picture7->setAutoFillBackground(true);
    label(picture7, "Label4", QStringLiteral("Addresses:"), {60, 0, 855, 255});
    label(picture7, "Label3", QStringLiteral("Ranges:"), {60, 240, 855, 255});
    label(picture7, "Label5", QStringLiteral("Blocked:"), {60, 480, 735, 255});
    const char* counterNames[] = {"Label6_0", "Label6_1", "Label6_2"};
    const double counterTops[] = {240, 0, 480};  // ranges, addresses, blocked
    for (int i = 0; i < 3; ++i) {
        label6_[i] =
            label(picture7, counterNames[i], QStringLiteral("0"), {900, counterTops[i], 1155, 255});
        label6_[i]->setFont(boldFont(label6_[i]->font()));
        label6_[i]->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    }

    picture2_ = panel(picture4_, "Picture2", layout_.picture2);
    check2_ = checkBox(picture2_, "Check2", QStringLiteral("Block banned IPs."), true,
                       {60, 0, 1695, 255});
    picture11_ = panel(picture4_, "Picture11", layout_.picture11);
    check1_ =
        checkBox(picture11_, "Check1", QStringLiteral("Lanch Minimzed"), false, {60, 0, 1575, 255});
    picture5_ = panel(picture4_, "Picture5", layout_.picture5);
    check3_ =
        checkBox(picture5_, "Check3", QStringLiteral("Full Conn. Log"), true, {60, 0, 1635, 255});

    QWidget* picture6 = panel(picture4_, "Picture6", {60, 840, 4035, 315});
    slider1_ = new QSlider(Qt::Horizontal, picture6);
    slider1_->setObjectName(QStringLiteral("Slider1"));
    slider1_->setRange(0, 100);
    slider1_->setValue(90);
    slider1_->setSingleStep(1);
    slider1_->setPageStep(5);
    slider1_->setGeometry(scale_.rect(0, 0, 2535, 225));
    label(picture6, "Label1", QStringLiteral("Aggression:"), {2580, 30, 855, 255});
    label2_ = label(picture6, "Label2", QStringLiteral("90%"), {3420, 30, 555, 255});
    label2_->setFont(boldFont(label2_->font()));
    label2_->setAlignment(Qt::AlignCenter);

    text2_ = new QPlainTextEdit(picture4_);
    text2_->setObjectName(QStringLiteral("Text2"));
    text2_->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    text2_->setMaximumBlockCount(kLogLines);
}

void MainWindow::buildRangesView(QWidget* central) {
    picture3_ = panel(central, "Picture3", layout_.picture3);
    picture1_ = panel(picture3_, "Picture1", layout_.picture1);
    command1_ = new QPushButton(QStringLiteral("Add New Range/Address"), picture1_);
    command1_->setObjectName(QStringLiteral("Command1"));
    command2_ = new QPushButton(QStringLiteral("Remove Range/Address"), picture1_);
    command2_->setObjectName(QStringLiteral("Command2"));
    list1_ = new BanListView(picture3_);
    list1_->setObjectName(QStringLiteral("List1"));
    model_ = new BanListModel(this);
    list1_->setModel(model_);
}

void MainWindow::connectWidgets() {
    connect(tmr1_, &QTimer::timeout, this, &MainWindow::guardTick);
    connect(slider1_, &QSlider::valueChanged, this, [this](int value) {
        if (!applyingState_ && !slider1_->isSliderDown() && commands_)
            commands_->sliderClicked(value);
    });
    connect(slider1_, &QSlider::sliderReleased, this, [this] {
        if (commands_)
            commands_->sliderClicked(slider1_->value());
    });
    connect(check1_, &QCheckBox::clicked, this, [this](bool on) {
        if (commands_)
            commands_->check1Clicked(on);
    });
    connect(check2_, &QCheckBox::clicked, this, [this](bool on) {
        if (commands_)
            commands_->check2Clicked(on);
    });
    connect(check3_, &QCheckBox::clicked, this, [this](bool on) {
        if (commands_)
            commands_->check3Clicked(on);
    });
    connect(command1_, &QPushButton::clicked, this, &MainWindow::openAddDialog);
    connect(command2_, &QPushButton::clicked, this, &MainWindow::removeSelected);
    connect(list1_, &BanListView::filesDropped, this, [this](const QStringList& paths) {
        std::vector<std::string> files;
        for (const QString& p : paths) files.push_back(bytesFromText(p));
        if (commands_)
            commands_->filesDropped(files);
    });
    connect(tray_, &TrayBackend_Qt::restoreRequested, this, &MainWindow::restoreFromTray);
}

// ---- layout and views ----------------------------------------------------

void MainWindow::placeLayout() {
    picture4_->setGeometry(scale_.rect(layout_.picture4));
    picture3_->setGeometry(scale_.rect(layout_.picture3));
    text2_->setGeometry(scale_.rect(layout_.text2));
    picture2_->setGeometry(scale_.rect(layout_.picture2));
    picture5_->setGeometry(scale_.rect(layout_.picture5));
    picture11_->setGeometry(scale_.rect(layout_.picture11));
    list1_->setGeometry(scale_.rect(layout_.list1));
    picture1_->setGeometry(scale_.rect(layout_.picture1));
    command1_->setGeometry(scale_.rect(layout_.command1));
    command2_->setGeometry(scale_.rect(layout_.command2));
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
    picture3_->hide();
    picture4_->show();
}

void MainWindow::showRangesView() {
    picture3_->show();
    picture4_->hide();
}

void MainWindow::resizeEvent(QResizeEvent* event) {
    QMainWindow::resizeEvent(event);
    applyOuterFrame();
}

void MainWindow::changeEvent(QEvent* event) {
    QMainWindow::changeEvent(event);
    // Hidden once the minimise is complete: showMinimized() shows the window
    // again after the state change that reports it.
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
}

void MainWindow::DblClick(int Button) {
    if (Button == 1)
        restoreFromTray();
}

// Closing always ends the program: the program saves the settings and exits.
void MainWindow::closeEvent(QCloseEvent* event) {
    if (commands_)
        commands_->unload();
    event->accept();
}

// ---- commands ------------------------------------------------------------

void MainWindow::openAddDialog() {
    if (!form1_ || !form1_->isVisible()) {
        if (form1_)
            form1_->deleteLater();  // closed: the next one starts afresh
        form1_ = new AddRangeDialog(scale_, this);
        QPointer<AddRangeDialog> dialog = form1_;
        connect(form1_, &AddRangeDialog::addRequested, this,
                [this, dialog](const QString& profile, const QString& start, const QString& end) {
                    dialog->setAddEnabled(false);
                    addFromDialog(profile, start, end);
                    if (dialog)
                        dialog->close();
                });
    }
    form1_->show();
    form1_->raise();
    form1_->activateWindow();
}

AddRangeDialog* MainWindow::addDialog() const {
    return form1_;
}

void MainWindow::addFromDialog(const QString& profile, const QString& start, const QString& end) {
    if (commands_)
        commands_->addRange(bytesFromText(profile), bytesFromText(start), bytesFromText(end));
}

void MainWindow::removeSelected() {
    if (!commands_)
        return;
    const QModelIndexList rows = list1_->selectionModel()->selectedIndexes();
    if (rows.isEmpty())
        return;
    commands_->removeEntry(model_->entryAt(rows.first().row()));
}

// A tick that comes due while a pass yields to the event loop is skipped by
// the program's guard schedule, not nested.
void MainWindow::guardTick() {
    if (commands_)
        commands_->guardTimerFired();
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
    text2_->clear();
}

void MainWindow::appendLog(std::string_view text) {
    text2_->moveCursor(QTextCursor::End);
    text2_->insertPlainText(logText(text));
    text2_->moveCursor(QTextCursor::End);
}

void MainWindow::banListReset() {
    model_->reset();
    list1_->clearSelection();
}

void MainWindow::stateChanged() {
    if (!commands_)
        return;
    const ProgramState& s = commands_->state();
    applyingState_ = true;
    label6_[0]->setText(textFromBytes(s.counters.ranges));
    label6_[1]->setText(textFromBytes(s.counters.addresses));
    label6_[2]->setText(QString::number(s.counters.blocked));
    check1_->setChecked(s.options.startHidden);
    check2_->setChecked(s.options.blocking);
    check3_->setChecked(s.options.fullLog);
    if (!slider1_->isSliderDown())
        slider1_->setValue(s.options.aggression);
    label2_->setText(textFromBytes(s.options.aggressionText));
    applyingState_ = false;
    showBanner(s.bannerShown, s.guardOnBanner);
    showTimer(s.timer.enabled, s.timer.intervalMs);
    if (shellIcon_->ToolTipText() != s.trayToolTip)
        shellIcon_->setToolTipText(s.trayToolTip);
    if (shellIcon_->Visible() != s.trayVisible)
        shellIcon_->setVisible(s.trayVisible);
    showVisibility(s.windowVisible, s.visibilityRequests);
}

void MainWindow::showBanner(bool shown, bool guardOn) {
    if (!shown) {
        if (!picture9_->pixmap().isNull())
            picture9_->clear();
        return;
    }
    const QPixmap image = (guardOn ? picture8_ : picture10_)->pixmap();
    if (picture9_->pixmap().cacheKey() != image.cacheKey())
        picture9_->setPixmap(image);
}

void MainWindow::showTimer(bool enabled, int intervalMs) {
    if (tmr1_->interval() != intervalMs)
        tmr1_->setInterval(intervalMs);
    if (enabled && !tmr1_->isActive())
        tmr1_->start();
    if (!enabled && tmr1_->isActive())
        tmr1_->stop();
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
        show();
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
