// Where the Sun stands seen from a body's surface at a date: the planets' mean orbits for
// the Sun's direction in space, and the body's rotation as its configuration gives it.
//
// Accuracy of the direction in the body's frame, from the sources below: the orbits of the
// planets and of the Earth-Moon barycentre are good to well under 0.01 degree from 1800 to 2050;
// a moon sees the Sun from its planet's place, off by at most the moon's distance over the
// Sun's, 0.15 degree for the Moon; the rotation is the configuration's own (for Orbiter's
// Earth 0.3 degree off the true sidereal time). Checked against published values: the Sun's
// elevation at five Apollo landings (within 0.35 degree), the Earth's equinoxes and solstices,
// the Mars years' first days and the IAU's pole and meridian of Mars.
#pragma once

#include <optional>
#include <string>

namespace host {

struct Body;

// A body's rotation as an Orbiter configuration gives it [s, rad, days]. The body turns about
// its pole by offset + 2 pi (seconds since J2000) / period (0: it does not turn), the prime
// meridian keeping that rate in space while the node of its equator precesses; its pole is
// tilted by obliquity about that node, at longitude lan at lanMjd, which moves by a full turn
// in precessionPeriod days (0: it stays) within a reference plane tilted by
// precessionObliquity about a node at precessionLan in the ecliptic of J2000.
struct BodyRotation {
	double period = 0, offset = 0;
	double obliquity = 0, lan = 0, lanMjd = 51544.5;
	double precessionPeriod = 0, precessionLan = 0, precessionObliquity = 0;
};

// A direction in a body's rotating frame, as Orbiter's are: x towards 0 degrees east on the
// equator, y towards the north pole, z towards 90 degrees east (a left-handed frame); a unit
// vector.
struct BodyDirection {
	double x = 0, y = 0, z = 0;
};

// The Sun's direction from a body at mjd, in the body's frame. orbit names the planet whose
// place the body sees the Sun from: the body's own name for a planet ("Earth", "Mars", ...),
// its planet's for a moon ("Earth" for the Moon). Empty for a body of no known orbit (the Sun
// itself, a dwarf planet).
std::optional<BodyDirection> SunDirection(const std::string &orbit, const BodyRotation &rotation, double mjd);
// The same for a body, its orbit and rotation as its configuration gives them.
std::optional<BodyDirection> SunDirection(const Body &body, double mjd);
// The Sun's direction from a body at mjd in Orbiter's ecliptic frame of J2000, the frame of a
// vessel's place in flight: x towards the equinox, y towards the ecliptic's north, z completing
// a left-handed frame; a unit vector. Empty as SunDirection is.
std::optional<BodyDirection> SunDirectionInEcliptic(const Body &body, double mjd);
// A direction given in Orbiter's ecliptic frame of J2000 (that of a vessel's place in flight)
// in the body's rotating frame at mjd.
BodyDirection InBodyFrame(const Body &body, const BodyDirection &ecliptic, double mjd);

// The Sun in the sky of a place at lng, lat [rad]: its elevation above the horizon and its
// azimuth from north towards east [rad], and the local solar time [h, 0 to 24 of the body's
// solar day; 12 when the Sun culminates].
struct SunInSky {
	double elevation = 0, azimuth = 0, localTime = 0;
};
SunInSky SunInSkyAt(const BodyDirection &sun, double lng, double lat);

}  // namespace host
