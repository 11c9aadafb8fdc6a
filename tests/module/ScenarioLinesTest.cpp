// The rover's own scenario lines through the host: what a save writes, how each line is read
// and posed, the values that cannot be read, and a drive saved and loaded again.
#include <gtest/gtest.h>

#include <cfloat>
#include <climits>
#include <cmath>
#include <cstring>
#include <iterator>
#include <sstream>

#include "RoverWorld.h"
#include "Scenes.h"
#include "Scratch.h"
#include "sendra_host/ScenarioIO.h"
#include "sendra_host/VesselView.h"

using testing_support::RoverWorld;

namespace {

// A scenario of rovers, each given as its name and its lines after STATUS, POS and HEADING,
// a degree apart: each rover's visual is its own.
std::string Scenario(const std::vector<std::pair<std::string, std::vector<std::string>>> &rovers) {
	std::vector<scenes::Rover> apart;
	for (const auto &[name, lines] : rovers)
		apart.push_back({name, static_cast<double>(apart.size()), 0, 0, lines});
	return scenes::RoverScenario(apart, 60000, "");
}

void Load(RoverWorld &world, const std::string &text) {
	host::LoadScenario(world.sim, host::ParseScenario(text, "lines.scn"));
}

Sendra2016 &Rover(RoverWorld &world, const std::string &name) { return RoverWorld::Rover(world.sim.FindVessel(name)); }

// The lines of the vessel's block in a save of the whole simulation, without "name:Class"
// and END.
std::vector<std::string> SavedBlock(RoverWorld &world, const std::string &name) {
	std::ostringstream out;
	host::WriteScenario(world.sim, out);
	std::istringstream in(out.str());
	std::vector<std::string> block;
	std::string line;
	bool inside = false;
	while (std::getline(in, line)) {
		if (line == name + ":Sendra2016")
			inside = true;
		else if (inside && line == "END")
			break;
		else if (inside)
			block.push_back(line);
	}
	return block;
}

// The states of the seventeen parts a scenario line poses: right door, left door, 15 slats.
std::vector<double> PartStates(RoverWorld &world, Vessel *v) {
	const Sendra2016 &r = RoverWorld::Rover(v);
	std::vector<double> states{world.AnimationState(v, r.animDoorRight), world.AnimationState(v, r.animDoorLeft)};
	for (UINT slat : r.animSunscreen)
		states.push_back(world.AnimationState(v, slat));
	return states;
}

std::vector<double> Expected(double right, double left, double sunscreen) {
	std::vector<double> states{right, left};
	states.insert(states.end(), 15, sunscreen);
	return states;
}

TEST(RoverScenarioSave, AFreshRoverWritesItsFourLinesAfterTheHostsOwn) {
	RoverWorld world;
	Vessel *v = world.AddRover("R", 12.5, -3.25, 90);
	world.sim.ClearJournal(v);
	std::vector<std::string> block = SavedBlock(world, "R");
	ASSERT_EQ(block.size(), 10u);
	EXPECT_EQ(block[0], "  STATUS Landed Moon");
	EXPECT_EQ(block[1], "  POS 12.5000000000 -3.2500000000");
	EXPECT_EQ(block[2], "  HEADING 90.000000");
	EXPECT_EQ(block[3].rfind("  ALT ", 0), 0u);
	EXPECT_EQ(block[4].rfind("  AROT ", 0), 0u);
	EXPECT_EQ(block[5], "  NAVFREQ 0 0");
	EXPECT_EQ(block[6], "  DOORL 0 0.0000");
	EXPECT_EQ(block[7], "  DOORR 0 0.0000");
	EXPECT_EQ(block[8], "  SUNSCREEN 0 0.0000");
	EXPECT_EQ(block[9], "  LIGHT 0 ");
	// The host's lines come from the base class, called first.
	EXPECT_EQ(host::VesselView(v).journal(),
	          (std::vector<std::string>{"VESSEL2::clbkSaveState", "oapiWriteScenario_string", "oapiWriteScenario_string",
	                                    "oapiWriteScenario_string", "oapiWriteScenario_string"}));
}

TEST(RoverScenarioSave, StatesKeepFourDecimalsAndHugeValuesAreWrittenWhole) {
	const scenes::ScratchFolder folder("sendra-lines");
	std::string file = (folder / "saved.scn").string();
	std::string hugeText;
	{
		RoverWorld world;
		Vessel *v = world.AddRover("R");
		Sendra2016 &r = RoverWorld::Rover(v);
		r.doorLeftProc = 0.123456;
		r.doorRightStatus = PART_OPENING;
		r.doorRightProc = -0.00004;
		r.sunscreenStatus = PART_CLOSING;
		r.sunscreenProc = 1e300;  // as a scenario may have given it
		r.lightsOn = 1;
		std::vector<std::string> block = SavedBlock(world, "R");
		ASSERT_EQ(block.size(), 10u);
		EXPECT_EQ(block[6], "  DOORL 0 0.1235");
		EXPECT_EQ(block[7], "  DOORR 3 -0.0000");
		hugeText = block[8];
		EXPECT_GT(hugeText.size(), 300u);
		EXPECT_EQ(hugeText.rfind("  SUNSCREEN 2 1000000000000000052504760255204420248704468581", 0), 0u);
		EXPECT_EQ(hugeText.substr(hugeText.size() - 5), ".0000");
		EXPECT_EQ(block[9], "  LIGHT 1 ");
		// Saving changed nothing.
		EXPECT_EQ(r.doorLeftProc, 0.123456);
		host::SaveScenario(world.sim, file);
	}
	RoverWorld world;
	host::LoadScenario(world.sim, host::ReadScenarioFile(file));
	Vessel *v = world.sim.FindVessel("R");
	const Sendra2016 &r = RoverWorld::Rover(v);
	EXPECT_EQ(r.doorLeftStatus, 0);
	EXPECT_EQ(r.doorLeftProc, 0.1235);
	EXPECT_EQ(r.doorRightStatus, 3);
	EXPECT_EQ(r.doorRightProc, 0.0);
	EXPECT_EQ(r.sunscreenStatus, 2);
	EXPECT_EQ(r.sunscreenProc, 1e300);
	EXPECT_EQ(r.lightsOn, 1);
	EXPECT_EQ(PartStates(world, v), Expected(0.0, 0.1235, 1e300));
	EXPECT_EQ(SavedBlock(world, "R")[8], hugeText);
}

// The longest value a part's line can have: the smallest int and the most negative double.
TEST(RoverScenarioSave, TheLongestValueIsWrittenWhole) {
	RoverWorld world;
	Sendra2016 &r = RoverWorld::Rover(world.AddRover("R"));
	r.doorRightStatus = INT_MIN;
	r.doorRightProc = -DBL_MAX;
	std::string line = SavedBlock(world, "R")[7];
	EXPECT_EQ(line.rfind("  DOORR -2147483648 -1797693134862315708145274237317043567980", 0), 0u);
	EXPECT_EQ(line.size(), std::string("  DOORR -2147483648 -").size() + 309 + 5);
	EXPECT_EQ(line.substr(line.size() - 5), ".0000");
}

TEST(RoverScenarioLoad, KeysAreCaseFreePrefixesOfTheLine) {
	RoverWorld world;
	Load(world, Scenario({{"lower", {"doorl 1 1.0000"}},
	                      {"joined", {"DOORL1 0.5"}},
	                      {"lights", {"LIGHTS 1"}},
	                      {"mixed", {"SunScreen 3 0.25"}},
	                      {"tab", {"doorR\t2   0.75"}},
	                      {"comment", {"LIGHT 1 ; on"}},
	                      {"trailing", {"DOORR 3 0.25 and more"}}}));
	EXPECT_EQ(Rover(world, "lower").doorLeftStatus, 1);
	EXPECT_EQ(Rover(world, "lower").doorLeftProc, 1.0);
	EXPECT_EQ(Rover(world, "joined").doorLeftStatus, 1);
	EXPECT_EQ(Rover(world, "joined").doorLeftProc, 0.5);
	EXPECT_EQ(Rover(world, "lights").lightsOn, 0);  // "S" is not a number
	EXPECT_EQ(Rover(world, "mixed").sunscreenStatus, 3);
	EXPECT_EQ(Rover(world, "mixed").sunscreenProc, 0.25);
	EXPECT_EQ(Rover(world, "tab").doorRightStatus, 2);
	EXPECT_EQ(Rover(world, "tab").doorRightProc, 0.75);
	EXPECT_EQ(Rover(world, "comment").lightsOn, 1);
	EXPECT_EQ(Rover(world, "trailing").doorRightStatus, 3);
	EXPECT_EQ(Rover(world, "trailing").doorRightProc, 0.25);
	// Each key sets its own part only.
	EXPECT_EQ(Rover(world, "lower").doorRightStatus, 0);
	EXPECT_EQ(Rover(world, "mixed").doorLeftProc, 0.0);
}

TEST(RoverScenarioLoad, AFieldThatCannotBeReadIsLeftWithTheFieldsAfterIt) {
	struct Case {
		const char *line;
		int status;
		double state;
	};
	// Each after "DOORL 3 0.3".
	const Case cases[] = {
	    {"DOORL 1", 1, 0.3},                  // a status only
	    {"DOORL open", 3, 0.3},               // no number
	    {"DOORL 99999999999 0.5", 3, 0.3},    // beyond the int range
	    {"DOORL -2147483649 0.5", 3, 0.3},
	    {"DOORL 2147483647 0.5", 2147483647, 0.5},  // the int range's very ends still read
	    {"DOORL -2147483648 0.5", -2147483647 - 1, 0.5},
	    {"DOORL 1 nan", 1, 0.3},              // not a finite state
	    {"DOORL 1 inf", 1, 0.3},
	    {"DOORL 1 -INFINITY", 1, 0.3},
	    {"DOORL 2 1e999", 2, 0.3},            // overflows to infinity
	    {"DOORL 2 1e300", 2, 1e300},          // huge but finite: stored as read
	    {"DOOR", 3, 0.3},                     // shorter than the key
	    {"D", 3, 0.3},
	    {"DOORL", 3, 0.3},
	};
	std::vector<std::pair<std::string, std::vector<std::string>>> rovers;
	for (size_t i = 0; i < std::size(cases); ++i)
		rovers.push_back({"R" + std::to_string(i), {"DOORL 3 0.3", cases[i].line}});
	// A state that overflows does not keep the next line's number from being read.
	rovers.push_back({"light", {"DOORL 2 1e999", "LIGHT 1", "LIGHT 4294967297", "LIGHT x"}});
	RoverWorld world;
	Load(world, Scenario(rovers));
	for (size_t i = 0; i < std::size(cases); ++i) {
		Vessel *v = world.sim.FindVessel("R" + std::to_string(i));
		const Sendra2016 &r = RoverWorld::Rover(v);
		EXPECT_EQ(r.doorLeftStatus, cases[i].status) << cases[i].line;
		EXPECT_EQ(r.doorLeftProc, cases[i].state) << cases[i].line;
		EXPECT_EQ(world.AnimationState(v, r.animDoorLeft), cases[i].state) << cases[i].line;
		// The other fields were not touched by the line.
		EXPECT_EQ(r.doorRightStatus, 0);
		EXPECT_EQ(r.lightsOn, 0);
		// Every line reached the host's parser too: STATUS, POS, HEADING and the two.
		std::vector<std::string> j = host::VesselView(v).journal();
		EXPECT_EQ(std::count(j.begin(), j.end(), "ParseScenarioLineEx"), 5) << cases[i].line;
	}
	EXPECT_EQ(Rover(world, "light").lightsOn, 1);
}

TEST(RoverScenarioLoad, OutOfRangeValuesAreStoredAndPosedAsRead) {
	RoverWorld world;
	Load(world, Scenario({{"R", {"DOORL 7 1.5", "SUNSCREEN -1 -0.5", "LIGHT 2"}}}));
	Vessel *v = world.sim.FindVessel("R");
	const Sendra2016 &r = RoverWorld::Rover(v);
	EXPECT_EQ(r.doorLeftStatus, 7);
	EXPECT_EQ(r.doorLeftProc, 1.5);
	EXPECT_EQ(r.sunscreenStatus, -1);
	EXPECT_EQ(r.sunscreenProc, -0.5);
	EXPECT_EQ(r.lightsOn, 2);
	EXPECT_EQ(PartStates(world, v), Expected(0.0, 1.5, -0.5));
	// Lights that were off stay off: a switch of 2 is neither on nor off.
	world.Step();
	EXPECT_FALSE(host::VesselView(v).light(0).on);
}

// Hands the lines and END to the rover's clbkLoadStateEx through the host's block reader, as
// a scenario load does, and returns the rover's host calls meanwhile.
std::vector<std::string> LoadBlock(RoverWorld &world, Vessel *v, std::vector<std::string> lines) {
	lines.push_back("END");
	world.sim.ClearJournal(v);
	host::LoadVesselLines(world.sim, v, lines, "block.scn");
	return host::VesselView(v).journal();
}

TEST(RoverScenarioLoad, EveryLinePosesTheSeventeenPartsAfterTheHostHasSeenIt) {
	RoverWorld world;
	Vessel *v = world.AddRover("R");
	std::vector<std::string> perLine{"oapiReadScenario_nextline", "ParseScenarioLineEx"};
	perLine.insert(perLine.end(), 17, "SetAnimation");
	std::vector<std::string> expected;
	for (int line = 0; line < 3; ++line)
		expected.insert(expected.end(), perLine.begin(), perLine.end());
	expected.push_back("oapiReadScenario_nextline");  // END
	EXPECT_EQ(LoadBlock(world, v, {"DOORR 1 0.5", "SUNSCREEN 3 0.75", "XPDR 0"}), expected);
	EXPECT_EQ(PartStates(world, v), Expected(0.5, 0.0, 0.75));

	// A single line's one pose already shows what it set.
	expected.resize(perLine.size() + 1);
	expected.back() = "oapiReadScenario_nextline";
	EXPECT_EQ(LoadBlock(world, v, {"DOORL 2 0.25"}), expected);
	EXPECT_EQ(PartStates(world, v), Expected(0.5, 0.25, 0.75));

	// A block without lines poses nothing.
	EXPECT_EQ(LoadBlock(world, v, {}), std::vector<std::string>{"oapiReadScenario_nextline"});
}

TEST(RoverScenarioLoad, AnotherVesselsLinesMeanNothingToTheRover) {
	// The glider's block of the real Mojave scenario, given to a rover.
	RoverWorld world;
	Load(world, "BEGIN_SHIPS\nGL-01S:Sendra2016\n  STATUS Landed Earth\n  POS -118.1427663 35.0591778\n"
	            "  HEADING 270.04\n  ALT 2.480\n  AROT 0.565 62.168 -54.918\n  RCSMODE 0\n  AFCMODE 7\n"
	            "  PRPLEVEL 0:1.000000 1:0.575514 2:1.000000\n  NAVFREQ 94 524 84 114\n  XPDR 0\n"
	            "  HOVERHOLD 0 1 0.0000e+000 0.0000e+000\n  GEAR 1.0000 0.0000\n  COOLANT_STATE 0 0.500 287.000\n"
	            "  AAP 0:0 0:0 0:0\n  PSNGR 2 3 4\n  PANELCOL 2\n  TANKCONFIG 1\nEND\nEND_SHIPS\n");
	Vessel *v = world.sim.FindVessel("GL-01S");
	const Sendra2016 &r = RoverWorld::Rover(v);
	EXPECT_EQ(r.gearNeutral, 1);
	EXPECT_EQ(r.doorLeftStatus, 0);
	EXPECT_EQ(r.doorRightStatus, 0);
	EXPECT_EQ(r.sunscreenStatus, 0);
	EXPECT_EQ(r.lightsOn, 0);
	EXPECT_EQ(PartStates(world, v), Expected(0.0, 0.0, 0.0));
	EXPECT_DOUBLE_EQ(host::VesselView(v).place().hdg, 270.04 * RAD);
}

TEST(RoverScenarioRoundTrip, ADrivenRoverComesBackWithItsPartsLightsAndPlace) {
	const scenes::ScratchFolder folder("sendra-lines");
	std::string file = (folder / "drive.scn").string();
	struct Saved {
		int status[3];
		double state[3];
		int lightsOn;
		std::vector<double> parts;
		double lng, lat, hdg;
	} saved;
	{
		RoverWorld world;
		Load(world, Scenario({{"R", {"HEADING 30", "DOORR 1 1.0000"}}}));
		Vessel *v = world.sim.FindVessel("R");
		Sendra2016 &r = RoverWorld::Rover(v);
		world.Tap(OAPI_KEY_1);  // the left door starts to open
		world.Tap(OAPI_KEY_J);  // so does the sunscreen
		world.Tap(OAPI_KEY_7);  // lights on
		world.Tap(OAPI_KEY_NUMPAD8);
		world.Hold(OAPI_KEY_ADD);
		world.Step(0.02, 100);  // 1 m/s
		world.Release(OAPI_KEY_ADD);
		world.sim.SetRudderTarget(v, 1.0);
		world.Simulate(2.0);
		world.Tap(OAPI_KEY_2);  // the open right door starts to close
		world.Simulate(1.0);
		ASSERT_EQ(r.doorLeftStatus, PART_OPENING);
		ASSERT_EQ(r.doorRightStatus, PART_CLOSING);
		ASSERT_EQ(r.sunscreenStatus, PART_OPENING);
		ASSERT_GT(r.doorLeftProc, 0.2);
		ASSERT_LT(r.doorRightProc, 0.95);
		ASSERT_EQ(r.lightsOn, 1);
		saved = {{r.doorLeftStatus, r.doorRightStatus, r.sunscreenStatus},
		         {r.doorLeftProc, r.doorRightProc, r.sunscreenProc},
		         r.lightsOn,
		         PartStates(world, v),
		         host::VesselView(v).place().lng,
		         host::VesselView(v).place().lat,
		         host::VesselView(v).place().hdg};
		ASSERT_GT(saved.lat, 0.0);
		ASSERT_NE(saved.hdg, 30 * RAD);
		host::SaveScenario(world.sim, file);
	}

	RoverWorld world;
	host::LoadScenario(world.sim, host::ReadScenarioFile(file));
	Vessel *v = world.sim.FindVessel("R");
	const Sendra2016 &r = RoverWorld::Rover(v);
	EXPECT_EQ(r.doorLeftStatus, saved.status[0]);
	EXPECT_EQ(r.doorRightStatus, saved.status[1]);
	EXPECT_EQ(r.sunscreenStatus, saved.status[2]);
	const double fourDecimals = 0.5e-4 + 1e-12;
	EXPECT_NEAR(r.doorLeftProc, saved.state[0], fourDecimals);
	EXPECT_NEAR(r.doorRightProc, saved.state[1], fourDecimals);
	EXPECT_NEAR(r.sunscreenProc, saved.state[2], fourDecimals);
	EXPECT_EQ(r.lightsOn, 1);
	std::vector<double> parts = PartStates(world, v);
	EXPECT_EQ(parts, Expected(r.doorRightProc, r.doorLeftProc, r.sunscreenProc));
	for (size_t i = 0; i < parts.size(); ++i)
		EXPECT_NEAR(parts[i], saved.parts[i], fourDecimals) << i;
	EXPECT_NEAR(host::VesselView(v).place().lng * DEG, saved.lng * DEG, 0.5e-10 + 1e-13);
	EXPECT_NEAR(host::VesselView(v).place().lat * DEG, saved.lat * DEG, 0.5e-10 + 1e-13);
	EXPECT_NEAR(host::VesselView(v).place().hdg * DEG, saved.hdg * DEG, 0.5e-6 + 1e-11);
	// What is not saved starts afresh.
	EXPECT_EQ(r.gearNeutral, 1);
	EXPECT_EQ(r.groundSpeed, 0.0);

	// The parts saved while moving go on moving, at 0.1 per second, to their ends.
	double left = r.doorLeftProc, right = r.doorRightProc;
	world.Simulate(1.0);
	EXPECT_NEAR(r.doorLeftProc, left + 0.1, 1e-9);
	EXPECT_NEAR(r.doorRightProc, right - 0.1, 1e-9);
	world.Simulate(12.0);
	EXPECT_EQ(r.doorLeftStatus, PART_OPEN);
	EXPECT_EQ(r.doorRightStatus, PART_CLOSED);
	EXPECT_EQ(r.sunscreenStatus, PART_OPEN);
	EXPECT_EQ(PartStates(world, v), Expected(0.0, 1.0, 1.0));
}

}  // namespace
