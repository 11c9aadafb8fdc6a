// `sendra-sim run`: loads a scenario, drives it frame by frame with a drive script's events,
// records the frames and writes the outputs, then summarises the drive.
#pragma once

#include <cstdint>
#include <functional>
#include <ostream>

#include "Options.h"

namespace host {
class Simulation;
}

namespace sim {

struct RunReport {
	uint64_t frames = 0;
	double simt = 0;      // [s] at the end
	double distance = 0;  // [m] driven by the focus vessel
	bool hasFocus = false;
	double lng = 0, lat = 0, hdg = 0;  // [rad] the focus vessel's final position
};

struct RunConsole {
	std::ostream &out;      // per-second lines and the summary (nothing when quiet)
	std::ostream &err;      // warnings, and the progress bar when progress is set
	bool progress = false;  // err is a terminal: show a progress bar during long runs
	bool outIsTerminal = false;  // out shares the screen with the bar: lines go above it
};

// Runs the drive that options describe. Throws host::HostError for invalid input (a scenario,
// script or output that cannot be used) and UsageError for options that cannot work together;
// no output file is left behind then.
// With atEnd (a render), the drive runs the same but writes none of a run's outputs and names
// no events after its end; atEnd gets the simulation as the last frame left it.
RunReport RunDrive(const RunOptions &options, RunConsole console,
                   const std::function<void(host::Simulation &)> &atEnd = nullptr);

}  // namespace sim
