// Reading vessel class configuration files.
#include "sendra_host/ConfigFile.h"

#include <fstream>
#include <sstream>

#include "sendra_host/HostError.h"
#include "sendra_host/Text.h"

namespace host {

// Longest line the reader accepts; real configuration lines are far shorter.
static constexpr size_t kMaxLine = 4096;

ConfigFile ConfigFile::Read(const std::string &path) {
	std::ifstream in(path, std::ios::binary);
	if (!in)
		throw HostError(path, 0, "cannot open the configuration file");
	std::ostringstream text;
	text << in.rdbuf();
	if (in.bad())
		throw HostError(path, 0, "cannot read the configuration file");
	return Parse(text.str(), path);
}

ConfigFile ConfigFile::Parse(const std::string &text, const std::string &fileLabel) {
	ConfigFile cfg;
	cfg.path_ = fileLabel;
	long lineNo = 0;
	// A byte-order mark, as Windows editors write one, is no part of the first line.
	size_t pos = text.compare(0, 3, "\xEF\xBB\xBF") == 0 ? 3 : 0;
	while (pos < text.size()) {
		size_t eol = text.find('\n', pos);
		std::string_view raw(text.data() + pos, (eol == std::string::npos ? text.size() : eol) - pos);
		pos = eol == std::string::npos ? text.size() : eol + 1;
		++lineNo;
		if (!raw.empty() && raw.back() == '\r')  // a line's length is the same with CRLF as with LF
			raw.remove_suffix(1);
		if (raw.size() > kMaxLine)
			throw HostError(fileLabel, lineNo, "line longer than " + std::to_string(kMaxLine) + " characters");
		if (raw.find('\0') != std::string_view::npos)
			throw HostError(fileLabel, lineNo, "binary data in a configuration file");
		std::string_view line = Trim(StripComment(raw));
		if (line.empty())
			continue;
		if (EqualsNoCase(line, "END_PARSE"))
			break;
		size_t eq = line.find('=');
		if (eq == std::string_view::npos) {
			// Block markers such as BEGIN_DOCKLIST carry no '='; keep them as keys without value.
			cfg.entries_.push_back({std::string(line), std::string(), lineNo});
			continue;
		}
		std::string_view key = Trim(line.substr(0, eq));
		if (key.empty())
			throw HostError(fileLabel, lineNo, "'=' without a key");
		cfg.entries_.push_back({std::string(key), std::string(Trim(line.substr(eq + 1))), lineNo});
	}
	return cfg;
}

std::optional<std::string> ConfigFile::Value(const std::string &item) const {
	for (const Entry &e : entries_)
		if (EqualsNoCase(e.key, item))
			return e.value;
	return std::nullopt;
}

long ConfigFile::LineOf(const std::string &item) const {
	for (const Entry &e : entries_)
		if (EqualsNoCase(e.key, item))
			return e.line;
	return 0;
}

std::optional<double> ConfigFile::Number(const std::string &item) const {
	std::optional<std::string> v = Value(item);
	if (!v)
		return std::nullopt;
	std::optional<double> d = ParseDouble(*v);
	if (!d)
		throw HostError(path_, LineOf(item), item + ": not a finite number: '" + *v + "'");
	return d;
}

std::optional<VECTOR3> ConfigFile::Vector(const std::string &item) const {
	std::optional<std::string> v = Value(item);
	if (!v)
		return std::nullopt;
	std::optional<std::vector<double>> n = ParseNumbers(*v, 3);
	if (!n)
		throw HostError(path_, LineOf(item), item + ": expected three finite numbers: '" + *v + "'");
	return _V((*n)[0], (*n)[1], (*n)[2]);
}

std::optional<bool> ConfigFile::Bool(const std::string &item) const {
	std::optional<std::string> v = Value(item);
	if (!v)
		return std::nullopt;
	if (EqualsNoCase(*v, "TRUE"))
		return true;
	if (EqualsNoCase(*v, "FALSE"))
		return false;
	throw HostError(path_, LineOf(item), item + ": expected TRUE or FALSE: '" + *v + "'");
}

}  // namespace host
