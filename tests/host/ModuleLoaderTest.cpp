// The host refuses modules it cannot use, with a message naming the file, and keeps a plain
// vessel when a module makes none.
#include <elf.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <tuple>

#include "FakeRoot.h"
#include "OrbiterAPI.h"
#include "sendra_host/ConfigFile.h"
#include "sendra_host/HostError.h"
#include "sendra_host/Simulation.h"
#include "src/HostVessel.h"
#include "src/ScenarioFiles.h"

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
	// A module that is not there makes a plain vessel of the class, as the real host makes it.
	sim.TakeProblems();
	EXPECT_EQ(CreationError(sim, "Missing"), "");
	std::vector<std::string> said = sim.TakeProblems();
	ASSERT_EQ(said.size(), 1u);
	EXPECT_NE(said[0].find("Missing.cfg:1: Could not load vessel module: NotThere"), std::string::npos) << said[0];
	ASSERT_EQ(sim.vessels().size(), 1u);
	EXPECT_EQ(sim.vessels()[0]->absentModule, "NotThere");
	sim.DeleteVessel(sim.vessels()[0].get());
	// A library cut short, which the loader would map past its end and fault on: refused by
	// its own headers, wherever the cut is, and without the section headers (stripped) too.
	const fs::path whole = fs::path(FAKE_MODULE_DIR) / "libFakeGood.so";
	const auto size = static_cast<size_t>(fs::file_size(whole));
	// Where the last segment ends: a cut just before it leaves every segment's start inside.
	size_t segmentsEnd = 0;
	{
		std::ifstream in(whole, std::ios::binary);
		Elf64_Ehdr header;
		in.read(reinterpret_cast<char *>(&header), sizeof header);
		for (unsigned i = 0; i < header.e_phnum; ++i) {
			Elf64_Phdr segment;
			in.seekg(static_cast<std::streamoff>(header.e_phoff + i * sizeof segment));
			in.read(reinterpret_cast<char *>(&segment), sizeof segment);
			segmentsEnd = std::max(segmentsEnd, static_cast<size_t>(segment.p_offset + segment.p_filesz));
		}
	}
	ASSERT_LT(segmentsEnd, size);
	struct Cut {
		size_t length;
		bool stripped;
	};
	for (Cut cut : {Cut{64, false}, Cut{2000, false}, Cut{size / 3, false}, Cut{size - 1, false}, Cut{2000, true},
	                Cut{size / 3, true}, Cut{segmentsEnd - 1, true}}) {
		const size_t length = cut.length;
		std::ifstream in(whole, std::ios::binary);
		std::string bytes(length, '\0');
		in.read(bytes.data(), static_cast<std::streamsize>(length));
		if (cut.stripped) {
			Elf64_Ehdr header;
			std::memcpy(&header, bytes.data(), sizeof header);
			header.e_shoff = 0;
			header.e_shnum = header.e_shstrndx = 0;
			std::memcpy(bytes.data(), &header, sizeof header);
		}
		std::string cls = "Cut" + std::to_string(length) + (cut.stripped ? "s" : "");
		root.Write("Modules/lib" + cls + ".so", bytes);
		root.Write("Config/Vessels/" + cls + ".cfg", "Module = " + cls + "\n");
		std::string error = CreationError(sim, cls);
		EXPECT_NE(error.find("lib" + cls + ".so"), std::string::npos) << error;
		EXPECT_NE(error.find("cannot load module '" + cls + "': the file is cut short: it has " + std::to_string(length) +
		                     " bytes"),
		          std::string::npos)
			<< error;
	}
	// Headers placing a part past the end of any file at all, the sum overflowing.
	{
		std::ifstream in(whole, std::ios::binary);
		std::string bytes(4096, '\0');
		in.read(bytes.data(), static_cast<std::streamsize>(bytes.size()));
		Elf64_Ehdr header;
		std::memcpy(&header, bytes.data(), sizeof header);
		header.e_shoff = ~0ull - 16;
		std::memcpy(bytes.data(), &header, sizeof header);
		root.Write("Modules/libFar.so", bytes);
		root.Write("Config/Vessels/Far.cfg", "Module = Far\n");
		EXPECT_NE(CreationError(sim, "Far").find("it has 4096 bytes, and its own headers place parts beyond any file"),
		          std::string::npos)
		    << CreationError(sim, "Far");
	}
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

