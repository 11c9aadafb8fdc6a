// The solar system of an Orbiter folder's Config/ and the files found as Windows finds them:
// what the bodies take from their files, the fallback without a system, what ends the reading.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "FakeRoot.h"
#include "sendra_host/HostError.h"
#include "src/FileNames.h"
#include "src/SolarSystem.h"
#include "src/TwoBody.h"

namespace {

std::string ErrorOf(const std::function<void()> &f) {
	try {
		f();
	} catch (const host::HostError &e) {
		return e.what();
	}
	return "";
}

}  // namespace

// The staged folder's system: stars, then each planet followed by its moons, each with the
// radius, mass (the real host's G times it for GM) and rotation of its file.
TEST(SolarSystem, BodiesComeFromTheSystemFileAndEachBodysFile) {
	host::SolarSystem sol = host::ReadSolarSystem(SENDRA_ORBITER_ROOT, "Sol");
	EXPECT_TRUE(sol.warnings.empty());
	std::vector<std::string> names;
	for (const auto &b : sol.bodies)
		names.push_back(b->name);
	ASSERT_EQ(names.size(), 33u);
	EXPECT_EQ(std::vector<std::string>(names.begin(), names.begin() + 8),
	          (std::vector<std::string>{"Sun", "Mercury", "Venus", "Earth", "Moon", "Mars", "Phobos", "Deimos"}));
	const host::Body &earth = *sol.bodies[3];
	EXPECT_EQ(earth.radius, 6.37101e6);
	EXPECT_EQ(earth.mass, 5.973698968e24);
	EXPECT_EQ(earth.gm, 6.67259e-11 * 5.973698968e24);
	EXPECT_EQ(earth.rotationPeriod, 86164.10132);
	EXPECT_EQ(earth.rotationOffset, 4.88948754);
	EXPECT_EQ(earth.obliquity, 0.4090928023);
	EXPECT_EQ(sol.bodies[2]->rotationPeriod, -20996797.02);  // Venus turns backwards
	EXPECT_EQ(sol.bodies[4]->lan, 1.71817749);
	// The built-in three agree with the files they stand in for.
	auto builtIn = host::MakeSolarSystem();
	ASSERT_EQ(builtIn.size(), 3u);
	for (const auto &b : builtIn) {
		auto same = std::find_if(sol.bodies.begin(), sol.bodies.end(), [&](const auto &o) { return o->name == b->name; });
		ASSERT_NE(same, sol.bodies.end()) << b->name;
		const host::Body &o = **same;
		EXPECT_EQ(std::vector<double>({b->radius, b->mass, b->gm, b->rotationPeriod, b->rotationOffset, b->obliquity,
		                               b->lan, b->lanMjd, b->precessionPeriod, b->precessionLan, b->precessionObliquity}),
		          std::vector<double>({o.radius, o.mass, o.gm, o.rotationPeriod, o.rotationOffset, o.obliquity, o.lan,
		                               o.lanMjd, o.precessionPeriod, o.precessionLan, o.precessionObliquity}))
		    << b->name;
		EXPECT_EQ(b->orbit, o.orbit) << b->name;
	}
}

// Names of any letter case are found; an item that does not read is ignored with a warning;
// a folder without the system file runs on the host's own bodies and says so; a listed body
// without its file ends the reading, naming the system file's line.
TEST(SolarSystem, ReadingIsAsForgivingAsTheRealHostsAndNoMore) {
	FakeRoot root;
	fs::remove_all(fs::path(root.path()) / "Config");
	fs::create_directories(fs::path(root.path()) / "Config");
	host::SolarSystem none = host::ReadSolarSystem(root.path(), "Sol");
	EXPECT_EQ(none.bodies.size(), 3u);
	EXPECT_EQ(none.warnings, std::vector<std::string>{root.path() + "/Config/Sol.cfg: no solar system in this Orbiter "
	                                                                "folder; the stand-in host uses its own Earth, "
	                                                                "Moon and Mars"});

	root.Write("Config/SOL.CFG", "Star1 = sun\nPlanet1 = Rock\nRock:Moon1 = Pebble\nRock:Moon3 = Skipped\nPlanet3 = Far\n");
	root.Write("Config/Sun.cfg", "Name = Sun\nSize = 7e8\nMass = 2e30 ; kg\n");
	root.Write("Config/rock.cfg", "Size = 1000 m\nMass = heavy\nSidRotPeriod = -600\n");
	root.Write("Config/Pebble.cfg", "Name = Pebble\nSize = 10\nMass = 0\n");
	host::SolarSystem sol = host::ReadSolarSystem(root.path(), "Sol");
	ASSERT_EQ(sol.bodies.size(), 3u);
	EXPECT_EQ(sol.bodies[0]->name, "Sun");
	EXPECT_EQ(sol.bodies[0]->mass, 2e30);
	EXPECT_EQ(sol.bodies[1]->name, "Rock");  // without a Name, the name it is listed by
	EXPECT_EQ(sol.bodies[1]->radius, 1000);
	EXPECT_EQ(sol.bodies[1]->mass, 0);
	EXPECT_EQ(sol.bodies[1]->rotationPeriod, -600);
	EXPECT_EQ(sol.bodies[2]->name, "Pebble");
	EXPECT_EQ(sol.warnings, (std::vector<std::string>{
	                            root.path() + "/Config/rock.cfg:2: Mass: 'heavy' is not a finite number; the item is ignored, "
	                                          "as Orbiter ignores it",
	                            root.path() + "/Config/Pebble.cfg:3: Mass: 0 kg is not a positive mass; nothing can orbit "
	                                          "Pebble, and a vessel in flight about it is refused"}));

	root.Write("Config/SOL.CFG", "Star1 = Sun\nPlanet1 = Rock\nPlanet2 = Gone\n");
	EXPECT_EQ(ErrorOf([&] { host::ReadSolarSystem(root.path(), "Sol"); }),
	          root.path() + "/Config/SOL.CFG:3: Planet2: no configuration file for body 'Gone' (" + root.path() +
	              "/Config/Gone.cfg)");
}

TEST(FileNames, NamesAreFoundWhateverTheirCaseAndTwinsAreNamed) {
	FakeRoot root;
	fs::path r = root.path();
	fs::create_directories(r / "Meshes/ISS");
	root.Write("Meshes/ISS/Leonardo_mplm.msh", "");
	root.Write("Meshes/Twin.msh", "");
	root.Write("Meshes/TWIN.msh", "");
	std::vector<std::string> notes;
	EXPECT_EQ(host::FindNoCase(root.path(), "meshes\\iss\\LEONARDO_MPLM.msh", notes),
	          root.path() + "/Meshes/ISS/Leonardo_mplm.msh");
	EXPECT_TRUE(notes.empty());
	EXPECT_EQ(host::FindNoCase(root.path(), "Meshes/twin.msh", notes), root.path() + "/Meshes/TWIN.msh");
	EXPECT_EQ(host::FindNoCase(root.path(), "Meshes/Twin.msh", notes), root.path() + "/Meshes/Twin.msh");
	EXPECT_EQ(notes, (std::vector<std::string>{
	                     root.path() + "/Meshes: 'TWIN.msh' and 'Twin.msh' differ only in letter case; 'TWIN.msh' was taken",
	                     root.path() + "/Meshes: 'TWIN.msh' and 'Twin.msh' differ only in letter case; 'Twin.msh' was taken"}));
	for (const char *missing : {"Meshes/None.msh", "", "Meshes/../Meshes/Twin.msh", "Nowhere/Twin.msh"})
		EXPECT_EQ(host::FindNoCase(root.path(), missing, notes), std::nullopt) << missing;
}
