// A drive: a session stepped frame by frame with the events of a drive script, each in the
// first frame that reaches its time, up to the drive's duration. `run` records a drive and
// `render` pictures where one ends.
#pragma once

#include <cmath>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "session/DriveScript.h"
#include "session/Session.h"

namespace sim {

struct DriveOptions {
	SessionOptions session;
	std::optional<std::string> script;  // empty: the built-in drive without a scenario, else none
	std::optional<double> duration;     // [s] >= 0; empty: 5 s after the last event, or 60 s
	std::vector<double> dts{0.02};      // [s] step lengths used in turn, each > 0
};

// Central angle [rad] between two surface positions [rad], by the haversine formula, which
// stays accurate for the small steps of a frame; the cosines of the latitudes are given.
double CentralAngle(double lng1, double lat1, double coslat1, double lng2, double lat2, double coslat2);

// Whether a step of dt [s] still advances the simulation time at every time up to until [s]:
// beyond that, adding dt no longer changes the time and a drive would never end.
bool StepAdvances(double until, double dt);
// The longest of the step lengths, used in turn: while it advances the time, every round of
// steps does, whatever the shorter ones do.
double LongestStep(const std::vector<double> &dts);

// The drive script of options: its file, or the built-in drive when neither a script nor a
// scenario is given, or none. Throws host::HostError for a script that cannot be used.
DriveScript LoadDriveScript(const DriveOptions &options);

class Drive {
public:
	// Checks the script against the session's vessels and works out the duration. Throws
	// host::HostError for a focus event naming no vessel or a last event the steps cannot
	// reach, std::invalid_argument for an empty list of steps.
	Drive(Session &session, DriveScript script, const DriveOptions &options);

	// Where the script's saves go, each given its name as the script has it (a relative path
	// ending in .scn); without it they are skipped. An error it throws is named with the
	// script's line.
	void SetSaves(std::function<void(const std::string &name)> save) { save_ = std::move(save); }

	// Whether the simulation time is still short of the duration (also during a frame).
	bool Running() const;
	// One frame: the events it reaches, the frame, then its saves. Throws what the saves throw.
	void Next();
	// Frames until the duration is reached.
	void ToEnd() {
		while (Running())
			Next();
	}

	double duration() const { return duration_; }
	// [m] the ground the focus vessel covered, frame by frame.
	double distance() const { return distance_; }
	const DriveScript &script() const { return script_; }
	// The events no frame has reached yet, in script order.
	std::vector<ScriptEvent> Undelivered() const;

private:
	FrameInput Deliver(std::vector<const ScriptEvent *> &saves);

	Session &session_;
	DriveScript script_;
	std::vector<double> dts_;
	double duration_ = 0;
	size_t next_ = 0;         // the first event not yet delivered
	size_t dtIndex_ = 0;
	std::vector<int> tapUps_;  // keys tapped last frame, released first in this one
	double distance_ = 0;
	// The latitude the last frame ended at and its cosine, which the next frame starts from.
	double lastLat_ = NAN, lastCosLat_ = 0;
	std::function<void(const std::string &)> save_;
};

}  // namespace sim
