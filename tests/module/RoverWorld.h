// The rover's test world: the generic host world on the staged Orbiter folder, with rovers made
// through the host and a view of a vessel as the rover object behind it.
#pragma once

#include "HostWorld.h"
#include "module/Sendra2016.h"

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

class RoverWorld : public host_testing::HostWorld {
public:
	explicit RoverWorld(host::Terrain terrain = host::Terrain::Flat()) : HostWorld(WorldOptions(std::move(terrain))) {}
	explicit RoverWorld(host::SimOptions options) : HostWorld(std::move(options)) {}

	// A rover landed on body at lng, lat [deg] with heading hdg [deg].
	Vessel *AddRover(const std::string &name, double lngDeg = 0, double latDeg = 0, double hdgDeg = 0,
	                 const std::string &body = "Moon") {
		return Add(name, "Sendra2016", lngDeg, latDeg, hdgDeg, body);
	}

	static Sendra2016 &Rover(Vessel *v) { return *static_cast<Sendra2016 *>(v->iface); }
};

}  // namespace testing_support
