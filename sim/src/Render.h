// sendra-sim render, and the pose picture of every run: the focus vessel as the stand-in host
// shows it at a moment of a drive.
#pragma once

#include "Options.h"
#include "RenderPicture.h"
#include "Runner.h"

namespace host {
class Simulation;
}

namespace sim {

// The scene of sim's focus vessel now, captioned with the time and the view; a scene that
// says so when no vessel has the focus.
Scene FocusScene(host::Simulation &sim, View view);

// Runs the drive of options up to options.at as `run` would and writes the picture to
// options.out, which is replaced only by a complete picture. Throws as RunDrive does, and
// host::HostError when there is no vessel to picture.
void RenderDrive(const RenderOptions &options, RunConsole console);

}  // namespace sim
