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
	std::optional<double> Number(const std::string &item) const;
	std::optional<VECTOR3> Vector(const std::string &item) const;
	std::optional<bool> Bool(const std::string &item) const;
	const std::string &path() const { return path_; }
	// Line of the first matching key, for error messages (0 if absent).
	long LineOf(const std::string &item) const;

private:
	struct Entry {
		std::string key, value;
		long line;
	};
	std::string path_;
	std::vector<Entry> entries_;
};

}  // namespace host
