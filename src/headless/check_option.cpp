#include "headless/check_option.h"

#include <algorithm>
#include <iostream>
#include <string_view>

#include "base/product.h"
#include "blocklist/blocklist_reader.h"
#include "blocklist/text_lines.h"
#include "guard/address_check.h"
#include "maintenance/check_places.h"
#include "maintenance/list_keeper.h"
#include "platform/clock.h"
#include "platform/downloader.h"
#include "platform/folder_file.h"
#include "platform/program_folder.h"
#include "platform/whole_file.h"

namespace bw {

namespace {

// A file of addresses is read whole; a blocklist as large as the update check takes.
constexpr std::uint64_t kMaxAddressFileBytes = std::uint64_t{64} << 20;
constexpr std::uint64_t kMaxBlocklistBytes = std::uint64_t{512} << 20;
constexpr std::size_t kShownLines = 20;
constexpr std::size_t kShownIpv6Reports = 5;

// "FILE (N lines)", or "FILE (N IPv6 lines)" where a file holds both families.
std::string linesTitle(const std::string& file, std::size_t lines, std::string_view family) {
    return file + " (" + std::to_string(lines) + " " + std::string(family) +
           (lines == 1 ? "line)" : "lines)");
}

int refuse(std::ostream& err, const std::string& why) {
    err << "bastionwatch-headless: " << why << "\n";
    return kCheckUnreadable;
}

// One address, range or network of a file, with its line.
struct AskedLine {
    std::size_t line = 0;
    CheckQuery query;
};

struct AskedFile {
    std::vector<AskedLine> asked;
    std::vector<AskedLine> asked6;    // single IPv6 addresses, each checked on its own
    std::vector<std::string> unread;  // "line N: text", for the lines that are none of them
    std::size_t ipv6Ranges = 0;
};

AskedFile readAskedFile(std::string_view bytes) {
    AskedFile file;
    std::size_t line = 0;
    forEachLine(bytes, [&](std::string_view text) {
        ++line;
        CheckQuery query = parseCheckQuery(text);
        if (query.text.empty() || query.text.starts_with('#'))
            return;
        if (query.kind == CheckQuery::Kind::Ipv6)
            ++file.ipv6Ranges;
        else if (query.kind == CheckQuery::Kind::Address6)
            file.asked6.push_back({line, std::move(query)});
        else if (query.kind == CheckQuery::Kind::NotAnAddress)
            file.unread.push_back("line " + std::to_string(line) + ": " + query.text);
        else
            file.asked.push_back({line, std::move(query)});
    });
    return file;
}

std::string guardLine(const CheckSetting& setting, bool banned) {
    if (!setting.guard) {
        return std::string("No guard of this user's runs for ") + setting.folder.string() +
               (banned ? ", so nothing refuses it now; a guard started with these files would."
                       : ".") +
               " (A guard of another account, such as the service's, cannot be seen from here.)\n";
    }
    std::string guard = "process " + std::to_string(setting.guard->pid);
    if (!setting.guard->program.empty())
        guard += ", " + setting.guard->program;
    return "A guard runs for this folder (" + guard + ")" +
           (banned ? ": it refuses these connections while its blocking is on.\n"
                   : ": it lets these through.\n");
}

}  // namespace

int runCheck(const std::string& asked, const CheckSetting& setting, std::ostream& out,
             std::ostream& err) {
    CheckQuery query = parseCheckQuery(asked);
    if (query.kind == CheckQuery::Kind::Ipv6)
        return refuse(err,
                      "'" + asked + "' is an IPv6 range: --check takes one IPv6 address at a time");
    AskedFile file;
    std::string title = query.text;
    if (query.kind == CheckQuery::Kind::NotAnAddress) {
        FileBytes bytes = readRegularFile(asked, kMaxAddressFileBytes);
        if (!bytes.ok) {
            return refuse(err, "'" + asked +
                                   "' is neither an IPv4 address, a range (a.b.c.d-e.f.g.h or "
                                   "a.b.c.d/n) nor a file of them that reads: " +
                                   bytes.error);
        }
        file = readAskedFile(bytes.bytes);
        // A hostile file must not flood the terminal: the first few are named, the rest counted.
        for (std::size_t i = 0; i < file.unread.size() && i < kShownLines; ++i) {
            err << "bastionwatch-headless: " << asked << " " << file.unread[i]
                << ": not an IPv4 address\n";
        }
        if (file.unread.size() > kShownLines) {
            err << "bastionwatch-headless: " << asked << ": and "
                << file.unread.size() - kShownLines << " more lines that are not IPv4 addresses\n";
        }
        if (file.asked.empty() && file.asked6.empty())
            return refuse(err, asked + " holds no IPv4 address to check");
        title = linesTitle(asked, file.asked.size(), file.asked6.empty() ? "" : "IPv4 ");
    } else if (query.kind != CheckQuery::Kind::Address6) {
        file.asked.push_back({0, query});
    }

    const std::filesystem::path blocklist = fileInFolder(setting.folder, kBlocklistFileName);
    BanTable own;
    FileBytes listed = readRegularFile(blocklist, kMaxBlocklistBytes);
    if (!listed.ok && listed.errorNumber != ENOENT)
        return refuse(err, "cannot read the blocklist " + blocklist.string() + ": " + listed.error);
    out << "Checked against " << blocklist.string() << (listed.ok ? "" : " (there is none)")
        << " and the lists of " << setting.folder.string() << " as they are now.\n";
    if (listed.ok)
        loadBlocklist(std::move(listed.bytes), own);

    auto clock = makeSystemClock();
    auto downloader = makeCurlDownloader();  // never asked: nothing is updated here
    ListKeeper keeper(*downloader, *clock, setting.folder);
    if (std::string problem = keeper.loadToRead(); !problem.empty())
        out << "Lists: " << problem << ".\n";
    ListTable lists = keeper.table();
    lists.setLifelines(setting.lifelines);

    if (query.kind == CheckQuery::Kind::Address6) {
        CheckResult result = checkAddress6(own, lists, query.address6);
        placeOwnEntriesInFile(result, own, blocklist.filename().string());
        placeListEntries(result, lists, keeper);
        out << checkReport(title, result);
        out << guardLine(setting, result.banned > 0);
        return result.banned > 0 ? kCheckBanned : kCheckAllowed;
    }
    CheckResult result;
    if (!file.asked.empty()) {
        std::vector<AddressSpan> spans;
        for (const AskedLine& line : file.asked) spans.push_back(line.query.span);
        result = checkAddresses(own, lists, spans);
        placeOwnEntriesInFile(result, own, blocklist.filename().string());
        placeListEntries(result, lists, keeper);
        out << checkReport(title, result);
    }
    // The IPv6 addresses of a file one by one, through the tables' indexes: a
    // hostile file of millions of lines is not read against every range.
    std::vector<const AskedLine*> banned6;
    std::vector<EntryRef> hits;
    for (const AskedLine& line : file.asked6) {
        if (bannedAddress6(own, lists, line.query.address6, hits))
            banned6.push_back(&line);
    }
    if (!file.asked6.empty()) {
        out << linesTitle(asked, file.asked6.size(), "IPv6 ") << ": " << banned6.size() << " of "
            << file.asked6.size() << (file.asked6.size() == 1 ? " address" : " addresses")
            << " banned.\n";
        // What bans the first few, said in full.
        for (std::size_t i = 0; i < banned6.size() && i < kShownIpv6Reports; ++i) {
            CheckResult one = checkAddress6(own, lists, banned6[i]->query.address6);
            placeOwnEntriesInFile(one, own, blocklist.filename().string());
            placeListEntries(one, lists, keeper);
            out << checkReport(banned6[i]->query.text, one);
        }
    }

    if (file.asked.size() + file.asked6.size() > 1 ||
        (file.asked.empty() ? file.asked6 : file.asked).front().line > 0) {
        std::vector<const AskedLine*> bannedLines = banned6;
        for (const AskedLine& line : file.asked) {
            if (addressesWithin(result.bannedSpans, line.query.span) > 0)
                bannedLines.push_back(&line);
        }
        std::sort(bannedLines.begin(), bannedLines.end(),
                  [](const AskedLine* a, const AskedLine* b) { return a->line < b->line; });
        for (std::size_t i = 0; i < bannedLines.size() && i < kShownLines; ++i)
            out << "  banned: line " << bannedLines[i]->line << ": " << bannedLines[i]->query.text
                << "\n";
        if (bannedLines.size() > kShownLines)
            out << "  and " << bannedLines.size() - kShownLines
                << " more lines with banned addresses\n";
        if (file.ipv6Ranges > 0)
            out << "  " << file.ipv6Ranges
                << " IPv6 ranges skipped: --check takes IPv6 addresses one at a time\n";
    }
    const bool banned = result.banned > 0 || !banned6.empty();
    out << guardLine(setting, banned);
    if (banned)
        return kCheckBanned;
    return file.unread.empty() ? kCheckAllowed : kCheckUnreadable;
}

const char* checkOptionHelp() {
    return "  --check WHAT            whether the guard refuses WHAT, and which entries,\n"
           "                          allow lists and lifelines decide it: an IPv4\n"
           "                          address, a range (a.b.c.d-e.f.g.h or a.b.c.d/n), an\n"
           "                          IPv6 address, or a file of them, one a line.\n"
           "                          Status 0: allowed, 1: banned, 2: nothing to check.\n"
           "                          Reads the files, changes nothing.\n";
}

std::optional<int> runCheckOption(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    if (std::find(args.begin(), args.end(), "--check") == args.end())
        return std::nullopt;
    if (args.size() != 2 || args[0] != "--check")
        return refuse(std::cerr, "usage: --check ADDRESS|RANGE|FILE, and nothing else");
    CheckSetting setting;
    setting.folder = programFolderAsItIs();
    // The servers a running guard's downloads reached are known to it alone.
    setting.lifelines = makeLinuxLifelineSource()->read();
    setting.guard = runningGuardOf(setting.folder);
    return runCheck(args[1], setting, std::cout, std::cerr);
}

}  // namespace bw
