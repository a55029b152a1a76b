// The window over the real program: the settings file as the widgets show it
// after the start, and as closing the window writes it back.

#include <QCheckBox>
#include <QLabel>
#include <QSlider>
#include <QTimer>
#include <QtTest>
#include <optional>

#include "app/main_window.h"
#include "app/widget_child.h"
#include "app/window_commands.h"
#include "support/program_fixture.h"

namespace bw {

using test::child;

class WindowSettingsTest : public QObject {
    Q_OBJECT

private slots:
    void startsWithTheSettingsAndSavesThemOnClose_data();
    void startsWithTheSettingsAndSavesThemOnClose();
};

void WindowSettingsTest::startsWithTheSettingsAndSavesThemOnClose_data() {
    QTest::addColumn<bool>("hasFile");
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<bool>("shown");
    QTest::addColumn<int>("slider");
    QTest::addColumn<QString>("label");
    QTest::addColumn<int>("intervalMs");
    QTest::addColumn<QByteArray>("saved");
    QTest::newRow("first start") << false << QByteArray() << true << 90 << QStringLiteral("90%")
                                 << 100 << QByteArray("0\r\n90%\r\n\r\n");
    QTest::newRow("empty file") << true << QByteArray() << true << 90 << QStringLiteral("90%")
                                << 100 << QByteArray("0\r\n90%\r\n\r\n");
    QTest::newRow("1, 50%, 3") << true << QByteArray("1\r\n50%\r\n3\r\n") << false << 50
                               << QStringLiteral("50") << 55 << QByteArray("1\r\n50\r\n3\r\n");
    QTest::newRow("above 100") << true << QByteArray("0\r\n150\r\n7\r\n") << true << 100
                               << QStringLiteral("100") << 5 << QByteArray("0\r\n100\r\n7\r\n");
    QTest::newRow("below 0") << true << QByteArray("0\r\n-20\r\n7\r\n") << true << 10
                             << QStringLiteral("10") << 95 << QByteArray("0\r\n10\r\n7\r\n");
    QTest::newRow("12.5") << true << QByteArray("0\r\n12.5\r\n7\r\n") << true << 12
                          << QStringLiteral("12.5") << 92 << QByteArray("0\r\n12.5\r\n7\r\n");
    QTest::newRow("a single line") << true << QByteArray("1") << false << 0 << QStringLiteral("0")
                                   << 105 << QByteArray("1\r\n0\r\n\r\n");
}

void WindowSettingsTest::startsWithTheSettingsAndSavesThemOnClose() {
    QFETCH(bool, hasFile);
    QFETCH(QByteArray, file);
    QFETCH(bool, shown);
    QFETCH(int, slider);
    QFETCH(QString, label);
    QFETCH(int, intervalMs);
    QFETCH(QByteArray, saved);

    test::FakeServices fakes;
    test::TempDir& dir = fakes.dir;
    dir.write("Moatlist.P2P", "Example Net:10.0.0.0-10.0.0.255\r\n");
    if (hasFile)
        dir.write("BW2Config.p2p", file.toStdString());

    MainWindow window(true);
    std::optional<int> exitStatus;
    window.setExitHandler([&](int status) { exitStatus = status; });
    Program program(window, fakes.services());
    ProgramCommands commands(program);
    window.attach(commands);
    program.load("");
    window.showAtStart();

    QCOMPARE(window.isVisible(), shown);
    QCOMPARE(child<QCheckBox>(window, "Check1")->isChecked(), !shown);
    QCOMPARE(child<QSlider>(window, "Slider1")->value(), slider);
    QCOMPARE(child<QLabel>(window, "Label2")->text(), label);
    QTimer* tmr1 = child<QTimer>(window, "tmr1");
    QVERIFY(tmr1->isActive());
    QCOMPARE(tmr1->interval(), intervalMs);
    QCOMPARE(child<QLabel>(window, "Label6_0")->text(), QStringLiteral("1"));
    QCOMPARE(window.shellIcon().toolTipText(), std::string("Bastionwatch v1.99"));
    if (!hasFile)
        QCOMPARE(dir.read("BW2Config.p2p"), std::string());

    window.close();
    QCOMPARE(exitStatus, std::optional<int>(0));
    QCOMPARE(QByteArray::fromStdString(dir.read("BW2Config.p2p")), saved);
}

}  // namespace bw

QTEST_MAIN(bw::WindowSettingsTest)
#include "window_settings_test.moc"