// A module reads its class's configuration through the SDK: keys without regard to case, the
// first line of a key, whole values only, and nothing from a handle that is not a
// configuration file; a failed read leaves the variable as it was.
TEST(ConfigItems, AreReadAsOrbiterReadsThem) {
	host::ConfigFile cfg = host::ConfigFile::Parse("Name = Rover one ; comment\nname = two\nLong = " +
	                                                   std::string(300, 'L') +
	                                                   "\nMass = 1250.5\nCount = -42\nBig = 3000000000\n"
	                                                   "On = true\nOff = FALSE\nMaybe = yes\nAt = 1 2 3.5\nEND_PARSE\nLate = 1\n",
	                                               "t.cfg");
	FILEHANDLE f = &cfg;
	host::ScenarioBlockReader scenario("t.scn", host::ScenarioLines(1, {"Name = Rover one"}));
	FILEHANDLE wrong = &scenario;
	char buf[64];
	auto key = [&](const char *k) { return std::strcpy(buf, k); };
	char s[256] = "-";
	double d = 7;
	int i = 7;
	bool on = false, off = true, maybe = true;
	VECTOR3 at{}, none = _V(9, 9, 9);
	EXPECT_TRUE(oapiReadItem_string(f, key("NAME"), s));
	EXPECT_STREQ(s, "Rover one");
	EXPECT_TRUE(oapiReadItem_string(f, key("long"), s));
	EXPECT_EQ(std::strlen(s), 255u);
	EXPECT_TRUE(oapiReadItem_float(f, key("mass"), d));
	EXPECT_TRUE(oapiReadItem_int(f, key("Count"), i));
	EXPECT_TRUE(oapiReadItem_bool(f, key("On"), on) && oapiReadItem_bool(f, key("off"), off));
	EXPECT_TRUE(oapiReadItem_vec(f, key("At"), at));
	EXPECT_EQ(std::make_tuple(d, i, on, off, at.x, at.y, at.z), std::make_tuple(1250.5, -42, true, false, 1.0, 2.0, 3.5));
	for (FILEHANDLE h : {f, wrong, FILEHANDLE(nullptr)}) {
		EXPECT_FALSE(oapiReadItem_string(h, key("Late"), s) || oapiReadItem_float(h, key("Name"), d) ||
		             oapiReadItem_int(h, key("Big"), i) || oapiReadItem_int(h, key("Mass"), i) ||
		             oapiReadItem_bool(h, key("Maybe"), maybe) || oapiReadItem_vec(h, key("Name"), none));
		EXPECT_FALSE(oapiReadItem_string(h, nullptr, s) || oapiReadItem_float(h, nullptr, d) ||
		             oapiReadItem_int(h, nullptr, i) || oapiReadItem_bool(h, nullptr, maybe) ||
		             oapiReadItem_vec(h, nullptr, none));
	}
	EXPECT_EQ(std::make_tuple(d, i, maybe, none.x), std::make_tuple(1250.5, -42, true, 9.0));
	EXPECT_EQ(std::strlen(s), 255u);
}

// A module that passes a callback on to its base class gets the SDK's answer: not handled,
// no key taken; the generic cockpit is the one exception.
TEST(VesselCallbacks, TheBaseClassesAnswerAsTheSdksDo) {
	PlainWorld world;
	Vessel *v = world.vessel;
	VESSEL3 base(v, 1);
	char kstate[256] = {};
	VECTOR3 p{};
	EXPECT_FALSE(base.clbkPlaybackEvent(0, 0, "EVENT", "x") || base.clbkLoadPanel(0) ||
	             base.VESSEL2::clbkPanelMouseEvent(0, 0, 0, 0) || base.VESSEL2::clbkPanelRedrawEvent(0, 0, nullptr) ||
	             base.clbkLoadVC(0) || base.clbkVCMouseEvent(0, 0, p) || base.clbkVCRedrawEvent(0, 0, nullptr) ||
	             base.clbkPanelMouseEvent(0, 0, 0, 0, nullptr) || base.clbkPanelRedrawEvent(0, 0, nullptr, nullptr) ||
	             base.clbkLoadPanel2D(0, nullptr, 0, 0));
	EXPECT_EQ(base.clbkConsumeDirectKey(kstate) + base.clbkConsumeBufferedKey(OAPI_KEY_A, true, kstate) +
	              base.clbkGeneric(1, 2, nullptr),
	          0);
	// The generic cockpit looks straight ahead, untilted, as a fresh vessel does.
	EXPECT_EQ(v->cameraTilt, 0.0);
	base.SetCameraDefaultDirection(_V(0, 1, 0), 0.5);
	EXPECT_TRUE(base.clbkLoadGenericCockpit());
	EXPECT_EQ(std::make_tuple(v->cameraDefaultDirection->y, v->cameraDefaultDirection->z, v->cameraTilt),
	          std::make_tuple(0.0, 1.0, 0.0));
}

}  // namespace
