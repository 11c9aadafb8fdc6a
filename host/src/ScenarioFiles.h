// The files of a vessel's scenario block: the FILEHANDLEs a module reads its lines from and
// writes them to.
#pragma once

#include <ostream>
#include <string>
#include <string_view>
#include <vector>

#include "OrbiterAPI.h"
#include "sendra_host/ConfigFile.h"
#include "sendra_host/ScenarioText.h"

namespace host {

// The lines of one vessel block, handed out by oapiReadScenario_nextline: trimmed, with ';'
// comments removed; false at a line "END" or when the lines run out.
class ScenarioBlockReader : public HostFile {
public:
	ScenarioBlockReader(std::string file, ScenarioLines lines)
		: HostFile(Kind::ScenarioIn), file_(std::move(file)), lines_(std::move(lines)), next_(lines_.begin()) {}
	// The reader's place points into its own lines.
	ScenarioBlockReader(const ScenarioBlockReader &) = delete;
	ScenarioBlockReader &operator=(const ScenarioBlockReader &) = delete;
	bool Next(char *&line);
	const std::string &file() const { return file_; }
	// The file line of the line handed out last (0 before the first).
	long currentLine() const { return current_; }

	// Problems found in the block's lines while it is being loaded, each already in the
	// form "file:line: what is wrong" for the line handed out when it was found.
	void Report(const std::string &what);
	const std::vector<std::string> &problems() const { return problems_; }
	// What the loading passes over or mends as the real host does, which does not stop it:
	// Warn's "file:line: what" for the line handed out last; Note's text as it is, for what
	// names a file of its own.
	void Warn(const std::string &what);
	void Note(const std::string &text);
	const std::vector<std::string> &warnings() const { return warnings_; }

	// While a scope exists, the host's parser reports what it finds wrong to this reader
	// (its file and current line) rather than to the simulation's problem list. Scopes nest.
	class Loading {
	public:
		explicit Loading(ScenarioBlockReader &reader);
		~Loading();
		Loading(const Loading &) = delete;
		Loading &operator=(const Loading &) = delete;

	private:
		ScenarioBlockReader *saved_;
	};
	// The reader of the block being loaded, or null.
	static ScenarioBlockReader *Active();

private:
	std::string file_;
	ScenarioLines lines_;
	ScenarioLines::Iterator next_;
	long current_ = 0;
	std::vector<char> buffer_;
	std::vector<std::string> problems_;
	std::vector<std::string> warnings_;
};

// Where oapiWriteScenario_... write: one stream.
class ScenarioSink : public HostFile {
public:
	explicit ScenarioSink(std::ostream &out) : HostFile(Kind::ScenarioOut), out_(out) {}
	std::ostream &out() { return out_; }

private:
	std::ostream &out_;
};

}  // namespace host
