// Drive scripts: timed key, rudder, control-surface mode, save and focus events read from a
// UTF-8 text file, one event per line, as sendra-sim delivers them to the simulation.
#pragma once

#include <istream>
#include <string>
#include <vector>

namespace sim {

struct ScriptEvent {
	enum class Kind { KeyDown, KeyUp, Tap, Rudder, Afc, Save, Focus };
	double t = 0;       // [s] simulation time, finite and >= 0
	Kind kind = Kind::KeyDown;
	int key = 0;        // OAPI_KEY_ code (KeyDown, KeyUp, Tap)
	double level = 0;   // rudder target, -1..1 (Rudder)
	int mode = 0;       // control-surface mode of the focus vessel, 0..7 (Afc)
	std::string text;   // file to save to (Save) or vessel name (Focus)
	long line = 0;      // line in the script, for messages
};

struct DriveScript {
	std::string label;  // the file as given, for messages
	std::vector<ScriptEvent> events;  // in file order; times non-decreasing
};

// Parses a drive script; label names it in errors, thrown as host::HostError
// "label:line: what is wrong".
DriveScript ParseDriveScript(std::istream &in, const std::string &label);
DriveScript ReadDriveScript(const std::string &path);

// The event as the script writes it, without its time: "tap NUMPAD8", "rudder -1", ...
std::string DescribeEvent(const ScriptEvent &e);

}  // namespace sim
