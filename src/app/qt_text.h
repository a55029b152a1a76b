#pragma once

#include <QString>
#include <string>
#include <string_view>

namespace bw {

// The core's texts are bytes: UTF-8 where they are valid UTF-8, otherwise
// the 8-bit text of older blocklists, shown as Latin-1.
QString textFromBytes(std::string_view bytes);
std::string bytesFromText(const QString& text);

}  // namespace bw
