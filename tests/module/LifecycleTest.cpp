// The module as the host loads it: exports, version and date, attach and detach, rovers made
// and deleted through ovcInit and ovcExit.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <cstring>

#include "FilledAllocations.h"
#include "RoverWorld.h"
#include "sendra_host/ModuleLoader.h"

using testing_support::RoverWorld;

namespace {

std::string ModulePath() { return std::string(SENDRA_ORBITER_ROOT) + "/Modules/libSendra2016.so"; }

TEST(ModuleEntry, ExportsVersionAndDateAsTheHostLoadsThem) {
	int dateCallsBefore = host::Date2IntCalls();
	std::unique_ptr<host::Module> m = host::Module::Load("Sendra2016", ModulePath());
	EXPECT_EQ(m->version(), 160828);
	EXPECT_EQ(m->date(), "Jul  2 2018");
	EXPECT_EQ(host::Date2IntCalls(), dateCallsBefore + 1);

	// The exports under their plain names; the version is computed once per load.
	void *lib = dlopen(ModulePath().c_str(), RTLD_NOW | RTLD_NOLOAD);
	ASSERT_NE(lib, nullptr);
	auto version = reinterpret_cast<int (*)()>(dlsym(lib, "GetModuleVersion"));
	auto date = reinterpret_cast<const char *(*)()>(dlsym(lib, "ModuleDate"));
	ASSERT_NE(version, nullptr);
	ASSERT_NE(date, nullptr);
	EXPECT_NE(dlsym(lib, "ovcInit"), nullptr);
	EXPECT_NE(dlsym(lib, "ovcExit"), nullptr);
	EXPECT_EQ(version(), 160828);
	EXPECT_EQ(version(), 160828);
	EXPECT_EQ(host::Date2IntCalls(), dateCallsBefore + 1);
	EXPECT_STREQ(date(), "Jul  2 2018");
	EXPECT_EQ(date(), date());  // one constant text
	// Neither exit hook name is exported, so detach has nothing to call.
	EXPECT_EQ(dlsym(lib, "ExitModule"), nullptr);
	EXPECT_EQ(dlsym(lib, "opcDLLExit"), nullptr);
	// Only the four entry points are exported, not the module's internals.
	EXPECT_EQ(dlsym(lib, "DllMain"), nullptr);

	// Attach called InitLib once with the module's load address.
	EXPECT_EQ(host::InitLibCalls(m->instance()), 1);
	dlclose(lib);
}

TEST(ModuleEntry, UnloadingRunsDetachAndAllowsAFreshLoad) {
	std::unique_ptr<host::Module> m = host::Module::Load("Sendra2016", ModulePath());
	HINSTANCE first = m->instance();
	m.reset();
	EXPECT_EQ(dlopen(ModulePath().c_str(), RTLD_NOW | RTLD_NOLOAD), nullptr) << "the module stayed in memory";
	m = host::Module::Load("Sendra2016", ModulePath());
	EXPECT_EQ(host::InitLibCalls(m->instance()), 1);
	(void)first;
}

TEST(ModuleEntry, OvcExitOfNullDoesNothing) {
	std::unique_ptr<host::Module> m = host::Module::Load("Sendra2016", ModulePath());
	m->ovcExit(nullptr);
	SUCCEED();
}

TEST(RoverLifecycle, FreshRoverHasEveryStartValue) {
	RoverWorld world;
	Sendra2016 &r = RoverWorld::Rover(world.AddRover("R1"));
	EXPECT_EQ(r.gearNeutral, 1);
	EXPECT_EQ(r.gearForward, 0);
	EXPECT_EQ(r.gearReverse, 0);
	EXPECT_EQ(r.neutralFrom, 0);
	EXPECT_EQ(r.groundSpeed, 0.0);
	EXPECT_EQ(r.turnProc, 0.0);
	EXPECT_EQ(r.steerDeflection, 0.0);
	EXPECT_EQ(r.turnRate, 0.0);
	EXPECT_EQ(r.doorLeftStatus, 0);
	EXPECT_EQ(r.doorRightStatus, 0);
	EXPECT_EQ(r.sunscreenStatus, 0);
	EXPECT_EQ(r.doorLeftProc, 0.0);
	EXPECT_EQ(r.doorRightProc, 0.0);
	EXPECT_EQ(r.sunscreenProc, 0.0);
	EXPECT_EQ(r.lightsOn, 0);
	EXPECT_EQ(r.cameraStation, 0);
	EXPECT_EQ(r.autoCentre, 0);
	EXPECT_EQ(r.rideHeight, 2.166);
	EXPECT_EQ(r.doorRate, 0.1);
	EXPECT_EQ(r.terrainPitch, 0.0);
	EXPECT_EQ(r.terrainRoll, 0.0);
	// The four the constructor leaves to us start centred and unrolled.
	EXPECT_EQ(r.steerInput, 0);
	EXPECT_EQ(r.turnAngle, 0);
	EXPECT_EQ(r.wheelRollProc, 0.0);
	EXPECT_EQ(r.speedProc, 0.0);
	EXPECT_EQ(r.Version(), 2);  // a VESSEL3
}

TEST(RoverLifecycle, TwoRoversHaveIndependentFields) {
	RoverWorld world;
	Vessel *a = world.AddRover("A", 0, 0, 0);
	Vessel *b = world.AddRover("B", 0.01, 0, 0);
	Sendra2016 &ra = RoverWorld::Rover(a), &rb = RoverWorld::Rover(b);
	ASSERT_NE(&ra, &rb);
	ra.gearForward = 1;
	ra.gearNeutral = 0;
	ra.groundSpeed = 2.0;
	ra.doorLeftStatus = PART_OPENING;
	world.Step(0.1, 10);
	EXPECT_EQ(rb.gearNeutral, 1);
	EXPECT_EQ(rb.groundSpeed, 0.0);
	EXPECT_EQ(rb.doorLeftStatus, 0);
	EXPECT_EQ(host::VesselView(b).place().lat, 0.0);
	EXPECT_GT(host::VesselView(a).place().lat, 0.0);
}

TEST(RoverLifecycle, DeletingRoversCallsOvcExitAndKeepsTheOthers) {
	RoverWorld world;
	Vessel *a = world.AddRover("A");
	world.AddRover("B", 1, 0, 0);
	world.sim.DeleteVessel(a);
	ASSERT_EQ(world.sim.vessels().size(), 1u);
	EXPECT_EQ(host::VesselView(world.sim.vessels()[0]).name(), "B");
	world.Step(0.02, 5);  // the survivor still runs
	world.sim.DeleteAllVessels();
	EXPECT_TRUE(world.sim.vessels().empty());
}

TEST(RoverLifecycle, ADeletedRoverLeavesNothingBehind) {
	RoverWorld world;
	auto makeDriveAndDelete = [&](int rovers) {
		for (int i = 0; i < rovers; ++i) {
			Vessel *v = world.AddRover("R" + std::to_string(i));
			world.Step();
			world.sim.DeleteVessel(v);
		}
	};
	if (LiveAllocations() < 0)
		GTEST_SKIP() << "under the sanitizers, whose leak checker looks instead";
	makeDriveAndDelete(1);  // what the host keeps once: the mesh, its lists' room
	long long before = LiveAllocations();
	makeDriveAndDelete(5);
	EXPECT_EQ(LiveAllocations(), before);
}

}  // namespace
