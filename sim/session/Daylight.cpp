// The Sun over a vessel, from the host's ephemeris and the vessel's place and attitude.
#include "session/Daylight.h"

#include <cmath>

#include "sendra_host/Text.h"
#include "sendra_host/VesselView.h"

namespace sim {

std::optional<Daylight> DaylightOver(const host::Simulation &sim, const Vessel *v) {
	if (!v)
		return std::nullopt;
	const host::VesselView view(v);
	const host::VesselPlace p = view.place();
	if (!p.body || !p.landed)
		return std::nullopt;
	std::optional<host::BodyDirection> sun = host::SunDirection(*p.body, sim.mjd());
	if (!sun)
		return std::nullopt;
	const VECTOR3 s = _V(sun->x, sun->y, sun->z);
	Daylight d;
	d.sky = host::SunInSkyAt(*sun, p.lng, p.lat);
	d.vessel = tmul(view.Attitude(), s);
	// Into the vessel's frame, then along its axes to the horizon's (east, up, north).
	d.local = mul(view.HorizonAttitude(), d.vessel);
	return d;
}

std::string DaylightText(const host::SunInSky &sky) {
	static const char *const kQuarters[] = {"north", "north-east", "east", "south-east",
	                                         "south", "south-west", "west", "north-west"};
	const double deg = sky.elevation * DEG;
	const int minutes = static_cast<int>(std::lround(sky.localTime * 60)) % (24 * 60);
	const std::string time = host::Format("local solar time %02d:%02d", minutes / 60, minutes % 60);
	if (deg < 0)
		return host::Format("night, the Sun %.0f° below the horizon, ", -deg) + time;
	const int quarter = static_cast<int>(std::lround(sky.azimuth * DEG / 45)) % 8;
	return host::Format("the Sun %.0f° up in the %s, ", deg, kQuarters[quarter]) + time;
}

}  // namespace sim
