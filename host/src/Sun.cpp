// The Sun's direction from a body: the planets' mean orbits, and the body's rotation.
#include "sendra_host/Sun.h"

#include <cmath>

#include "sendra_host/Body.h"

namespace host {

namespace {

const double kPi = 3.14159265358979323846;
const double kRad = kPi / 180;
const double kJ2000 = 51544.5;  // [MJD] 2000 January 1, 12:00

// The planets' mean orbits about the Sun in the ecliptic and equinox of J2000, from "Keplerian
// Elements for Approximate Positions of the Major Planets" (E. M. Standish, JPL), valid from
// 1800 to 2050: each element at J2000 and its change per Julian century. The Earth's is the
// Earth-Moon barycentre's, 4,700 km from the Earth's centre.
struct Orbit {
	const char *planet;
	double a, e, i, l, perihelion, node;                 // [AU, 1, deg, deg, deg, deg]
	double aRate, eRate, iRate, lRate, periRate, nodeRate;  // the same per century
};
const Orbit ORBITS[] = {
	{"Mercury", 0.38709927, 0.20563593, 7.00497902, 252.25032350, 77.45779628, 48.33076593,
	 0.00000037, 0.00001906, -0.00594749, 149472.67411175, 0.16047689, -0.12534081},
	{"Venus", 0.72333566, 0.00677672, 3.39467605, 181.97909950, 131.60246718, 76.67984255,
	 0.00000390, -0.00004107, -0.00078890, 58517.81538729, 0.00268329, -0.27769418},
	{"Earth", 1.00000261, 0.01671123, -0.00001531, 100.46457166, 102.93768193, 0.0,
	 0.00000562, -0.00004392, -0.01294668, 35999.37244981, 0.32327364, 0.0},
	{"Mars", 1.52371034, 0.09339410, 1.84969142, -4.55343205, -23.94362959, 49.55953891,
	 0.00001847, 0.00007882, -0.00813131, 19140.30268499, 0.44441088, -0.29257343},
	{"Jupiter", 5.20288700, 0.04838624, 1.30439695, 34.39644051, 14.72847983, 100.47390909,
	 -0.00011607, -0.00013253, -0.00183714, 3034.74612775, 0.21252668, 0.20469106},
	{"Saturn", 9.53667594, 0.05386179, 2.48599187, 49.95424423, 92.59887831, 113.66242448,
	 -0.00125060, -0.00050991, 0.00193609, 1222.49362201, -0.41897216, -0.28867794},
	{"Uranus", 19.18916464, 0.04725744, 0.77263783, 313.23810451, 170.95427630, 74.01692503,
	 -0.00196176, -0.00004397, -0.00242939, 428.48202785, 0.40805281, 0.04240589},
	{"Neptune", 30.06992276, 0.00859048, 1.77004347, -55.12002969, 44.96476227, 131.78422574,
	 0.00026291, 0.00005105, 0.00035372, 218.45945325, -0.32241464, -0.00508664},
};

struct Vec {
	double x, y, z;
};

// Rotations of a vector in a right-handed frame, by angle [rad] about z and about x.
Vec AboutZ(Vec v, double angle) {
	double c = std::cos(angle), s = std::sin(angle);
	return {c * v.x - s * v.y, s * v.x + c * v.y, v.z};
}
Vec AboutX(Vec v, double angle) {
	double c = std::cos(angle), s = std::sin(angle);
	return {v.x, c * v.y - s * v.z, s * v.y + c * v.z};
}

// The planet's place about the Sun [AU] at mjd, in the right-handed ecliptic frame of J2000
// (x towards the equinox, z towards the ecliptic's north).
Vec Heliocentric(const Orbit &o, double mjd) {
	const double t = (mjd - kJ2000) / 36525;
	const double a = o.a + o.aRate * t, e = o.e + o.eRate * t, i = (o.i + o.iRate * t) * kRad;
	const double l = (o.l + o.lRate * t) * kRad, peri = (o.perihelion + o.periRate * t) * kRad;
	const double node = (o.node + o.nodeRate * t) * kRad;
	const double m = std::remainder(l - peri, 2 * kPi);
	double ea = m;  // Kepler's equation by Newton's method: a few steps for these eccentricities
	for (int k = 0; k < 8; ++k)
		ea -= (ea - e * std::sin(ea) - m) / (1 - e * std::cos(ea));
	Vec inPlane{a * (std::cos(ea) - e), a * std::sqrt(1 - e * e) * std::sin(ea), 0};
	return AboutZ(AboutX(AboutZ(inPlane, peri - node), i), node);
}

// The unit vector from the planet orbit names to the Sun in the right-handed ecliptic frame of
// J2000; empty for no planet of the table.
std::optional<Vec> TowardsTheSun(const std::string &orbit, double mjd) {
	const Orbit *o = nullptr;
	for (const Orbit &row : ORBITS)
		if (orbit == row.planet)
			o = &row;
	if (!o)
		return std::nullopt;
	Vec p = Heliocentric(*o, mjd);
	double n = std::sqrt(p.x * p.x + p.y * p.y + p.z * p.z);
	return Vec{-p.x / n, -p.y / n, -p.z / n};
}

// A direction in the right-handed ecliptic frame of J2000 in the body's frame at mjd, Orbiter's.
BodyDirection FromEcliptic(Vec s, const BodyRotation &r, double mjd) {
	// The body's frame from the ecliptic's: the reverse of precession reference, node, tilt
	// and turn, each about its own axis.
	const double node = r.lan + (r.precessionPeriod != 0 ? 2 * kPi * (mjd - r.lanMjd) / r.precessionPeriod : 0);
	double turn = r.offset + (r.period != 0 ? 2 * kPi * (mjd - kJ2000) * 86400 / r.period : 0);
	turn -= (node - r.lan) * std::cos(r.obliquity);  // the meridian's rate in space stays 2 pi / period
	s = AboutZ(s, -r.precessionLan);
	s = AboutX(s, r.precessionObliquity);
	s = AboutZ(s, -node);
	s = AboutX(s, r.obliquity);
	s = AboutZ(s, -turn);
	// Orbiter's frame is the right-handed one with its y and z swapped.
	return BodyDirection{s.x, s.z, s.y};
}

BodyRotation RotationOf(const Body &b) {
	return {b.rotationPeriod, b.rotationOffset,   b.obliquity,    b.lan,
	        b.lanMjd,         b.precessionPeriod, b.precessionLan, b.precessionObliquity};
}

}  // namespace

std::optional<BodyDirection> SunDirection(const std::string &orbit, const BodyRotation &r, double mjd) {
	std::optional<Vec> towards = TowardsTheSun(orbit, mjd);
	if (!towards)
		return std::nullopt;
	return FromEcliptic(*towards, r, mjd);
}

BodyDirection InBodyFrame(const Body &body, const BodyDirection &ecliptic, double mjd) {
	return FromEcliptic(Vec{ecliptic.x, ecliptic.z, ecliptic.y}, RotationOf(body), mjd);
}

std::optional<BodyDirection> SunDirectionInEcliptic(const Body &b, double mjd) {
	std::optional<Vec> s = TowardsTheSun(b.orbit, mjd);
	if (!s)
		return std::nullopt;
	return BodyDirection{s->x, s->z, s->y};  // Orbiter's frame swaps y and z
}

std::optional<BodyDirection> SunDirection(const Body &b, double mjd) { return SunDirection(b.orbit, RotationOf(b), mjd); }

SunInSky SunInSkyAt(const BodyDirection &sun, double lng, double lat) {
	// Right-handed again: x towards 0 degrees east, y towards 90 degrees east, z north.
	const double sx = sun.x, sy = sun.z, sz = sun.y;
	const double up = std::cos(lat) * std::cos(lng) * sx + std::cos(lat) * std::sin(lng) * sy + std::sin(lat) * sz;
	const double east = -std::sin(lng) * sx + std::cos(lng) * sy;
	const double north = -std::sin(lat) * std::cos(lng) * sx - std::sin(lat) * std::sin(lng) * sy + std::cos(lat) * sz;
	SunInSky sky;
	sky.elevation = std::asin(std::fmax(-1.0, std::fmin(1.0, up)));
	sky.azimuth = std::atan2(east, north);
	if (sky.azimuth < 0)
		sky.azimuth += 2 * kPi;
	// The hour angle: how far the place has turned past the point below the Sun.
	double hour = std::remainder(lng - std::atan2(sy, sx), 2 * kPi);
	sky.localTime = std::fmod(12 + hour / (2 * kPi) * 24 + 24, 24.0);
	return sky;
}

}  // namespace host
