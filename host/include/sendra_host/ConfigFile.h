// Vessel class configuration files (Config/Vessels/<Class>.cfg): "Key = value" lines, keys
// matched without regard to case, ';' comments, END_PARSE ends the search. A UTF-8 byte-order
// mark before the first line is passed over.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "OrbiterAPI.h"

namespace host {

// Common head of the objects a FILEHANDLE can point to, so that a handle of the wrong kind
// is refused instead of misread.
struct HostFile {
	enum class Kind : uint32_t { Config = 0x43464731, ScenarioIn = 0x53434e49, ScenarioOut = 0x53434e4f };
	explicit HostFile(Kind k) : kind(k) {}
	Kind kind;
};

class ConfigFile : public HostFile {
public:
	ConfigFile() : HostFile(Kind::Config) {}
	// Reads path; throws HostError "path:line: what is wrong" for a file that cannot be read
	// or a line that is neither blank, a comment nor "Key = value".
	static ConfigFile Read(const std::string &path);
	static ConfigFile Parse(const std::string &text, const std::string &fileLabel);

	// The value of the first line whose key equals item (case ignored), trimmed.
	std::optional<std::string> Value(const std::string &item) const;
	// Items read as the real host reads them: a number is the first number of the value (text
	// after it ignored), a vector the first three, a boolean TRUE or FALSE in any case. An item
	// whose value does not read so (or reads as a number that is not finite) is ignored, as
	// the real host ignores it, with a warning naming its line (see TakeWarnings).
	std::optional<double> Number(const std::string &item) const;
	std::optional<VECTOR3> Vector(const std::string &item) const;
	std::optional<bool> Bool(const std::string &item) const;
	const std::string &path() const { return path_; }
	// Line of the first matching key, for error messages (0 if absent).
	long LineOf(const std::string &item) const;
	// Whether the file's first line (of any content, comments cut) begins with text.
	bool FirstLineStartsWith(const std::string &text) const {
		return !entries_.empty() && entries_.front().line == 1 && entries_.front().text.rfind(text, 0) == 0;
	}
	// The warnings about items ignored since the last call, each "file:line: what", each line
	// once in the file's life however often it is read.
	std::vector<std::string> TakeWarnings() const;

	// The lines of a block, from a line "BEGIN_<name>" to "END_<name>" (case ignored) as the
	// reader kept them (trimmed, comments cut), with their line numbers; nullopt without a block.
	struct BlockLine {
		std::string text;
		long line;
	};
	std::optional<std::vector<BlockLine>> Block(const std::string &name) const;

private:
	struct Entry {
		std::string key, value;
		std::string text;  // the whole line, trimmed and without its comment
		long line;
	};
	// Warns once about the item of the line: its value does not read as the kind.
	void Ignored(const Entry &e, const std::string &kind) const;
	const Entry *Find(const std::string &item) const;

	std::string path_;
	std::vector<Entry> entries_;
	mutable std::vector<long> warnedLines_;
	mutable std::vector<std::string> warnings_;
};

}  // namespace host
