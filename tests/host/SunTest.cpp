// Where the Sun stands: its direction from the Moon, the Earth and Mars with their rotations
// as Orbiter's configurations give them, checked against published values.
#include <gtest/gtest.h>

#include <cmath>

#include "sendra_host/Body.h"
#include "sendra_host/Sun.h"

namespace {

const double kDeg = 3.14159265358979323846 / 180;

// [MJD] of a UTC date and time.
double Mjd(int year, int month, int day, int hour = 0, int minute = 0, int second = 0) {
	int a = (14 - month) / 12, y = year + 4800 - a, m = month + 12 * a - 3;
	long jdn = day + (153 * m + 2) / 5 + 365L * y + y / 4 - y / 100 + y / 400 - 32045;
	return static_cast<double>(jdn) - 2400000.5 + (hour - 12) / 24.0 + minute / 1440.0 + second / 86400.0;
}

// The rotations of Orbiter 2016's Config/Moon.cfg, Earth.cfg and Mars.cfg (SidRotPeriod,
// SidRotOffset, Obliquity, LAN, LAN_MJD, PrecessionPeriod, PrecessionLAN, PrecessionObliquity).
const host::BodyRotation kMoon{2360588.15, 4.769465382, 0.02692416821, 1.71817749, 51544.5, -6793.219721, 0.4643456618,
                               7.259562816e-005};
const host::BodyRotation kEarth{86164.10132, 4.88948754, 0.4090928023, 0, 51544.5, -9413040.4, 0, 0};
const host::BodyRotation kMars{88642.66435, 5.469523488, 0.4397415938, 0.6210531483, 51544.5, -63346652.48,
                               4.005081124, 0.03224369545};

host::SunInSky Sky(const std::string &orbit, const host::BodyRotation &r, double mjd, double lngDeg, double latDeg) {
	std::optional<host::BodyDirection> sun = host::SunDirection(orbit, r, mjd);
	EXPECT_TRUE(sun);
	return sun ? host::SunInSkyAt(*sun, lngDeg * kDeg, latDeg * kDeg) : host::SunInSky();
}

}  // namespace

TEST(Sun, TheSunsElevationAtTheApolloLandingsIsThePublishedOneWithinHalfADegree) {
	// The landing's time (UTC), the site [deg east, deg north] and the Sun's elevation there
	// [deg], as NASA's mission reports give them.
	struct Landing {
		const char *mission;
		double mjd, lng, lat, elevation;
	};
	const Landing landings[] = {
		{"Apollo 11", Mjd(1969, 7, 20, 20, 17, 40), 23.47297, 0.67408, 10.8},
		{"Apollo 12", Mjd(1969, 11, 19, 6, 54, 35), -23.4216, -3.0124, 5.1},
		{"Apollo 14", Mjd(1971, 2, 5, 9, 18, 11), -17.4714, -3.6453, 10.3},
		{"Apollo 15", Mjd(1971, 7, 30, 22, 16, 29), 3.6339, 26.1322, 12.2},
		{"Apollo 17", Mjd(1972, 12, 11, 19, 54, 57), 30.7717, 20.1908, 13.3},
	};
	for (const Landing &l : landings) {
		host::SunInSky sky = Sky("Earth", kMoon, l.mjd, l.lng, l.lat);
		EXPECT_NEAR(sky.elevation / kDeg, l.elevation, 0.5) << l.mission;
		// In the lunar morning, the Sun in the east.
		EXPECT_LT(sky.localTime, 12) << l.mission;
		EXPECT_GT(sky.azimuth / kDeg, 45) << l.mission;
		EXPECT_LT(sky.azimuth / kDeg, 135) << l.mission;
	}
}

TEST(Sun, TheMoonsPhasesPutTheSunOverTheNearSideAtFullMoonAndTheFarSideAtNewMoon) {
	// The Moon's face turned to the Earth moves by its librations, some 8 degrees.
	for (double full : {Mjd(2016, 8, 18, 9, 27), Mjd(2016, 1, 24, 1, 46)}) {
		host::SunInSky sky = Sky("Earth", kMoon, full, 0, 0);
		EXPECT_GT(sky.elevation / kDeg, 80) << full;
	}
	for (double fresh : {Mjd(2016, 8, 2, 20, 45), Mjd(2016, 1, 10, 1, 31)}) {
		host::SunInSky sky = Sky("Earth", kMoon, fresh, 0, 0);
		EXPECT_LT(sky.elevation / kDeg, -80) << fresh;
	}
}

