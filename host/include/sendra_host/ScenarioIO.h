// Whole Orbiter scenario files: reading one into a simulation, and saving a simulation as one
// that real Orbiter 2016 can read.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <functional>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "sendra_host/ScenarioText.h"

class Vessel;

namespace host {

class Simulation;

struct ScenarioVesselBlock {
	std::string name;       // before the first ':'
	std::string className;  // after it; the name when there is no ':'
	long line = 0;          // line of "name:Class"
	ScenarioLines lines;    // the block's lines up to and including END
};

struct ScenarioFile {
	std::string path;             // as given, for error messages
	std::string system = "Sol";
	// BEGIN_ENVIRONMENT's Date as an MJD; unset without one that gives a number (the scenario
	// then starts at the current time, SimOptions::now).
	std::optional<double> mjd;
	long dateLine = 0;            // of the Date item; 0 without one
	std::string environment;      // the environment's other lines as read, each ending in '\n'
	std::string focus;            // BEGIN_FOCUS "Ship"; empty without one
	long focusLine = 0;
	std::vector<ScenarioVesselBlock> vessels;
	// The kept blocks in file order: descriptions (DESC, HYPERDESC, URLDESC) and the blocks
	// of the real host's user interface and plugins.
	std::vector<ScenarioBlock> blocks;
	size_t blocksRead = 0;              // blocks of any kind, the descriptions included
	// What the reader passed over that a user may miss, each "file:line: what" (a second
	// CAMERA block: the real host reads the first).
	std::vector<std::string> warnings;
};

// Most text the reader keeps of one kept block or of the environment's other lines [bytes],
// and most kept blocks (those passed over as second ones included): a real scenario has a
// few blocks of a few lines.
constexpr size_t kMaxKeptBlockBytes = size_t(1) << 20;
constexpr size_t kMaxKeptBlocks = 10000;

// Parses scenario text; label names it in errors. Throws HostError "label:line: what is wrong".
// A UTF-8 byte-order mark before the first line is passed over.
ScenarioFile ParseScenario(const std::string &text, const std::string &label);
ScenarioFile ReadScenarioFile(const std::string &path);

// Makes the scenario's vessels in file order the way the real host does (module, ovcInit,
// clbkSetClassCaps, clbkLoadStateEx on a prepared VESSELSTATUS2, the host's own apply), then
// the rides of docked and carried vessels and the flights of those in orbit, clbkPostCreation
// for all and the focus (the first vessel when the one named is none, with a warning). Sets
// the simulation's start MJD (SimOptions::now without a date, with a warning) before the
// vessels, whose ELEMENTS are states at it. Throws HostError with the scenario's file and
// line for anything that cannot be loaded (a class without a configuration here, a vessel
// without a state on a known body, an unknown surface base, a line the host's parser cannot
// read, an orbit that is none or lies inside its body), and then leaves the simulation as it
// was. Problems that do not stop the load (a mesh that cannot be read, a module that is absent,
// a dock the class does not define, a file with neither vessels nor blocks, the reader's
// warnings) stay in the simulation's problem list for the caller. What the scenario keeps
// replaces the simulation's, for its saves.
// made, when given, is told after each vessel how many of all are made.
void LoadScenario(Simulation &sim, const ScenarioFile &scenario,
                  const std::function<void(size_t made, size_t total)> &made = nullptr);

// Writes the whole simulation as a scenario in the real writer's order: the kept descriptions
// (an empty DESC without one), environment with the current MJD and the kept lines, focus,
// the kept CAMERA (its TARGET naming the object the camera is on), HUD, MFD, PANEL and VC
// blocks, ships (each "name:Class", its clbkSaveState, END), then the other kept blocks in the
// order they were read.
void WriteScenario(Simulation &sim, std::ostream &out);

// Saves to path through a temporary file renamed over it, so that a failure never leaves a
// half-written scenario and never touches an existing file. Throws HostError on failure.
void SaveScenario(Simulation &sim, const std::string &path);

// The file operations a save goes through: the operating system's by default. A test gives
// one that fails part-way, since a test run as root cannot rely on a read-only folder. Each
// returns 0 on success or an errno value.
class SaveFileSystem {
public:
	virtual ~SaveFileSystem() = default;
	// A new file with permissions mode (before the umask); fails with EEXIST if path exists.
	virtual int Create(const std::string &path, mode_t mode, int &fd);
	// Writes up to size bytes and sets written to how many were written.
	virtual int Write(int fd, const char *data, size_t size, size_t &written);
	virtual int Flush(int fd);  // to the disk
	virtual int Close(int fd);
	virtual int Rename(const std::string &from, const std::string &to);  // replaces to
	virtual int Remove(const std::string &path);
};

// The operating system's file operations.
SaveFileSystem &SystemFiles();

void SaveScenario(Simulation &sim, const std::string &path, SaveFileSystem &files);

// A vessel's own lines of a scenario block: lines (up to its END, numbered from 1 in file)
// handed to its module's clbkLoadStateEx through the host's block reader, with a fresh
// VESSELSTATUS2, as a scenario's loading does (problems the host's parser finds are the
// simulation's); and what its clbkSaveState writes, to out. Nothing for a vessel without callbacks.
void LoadVesselLines(Simulation &sim, Vessel *v, const std::vector<std::string> &lines, const std::string &file);
void SaveVesselLines(Simulation &sim, Vessel *v, std::ostream &out);

}  // namespace host
