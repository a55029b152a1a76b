#include "platform/xdg_registry.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "maintenance/link_registration.h"
#include "maintenance/reg_write.h"
#include "support/recording_host.h"
#include "support/temp_dir.h"

namespace bw {
namespace {

class XdgRegistryTest : public testing::Test {
protected:
    void registerWith(const std::filesystem::path& executable) {
        RegWrite regWrite(registry, host);
        registerLinkScheme(regWrite, executable);
    }

    std::string desktopEntry() const {
        return home.read("data/applications/bastionwatch-bwdat.desktop");
    }
    std::string mimeApps() const { return home.read("config/mimeapps.list"); }

    test::TempDir home;
    test::RecordingHost host;
    XdgRegistry registry{home.file("data"), home.file("config")};
};

TEST_F(XdgRegistryTest, RegistrationWritesTheDesktopEntryAndTheDefaultHandler) {
    registerWith("/opt/bastion watch/bastionwatch");
    EXPECT_EQ(desktopEntry(),
              "[Desktop Entry]\n"
              "Type=Application\n"
              "Name=Bastionwatch\n"
              "Comment=URL: ZQ Hub Address\n"
              "Exec=\"/opt/bastion watch/bastionwatch\" %u\n"
              "Terminal=false\n"
              "NoDisplay=true\n"
              "MimeType=x-scheme-handler/bwdat;\n");
    EXPECT_EQ(mimeApps(),
              "[Default Applications]\nx-scheme-handler/bwdat=bastionwatch-bwdat.desktop\n");
    EXPECT_TRUE(host.messages.empty());
}

TEST_F(XdgRegistryTest, OtherLinesOfMimeAppsSurvive) {
    const std::string before =
        "# mine\n"
        "[Added Associations]\n"
        "x-scheme-handler/bwdat=other.desktop;\n"
        "\n"
        "[Default Applications]\n"
        "x-scheme-handler/http=firefox.desktop\n"
        "x-scheme-handler/bwdat=old-guard.desktop\n"
        "text/plain=editor.desktop\n"
        "\n"
        "[Removed Associations]\n"
        "image/png=viewer.desktop\n";
    std::filesystem::create_directories(home.file("config"));
    home.write("config/mimeapps.list", before);

    registerWith("/opt/bw/bastionwatch");

    std::string expected = before;
    expected.replace(expected.find("old-guard.desktop"), 17, "bastionwatch-bwdat.desktop");
    EXPECT_EQ(mimeApps(), expected);
}

TEST(WithDefaultHandler, PlacesTheHandlerLineInItsGroup) {
    struct Case {
        const char* before;
        const char* after;
    } cases[] = {
        {"", "[Default Applications]\nt=d\n"},
        {"[Added Associations]\na=b\n",
         "[Added Associations]\na=b\n\n[Default Applications]\nt=d\n"},
        {"[Default Applications]\na=b\n\n[X]\n", "[Default Applications]\na=b\nt=d\n\n[X]\n"},
        {"[Default Applications]\nt = old\nt=older\na=b", "[Default Applications]\nt=d\na=b\n"},
        {"[Default Applications]\r\na=b\r\n", "[Default Applications]\r\na=b\r\nt=d\n"},
        {"[X]\nt=keep\n[Default Applications]\n", "[X]\nt=keep\n[Default Applications]\nt=d\n"},
        {"[Default Applications]\nt/x=keep\n", "[Default Applications]\nt/x=keep\nt=d\n"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(withDefaultHandler(c.before, "t", "d"), c.after)
            << testing::PrintToString(std::string(c.before));
    }
}

TEST_F(XdgRegistryTest, ASecondRegistrationLeavesTheFilesAsTheyWere) {
    registerWith("/opt/bw/bastionwatch");
    const std::string entry = desktopEntry();
    const std::string list = mimeApps();
    const auto entryTime =
        std::filesystem::last_write_time(home.file("data/applications/bastionwatch-bwdat.desktop"));

    XdgRegistry nextStart(home.file("data"), home.file("config"));
    RegWrite regWrite(nextStart, host);
    registerLinkScheme(regWrite, "/opt/bw/bastionwatch");

    EXPECT_EQ(desktopEntry(), entry);
    EXPECT_EQ(mimeApps(), list);
    EXPECT_EQ(
        std::filesystem::last_write_time(home.file("data/applications/bastionwatch-bwdat.desktop")),
        entryTime);
}

TEST_F(XdgRegistryTest, AMovedProgramIsRegisteredAnew) {
    registerWith("/opt/old/bastionwatch");
    registerWith("/opt/new/bastionwatch");
    EXPECT_NE(desktopEntry().find("Exec=/opt/new/bastionwatch %u\n"), std::string::npos);
    EXPECT_EQ(mimeApps(),
              "[Default Applications]\nx-scheme-handler/bwdat=bastionwatch-bwdat.desktop\n");
}

TEST_F(XdgRegistryTest, KeysOutsideTheSchemeAreRefused) {
    RegistryKey key = 99;
    EXPECT_NE(registry.createKey(kCurrentUser, "bwdat", key), kRegistryOk);
    EXPECT_NE(registry.createKey(kClassesRoot, "bwdatx", key), kRegistryOk);
    EXPECT_NE(registry.createKey(kClassesRoot, "", key), kRegistryOk);
    EXPECT_EQ(key, 0u);
    EXPECT_EQ(registry.createKey(kClassesRoot, "BWDAT\\Shell", key), kRegistryOk);
    EXPECT_EQ(registry.closeKey(key), kRegistryOk);
    EXPECT_FALSE(std::filesystem::exists(home.file("data")));
    EXPECT_FALSE(std::filesystem::exists(home.file("config")));
}

TEST_F(XdgRegistryTest, FoldersThatCannotBeWrittenFailSilently) {
    // Files where the folders should be: not even root can write below them.
    home.write("data", "not a folder");
    home.write("config", "not a folder");
    registerWith("/opt/bw/bastionwatch");
    EXPECT_EQ(home.read("data"), "not a folder");
    EXPECT_EQ(home.read("config"), "not a folder");
    EXPECT_TRUE(host.messages.empty());
}

TEST_F(XdgRegistryTest, ReadOnlyFoldersFailSilently) {
    if (::geteuid() == 0)
        GTEST_SKIP() << "root writes anywhere";
    std::filesystem::create_directories(home.file("data"));
    std::filesystem::create_directories(home.file("config"));
    ::chmod(home.file("data").c_str(), 0500);
    ::chmod(home.file("config").c_str(), 0500);
    registerWith("/opt/bw/bastionwatch");
    ::chmod(home.file("data").c_str(), 0700);
    ::chmod(home.file("config").c_str(), 0700);
    EXPECT_FALSE(std::filesystem::exists(home.file("data/applications")));
    EXPECT_FALSE(std::filesystem::exists(home.file("config/mimeapps.list")));
    EXPECT_TRUE(host.messages.empty());
}

TEST_F(XdgRegistryTest, AnUnreadableMimeAppsIsNotReplaced) {
    if (::geteuid() == 0)
        GTEST_SKIP() << "root reads anything";
    std::filesystem::create_directories(home.file("config"));
    home.write("config/mimeapps.list", "[Default Applications]\na=b\n");
    ::chmod(home.file("config/mimeapps.list").c_str(), 0200);
    registerWith("/opt/bw/bastionwatch");
    ::chmod(home.file("config/mimeapps.list").c_str(), 0600);
    EXPECT_EQ(mimeApps(), "[Default Applications]\na=b\n");
}

TEST_F(XdgRegistryTest, OpeningALinkStartsTheRegisteredProgramWithIt) {
    if (std::system("command -v xdg-open >/dev/null 2>&1") != 0)
        GTEST_SKIP() << "no xdg-open";
    // A stand-in program that records the argument it was started with.
    home.write("guard", "#!/bin/sh\nprintf '%s' \"$1\" > \"$(dirname \"$0\")/received\"\n");
    ::chmod(home.file("guard").c_str(), 0755);
    registerWith(home.file("guard"));

    // A bare environment: no desktop session, so xdg-open goes by the XDG files alone.
    const std::string command =
        "env -i PATH=/usr/bin:/bin DISPLAY=:0 HOME='" + home.path().string() + "' XDG_DATA_HOME='" +
        home.file("data").string() + "' XDG_CONFIG_HOME='" + home.file("config").string() +
        "' xdg-open 'bwdat://x@1.2.3.4:1.2.3.9' >/dev/null 2>&1";
    ASSERT_EQ(std::system(command.c_str()), 0);
    EXPECT_EQ(home.read("received"), "bwdat://x@1.2.3.4:1.2.3.9");
}

TEST(DesktopExecFromCommand, QuotesTheProgramAndPassesTheLink) {
    struct Case {
        const char* command;
        const char* exec;
    } cases[] = {
        {"\"/opt/bw/bastionwatch\" %1", "/opt/bw/bastionwatch %u"},
        {"/opt/bw/bastionwatch %1", "/opt/bw/bastionwatch %u"},
        {"\"/opt/bw-1.99_x/bastion.watch\" %1", "/opt/bw-1.99_x/bastion.watch %u"},
        {"\"/opt/a b/bw\" %1", "\"/opt/a b/bw\" %u"},
        {"\"/opt/100%/bw\" %1", "/opt/100%%/bw %u"},
        {"\"/opt/it's/bw\" %1", "\"/opt/it's/bw\" %u"},
        {"\"/opt/$x`y`/bw\" %1", "\"/opt/\\\\$x\\\\`y\\\\`/bw\" %u"},
        {"\"/opt/back\\slash/bw\" %1", "\"/opt/back\\\\\\\\slash/bw\" %u"},
        {"\"/opt/line\nbreak\" %1", ""},
        {"\"\" %1", ""},
        {"", ""},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(desktopExecFromCommand(c.command), c.exec)
            << testing::PrintToString(std::string(c.command));
    }
}

TEST(MakeDesktopRegistry, FollowsTheXdgFoldersOfTheEnvironment) {
    test::TempDir home;
    const char* oldData = std::getenv("XDG_DATA_HOME");
    const char* oldConfig = std::getenv("XDG_CONFIG_HOME");
    std::string savedData = oldData ? oldData : "";
    std::string savedConfig = oldConfig ? oldConfig : "";
    ::setenv("XDG_DATA_HOME", home.file("d").c_str(), 1);
    ::setenv("XDG_CONFIG_HOME", home.file("c").c_str(), 1);

    auto registry = makeDesktopRegistry();
    test::RecordingHost host;
    RegWrite regWrite(*registry, host);
    registerLinkScheme(regWrite, "/opt/bw/bastionwatch");

    if (oldData)
        ::setenv("XDG_DATA_HOME", savedData.c_str(), 1);
    else
        ::unsetenv("XDG_DATA_HOME");
    if (oldConfig)
        ::setenv("XDG_CONFIG_HOME", savedConfig.c_str(), 1);
    else
        ::unsetenv("XDG_CONFIG_HOME");

    EXPECT_TRUE(std::filesystem::exists(home.file("d/applications/bastionwatch-bwdat.desktop")));
    EXPECT_EQ(home.read("c/mimeapps.list"),
              "[Default Applications]\nx-scheme-handler/bwdat=bastionwatch-bwdat.desktop\n");
}

}  // namespace
}  // namespace bw
