// The staged add-on's test world: the generic host world on the Orbiter folder the build
// staged, with rovers (class Sendra2016) made through the host; tests see them as the host does.
#pragma once

#include "HostWorld.h"

namespace testing_support {

using host_testing::JournalFrom;

inline host::SimOptions WorldOptions(host::Terrain terrain = host::Terrain::Flat()) {
	return host_testing::WorldOptions(SENDRA_ORBITER_ROOT, std::move(terrain));
}

// A module-wide variable of the loaded rover module, looked up by name.
template <typename T>
T *ModuleVariable(const char *name) {
	return host_testing::ModuleVariable<T>(SENDRA_ORBITER_ROOT, "Sendra2016", name);
}

class SendraWorld : public host_testing::HostWorld {
public:
	explicit SendraWorld(host::Terrain terrain = host::Terrain::Flat()) : HostWorld(WorldOptions(std::move(terrain))) {}
	explicit SendraWorld(host::SimOptions options) : HostWorld(std::move(options)) {}

	// A rover landed on body at lng, lat [deg] with heading hdg [deg].
	Vessel *AddRover(const std::string &name, double lngDeg = 0, double latDeg = 0, double hdgDeg = 0,
	                 const std::string &body = "Moon") {
		return Add(name, "Sendra2016", lngDeg, latDeg, hdgDeg, body);
	}
};

}  // namespace testing_support
