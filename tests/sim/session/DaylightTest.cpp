// The Sun over the rovers: the built-in drive and every shipped scenario start in daylight,
// their descriptions giving the Sun's place and the local solar time the host finds, and the
// Sun's direction in the horizon's and the rover's frames agrees with its elevation and azimuth.
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>

#include "Scratch.h"
#include "sendra_host/Simulation.h"
#include "sendra_host/VesselView.h"
#include "session/Daylight.h"
#include "session/Defaults.h"
#include "session/Session.h"

namespace {

// [deg] The least height of the Sun over a scenario's site when it starts.
const double kLeastElevation = 15;

void ExpectNear(const VECTOR3 &a, const VECTOR3 &b, const std::string &what) {
	EXPECT_NEAR(a.x, b.x, 0.02) << what;
	EXPECT_NEAR(a.y, b.y, 0.02) << what;
	EXPECT_NEAR(a.z, b.z, 0.02) << what;
}

// Loads a scenario (empty: the built-in one) as run does, on both terrains, and checks every
// vessel's daylight against what its description says.
void ExpectDaylight(const std::string &path, const std::string &text) {
	SCOPED_TRACE(path.empty() ? "the built-in scenario" : path);
	std::smatch said;
	ASSERT_TRUE(std::regex_search(text, said,
	                              std::regex(R"(local solar time (\d\d):(\d\d): the Sun stands (\d+) degrees above )"
	                                         R"(the (\w+)ern horizon)")))
		<< "the description gives the time of day and the Sun's height";
	const double saidTime = std::stod(said[1]) + std::stod(said[2]) / 60, saidElevation = std::stod(said[3]);
	for (const char *terrain : {"hills", "flat"}) {
		std::ostringstream err;
		sim::SessionOptions o;
		o.root = SENDRA_ORBITER_ROOT;
		if (!path.empty())
			o.scenario = path;
		o.terrain = terrain;
		sim::Session session(o, err);
		const host::Simulation &sim = session.simulation();
		ASSERT_FALSE(sim.vessels().empty());
		for (const auto &v : sim.vessels()) {
			const host::VesselView view(v);
			SCOPED_TRACE(view.name() + " on " + terrain);
			std::optional<sim::Daylight> d = sim::DaylightOver(sim, v.get());
			ASSERT_TRUE(d);
			const double el = d->sky.elevation, az = d->sky.azimuth;
			EXPECT_GE(el * DEG, kLeastElevation);
			EXPECT_NEAR(el * DEG, saidElevation, 0.5);
			EXPECT_NEAR(d->sky.localTime, saidTime, 1.0 / 60);
			const double quarter = std::string(said[4]) == "east" ? 90 : std::string(said[4]) == "west" ? 270 : -1;
			EXPECT_NEAR(az * DEG, quarter, 45) << said[4];
			ExpectNear(d->local, _V(std::cos(el) * std::sin(az), std::sin(el), std::cos(el) * std::cos(az)),
			           "in the horizon's (east, up, north)");
			if (std::string(terrain) == "flat") {
				// A rover standing level: the Sun's bearing from its nose, to the right.
				const double off = az - view.place().hdg;
				ExpectNear(d->vessel, _V(std::cos(el) * std::sin(off), std::sin(el), std::cos(el) * std::cos(off)),
				           "in the rover's (right, up, forward)");
			}
		}
		EXPECT_EQ(err.str(), "");
	}
}

}  // namespace

TEST(Daylight, TheBuiltInDriveAndEveryShippedScenarioStartWithTheSunWellUpAsTheirDescriptionsSay) {
	ExpectDaylight("", sim::kDefaultScenario);
	size_t shipped = 0;
	for (const auto &entry : std::filesystem::directory_iterator(SENDRA_ORBITER_ROOT "/Scenarios/Sendra2016")) {
		if (entry.path().extension() != ".scn")
			continue;
		std::ifstream in(entry.path());
		std::ostringstream text;
		text << in.rdbuf();
		ExpectDaylight(entry.path().string(), text.str());
		++shipped;
	}
	EXPECT_GE(shipped, 3u);
}

TEST(Daylight, ARoverAtNightHasTheSunBelowItsHorizonAndAVesselInFlightNone) {
	// The built-in site two weeks on, in its night; a rover in orbit above it.
	scenes::ScratchFolder s;
	s.Write("night.scn", "BEGIN_ENVIRONMENT\n  System Sol\n  Date MJD 60018\nEND_ENVIRONMENT\nBEGIN_SHIPS\n"
	                     "R:Sendra2016\n  STATUS Landed Moon\n  POS 23.47 0.67\n  HEADING 0\nEND\n"
	                     "M:Sendra2016\n  STATUS Orbiting Moon\n  RPOS 2e6 0 0\n  RVEL 0 0 1566\nEND\nEND_SHIPS\n");
	std::ostringstream err;
	sim::SessionOptions o;
	o.root = SENDRA_ORBITER_ROOT;
	o.scenario = (s / "night.scn").string();
	sim::Session session(o, err);
	const host::Simulation &sim = session.simulation();
	ASSERT_EQ(sim.vessels().size(), 2u);
	std::optional<sim::Daylight> night = sim::DaylightOver(sim, sim.vessels()[0].get());
	ASSERT_TRUE(night);
	EXPECT_LT(night->sky.elevation * DEG, -20);
	EXPECT_NEAR(night->local.y, std::sin(night->sky.elevation), 1e-9);
	EXPECT_FALSE(sim::DaylightOver(sim, sim.vessels()[1].get()));
	EXPECT_FALSE(sim::DaylightOver(sim, nullptr));
}

TEST(Daylight, TheTextSaysWhereTheSunStandsOrHowFarBelowAndTheTimeOfDay) {
	const double deg = 1 / DEG;
	struct Case {
		host::SunInSky sky;
		const char *text;
	} cases[] = {
		{{25.2 * deg, 91 * deg, 7.69}, "the Sun 25° up in the east, local solar time 07:41"},
		{{60 * deg, 337.6 * deg, 12.5}, "the Sun 60° up in the north, local solar time 12:30"},
		{{3 * deg, 215 * deg, 17.25}, "the Sun 3° up in the south-west, local solar time 17:15"},
		{{0.6 * deg, 100 * deg, 6.1}, "the Sun 1° up in the east, local solar time 06:06"},
		{{-40.4 * deg, 250 * deg, 23.999}, "night, the Sun 40° below the horizon, local solar time 00:00"},
	};
	for (const Case &c : cases)
		EXPECT_EQ(sim::DaylightText(c.sky), c.text);
}
