// Sessions and drives through the library: a frame's input around the frame, and a script's
// events each in the first frame that reaches it, with those beyond the end left over.
#include <gtest/gtest.h>

#include <sstream>

#include "OrbiterAPI.h"
#include "SimProgram.h"
#include "sendra_host/HostError.h"
#include "sendra_host/HostVessel.h"
#include "session/Drive.h"

namespace {

sim::SessionOptions Flat() {
	sim::SessionOptions o;
	o.root = SENDRA_ORBITER_ROOT;
	o.terrain = "flat";
	return o;
}

std::string Hud(const Vessel &v) {
	std::string s;
	for (const host::HudText &t : v.hud.texts)
		s += t.text + "|";
	return s;
}

}  // namespace

TEST(Session, AFramesKeysComeBeforeItAndItsRudderTargetAfterIt) {
	std::ostringstream err;
	sim::Session session(Flat(), err);
	host::Simulation &sim = session.simulation();
	Vessel &rover = *sim.focus();
	bool atEnd = false;
	session.Step(0.02, sim::FrameInput{{{OAPI_KEY_NUMPAD8, true}}, 1.0}, [&] {
		atEnd = true;
		// The keys reached the module in this frame; the rudder has not moved yet.
		EXPECT_NE(Hud(rover).find("Forward Gear"), std::string::npos) << Hud(rover);
		EXPECT_EQ(rover.rudderLevel, 0.0);
	});
	EXPECT_TRUE(atEnd);
	EXPECT_EQ(rover.rudderTarget, 1.0);
	EXPECT_TRUE(rover.journal.Names().empty());  // read by nothing while stepping
	session.Step(0.02, sim::FrameInput{{{OAPI_KEY_NUMPAD8, false}}, std::nullopt});
	EXPECT_NEAR(rover.rudderLevel, 0.02, 1e-12);  // one frame of the rudder's lag
	EXPECT_EQ(rover.rudderTarget, 1.0);           // kept when a frame sets none
	EXPECT_EQ(err.str(), "");
	EXPECT_EQ(session.label(), "(built-in scenario)");
}

TEST(Session, ADriveDeliversEachEventInTheFirstFrameThatReachesIt) {
	std::ostringstream err;
	sim::DriveOptions o;
	o.session = Flat();
	o.dts = {0.01, 0.03};  // frames end at 0.01 0.04 0.05 0.08 0.09 0.12
	o.duration = 0.1;
	std::istringstream text("0.04 tap NUMPAD8\n0.04 key ADD down\n0.05 rudder -1\n0.08 tap J\n0.2 tap 1\n0.2 tap 2\n");
	sim::Session session(o.session, err);
	sim::Drive drive(session, sim::ParseDriveScript(text, "s.txt"), o);
	EXPECT_EQ(drive.duration(), 0.1);
	host::Simulation &sim = session.simulation();
	Vessel &rover = *sim.focus();
	const double lat0 = rover.state.surf_lat;
	std::vector<std::string> gear;
	while (drive.Running()) {
		drive.Next();
		gear.push_back(Hud(rover).find("Forward Gear") != std::string::npos ? "F" : "N");
	}
	// The frame that ends at 0.04 s, within rounding, reaches the events of that time.
	EXPECT_EQ(gear, (std::vector<std::string>{"N", "F", "F", "F", "F", "F"}));
	EXPECT_EQ(rover.rudderTarget, -1.0);
	std::vector<sim::ScriptEvent> late = drive.Undelivered();
	ASSERT_EQ(late.size(), 2u);
	EXPECT_EQ(late[0].line, 5);
	// Straight north (the rudder's lag keeps it from steering yet), the Moon's radius a radian.
	EXPECT_GT(drive.distance(), 0.0);
	EXPECT_NEAR(drive.distance(), 1.738e6 * (rover.state.surf_lat - lat0), 1e-9);

	// Without a duration: 5 s after the last event; a focus on no vessel is refused.
	o.duration.reset();
	std::istringstream focus("1 focus Nobody\n");
	EXPECT_THROW({ sim::Drive d(session, sim::ParseDriveScript(focus, "f.txt"), o); }, host::HostError);
	std::istringstream one("2.5 tap J\n");
	EXPECT_EQ(sim::Drive(session, sim::ParseDriveScript(one, "o.txt"), o).duration(), 7.5);
}
