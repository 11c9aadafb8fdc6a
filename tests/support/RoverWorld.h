// A test world: the stand-in host on the staged Orbiter root, rovers made through the host,
// and helpers to step frames and hold keys, so a test reads as a drive.
#pragma once

#include <dlfcn.h>

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

#include "HostVessel.h"
#include "Simulation.h"
#include "module/Sendra2016.h"

namespace testing_support {

inline host::SimOptions WorldOptions(host::Terrain terrain = host::Terrain::Flat()) {
	host::SimOptions o;
	o.root = SENDRA_ORBITER_ROOT;
	o.terrain = std::move(terrain);
	return o;
}

// A module-wide variable of the loaded rover module, looked up by name.
template <typename T>
T *ModuleVariable(const char *name) {
	std::string path = std::string(SENDRA_ORBITER_ROOT) + "/Modules/libSendra2016.so";
	void *lib = dlopen(path.c_str(), RTLD_LAZY | RTLD_NOLOAD);
	if (!lib)
		return nullptr;
	T *v = static_cast<T *>(dlsym(lib, name));
	dlclose(lib);
	return v;
}

// The journal entries from the first occurrence of from, or empty.
inline std::vector<std::string> JournalFrom(const Vessel *v, const std::string &from) {
	std::vector<std::string> names = v->journal.Names();
	auto it = std::find(names.begin(), names.end(), from);
	return std::vector<std::string>(it, names.end());
}

class RoverWorld {
public:
	explicit RoverWorld(host::Terrain terrain = host::Terrain::Flat()) : sim(WorldOptions(std::move(terrain))) {}
	explicit RoverWorld(host::SimOptions options) : sim(std::move(options)) {}

	// A rover landed on body at lng, lat [deg] with heading hdg [deg].
	Vessel *AddRover(const std::string &name, double lngDeg = 0, double latDeg = 0, double hdgDeg = 0,
	                 const std::string &body = "Moon") {
		host::LandedPosition pos;
		pos.body = sim.FindBody(body);
		pos.lng = lngDeg * RAD;
		pos.lat = latDeg * RAD;
		pos.hdg = hdgDeg * RAD;
		return sim.CreateVessel(name, "Sendra2016", pos);
	}

	static Sendra2016 &Rover(Vessel *v) { return *static_cast<Sendra2016 *>(v->iface); }

	void Step(double dt = 0.02, int frames = 1) {
		for (int i = 0; i < frames; ++i)
			sim.Frame(dt);
	}
	// Frames of dt until t seconds more have passed.
	void Simulate(double seconds, double dt = 0.02) { Step(dt, static_cast<int>(std::lround(seconds / dt))); }

	void Hold(int key) { sim.KeyDown(key); }
	void Release(int key) { sim.KeyUp(key); }
	double AnimationState(Vessel *v, UINT handle) const { return v->animationStates.at(handle); }

	// A key pressed in the next frame and released in the one after.
	void Tap(int key, double dt = 0.02) {
		sim.KeyDown(key);
		Step(dt);
		sim.KeyUp(key);
		Step(dt);
	}

	host::Simulation sim;
};

}  // namespace testing_support
