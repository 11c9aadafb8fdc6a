// The Sun over a vessel on its body, for the light of the pictures and of the page: where it
// stands in the vessel's sky and frame, from the host's ephemeris and the body's rotation.
#pragma once

#include <optional>
#include <string>

#include "OrbiterAPI.h"
#include "sendra_host/Simulation.h"
#include "sendra_host/Sun.h"

namespace sim {

struct Daylight {
	host::SunInSky sky;  // elevation, azimuth [rad] and local solar time [h] at the vessel
	VECTOR3 local;       // unit, towards the Sun in the vessel's horizon: (east, up, north)
	VECTOR3 vessel;      // the same in the vessel's own frame (x right, y up, z forward)
};

// The Sun over v at the simulation's date; empty for a vessel in flight, on no body, or on one
// whose orbit the ephemeris does not know.
std::optional<Daylight> DaylightOver(const host::Simulation &sim, const Vessel *v);

// "the Sun 25° up in the east, local solar time 07:41"; below the horizon "night, the Sun 40°
// below the horizon, local solar time 23:10".
std::string DaylightText(const host::SunInSky &sky);

}  // namespace sim
