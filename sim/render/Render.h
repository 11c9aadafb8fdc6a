// sendra-sim render, and the pose picture of every run: the focus vessel as the stand-in host
// shows it at a moment of a drive.
#pragma once

#include <ostream>
#include <stdexcept>
#include <string>

#include "render/RenderPicture.h"
#include "session/Drive.h"

namespace host {
class Simulation;
}

namespace sim {

// [pixels] the sides of a picture: by default, and the range --size takes
const int kDefaultPictureWidth = 800, kDefaultPictureHeight = 600;
const int kMinPictureSide = 32, kMaxPictureSide = 4096;

// sendra-sim render: the focus vessel at a moment of a drive, run as `run` runs it.
struct RenderOptions {
	DriveOptions drive;         // the drive up to the moment; its duration is `at`
	double at = 0;              // [s] simulated time of the picture, >= 0; 0 is as loaded
	std::string view = "iso";   // one of ViewNames()
	PixelSize size{kDefaultPictureWidth, kDefaultPictureHeight};
	std::string out;            // FILE.png or FILE.svg
	std::string vessel;         // the vessel to picture; empty for the focus vessel
	bool quiet = false;         // print nothing but errors and warnings
};

// A vessel to picture that the scenario does not have: what() names the closest of its
// vessels, or them all. The command line's error, though only the scenario can tell.
class UnknownVesselError : public std::runtime_error {
public:
	using std::runtime_error::runtime_error;
};

// The scene of vessel v of sim now (the focus vessel's for FocusScene), captioned with the
// time and the view; a scene that says so when there is no vessel. A landed vessel is lit by
// the Sun where it stands, one in flight by the picture's own light, its legend saying
// where it flies.
Scene VesselScene(host::Simulation &sim, const Vessel *v, View view);
Scene FocusScene(host::Simulation &sim, View view);

// Runs the drive of options up to options.at and writes the picture to options.out, which
// is replaced only by a complete picture; the script's saves are skipped, with a warning.
// Warnings go to err, and the progress of a long drive when progress is set (err is a
// terminal); unless quiet, out gets the line naming the picture. Throws host::HostError for
// invalid input (a scenario, script or picture file that cannot be used, or no vessel to
// picture), std::invalid_argument for a view, size or file type that render does not draw.
void RenderDrive(const RenderOptions &options, std::ostream &out, std::ostream &err, bool progress = false);

}  // namespace sim
