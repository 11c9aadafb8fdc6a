// Rovers made, driven, saved, deleted and loaded again in one simulation: the focus and the
// visuals moving as vessels go, a load that fails half-way and is rolled back, and a load
// that brings the saved rovers back. CI also runs this under valgrind's memcheck, which must
// find no leak and no invalid access.
#include <gtest/gtest.h>

#include "RoverWorld.h"
#include "Scratch.h"
#include "sendra_host/HostError.h"
#include "sendra_host/ScenarioIO.h"

using testing_support::RoverWorld;

namespace {

struct Saved {
	double lng, lat, hdg;
	int doorLeftStatus;
	double doorLeftProc;
	int lightsOn;
};

Saved Record(Vessel *v) {
	const Sendra2016 &r = RoverWorld::Rover(v);
	return {host::VesselView(v).place().lng, host::VesselView(v).place().lat, host::VesselView(v).place().hdg, r.doorLeftStatus, r.doorLeftProc, r.lightsOn};
}

std::vector<std::string> Names(const host::Simulation &sim) {
	std::vector<std::string> names;
	for (const auto &v : sim.vessels())
		names.push_back(host::VesselView(v).name());
	return names;
}

}  // namespace

TEST(RoverChurn, RoversAreMadeSavedDeletedAndLoadedAgainInOneSimulation) {
	const scenes::ScratchFolder folder("sendra-churn");
	const std::string file = (folder / "churn.scn").string();
	std::map<std::string, Saved> saved;
	{
		RoverWorld world;
		Vessel *a = world.AddRover("A", 0, 0, 0);
		world.AddRover("B", 0.001, 0, 90);  // beside A: within its visual range
		Vessel *c = world.AddRover("C", 10, 10, 0);
		ASSERT_EQ(world.sim.focus(), a);
		world.Tap(OAPI_KEY_NUMPAD8);
		world.Hold(OAPI_KEY_ADD);
		world.Step(0.02, 50);  // 0.5 m/s
		world.Release(OAPI_KEY_ADD);
		world.Tap(OAPI_KEY_1);  // A's left door opens
		world.Tap(OAPI_KEY_7);  // A's lights
		world.sim.SetFocus(world.sim.FindVessel("B"));
		world.Tap(OAPI_KEY_1);
		world.Simulate(1.0);
		host::SaveScenario(world.sim, file);
		for (const char *name : {"A", "B", "C"})
			saved[name] = Record(world.sim.FindVessel(name));
		ASSERT_GT(saved["A"].lat, 0.0);
		ASSERT_EQ(saved["A"].lightsOn, 1);
		ASSERT_GT(saved["B"].doorLeftProc, 0.0);

		// The focus and the visuals move on as vessels go.
		world.sim.DeleteVessel(world.sim.FindVessel("B"));
		EXPECT_EQ(world.sim.focus(), a);
		EXPECT_TRUE(host::VesselView(a).visual());
		world.sim.DeleteVessel(a);
		EXPECT_EQ(world.sim.focus(), c);
		EXPECT_TRUE(host::VesselView(c).visual());
		world.Step();
		world.AddRover("D", 10.0001, 10, 0);
		world.Step(0.02, 10);

		// C is still here: the saved scenario cannot load, and what it made goes again.
		host::ScenarioFile scenario = host::ReadScenarioFile(file);
		EXPECT_THROW(host::LoadScenario(world.sim, scenario), host::HostError);
		EXPECT_EQ(Names(world.sim), (std::vector<std::string>{"C", "D"}));
		EXPECT_EQ(world.sim.focus(), c);
		world.Step(0.02, 10);

		world.sim.DeleteVessel(c);
		host::LoadScenario(world.sim, scenario);
		EXPECT_EQ(Names(world.sim), (std::vector<std::string>{"D", "A", "B", "C"}));
		for (const char *name : {"A", "B", "C"}) {
			Saved back = Record(world.sim.FindVessel(name));
			EXPECT_NEAR(back.lng * DEG, saved[name].lng * DEG, 0.51e-10) << name;
			EXPECT_NEAR(back.lat * DEG, saved[name].lat * DEG, 0.51e-10) << name;
			EXPECT_EQ(back.doorLeftStatus, saved[name].doorLeftStatus) << name;
			EXPECT_NEAR(back.doorLeftProc, saved[name].doorLeftProc, 0.51e-4) << name;
			EXPECT_EQ(back.lightsOn, saved[name].lightsOn) << name;
		}
		world.Simulate(1.0);
		host::SaveScenario(world.sim, file);
		world.sim.DeleteAllVessels();
		EXPECT_EQ(world.sim.focus(), nullptr);
		world.Step();
		host::LoadScenario(world.sim, host::ReadScenarioFile(file));
		EXPECT_EQ(Names(world.sim), (std::vector<std::string>{"D", "A", "B", "C"}));
		world.Simulate(0.5);
	}
}
