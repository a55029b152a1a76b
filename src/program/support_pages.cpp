#include "program/support_pages.h"

#include "base/product.h"

namespace bw {

namespace {

constexpr std::string_view kCommunityForumAddress = "https://community.bastionwatch.example.org";
constexpr std::string_view kHomeMirrorAddress = "https://mirror.bastionwatch.example.net";
constexpr std::string_view kIpDatabaseAddress = "https://ipdb.example.com/ranges";

}  // namespace

std::string_view supportPageAddress(SupportPage page) {
    switch (page) {
        case SupportPage::CommunityForum:
            return kCommunityForumAddress;
        case SupportPage::MakerForum:
            return kForumAddress;
        case SupportPage::HomePage:
            return kHomePageAddress;
        case SupportPage::HomeMirror:
            return kHomeMirrorAddress;
        case SupportPage::IpDatabase:
            return kIpDatabaseAddress;
    }
    return kHomePageAddress;
}

}  // namespace bw
