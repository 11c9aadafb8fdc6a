// The scenes that tests and benchmarks share (tests/support): the rover grid's scenario loads
// through the host with every rover exactly where the grid put it, a hundred to a row, spacing
// apart; a scratch folder is its own and goes with everything in it.
#include <gtest/gtest.h>

#include <filesystem>

#include "Scenes.h"
#include "Scratch.h"
#include "sendra_host/ScenarioIO.h"
#include "sendra_host/Simulation.h"
#include "sendra_host/VesselView.h"

namespace fs = std::filesystem;

TEST(SharedScenes, TheRoverGridLoadsExactlyWhereItWasPutAHundredToARowSpacingApart) {
	const std::vector<scenes::Rover> grid = scenes::RoverGrid(201, 30);
	host::ScenarioFile file = host::ParseScenario(scenes::RoverScenario(grid, 60000.25, "A grid"), "grid.scn");
	ASSERT_EQ(file.blocks.size(), 1u);
	EXPECT_EQ(file.blocks[0].text, "BEGIN_DESC\nA grid\nEND_DESC\n");
	EXPECT_EQ(file.mjd, 60000.25);
	EXPECT_TRUE(host::ParseScenario(scenes::RoverScenario(grid, 60000, ""), "bare.scn").blocks.empty());

	host::SimOptions o;
	o.root = SENDRA_ORBITER_ROOT;
	host::Simulation sim(o);
	host::LoadScenario(sim, file);
	ASSERT_EQ(sim.vessels().size(), grid.size());
	for (size_t i = 0; i < grid.size(); ++i) {
		const host::VesselView v(sim.vessels()[i]);
		ASSERT_EQ(v.name(), "R" + std::to_string(i));
		EXPECT_EQ(v.className(), "Sendra2016");
		const host::VesselPlace at = v.place();
		EXPECT_TRUE(at.landed);
		EXPECT_EQ(at.lng, grid[i].lng * RAD) << v.name();  // to the last bit
		EXPECT_EQ(at.lat, grid[i].lat * RAD) << v.name();
		EXPECT_EQ(at.hdg, 0.0) << v.name();
	}
	const double radius = sim.FindBody("Moon")->radius;
	auto east = [&](int a, int b) { return (grid[b].lng - grid[a].lng) * RAD * radius; };  // [m] of longitude
	auto north = [&](int a, int b) { return (grid[b].lat - grid[a].lat) * RAD * radius; };
	EXPECT_EQ(grid[0].lng, 23.47);
	EXPECT_EQ(grid[0].lat, 0.67);
	EXPECT_NEAR(east(0, 1), 30, 1e-9);
	EXPECT_NEAR(east(0, 99), 99 * 30, 1e-9);  // the row's last
	EXPECT_EQ(north(0, 99), 0);
	EXPECT_EQ(east(0, 100), 0);  // the next row begins north of the first's first
	EXPECT_NEAR(north(0, 100), 30, 1e-9);
	EXPECT_NEAR(north(0, 200), 60, 1e-9);
}

TEST(SharedScenes, AScratchFolderIsItsOwnAndGoesWithEverythingInIt) {
	fs::path gone;
	{
		const scenes::ScratchFolder a("scenes-test"), b("scenes-test");
		EXPECT_NE(a.dir(), b.dir());
		EXPECT_EQ(fs::status(a.dir()).permissions() & (fs::perms::group_all | fs::perms::others_all), fs::perms::none);
		a.Write("x.txt", "one\r\n");
		fs::create_directory(a / "inner");
		a.Write("inner/y.txt", "two");
		EXPECT_EQ(a.Read("x.txt"), "one\r\n");
		EXPECT_EQ(a.Files(""), (std::vector<std::string>{"inner", "x.txt"}));
		EXPECT_TRUE(b.Files("").empty());
		gone = a.dir();
	}
	EXPECT_FALSE(fs::exists(gone));
}
