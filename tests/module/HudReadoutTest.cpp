// The rover's HUD lines: positions for any HUD size, texts, colour, and the host's HUD first.
#include <gtest/gtest.h>

#include "RoverWorld.h"

using testing_support::JournalFrom;
using testing_support::RoverWorld;

namespace {

struct Layout {
	int w, h;
	int x, gearY, speedY, swivelY;
};

TEST(HudReadout, LinesSitAtTheirPixelsForEveryHudSize) {
	const Layout layouts[] = {
		{1024, 768, 10, 311, 327, 343},
		{1920, 1080, 310, 315, 338, 360},
		{1366, 768, 220, 224, 240, 256},
		{800, 600, 10, 243, 256, 268},
		// Either side of the ratio 0.7284 and on it (1821 / 2500): only a wider HUD is shifted.
		{2500, 1820, 400, 531, 569, 607},
		{2500, 1821, 10, 739, 777, 815},
		{2500, 1822, 10, 740, 778, 816},
	};
	for (const Layout &l : layouts) {
		host::SimOptions o = testing_support::WorldOptions();
		o.hudWidth = l.w;
		o.hudHeight = l.h;
		RoverWorld world(o);
		Vessel *v = world.AddRover("R");
		world.Step();
		const auto &texts = host::VesselView(v).hud().texts;
		ASSERT_EQ(texts.size(), 3u) << l.w << "x" << l.h;
		EXPECT_EQ(texts[0].text, "Current Ground Speed 0.00");
		EXPECT_EQ(texts[0].y, l.speedY) << l.w;
		EXPECT_EQ(texts[1].text, "Neutral Gear");
		EXPECT_EQ(texts[1].y, l.gearY) << l.w;
		EXPECT_EQ(texts[2].text, "Turn Angle: 0");
		EXPECT_EQ(texts[2].y, l.swivelY) << l.w;
		for (const host::HudText &t : texts) {
			EXPECT_EQ(t.x, l.x) << l.w;
			EXPECT_EQ(t.colour, 0x66FF66u);
		}
	}
}

TEST(HudReadout, DrawsOverTheHostsHudWithAColourBeforeEachLine) {
	RoverWorld world;
	Vessel *v = world.AddRover("R");
	world.sim.ClearJournal(v);
	world.Step();
	EXPECT_TRUE(host::VesselView(v).hud().defaultDrawn);
	std::vector<std::string> calls = JournalFrom(v, "VESSEL3::clbkDrawHUD");
	EXPECT_EQ(calls, (std::vector<std::string>{"VESSEL3::clbkDrawHUD", "Sketchpad::SetTextColor", "Sketchpad::Text",
	                                           "Sketchpad::SetTextColor", "Sketchpad::Text",
	                                           "Sketchpad::SetTextColor", "Sketchpad::Text"}));
}

TEST(HudReadout, ShowsSpeedGearAndAngleAsTheyStand) {
	RoverWorld world;
	Vessel *v = world.AddRover("R");
	Sendra2016 &r = RoverWorld::Rover(v);
	r.gearForward = 1;
	r.gearNeutral = 0;
	r.groundSpeed = 1.5;
	r.turnProc = 0.999;
	world.Step();
	EXPECT_EQ(host::VesselView(v).hud().texts[0].text, "Current Ground Speed 1.50");
	EXPECT_EQ(host::VesselView(v).hud().texts[1].text, "Forward Gear");
	EXPECT_EQ(host::VesselView(v).hud().texts[2].text, "Turn Angle: 359");
	r.gearForward = 0;
	r.gearReverse = 1;
	r.groundSpeed = 2.78;
	world.Step();
	EXPECT_EQ(host::VesselView(v).hud().texts[0].text, "Current Ground Speed 2.78");
	EXPECT_EQ(host::VesselView(v).hud().texts[1].text, "Reverse Gear");
	// A gear flag other than 1 shows no gear line.
	r.gearReverse = 2;
	world.Step();
	ASSERT_EQ(host::VesselView(v).hud().texts.size(), 2u);
	EXPECT_EQ(host::VesselView(v).hud().texts[1].text.rfind("Turn Angle", 0), 0u);
}

}  // namespace
