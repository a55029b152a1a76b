#include "maintenance/import_fields.h"

#include "blocklist/characters.h"

namespace bw {

namespace {

bool isLineEnd(char c) {
    return c == '\r' || c == '\n';
}

}  // namespace

bool ImportFields::next(std::string& field) {
    field.clear();
    if (pos_ >= bytes_.size())
        return false;
    skipBlanks();
    if (pos_ < bytes_.size() && bytes_[pos_] == '"') {
        readQuoted(field);
    } else {
        readUnquoted(field);
    }
    skipDelimiter();
    return true;
}

void ImportFields::skipBlanks() {
    while (pos_ < bytes_.size() && isBlank(bytes_[pos_])) ++pos_;
}

void ImportFields::readQuoted(std::string& field) {
    ++pos_;  // opening quote
    std::size_t close = bytes_.find('"', pos_);
    if (close == std::string_view::npos)
        close = bytes_.size();
    field.assign(bytes_.substr(pos_, close - pos_));
    pos_ = close < bytes_.size() ? close + 1 : close;
    while (pos_ < bytes_.size() && !atDelimiter()) ++pos_;
}

void ImportFields::readUnquoted(std::string& field) {
    std::size_t begin = pos_;
    while (pos_ < bytes_.size() && !atDelimiter()) ++pos_;
    std::size_t end = pos_;
    while (end > begin && isBlank(bytes_[end - 1])) --end;
    field.assign(bytes_.substr(begin, end - begin));
}

bool ImportFields::atDelimiter() const {
    return bytes_[pos_] == ',' || isLineEnd(bytes_[pos_]);
}

void ImportFields::skipDelimiter() {
    if (pos_ >= bytes_.size())
        return;
    if (bytes_[pos_] == ',' || bytes_[pos_] == '\n') {
        ++pos_;
    } else if (bytes_[pos_] == '\r') {
        ++pos_;
        if (pos_ < bytes_.size() && bytes_[pos_] == '\n')
            ++pos_;
    }
}

}  // namespace bw
