// A session: a scenario file, or the built-in scenario, made into a simulation of the stand-in
// host; the warnings the host reports about it; stepping it with a frame's input; saving it.
// Every command of sendra-sim works on one.
#pragma once

#include <functional>
#include <memory>
#include <new>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "sendra_host/ScenarioIO.h"
#include "sendra_host/Simulation.h"

namespace sim {

// [pixels] the size of a HUD or a picture.
struct PixelSize {
	int width = 0, height = 0;
};

struct SessionOptions {
	std::optional<std::string> scenario;  // the scenario file; empty: the built-in scenario
	std::string root;                     // Orbiter folder with Config/, Modules/, Meshes/
	std::string terrain = "hills";        // one of host::Terrain::Names()
	int flightModel = 1;                  // handed to the modules' ovcInit
	PixelSize hud{1024, 768};             // [pixels] 1..16384 a side
	double rudderDelay = 1.0;             // [s] for a full unit of rudder travel, >= 0
	bool journal = false;                 // keep each vessel's journal of host calls (inspect
	                                      // shows the loading's); nothing reads it while stepping
	bool progress = false;                // a progress bar on err while a long load makes the
	                                      // vessels (err is a terminal)
};

// Memory ran out, and what() says for what ("the picture is too large"), so that the message
// names the cause. Made without allocating.
class OutOfMemory : public std::bad_alloc {
public:
	explicit OutOfMemory(const char *what) noexcept : what_(what) {}
	const char *what() const noexcept override { return what_; }

private:
	const char *what_;
};

// Runs work; memory that runs out in it, and not already named, ran out for what.
template <typename Work>
auto NeedingMemory(const char *what, Work work) -> decltype(work()) {
	try {
		return work();
	} catch (const OutOfMemory &) {
		throw;
	} catch (const std::bad_alloc &) {
		throw OutOfMemory(what);
	}
}

// One frame's input to the focus vessel.
struct FrameInput {
	std::vector<host::KeyEvent> keys;  // given to the host before the frame, in order
	std::optional<double> rudder;      // target -1..1, set after the frame (its keyboard step is
	                                   // the one place that reads a target, so after is the same)
};

class Session {
public:
	// Reads the scenario and loads it; problems the host noticed go to err as warnings.
	// Throws host::HostError for a scenario, class or module that cannot be used.
	Session(const SessionOptions &options, std::ostream &err);
	Session(const Session &) = delete;
	Session &operator=(const Session &) = delete;

	host::Simulation &simulation() { return *sim_; }
	const host::Simulation &simulation() const { return *sim_; }
	// The scenario as messages name it: its file as given, or the built-in scenario's label.
	const std::string &label() const { return label_; }
	const SessionOptions &options() const { return options_; }

	// One frame of dt [s]: the input's keys, the frame, the rudder target; then atEnd (work
	// that belongs to the frame, such as a save), and the frame's warnings.
	void Step(double dt, const FrameInput &input, const std::function<void()> &atEnd = nullptr);

	// Writes the simulation as a scenario that keeps what the loaded one held and the host
	// does not model (descriptions, the environment's other lines, the user interface's blocks).
	void Write(std::ostream &out);
	// Saves it to path, replacing a file there only when the new one is complete. Throws
	// host::HostError naming path.
	void Save(const std::string &path);
	void Save(const std::string &path, host::SaveFileSystem &files);

	// "sendra-sim: warning: what" on err, its control characters escaped.
	void Warn(const std::string &what);
	// The host's problems since the last call, as warnings.
	void WarnProblems();

private:
	void Load();

	SessionOptions options_;
	std::ostream &err_;
	std::string label_;
	std::unique_ptr<host::Simulation> sim_;
};

}  // namespace sim
