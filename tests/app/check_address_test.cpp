#include <QAction>
#include <QCheckBox>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QtTest>

#include "app/check_address_dialog.h"
#include "app/main_window.h"
#include "app/widget_child.h"
#include "app/window_commands.h"
#include "support/program_fixture.h"

namespace bw {

using test::child;

class CheckAddressTest : public QObject {
    Q_OBJECT

private slots:
    void theWindowAnswersAsTheGuardHoldsTheLists();
};

// The window's field asks the running program, whose table and lists the guard
// uses, and shows the answer the console's --check words the same way.
void CheckAddressTest::theWindowAnswersAsTheGuardHoldsTheLists() {
    test::FakeServices fakes;
    fakes.dir.write("Moatlist.P2P",
                    "Far:203.0.113.0-203.0.113.255\r\nDoc6:2001:db8:1::-2001:db8:1::ff\r\n"
                    "Near:10.0.0.0-10.0.0.255\r\n");
    MainWindow window(true);
    window.setExitHandler([](int) {});
    Program program(window, fakes.services());
    ProgramCommands commands(program);
    window.attach(commands);
    program.load("");
    window.showAtStart();

    child<QAction>(window, "mnuView_Check")->trigger();
    auto* dialog = window.findChild<CheckAddressDialog*>();
    QVERIFY(dialog);
    QVERIFY(dialog->isVisible());
    window.openCheckDialog();
    QCOMPARE(window.findChildren<CheckAddressDialog*>().size(), 1);  // one at a time

    struct Case {
        const char* asked;
        const char* answer;
    } cases[] = {
        {"203.0.113.7",
         "203.0.113.7 is banned.\n"
         "  banned by the entry \"Far:203.0.113.0-203.0.113.255\" (row 2 of IP "
         "Ranges/Blocklist)\n"},
        {"198.51.100.1", "198.51.100.1 is not banned: no entry holds it.\n"},
        {"10.0.0.0/23",
         "10.0.0.0/23: 256 of 512 addresses banned.\n"
         "  the entry \"Near:10.0.0.0-10.0.0.255\" (row 1 of IP Ranges/Blocklist) bans 256\n"},
        {"2001:db8::1", "2001:db8::1 is not banned: no entry holds it.\n"},
        // The IPv6 rows come after the IPv4 ones.
        {"2001:db8:1::7",
         "2001:db8:1::7 is banned.\n"
         "  banned by the entry \"Doc6:2001:db8:1::-2001:db8:1::ff\" (row 3 of IP "
         "Ranges/Blocklist)\n"},
        {"2001:db8::/32",
         "2001:db8::/32 is an IPv6 range: type one IPv6 address, such as 2001:db8::7, to check "
         "it.\n"},
    };
    for (const Case& c : cases) {
        child<QLineEdit>(*dialog, "checkAddressField")->setText(QString::fromLatin1(c.asked));
        child<QPushButton>(*dialog, "checkAddressButton")->click();
        QCOMPARE(dialog->answer(), QString::fromLatin1(c.answer));
        QCOMPARE(dialog->answer().toStdString(), program.checkAddress(c.asked));
    }

    child<QCheckBox>(window, "Check2")->click();  // blocking off
    child<QLineEdit>(*dialog, "checkAddressField")->setText(QStringLiteral("203.0.113.7"));
    QTest::keyClick(child<QLineEdit>(*dialog, "checkAddressField"), Qt::Key_Return);
    QVERIFY2(dialog->answer().endsWith(QStringLiteral(
                 "\"Block banned IPs.\" is off: nothing is refused until it is ticked again.\n")),
             qPrintable(dialog->answer()));
    window.close();
}

}  // namespace bw

QTEST_MAIN(bw::CheckAddressTest)
#include "check_address_test.moc"
