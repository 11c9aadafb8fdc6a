// The host's side of a vessel's scenario block: the FILEHANDLEs a module reads its lines from
// and writes them to, the host's own vessel lines (STATUS, POS, HEADING, ALT, AROT), and how
// the host applies a VESSELSTATUS2.
#pragma once

#include <ostream>
#include <string>
#include <string_view>
#include <vector>

#include "ConfigFile.h"
#include "OrbiterAPI.h"

class Vessel;

namespace host {

// Consecutive lines of a scenario file as in the file, kept as one text of the lines each
// followed by '\n', so that a block of many short lines costs what its characters cost.
class ScenarioLines {
public:
	struct Line {
		long number;            // line number in the file, for errors
		std::string_view text;  // as in the file, without its line end
	};
	class Iterator {
	public:
		Iterator(const std::string &text, size_t pos, long number) : text_(&text), pos_(pos), number_(number) {}
		Line operator*() const;
		Iterator &operator++();
		bool operator!=(const Iterator &o) const { return pos_ != o.pos_; }

	private:
		const std::string *text_;
		size_t pos_;
		long number_;
	};

	// Lines numbered from first on.
	explicit ScenarioLines(long first = 1) : first_(first) {}
	ScenarioLines(long first, const std::vector<std::string> &lines);
	// Appends the next line; it must hold no '\n'.
	void Add(std::string_view line);

	size_t size() const { return count_; }
	bool empty() const { return count_ == 0; }
	// Characters held, the line ends included.
	size_t bytes() const { return text_.size(); }
	Iterator begin() const { return Iterator(text_, 0, first_); }
	Iterator end() const { return Iterator(text_, text_.size(), first_ + static_cast<long>(count_)); }
	// The first and the last line; there must be one.
	Line front() const { return *begin(); }
	Line back() const;

private:
	long first_;
	size_t count_ = 0;
	std::string text_;
};

// A block of the scenario that the stand-in host does not model (a description, CAMERA, HUD,
// MFD, PANEL, VC, a plugin's), kept as read so that a save writes it back.
struct ScenarioBlock {
	std::string name;  // the word after "BEGIN_": "DESC", "HYPERDESC", "CAMERA", "MFD", "ExtMFD", ...
	long line = 0;     // line of its BEGIN_ header
	std::string text;  // every line from the header to the block's end, each ending in '\n'
};

// What a loaded scenario holds that the host does not model, kept for the saves, which
// write it back as read (the camera block aimed at the vessel the camera is on).
struct KeptScenario {
	std::string environment;            // the environment's lines other than System and Date
	                                    // (Context, Script, Help, ...), each ending in '\n'
	std::vector<ScenarioBlock> blocks;  // in file order
	std::string cameraTarget;           // the vessel that took the focus last since the loading,
	                                    // which the camera follows; empty: the camera is where
	                                    // the file put it
};

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
// A landed status whose place, heading, attitude or altitude is not finite is not applied:
// the vessel keeps its state, and the first time a problem is reported.
void ApplyStatus(Vessel &v, const VESSELSTATUS2 *vs);

// The host's own scenario lines, parsed into vs: STATUS Landed <body>, POS <lng> <lat>,
// HEADING (degrees), ALT (metres) and AROT (degrees); RCSMODE (0..2), AFCMODE (0..7) and
// NAVFREQ (a whole number, the tuned step, per nav receiver) go to the vessel itself. The first word must be the key, letter case ignored.
// Other lines are ignored, as the real host ignores them: PRPLEVEL, THLEVEL, XPDR, DOCKINFO,
// IDS, ATTACHED and FLIGHTDATA concern tanks, thrusters, transponders, docks and attachments,
// which the stand-in's vessels do not have, so they are not saved again. What the stand-in
// cannot honour (an orbiting vessel, a surface base, an unknown body) and values that cannot
// be read are reported as problems: to the block being loaded if there is one, else to the
// simulation.
void ParseVesselLine(Vessel &v, const char *line, VESSELSTATUS2 *vs);

// The host's own lines for a landed vessel, as the base clbkSaveState writes them:
// STATUS Landed <body>, POS (degrees, 10 decimals), HEADING (degrees 0..360, 6 decimals),
// ALT (metres, 3 decimals), AROT (degrees, 6 decimals), then RCSMODE unless it is 1,
// AFCMODE unless it is 0, and NAVFREQ with the steps read, or "0 0" for a vessel that can take
// the focus (the real host gives such a vessel two receivers when it declares none). The place is written as PlaceToSave gives it. A state that is not
// finite cannot be written so that it loads again: it is reported to the simulation as a problem.
void WriteDefaultVesselLines(Vessel &v, FILEHANDLE scn);

// A surface position as a scenario names it [degrees].
struct SavedPlace {
	double lng, lat, hdg;
};
// The place to write for longitude, latitude and heading [rad]. A vessel driven over a pole
// keeps a latitude beyond 90 degrees while it runs, which the reader refuses: such a place is
// written as the same point with its latitude within -90..90, the longitude turned half a turn
// into (-180, 180] and the heading half a turn into [0, 360). Any other place keeps its
// longitude, and its heading is brought into 0..360.
SavedPlace PlaceToSave(double lng, double lat, double hdg);

}  // namespace host
