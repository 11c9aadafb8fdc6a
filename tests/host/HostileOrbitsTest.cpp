// Hostile orbits: states and elements in flight that describe no orbit or one the host's numbers
// cannot follow, and bodies whose configuration gives no positive mass, each against the
// message it gets; what loads runs, and saves finite numbers that load again as they were.
#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>

#include "Scratch.h"
#include "sendra_host/Body.h"
#include "sendra_host/HostError.h"
#include "sendra_host/ScenarioIO.h"
#include "sendra_host/Simulation.h"
#include "sendra_host/Sun.h"

namespace fs = std::filesystem;

TEST(HostileOrbits, EachIsRefusedWithItsReasonOrFlownAndSavedFinite) {
	struct Case {
		const char *moonMass;  // the Moon's Mass item, if not its own
		const char *lines;     // a vessel's after STATUS Orbiting Moon
		const char *said;      // the refusal; "" for a vessel that flies
	};
	const Case cases[] = {
	    {nullptr, "RPOS 0 0 0\n  RVEL 0 0 1600", "h.scn:5: vessel 'A' in flight is inside Moon: 0 m from its centre"},
	    {nullptr, "RPOS 1e6 0 0\n  RVEL 0 0 1600", "h.scn:5: vessel 'A' in flight is inside Moon: 1e+06 m from its centre"},
	    {nullptr, "RPOS 1e200 0 0\n  RVEL 0 0 1",
	     "h.scn:5: vessel 'A' describes no orbit about Moon: the position is too far from the body's centre for the "
	     "host's numbers"},
	    {nullptr, "RPOS 2e6 0 0\n  RVEL 0 0 1e160",
	     "h.scn:5: vessel 'A' describes no orbit about Moon: a speed of inf m/s is faster than light"},
	    {nullptr, "RPOS 2e6 0 0\n  RVEL 0 0 3e8",
	     "h.scn:5: vessel 'A' describes no orbit about Moon: a speed of 3e+08 m/s is faster than light"},
	    {nullptr, "RPOS 2e6 0 0\n  RVEL 0 0 1e-300", "h.scn:5: vessel 'A' describes no orbit about Moon: a degenerate orbit"},
	    {nullptr, "ELEMENTS 2e6 -inf 0 0 0 0 51982", "h.scn:7: vessel 'A': ELEMENTS: expected 7 finite numbers"},
	    {nullptr, "ELEMENTS 0 0.5 0 0 0 0 51982",
	     "h.scn:7: vessel 'A': ELEMENTS '0 0.5 0 0 0 0 51982': a semi-major axis of 0 m and an eccentricity of 0.5 "
	     "describe no orbit"},
	    {nullptr, "ELEMENTS 2e6 -0.1 0 0 0 0 51982", "h.scn:7: vessel 'A': ELEMENTS '2e6 -0.1 0 0 0 0 51982': a semi-major"},
	    {nullptr, "ELEMENTS 2e6 1 0 0 0 0 51982", "h.scn:7: vessel 'A': ELEMENTS '2e6 1 0 0 0 0 51982': a semi-major"},
	    {nullptr, "ELEMENTS 1e308 0 0 0 0 0 51982", "h.scn:7: vessel 'A': ELEMENTS '1e308 0 0 0 0 0 51982': the elements "
	                                                "give a state too large for the host's numbers"},
	    {nullptr, "ELEMENTS 1e-300 0.1 0 0 0 0 51982", "h.scn:7: vessel 'A': ELEMENTS '1e-300 0.1 0 0 0 0 51982': the "
	                                                   "position is zero"},
	    {nullptr, "ELEMENTS -2e6 3 0 0 0 0 -1e300", "h.scn:7: vessel 'A': ELEMENTS '-2e6 3 0 0 0 0 -1e300': the orbit "
	                                                "cannot be followed from its epoch"},
	    {"0", "RPOS 2e6 0 0\n  RVEL 0 0 1600",
	     "h.scn:5: vessel 'A': Moon's Mass in its configuration is 0 kg, not a positive number, so nothing can orbit it"},
	    {"-1", "ELEMENTS 2e6 0.1 0 0 0 0 51982",
	     "h.scn:7: vessel 'A': ELEMENTS '2e6 0.1 0 0 0 0 51982': Moon's Mass in its configuration is -1 kg, not a positive"},
	    {"-1", "RPOS 2e6 0 0\n  RVEL 0 0 1600", "h.scn:5: vessel 'A': Moon's Mass in its configuration is -1 kg"},
	    {"1e-300", "RPOS 2e6 0 0\n  RVEL 0 0 1600",
	     "h.scn:5: vessel 'A' describes no orbit about Moon: a speed of 1600 m/s is too large for the host's numbers "
	     "about a gravitational parameter of 6.67259e-311 m^3/s^2"},
	    {"1e300", "ELEMENTS 2e6 0.1 0 0 0 0 51982", "h.scn:5: vessel 'A' describes no orbit about Moon: a speed of 5.37"},
	    // Orbits at the edges that the host follows.
	    {nullptr, "RPOS 1e150 0 0\n  RVEL 0 0 1", ""},
	    {nullptr, "ELEMENTS 2e6 0.999999999999 0 0 0 180 51982", ""},
	    {nullptr, "ELEMENTS -2e6 1.000000000001 0 0 0 0 51982", ""},
	    {nullptr, "ELEMENTS -2e6 1e10 0 0 0 0 51982", ""},
	    {nullptr, "ELEMENTS 1e20 0.5 0 0 0 0 51982", ""},
	    {nullptr, "ELEMENTS 1e30 0.5 0 0 0 0 51982", ""},  // slower than RVEL's decimals
	    {nullptr, "ELEMENTS 2e6 0.1 1e300 -1e300 1e300 1e300 51982", ""},
	};
	for (const Case &c : cases) {
		SCOPED_TRACE(c.lines);
		scenes::ScratchRoot root("sendra-hostile");
		root.WriteClass("Probe", "Mass = 100\n");
		if (c.moonMass) {
			fs::remove(root.dir() / "Config/Moon.cfg");
			root.Write("Config/Moon.cfg", "Name = Moon\nMass = " + std::string(c.moonMass) + "\nSize = 1.738e6\n");
		}
		host::SimOptions o;
		o.root = root.path();
		host::Simulation sim(o);
		// A body without a positive mass is said where its file gives it.
		std::vector<std::string> problems = sim.TakeProblems();
		if (c.moonMass && !(std::stod(c.moonMass) > 0)) {
			ASSERT_EQ(problems.size(), 1u);
			EXPECT_EQ(problems[0], root.path() + "/Config/Moon.cfg:2: Mass: " + c.moonMass +
			                           " kg is not a positive mass; nothing can orbit Moon, and a vessel in flight about "
			                           "it is refused");
		} else {
			EXPECT_EQ(problems, std::vector<std::string>{});
		}
		const std::string text = "BEGIN_ENVIRONMENT\n  Date MJD 51982.5\nEND_ENVIRONMENT\nBEGIN_SHIPS\nA:Probe\n  "
		                         "STATUS Orbiting Moon\n  " + std::string(c.lines) + "\nEND\nEND_SHIPS\n";
		std::string error;
		try {
			host::LoadScenario(sim, host::ParseScenario(text, "h.scn"));
		} catch (const host::HostError &e) {
			error = e.what();
		}
		if (*c.said) {
			EXPECT_EQ(error.rfind(c.said, 0), 0u) << error;
			EXPECT_TRUE(sim.vessels().empty());
			continue;
		}
		ASSERT_EQ(error, "");
		for (double dt : {1.0, 1.0, 1e6})
			sim.Frame(dt);
		std::ostringstream out;
		ASSERT_NO_THROW(host::WriteScenario(sim, out));
		const std::string saved = out.str();
		EXPECT_EQ(saved.find("nan"), std::string::npos) << saved;
		EXPECT_EQ(saved.find("inf"), std::string::npos) << saved;
		host::Simulation again(o);
		ASSERT_NO_THROW(host::LoadScenario(again, host::ParseScenario(saved, "saved.scn")));
		std::ostringstream resaved;
		host::WriteScenario(again, resaved);
		EXPECT_EQ(resaved.str(), saved);
	}
}

