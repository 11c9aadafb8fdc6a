// The built-in rover driven by a script up to a moment through sendra-sim's library, and what
// pictures of it show; pixels compared by position and colour.
#pragma once

#include <sstream>
#include <string>

#include "SimProgram.h"
#include "render/Render.h"
#include "render/RenderPicture.h"
#include "session/Drive.h"
#include "session/Paths.h"

namespace render_testing {

const int kWidth = 640, kHeight = 480;  // [pixels] of the pictures the tests look at

// The focus rover of the built-in scenario after the script's drive up to simulated time at.
inline sim::Scene SceneAfter(const std::string &script, double at, sim::View view) {
	sim_testing::Scratch s;
	s.Write("drive.txt", script);
	sim::DriveOptions o;
	o.script = (s / "drive.txt").string();
	o.session.root = sim::DefaultRoot();
	o.duration = at;
	std::ostringstream err;
	sim::Session session(o.session, err);
	sim::Drive drive(session, sim::LoadDriveScript(o), o);
	drive.ToEnd();
	return sim::FocusScene(session.simulation(), view);
}

struct Rgb {
	int r, g, b;
};
inline Rgb Colour(uint32_t pixel) {
	return {static_cast<int>(pixel >> 16 & 0xFF), static_cast<int>(pixel >> 8 & 0xFF), static_cast<int>(pixel & 0xFF)};
}
inline int Brightness(uint32_t pixel) {
	Rgb c = Colour(pixel);
	return c.r + c.g + c.b;
}

// A rectangle of pixels, inclusive.
struct Box {
	int x0 = 1 << 30, y0 = 1 << 30, x1 = -1, y1 = -1;
	bool Contains(int x, int y) const { return x >= x0 && x <= x1 && y >= y0 && y <= y1; }
	void Include(double x, double y) {
		x0 = std::min(x0, static_cast<int>(std::floor(x)));
		y0 = std::min(y0, static_cast<int>(std::floor(y)));
		x1 = std::max(x1, static_cast<int>(std::ceil(x)));
		y1 = std::max(y1, static_cast<int>(std::ceil(y)));
	}
	Box Grown(int by) const { return Box{x0 - by, y0 - by, x1 + by, y1 + by}; }
};

}  // namespace render_testing
