#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace bw {

// Reads the comma-separated fields of an import file, one at a time.
//
// - A field ends at a comma or at a line end (CR, LF or CR LF).
// - Blanks (spaces, tabs) before a field are skipped.
// - A field that begins with a double quote runs to the next double quote, line
//   ends and commas included, and does not include the quotes; anything between
//   the closing quote and the next comma or line end is dropped.
// - Trailing blanks of an unquoted field are dropped too, so "a:1.2.3.4 " and
//   "a:1.2.3.4" give one entry text; quote a field to keep its blanks.
// - An empty line (or one of blanks only) gives an empty field.
// - Fields are read while bytes remain: a comma as the very last byte gives no
//   further field.
class ImportFields {
public:
    // The bytes must outlive the reader.
    explicit ImportFields(std::string_view bytes) : bytes_(bytes) {}

    // The next field, or false at the end of the data.
    bool next(std::string& field);

private:
    void skipBlanks();
    void readQuoted(std::string& field);
    void readUnquoted(std::string& field);
    // Consumes a comma or one line end at the current position, if there is one.
    void skipDelimiter();
    bool atDelimiter() const;

    std::string_view bytes_;
    std::size_t pos_ = 0;
};

}  // namespace bw
