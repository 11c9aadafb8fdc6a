// The host's side of a vessel's scenario block: the FILEHANDLEs a module reads its lines from
// and writes them to, the host's own vessel lines (STATUS, POS, HEADING, ALT, AROT), and how
// the host applies a VESSELSTATUS2.
#pragma once

#include <ostream>
#include <string>
#include <vector>

#include "ConfigFile.h"
#include "OrbiterAPI.h"

class Vessel;

namespace host {

struct ScenarioLine {
	long number;       // line number in the file, for errors
	std::string text;  // as in the file
};

// The lines of one vessel block, handed out by oapiReadScenario_nextline: trimmed, with ';'
// comments removed; false at a line "END" or when the lines run out.
class ScenarioBlockReader : public HostFile {
public:
	ScenarioBlockReader(std::string file, std::vector<ScenarioLine> lines)
		: HostFile(Kind::ScenarioIn), file_(std::move(file)), lines_(std::move(lines)) {}
	bool Next(char *&line);
	const std::string &file() const { return file_; }
	long currentLine() const { return current_; }

private:
	std::string file_;
	std::vector<ScenarioLine> lines_;
	size_t next_ = 0;
	long current_ = 0;
	std::vector<char> buffer_;
};

// Where oapiWriteScenario_... write: one stream.
class ScenarioSink : public HostFile {
public:
	explicit ScenarioSink(std::ostream &out) : HostFile(Kind::ScenarioOut), out_(out) {}
	std::ostream &out() { return out_; }

private:
	std::ostream &out_;
};

// VESSELSTATUS2 as the host applies it (DefSetStateEx, and after loading a scenario block).
// Only version 2 is handled. A landed status with arot.x > 4 is put at rest on level ground.
void ApplyStatus(Vessel &v, const VESSELSTATUS2 *vs);

// The host's own scenario lines, parsed into vs: STATUS Landed <body>, POS, HEADING, ALT and
// AROT (degrees); other lines are ignored. Bad values are reported as problems.
void ParseVesselLine(Vessel &v, const char *line, VESSELSTATUS2 *vs);

// The host's own lines for a landed vessel, as the base clbkSaveState writes them.
void WriteDefaultVesselLines(Vessel &v, FILEHANDLE scn);

}  // namespace host
