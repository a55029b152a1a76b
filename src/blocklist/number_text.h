#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace bw {

// The leading decimal number of a text: blanks and tabs before it are skipped,
// an optional sign and digits with at most one decimal point are taken, and
// reading stops at the first other character. No digits reads as 0.
double leadingNumber(std::string_view text);

// The whole text as a number: blanks and tabs around it are ignored, an optional
// sign is taken, then a decimal number that must start with a digit and run to
// the end (an exponent is allowed). Anything else gives no value.
std::optional<double> numberFromText(std::string_view text);

// A number as plain decimal text, without exponent or trailing zeros
// (257 -> "257", 12.5 -> "12.5", -3 -> "-3").
std::string formatPlainNumber(double value);

// Nearest integer, a half going to the even neighbour (12.5 -> 12, 13.5 -> 14).
int roundHalfToEven(double value);

}  // namespace bw
