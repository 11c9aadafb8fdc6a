// Checked text helpers of the host's file readers: trimming, case-insensitive matching and
// number conversions that reject partial, out-of-range and non-finite values.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "OrbiterAPI.h"

namespace host {

std::string_view Trim(std::string_view s);            // blanks, tabs, CR, LF at both ends
std::string_view StripComment(std::string_view s);    // cut at the first ';'
bool EqualsNoCase(std::string_view a, std::string_view b);
bool StartsWithNoCase(std::string_view s, std::string_view prefix);
std::vector<std::string_view> SplitWords(std::string_view s);  // on blanks and tabs

// The whole text must be one finite number.
std::optional<double> ParseDouble(std::string_view s);
std::optional<long long> ParseInteger(std::string_view s);
// The whole text must be exactly n finite numbers separated by blanks.
std::optional<std::vector<double>> ParseNumbers(std::string_view s, size_t n);
// The first n numbers of the text, each finite, as the real host's configuration reader takes
// them: blanks before each, whatever text follows the last ignored ("5000 kg" reads as 5000).
std::optional<std::vector<double>> LeadingNumbers(std::string_view s, size_t n);

// s with the characters that a terminal would act on written as escapes: the C0 controls and
// DEL as \xHH, the C1 controls (U+0080 to U+009F in UTF-8) as \uHHHH, so that a name from a
// file cannot move the cursor, clear the screen or split a message into lines.
std::string Printable(std::string_view s);

// Shortest text that reads back as the same double.
std::string FormatShortest(double v);
// printf-style formatting into a string of any length.
std::string Format(const char *fmt, ...) __attribute__((format(printf, 1, 2)));

}  // namespace host
