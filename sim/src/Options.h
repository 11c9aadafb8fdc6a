// The command line of sendra-sim: subcommands, options with their ranges, usage and help.
#pragma once

#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "ServeOptions.h"

namespace sim {

struct RunOptions {
	std::optional<std::string> scenario;  // empty: the built-in scenario
	std::optional<std::string> script;    // empty: the built-in drive without a scenario, else none
	std::optional<double> duration;       // [s] >= 0; empty: 5 s after the last event, or 60 s
	std::vector<double> dts{0.02};        // [s] step lengths used in turn, each > 0
	std::string terrain = "hills";        // "flat" or "hills"
	int hudWidth = 1024, hudHeight = 768;  // [pixels] 1..16384
	double rudderDelay = 1.0;             // [s] for a full unit of rudder travel, >= 0
	uint64_t recordEvery = 1;             // record every Nth frame (and the last), >= 1
	int flightModel = 1;
	std::string out = "./sendra-out";
	std::string root;                     // Orbiter folder with Config/, Modules/, Meshes/
	bool quiet = false;
};

// [pixels] the sides of a picture: by default, and the range --size takes
const int kDefaultPictureWidth = 800, kDefaultPictureHeight = 600;
const int kMinPictureSide = 32, kMaxPictureSide = 4096;

// sendra-sim render: the focus vessel at a moment of a drive, run as `run` runs it.
struct RenderOptions {
	RunOptions drive;           // the drive up to the moment; its duration is `at`
	double at = 0;              // [s] simulated time of the picture, >= 0; 0 is as loaded
	std::string view = "iso";   // iso, front, rear, left, right or top
	int width = kDefaultPictureWidth, height = kDefaultPictureHeight;
	std::string out;            // FILE.png or FILE.svg
};

struct DeclarationsOptions {
	std::optional<std::string> scenario;
	std::string root;
	int flightModel = 1;
};

enum class Command { Run, Declarations, Render, Serve, Help, Version };

struct CommandLine {
	Command command = Command::Run;
	RunOptions run;
	DeclarationsOptions declarations;
	RenderOptions render;
	ServeOptions serve;
};

// A command line that does not follow the usage; what() says what is wrong.
class UsageError : public std::runtime_error {
public:
	using std::runtime_error::runtime_error;
};

// Parses the arguments after the program name. defaultRoot is the --root used when none is
// given. Throws UsageError.
CommandLine ParseCommandLine(const std::vector<std::string> &args, const std::string &defaultRoot);

// Whether a step of dt [s] still advances the simulation time at every time up to until [s]:
// beyond that, adding dt no longer changes the time and a run would never end.
bool StepAdvances(double until, double dt);

// The synopsis printed with every usage error.
extern const char kUsage[];
// The full help: synopsis, options and their defaults, the drive script's lines.
std::string HelpText(const std::string &defaultRoot);

// The tree the build staged, or <folder of the executable>/orbiter when that is missing.
std::string DefaultRoot();

}  // namespace sim