TEST(Sun, TheEarthsSeasonsAndTheSunOverGreenwichAreThePublishedOnes) {
	// The equinoxes and solstices of 2016 (UTC): the Sun over the equator and the tropics.
	const std::pair<double, double> seasons[] = {{Mjd(2016, 3, 20, 4, 30), 0},
	                                             {Mjd(2016, 6, 20, 22, 34), 23.44},
	                                             {Mjd(2016, 9, 22, 14, 21), 0},
	                                             {Mjd(2016, 12, 21, 10, 44), -23.44}};
	// In the ecliptic frame of J2000, as a vessel in flight has it, the Sun stands at longitude
	// 0, 90, 180 and 270 degrees then, less the 0.22 degrees the equinox has moved since 2000:
	// towards the equinox (+x), then +z, with y ecliptic north.
	host::Body earth("Earth", 6.371e6);
	earth.orbit = "Earth";
	earth.rotationPeriod = kEarth.period, earth.rotationOffset = kEarth.offset, earth.obliquity = kEarth.obliquity;
	earth.precessionPeriod = kEarth.precessionPeriod;
	double longitude = 0;
	for (const auto &[mjd, declination] : seasons) {
		host::BodyDirection sun = *host::SunDirection("Earth", kEarth, mjd);
		EXPECT_NEAR(std::asin(sun.y) / kDeg, declination, 0.05) << mjd;
		host::BodyDirection inEcliptic = *host::SunDirectionInEcliptic(earth, mjd);
		EXPECT_NEAR(inEcliptic.x, std::cos(longitude * kDeg), 5e-3) << mjd;
		EXPECT_NEAR(inEcliptic.y, 0, 1e-4) << mjd;
		EXPECT_NEAR(inEcliptic.z, std::sin(longitude * kDeg), 5e-3) << mjd;
		// Turned into the Earth's frame, as a vessel in flight that comes down is, it is the Sun
		// over the tropics again.
		host::BodyDirection turned = host::InBodyFrame(earth, inEcliptic, mjd);
		EXPECT_NEAR(turned.x, sun.x, 1e-12) << mjd;
		EXPECT_NEAR(turned.y, sun.y, 1e-12) << mjd;
		EXPECT_NEAR(turned.z, sun.z, 1e-12) << mjd;
		longitude += 90;
	}
	// At 12:00 UTC on 2016 March 20 the Sun culminates 7.4 minutes later at Greenwich (the
	// equation of time): it stands 1.85 degrees east of it.
	host::SunInSky greenwich = Sky("Earth", kEarth, Mjd(2016, 3, 20, 12), 0, 51.48);
	EXPECT_NEAR((12 - greenwich.localTime) * 15, 1.85, 0.5);
	EXPECT_NEAR(greenwich.elevation / kDeg, 90 - 51.48, 0.2);
	EXPECT_NEAR(greenwich.azimuth / kDeg, 180, 3);
}

TEST(Sun, MarsTurnsAsTheIauHasItAndItsYearsBeginWithTheSunOverItsEquator) {
	// The first days of Mars years 35 to 37 (the Sun crossing its equator northwards).
	for (double mjd : {Mjd(2019, 3, 23, 12), Mjd(2021, 2, 7, 12), Mjd(2022, 12, 26, 12)}) {
		host::BodyDirection sun = *host::SunDirection("Mars", kMars, mjd);
		EXPECT_NEAR(std::asin(sun.y) / kDeg, 0, 0.5) << mjd;
	}
	// The IAU's north pole and prime meridian of Mars (2015: right ascension 317.68143, declination
	// 52.88650, W = 176.630 + 350.89198226 degrees a day from J2000): the place under the Sun
	// is where both put it, in the morning and a thousand days later.
	for (double days : {0.0, 1000.25}) {
		const double mjd = 51544.5 + days, eps = 23.4392911 * kDeg;
		const double ra = 317.68143 * kDeg, dec = 52.88650 * kDeg, w = std::fmod(176.630 + 350.89198226 * days, 360) * kDeg;
		host::BodyDirection sun = *host::SunDirection("Mars", kMars, mjd);
		// The same Sun in the IAU's frame: from the ecliptic to the equator, then to Mars's
		// frame by its node (ra + 90), its pole's tilt (90 - dec) and its meridian (w).
		host::BodyDirection fromEcliptic = *host::SunDirection("Mars", host::BodyRotation{}, mjd);
		double x = fromEcliptic.x, y = fromEcliptic.z, z = fromEcliptic.y;  // right-handed ecliptic
		double ye = std::cos(eps) * y - std::sin(eps) * z, ze = std::sin(eps) * y + std::cos(eps) * z;
		auto aboutZ = [](double &a, double &b, double angle) {
			double c = std::cos(angle), s = std::sin(angle), a1 = c * a + s * b;
			b = -s * a + c * b;
			a = a1;
		};
		aboutZ(x, ye, ra + 90 * kDeg);
		double y2 = std::cos(90 * kDeg - dec) * ye + std::sin(90 * kDeg - dec) * ze;
		double z2 = -std::sin(90 * kDeg - dec) * ye + std::cos(90 * kDeg - dec) * ze;
		aboutZ(x, y2, w);
		EXPECT_NEAR(std::acos(x * sun.x + y2 * sun.z + z2 * sun.y) / kDeg, 0, 0.05) << days;
	}
}

TEST(Sun, ABodyOfNoKnownOrbitHasNoSunAndTheSkyFollowsThePlace) {
	EXPECT_FALSE(host::SunDirection("Vesta", kMoon, 51544.5));
	EXPECT_FALSE(host::SunDirection("Sun", kMoon, 51544.5));
	// The Sun straight over the place, on its horizon, and beneath it.
	host::BodyDirection overhead{0, 0, 1};  // over 90 degrees east on the equator
	host::SunInSky noon = host::SunInSkyAt(overhead, 90 * kDeg, 0);
	EXPECT_NEAR(noon.elevation / kDeg, 90, 1e-9);
	EXPECT_NEAR(noon.localTime, 12, 1e-9);
	host::SunInSky dawn = host::SunInSkyAt(overhead, 0, 0);
	EXPECT_NEAR(dawn.elevation / kDeg, 0, 1e-9);
	EXPECT_NEAR(dawn.azimuth / kDeg, 90, 1e-9) << "rising in the east";
	EXPECT_NEAR(dawn.localTime, 6, 1e-9);
	host::SunInSky dusk = host::SunInSkyAt(overhead, 180 * kDeg, 0);
	EXPECT_NEAR(dusk.azimuth / kDeg, 270, 1e-9);
	EXPECT_NEAR(dusk.localTime, 18, 1e-9);
	host::SunInSky midnight = host::SunInSkyAt(overhead, -90 * kDeg, 0);
	EXPECT_NEAR(midnight.elevation / kDeg, -90, 1e-9);
	EXPECT_NEAR(std::fmod(midnight.localTime, 24), 0, 1e-9);
}
