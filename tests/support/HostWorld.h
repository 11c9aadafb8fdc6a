// A test world of the stand-in host for any vessel module: a simulation on an Orbiter folder,
// vessels of any class made through the host as the simulator makes them (which loads the
// class's module), and helpers to step frames and hold keys, so that a test reads as a drive.
// Plain C++ and the host: it builds into the Windows smoke test as well.
#pragma once

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

#include "sendra_host/Simulation.h"
#include "sendra_host/VesselView.h"

#ifndef _WIN32
#include <dlfcn.h>
#endif

namespace host_testing {

inline host::SimOptions WorldOptions(const std::string &root, host::Terrain terrain = host::Terrain::Flat()) {
	host::SimOptions o;
	o.root = root;
	o.terrain = std::move(terrain);
	return o;
}

#ifndef _WIN32
// A module-wide variable of the loaded module Modules/lib<module>.so under root, by name.
template <typename T>
T *ModuleVariable(const std::string &root, const std::string &module, const char *name) {
	std::string path = root + "/Modules/lib" + module + ".so";
	void *lib = dlopen(path.c_str(), RTLD_LAZY | RTLD_NOLOAD);
	if (!lib)
		return nullptr;
	T *v = static_cast<T *>(dlsym(lib, name));
	dlclose(lib);
	return v;
}
#endif

// The journal entries from the first occurrence of from, or empty.
inline std::vector<std::string> JournalFrom(const Vessel *v, const std::string &from) {
	std::vector<std::string> names = host::VesselView(v).journal();
	auto it = std::find(names.begin(), names.end(), from);
	return std::vector<std::string>(it, names.end());
}

class HostWorld {
public:
	explicit HostWorld(host::SimOptions options) : sim(std::move(options)) {}

	// A vessel of className landed on body at lng, lat [deg] with heading hdg [deg]. Throws
	// host::HostError when the class or its module cannot be used.
	Vessel *Add(const std::string &name, const std::string &className, double lngDeg = 0, double latDeg = 0,
	            double hdgDeg = 0, const std::string &body = "Moon") {
		host::LandedPosition pos;
		pos.body = sim.FindBody(body);
		pos.lng = lngDeg * RAD;
		pos.lat = latDeg * RAD;
		pos.hdg = hdgDeg * RAD;
		return sim.CreateVessel(name, className, pos);
	}

	void Step(double dt = 0.02, int frames = 1) {
		for (int i = 0; i < frames; ++i)
			sim.Frame(dt);
	}
	// Frames of dt until t seconds more have passed.
	void Simulate(double seconds, double dt = 0.02) { Step(dt, static_cast<int>(std::lround(seconds / dt))); }

	void Hold(int key) { sim.KeyDown(key); }
	void Release(int key) { sim.KeyUp(key); }
	// A key pressed in the next frame and released in the one after.
	void Tap(int key, double dt = 0.02) {
		sim.KeyDown(key);
		Step(dt);
		sim.KeyUp(key);
		Step(dt);
	}
	double AnimationState(Vessel *v, UINT handle) const { return host::VesselView(v).animationStates().at(handle); }

	host::Simulation sim;
};

}  // namespace host_testing
