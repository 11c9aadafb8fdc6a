// Checked text helpers of the host's file readers.
#include "sendra_host/Text.h"

#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace host {

static bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

static char Lower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

std::string_view Trim(std::string_view s) {
	while (!s.empty() && IsBlank(s.front()))
		s.remove_prefix(1);
	while (!s.empty() && IsBlank(s.back()))
		s.remove_suffix(1);
	return s;
}

std::string_view StripComment(std::string_view s) {
	size_t p = s.find(';');
	return p == std::string_view::npos ? s : s.substr(0, p);
}

bool EqualsNoCase(std::string_view a, std::string_view b) {
	if (a.size() != b.size())
		return false;
	for (size_t i = 0; i < a.size(); ++i)
		if (Lower(a[i]) != Lower(b[i]))
			return false;
	return true;
}

bool StartsWithNoCase(std::string_view s, std::string_view prefix) {
	return s.size() >= prefix.size() && EqualsNoCase(s.substr(0, prefix.size()), prefix);
}

std::vector<std::string_view> SplitWords(std::string_view s) {
	std::vector<std::string_view> out;
	size_t i = 0;
	while (i < s.size()) {
		while (i < s.size() && IsBlank(s[i]))
			++i;
		size_t start = i;
		while (i < s.size() && !IsBlank(s[i]))
			++i;
		if (i > start)
			out.push_back(s.substr(start, i - start));
	}
	return out;
}

std::optional<double> ParseDouble(std::string_view s) {
	s = Trim(s);
	if (s.empty() || s.size() > 512)
		return std::nullopt;
	char buf[520];
	std::memcpy(buf, s.data(), s.size());
	buf[s.size()] = '\0';
	char *end = nullptr;
	errno = 0;
	double v = std::strtod(buf, &end);
	if (end != buf + s.size() || !std::isfinite(v))
		return std::nullopt;
	return v;
}

std::optional<long long> ParseInteger(std::string_view s) {
	s = Trim(s);
	if (!s.empty() && s.front() == '+')
		s.remove_prefix(1);
	long long v = 0;
	auto r = std::from_chars(s.data(), s.data() + s.size(), v);
	if (s.empty() || r.ec != std::errc() || r.ptr != s.data() + s.size())
		return std::nullopt;
	return v;
}

std::optional<std::vector<double>> ParseNumbers(std::string_view s, size_t n) {
	std::vector<std::string_view> words = SplitWords(s);
	if (words.size() != n)
		return std::nullopt;
	std::vector<double> out;
	out.reserve(n);
	for (std::string_view w : words) {
		std::optional<double> v = ParseDouble(w);
		if (!v)
			return std::nullopt;
		out.push_back(*v);
	}
	return out;
}

std::optional<std::vector<double>> LeadingNumbers(std::string_view s, size_t n) {
	std::string text(s.substr(0, 4096));
	std::vector<double> out;
	const char *at = text.c_str();
	for (size_t i = 0; i < n; ++i) {
		char *end = nullptr;
		double v = std::strtod(at, &end);
		if (end == at || !std::isfinite(v))
			return std::nullopt;
		out.push_back(v);
		at = end;
	}
	return out;
}

namespace {

// The length of the valid UTF-8 sequence at s[i] (2 to 4 bytes), or 0.
size_t Utf8Sequence(std::string_view s, size_t i) {
	auto c = static_cast<unsigned char>(s[i]);
	size_t n = c >= 0xC2 && c <= 0xDF ? 2 : c >= 0xE0 && c <= 0xEF ? 3 : c >= 0xF0 && c <= 0xF4 ? 4 : 0;
	if (n == 0 || i + n > s.size())
		return 0;
	for (size_t k = 1; k < n; ++k)
		if ((static_cast<unsigned char>(s[i + k]) & 0xC0) != 0x80)
			return 0;
	auto d = static_cast<unsigned char>(s[i + 1]);
	// Overlong forms, surrogates and code points beyond U+10FFFF.
	if ((c == 0xE0 && d < 0xA0) || (c == 0xED && d > 0x9F) || (c == 0xF0 && d < 0x90) || (c == 0xF4 && d > 0x8F))
		return 0;
	return n;
}

}  // namespace

std::string Printable(std::string_view s) {
	std::string out;
	out.reserve(s.size());
	char buf[8];
	for (size_t i = 0; i < s.size();) {
		auto c = static_cast<unsigned char>(s[i]);
		size_t n = c >= 0x80 ? Utf8Sequence(s, i) : 1;
		if (c < 0x20 || c == 0x7F || (n == 0 && c <= 0x9F)) {
			// A byte that is no UTF-8 and in 0x80..0x9F is a C1 control to an 8-bit terminal.
			std::snprintf(buf, sizeof buf, "\\x%02x", c);
			out += buf;
			++i;
		} else if (n == 2 && c == 0xC2 && static_cast<unsigned char>(s[i + 1]) <= 0x9F) {
			std::snprintf(buf, sizeof buf, "\\u%04x", static_cast<unsigned char>(s[i + 1]));
			out += buf;
			i += 2;
		} else {
			n = n == 0 ? 1 : n;  // other bytes that are no UTF-8 are shown as they are
			out.append(s.substr(i, n));
			i += n;
		}
	}
	return out;
}

std::string FormatShortest(double v) {
	char buf[64];
	auto r = std::to_chars(buf, buf + sizeof buf, v);
	return std::string(buf, r.ptr);
}

std::string Format(const char *fmt, ...) {
	va_list args;
	va_start(args, fmt);
	va_list copy;
	va_copy(copy, args);
	int n = std::vsnprintf(nullptr, 0, fmt, copy);
	va_end(copy);
	std::string out;
	if (n > 0) {
		out.resize(static_cast<size_t>(n) + 1);
		std::vsnprintf(&out[0], out.size(), fmt, args);
		out.resize(static_cast<size_t>(n));
	}
	va_end(args);
	return out;
}

}  // namespace host
