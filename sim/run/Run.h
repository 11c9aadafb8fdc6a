// `sendra-sim run`: a drive recorded frame by frame into the output folder's files, with a
// line per simulated second and a summary of the drive.
#pragma once

#include <cstdint>
#include <ostream>
#include <string>

#include "session/Drive.h"

namespace sim {

struct RunOptions {
	DriveOptions drive;
	uint64_t recordEvery = 1;          // record every Nth frame (and the last), >= 1
	std::string out = "./sendra-out";  // the output folder
	bool quiet = false;                // print nothing but errors and warnings
	bool hudLines = false;             // the line of each second on a terminal too
};

struct RunReport {
	uint64_t frames = 0;
	double simt = 0;      // [s] at the end
	double distance = 0;  // [m] driven by the focus vessel
	bool hasFocus = false;
	double lng = 0, lat = 0, hdg = 0;  // [rad] the focus vessel's final position
};

struct RunConsole {
	std::ostream &out;      // per-second lines, the summary and the outputs written (nothing when quiet)
	std::ostream &err;      // warnings, and the progress bar when progress is set
	bool progress = false;  // err is a terminal: show a progress bar during long runs
	bool outIsTerminal = false;  // out is a terminal: the per-second lines only when asked for, above the bar
};

// Runs the drive that options describe and writes trajectory.csv, hud.csv, final.scn,
// track.svg and pose.png to options.out, all of them or none. Throws host::HostError for
// invalid input (a scenario, script or output that cannot be used), leaving earlier outputs
// as they were.
RunReport RunDrive(const RunOptions &options, RunConsole console);

}  // namespace sim
