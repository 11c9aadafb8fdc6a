// The built-in rover driven by a script up to a moment through sendra-sim's library, and what
// pictures of it show; pixels compared by position and colour.
#pragma once

#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "SimProgram.h"
#include "render/Render.h"
#include "render/RenderPicture.h"
#include "sendra_host/Simulation.h"
#include "sendra_host/VesselView.h"
#include "session/Drive.h"
#include "session/Paths.h"

namespace render_testing {

const int kWidth = 640, kHeight = 480;  // [pixels] of the pictures the tests look at

// A vessel's animations as its module declared them to the host: each one's state, and the
// groups of mesh 0 it moves (its components' and, carried along, their descendants').
struct Animations {
	std::vector<double> states;
	std::vector<std::set<UINT>> groups;
};

inline Animations AnimationsOf(const host::VesselView &v) {
	Animations a;
	a.states.assign(v.animationStates().begin(), v.animationStates().end());
	std::vector<host::Animation> anims;
	for (size_t i = 0; i < v.animationCount(); ++i)
		anims.push_back(v.animation(i));
	for (size_t i = 0; i < anims.size(); ++i) {
		std::set<UINT> &groups = a.groups.emplace_back();
		std::vector<std::pair<int, UINT>> todo;  // components by animation and place
		for (UINT j = 0; j < anims[i].components.size(); ++j)
			todo.push_back({static_cast<int>(i), j});
		while (!todo.empty()) {
			const auto [anim, index] = todo.back();
			todo.pop_back();
			const MGROUP_TRANSFORM *t = anims[static_cast<size_t>(anim)].components[index].transform;
			if (t && t->mesh == 0 && t->grp)
				groups.insert(t->grp, t->grp + t->ngrp);
			for (size_t k = 0; k < anims.size(); ++k)
				for (UINT j = 0; j < anims[k].components.size(); ++j)
					if (anims[k].components[j].parentAnimation == anim && anims[k].components[j].parentIndex == index)
						todo.push_back({static_cast<int>(k), j});
		}
	}
	return a;
}

// The focus rover of the built-in scenario after the script's drive up to simulated time at,
// and its animations then if asked for.
inline sim::Scene SceneAfter(const std::string &script, double at, sim::View view, Animations *animations = nullptr) {
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
	if (animations)
		*animations = AnimationsOf(host::VesselView(session.simulation().focus()));
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
