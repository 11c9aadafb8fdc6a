// The host refuses modules it cannot use, with a message naming the file, and keeps a plain
// vessel when a module makes none.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>

#include "FakeRoot.h"
#include "OrbiterAPI.h"
#include "sendra_host/HostError.h"
#include "sendra_host/Simulation.h"

namespace fs = std::filesystem;

namespace {

// The message of the HostError that creating a vessel of class cls throws, or "".
std::string CreationError(host::Simulation &sim, const std::string &cls) {
	host::LandedPosition pos;
	pos.body = sim.FindBody("Moon");
	try {
		sim.CreateVessel("V-" + cls, cls, pos);
	} catch (const host::HostError &e) {
		return e.what();
	}
	return "";
}

TEST(ModuleLoader, RefusesModulesItCannotUseWithAClearMessage) {
	FakeRoot root;
	for (const char *c : {"NoInit", "NoVersion", "ZeroVersion", "NewerVersion", "Good"})
		root.AddClass(c);
	root.Write("Modules/libGarbage.so", "this is not a shared library\n");
	root.Write("Config/Vessels/Garbage.cfg", "Module = Garbage\n");
	root.Write("Config/Vessels/Missing.cfg", "Module = NotThere\n");
	host::SimOptions o;
	o.root = root.path();
	host::Simulation sim(o);

	EXPECT_NE(CreationError(sim, "NoInit").find("does not export ovcInit"), std::string::npos);
	EXPECT_NE(CreationError(sim, "NoVersion").find("does not export GetModuleVersion"), std::string::npos);
	EXPECT_NE(CreationError(sim, "ZeroVersion").find("reports version 0"), std::string::npos);
	EXPECT_NE(CreationError(sim, "NewerVersion").find("reports version 170101"), std::string::npos);
	std::string garbage = CreationError(sim, "Garbage");
	EXPECT_NE(garbage.find("libGarbage.so"), std::string::npos);
	EXPECT_NE(garbage.find("cannot load module"), std::string::npos);
	EXPECT_NE(CreationError(sim, "NotAClass").find("no configuration file for vessel class 'NotAClass'"),
	          std::string::npos);
	EXPECT_NE(CreationError(sim, "Missing").find("module 'NotThere' not found"), std::string::npos);
	EXPECT_TRUE(sim.vessels().empty());

	// A usable module still loads after all that.
	EXPECT_EQ(CreationError(sim, "Good"), "");
	ASSERT_EQ(sim.vessels().size(), 1u);
	EXPECT_EQ(sim.vessels()[0]->size, 1.0);
	EXPECT_NE(CreationError(sim, "Good").find("already exists"), std::string::npos);
}

TEST(ModuleLoader, NullFromOvcInitLeavesAPlainVesselWithoutCallbacks) {
	FakeRoot root;
	root.AddClass("NullInit");
	host::SimOptions o;
	o.root = root.path();
	host::Simulation sim(o);
	ASSERT_EQ(CreationError(sim, "NullInit"), "");
	Vessel *v = sim.vessels().at(0).get();
	EXPECT_EQ(v->callbacks(), nullptr);
	EXPECT_EQ(v->iface->Version(), 0);
	std::vector<std::string> problems = sim.TakeProblems();
	ASSERT_FALSE(problems.empty());
	EXPECT_NE(problems[0].find("ovcInit"), std::string::npos);
	sim.Frame(0.02);  // a plain vessel just sits there
	EXPECT_EQ(v->state.status, 1);
}

TEST(ModuleLoader, RunsTheModulesInitModuleOnceAtLoadWithItsInstanceHandle) {
	FakeRoot root;
	root.AddClass("Entry");
	host::SimOptions o;
	o.root = root.path();
	host::Simulation sim(o);

	const host::Module &m = sim.modules().Get(root.path(), "Entry");
	ASSERT_NE(m.instance(), nullptr);
	EXPECT_EQ(host::InitLibCalls(m.instance()), 1);
	char expected[64];
	std::snprintf(expected, sizeof expected, "InitModule %p", static_cast<void *>(m.instance()));
	EXPECT_EQ(sim.log(), std::vector<std::string>{expected});

	// Vessels of the class use the loaded module: no second load, no second InitModule.
	EXPECT_EQ(CreationError(sim, "Entry"), "");
	EXPECT_EQ(sim.log().size(), 1u);

	// A log line is taken up to its first 4096 characters.
	std::string line(5000, 'x');
	oapiWriteLog(line.data());
	EXPECT_EQ(sim.log().back().size(), 4096u);
}

}  // namespace
