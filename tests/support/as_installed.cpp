#include "support/as_installed.h"

#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <fstream>
#include <sstream>

namespace bw::test {

namespace {

// "CAP_BPF CAP_NET_ADMIN" as setpriv's "+bpf,+net_admin".
std::string setprivCapabilities(const std::string& unitValue) {
    std::istringstream names(unitValue);
    std::string name;
    std::string out = "-all";
    while (names >> name) {
        if (name.rfind("CAP_", 0) == 0)
            name = name.substr(4);
        std::transform(name.begin(), name.end(), name.begin(),
                       [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
        out += ",+" + name;
    }
    return out;
}

std::string unitSetting(const std::string& unit, const std::string& key) {
    std::istringstream lines(unit);
    std::string line;
    while (std::getline(lines, line)) {
        if (line.rfind(key + "=", 0) == 0)
            return line.substr(key.size() + 1);
    }
    return {};
}

}  // namespace

InstalledCopy::InstalledCopy(const std::filesystem::path& original, bool fileCapabilities) {
    if (std::string why = whyNotAsOrdinaryUser(); !why.empty()) {
        problem = why;
        return;
    }
    char pattern[] = "/tmp/bastionwatch-installed-XXXXXX";
    if (!mkdtemp(pattern)) {
        problem = "cannot make a folder in /tmp";
        return;
    }
    folder = pattern;
    openToEveryone(folder);
    executable = folder / original.filename();
    std::filesystem::copy_file(original, executable);
    chmod(executable.c_str(), 0755);
    if (fileCapabilities) {
        std::string command = "setcap cap_bpf,cap_net_admin+ep '" + executable.string() + "'";
        if (system(command.c_str()) != 0)
            problem = "setcap could not grant capabilities to " + executable.string();
    }
}

InstalledCopy::~InstalledCopy() {
    std::error_code ignored;
    if (!folder.empty())
        std::filesystem::remove_all(folder, ignored);
}

std::vector<std::string> asOrdinaryUser(bool unitCapabilities) {
    std::vector<std::string> command = {"/usr/bin/setpriv", "--reuid=nobody", "--regid=nogroup",
                                        "--clear-groups"};
    if (!unitCapabilities) {
        command.insert(command.end(), {"--inh-caps=-all", "--bounding-set=-perfmon,-sys_admin"});
    } else {
        std::ifstream file(BW_SERVICE_UNIT_TEMPLATE);
        std::stringstream text;
        text << file.rdbuf();
        const std::string unit = text.str();
        const std::string ambient = setprivCapabilities(unitSetting(unit, "AmbientCapabilities"));
        command.push_back("--inh-caps=" + ambient);
        command.push_back("--ambient-caps=" + ambient);
        command.push_back("--bounding-set=" +
                          setprivCapabilities(unitSetting(unit, "CapabilityBoundingSet")));
        if (unitSetting(unit, "NoNewPrivileges") == "true")
            command.push_back("--no-new-privs");
    }
    command.push_back("--");
    return command;
}

std::string whyNotAsOrdinaryUser() {
    if (geteuid() != 0)
        return "running a program as another user with chosen capabilities needs root";
    if (access("/usr/bin/setpriv", X_OK) != 0)
        return "setpriv (util-linux) is missing";
    return {};
}

void openToEveryone(const std::filesystem::path& folder) {
    chmod(folder.c_str(), 0755);
}

}  // namespace bw::test
