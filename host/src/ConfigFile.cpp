// Reading vessel class configuration files.
#include "sendra_host/ConfigFile.h"

#include <algorithm>
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
			cfg.entries_.push_back({std::string(line), std::string(), std::string(line), lineNo});
			continue;
		}
		std::string_view key = Trim(line.substr(0, eq));
		if (key.empty())
			throw HostError(fileLabel, lineNo, "'=' without a key");
		cfg.entries_.push_back({std::string(key), std::string(Trim(line.substr(eq + 1))), std::string(line), lineNo});
	}
	return cfg;
}

const ConfigFile::Entry *ConfigFile::Find(const std::string &item) const {
	for (const Entry &e : entries_)
		if (EqualsNoCase(e.key, item))
			return &e;
	return nullptr;
}

std::optional<std::string> ConfigFile::Value(const std::string &item) const {
	const Entry *e = Find(item);
	return e ? std::optional<std::string>(e->value) : std::nullopt;
}

long ConfigFile::LineOf(const std::string &item) const {
	const Entry *e = Find(item);
	return e ? e->line : 0;
}

void ConfigFile::Ignored(const Entry &e, const std::string &kind) const {
	if (std::find(warnedLines_.begin(), warnedLines_.end(), e.line) != warnedLines_.end())
		return;
	warnedLines_.push_back(e.line);
	warnings_.push_back(HostError::Format(path_, e.line, e.key + ": '" + e.value + "' is not " + kind +
	                                                         "; the item is ignored, as Orbiter ignores it"));
}

std::vector<std::string> ConfigFile::TakeWarnings() const {
	std::vector<std::string> out;
	out.swap(warnings_);
	return out;
}

std::optional<double> ConfigFile::Number(const std::string &item) const {
	const Entry *e = Find(item);
	if (!e)
		return std::nullopt;
	std::optional<std::vector<double>> n = LeadingNumbers(e->value, 1);
	if (!n) {
		Ignored(*e, "a finite number");
		return std::nullopt;
	}
	return (*n)[0];
}

std::optional<VECTOR3> ConfigFile::Vector(const std::string &item) const {
	const Entry *e = Find(item);
	if (!e)
		return std::nullopt;
	std::optional<std::vector<double>> n = LeadingNumbers(e->value, 3);
	if (!n) {
		Ignored(*e, "three finite numbers");
		return std::nullopt;
	}
	return _V((*n)[0], (*n)[1], (*n)[2]);
}

std::optional<bool> ConfigFile::Bool(const std::string &item) const {
	const Entry *e = Find(item);
	if (!e)
		return std::nullopt;
	std::vector<std::string_view> words = SplitWords(e->value);
	if (words.size() == 1 && EqualsNoCase(words[0], "TRUE"))
		return true;
	if (words.size() == 1 && EqualsNoCase(words[0], "FALSE"))
		return false;
	Ignored(*e, "TRUE or FALSE");
	return std::nullopt;
}

std::optional<std::vector<ConfigFile::BlockLine>> ConfigFile::Block(const std::string &name) const {
	std::string begin = "BEGIN_" + name, end = "END_" + name;
	auto first = std::find_if(entries_.begin(), entries_.end(),
	                          [&](const Entry &e) { return e.value.empty() && EqualsNoCase(e.key, begin); });
	if (first == entries_.end())
		return std::nullopt;
	std::vector<BlockLine> lines;
	for (auto it = first + 1; it != entries_.end(); ++it) {
		if (it->value.empty() && EqualsNoCase(it->key, end))
			break;
		lines.push_back({it->text, it->line});
	}
	return lines;
}

}  // namespace host
