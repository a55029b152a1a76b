#include "maintenance/number_ignoring_blanks.h"

#include <string>

#include "blocklist/number_text.h"

namespace bw {

double numberIgnoringBlanks(std::string_view text) {
    std::string squeezed;
    squeezed.reserve(text.size());
    for (char c : text) {
        if (c != ' ' && c != '\t')
            squeezed += c;
    }
    return leadingNumber(squeezed);
}

}  // namespace bw