// A conic knows no ground: a vessel whose orbit meets its body's surface comes down where it
// meets it, landed at rest, and its save loads again (one inside its body would be refused).
TEST(HostileOrbits, AnOrbitThatMeetsTheGroundEndsLandedWhereItMetIt) {
	scenes::ScratchRoot root("sendra-touchdown");
	root.WriteClass("Probe", "Mass = 100\n");
	host::SimOptions o;
	o.root = root.path();
	host::Simulation sim(o);
	// 20 km over the Moon, 200 m/s sideways: it falls, and comes down within four minutes.
	host::LoadScenario(sim, host::ParseScenario("BEGIN_ENVIRONMENT\n  Date MJD 51982.5\nEND_ENVIRONMENT\nBEGIN_SHIPS\n"
	                                            "A:Probe\n  STATUS Orbiting Moon\n  RPOS 1757400 0 0\n  RVEL 0 60 200\n"
	                                            "END\nEND_SHIPS\n",
	                                            "t.scn"));
	const host::VesselView a(sim.vessels().front());
	ASSERT_FALSE(a.place().landed);
	host::VesselPlace before;
	double mjdBefore = 0;
	for (int i = 0; i < 300 && !a.place().landed; ++i) {
		before = a.place(), mjdBefore = sim.mjd();
		EXPECT_EQ(sim.TakeProblems(), std::vector<std::string>{});
		sim.Frame(1.0);
	}
	const host::VesselPlace at = a.place();
	ASSERT_TRUE(at.landed);
	ASSERT_EQ(at.body->name, "Moon");
	EXPECT_GT(sim.simt(), 60);
	// A frame before, it was above the ground by less than a frame's fall; in the Moon's frame,
	// the place under it then is where it stands, less a frame's way.
	const double r = length(before.pos);
	EXPECT_GT(r, at.body->radius);
	EXPECT_LT(r, at.body->radius + 300);
	const host::BodyDirection under =
	    host::InBodyFrame(*at.body, {before.pos.x / r, before.pos.y / r, before.pos.z / r}, mjdBefore);
	const double c = std::cos(at.lat);
	const double sep = std::acos(std::min(1.0, c * std::cos(at.lng) * under.x + std::sin(at.lat) * under.y +
	                                               c * std::sin(at.lng) * under.z));
	EXPECT_LT(sep, 300 / at.body->radius);
	// Heading along its way over the ground: mostly east, a little north, as ecliptic north is
	// nearly the Moon's.
	EXPECT_NEAR(at.hdg, std::atan2(200, 60), 0.1);
	const std::vector<std::string> said = sim.TakeProblems();
	ASSERT_EQ(said.size(), 1u);
	EXPECT_EQ(said[0].rfind("A: its orbit met the ground of Moon, where it has landed at ", 0), 0u) << said[0];
	sim.Frame(1.0);
	std::ostringstream out;
	host::WriteScenario(sim, out);
	EXPECT_NE(out.str().find("STATUS Landed Moon"), std::string::npos) << out.str();
	host::Simulation again(o);
	ASSERT_NO_THROW(host::LoadScenario(again, host::ParseScenario(out.str(), "saved.scn")));
	EXPECT_TRUE(host::VesselView(again.vessels().front()).place().landed);
}
