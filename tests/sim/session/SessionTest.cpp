// Sessions and drives through the library: a frame's input around the frame, a script's events
// each in the first frame that reaches it, with those beyond the end left over, and the same
// drive with the journal kept or only counted.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <sstream>
#include <utility>

#include "OrbiterAPI.h"
#include "SimProgram.h"
#include "sendra_host/HostError.h"
#include "sendra_host/ScenarioIO.h"
#include "sendra_host/Simulation.h"
#include "sendra_host/VesselView.h"
#include "session/Defaults.h"
#include "session/Drive.h"
#include "session/Progress.h"

namespace {

sim::SessionOptions Flat() {
	sim::SessionOptions o;
	o.root = SENDRA_ORBITER_ROOT;
	o.terrain = "flat";
	return o;
}

std::string Hud(const host::VesselView &v) {
	std::string s;
	for (const host::HudText &t : v.hud().texts)
		s += t.text + "|";
	return s;
}

}  // namespace

TEST(Session, AFramesKeysComeBeforeItAndItsRudderTargetAfterIt) {
	std::ostringstream err;
	sim::Session session(Flat(), err);
	host::Simulation &sim = session.simulation();
	const host::VesselView rover(sim.focus());
	bool atEnd = false;
	session.Step(0.02, sim::FrameInput{{{OAPI_KEY_NUMPAD8, true}}, 1.0}, [&] {
		atEnd = true;
		// The keys reached the module in this frame; the rudder has not moved yet.
		EXPECT_NE(Hud(rover).find("Forward Gear"), std::string::npos) << Hud(rover);
		EXPECT_EQ(rover.rudder().level, 0.0);
	});
	EXPECT_TRUE(atEnd);
	EXPECT_EQ(rover.rudder().target, 1.0);
	EXPECT_TRUE(rover.journal().empty());  // read by nothing while stepping
	session.Step(0.02, sim::FrameInput{{{OAPI_KEY_NUMPAD8, false}}, std::nullopt});
	EXPECT_NEAR(rover.rudder().level, 0.02, 1e-12);  // one frame of the rudder's lag
	EXPECT_EQ(rover.rudder().target, 1.0);           // kept when a frame sets none
	EXPECT_EQ(err.str(), "");
	EXPECT_EQ(session.label(), "(built-in scenario)");
}

TEST(Session, ADriveDeliversEachEventInTheFirstFrameThatReachesIt) {
	std::ostringstream err;
	sim::DriveOptions o;
	o.session = Flat();
	o.dts = {0.01, 0.03, 0.01};  // frames end at 0.01 0.04 0.05 0.06 0.09 0.10
	o.duration = 0.1;
	std::istringstream text("0.04 tap NUMPAD8\n0.04 key ADD down\n0.05 rudder -1\n0.08 tap J\n0.2 tap 1\n0.2 tap 2\n");
	sim::Session session(o.session, err);
	sim::Drive drive(session, sim::ParseDriveScript(text, "s.txt"), o);
	EXPECT_EQ(drive.duration(), 0.1);
	host::Simulation &sim = session.simulation();
	const host::VesselView rover(sim.focus());
	const double lat0 = rover.place().lat;
	std::vector<std::string> gear;
	while (drive.Running()) {
		drive.Next();
		gear.push_back(Hud(rover).find("Forward Gear") != std::string::npos ? "F" : "N");
	}
	// The frame that ends at 0.04 s, within rounding, reaches the events of that time.
	EXPECT_EQ(gear, (std::vector<std::string>{"N", "F", "F", "F", "F", "F"}));
	EXPECT_EQ(rover.rudder().target, -1.0);
	std::vector<sim::ScriptEvent> late = drive.Undelivered();
	ASSERT_EQ(late.size(), 2u);
	EXPECT_EQ(late[0].line, 5);
	// Straight north (the rudder's lag keeps it from steering yet), the Moon's radius a radian.
	EXPECT_GT(drive.distance(), 0.0);
	EXPECT_NEAR(drive.distance(), 1.738e6 * (rover.place().lat - lat0), 1e-9);

	// Without a duration: 5 s after the last event; a focus on no vessel is refused.
	o.duration.reset();
	std::istringstream focus("1 focus Nobody\n");
	EXPECT_THROW({ sim::Drive d(session, sim::ParseDriveScript(focus, "f.txt"), o); }, host::HostError);
	std::istringstream one("2.5 tap J\n");
	EXPECT_EQ(sim::Drive(session, sim::ParseDriveScript(one, "o.txt"), o).duration(), 7.5);
}

namespace {

// Everything a frame leaves of the vessels that keeping the journal must not change, as exact
// values: each vessel's landed state, rudder, animation states, lights and beacons, and the
// pose of every group of every mesh its visual shows; the focus vessel's HUD. With names, the
// name of each value, for the message of a difference.
std::vector<double> Snapshot(host::Simulation &sim, std::vector<std::string> *names = nullptr) {
	std::vector<double> out;
	const Vessel *vessel = nullptr;
	auto put = [&](const char *what, size_t index, std::initializer_list<double> values) {
		out.insert(out.end(), values);
		if (names)
			names->resize(out.size(), host::VesselView(vessel).name() + " " + what + " " + std::to_string(index));
	};
	for (const auto &owned : sim.vessels()) {
		const host::VesselView v(vessel = owned.get());
		const host::VesselPlace s = v.place();
		put("state", 0, {s.lng, s.lat, s.hdg, double(s.landed), s.alt, s.arot.x, s.arot.y, s.arot.z, s.pos.x, s.pos.y,
		                 s.pos.z, s.vel.x, s.vel.y, s.vel.z});
		put("rudder", 0, {v.rudder().target, v.rudder().level, double(v.controlSurfaceMode())});
		for (size_t a = 0; a < v.animationStates().size(); ++a)
			put("animation", a, {v.animationStates()[a]});
		for (size_t i = 0; i < v.lightCount(); ++i) {
			const host::Light l = v.light(i);
			put("light", i, {double(l.on), l.emitter->GetIntensity(), l.pos.x, l.pos.y, l.pos.z, l.dir.x, l.dir.y, l.dir.z});
		}
		for (size_t i = 0; i < v.beaconCount(); ++i)
			put("beacon", i, {double(v.beacon(i).on), v.beacon(i).pos->x, v.beacon(i).pos->z});
		for (size_t i = 0; v.focus() && i < v.hud().texts.size(); ++i) {
			const host::HudText &t = v.hud().texts[i];
			put("HUD text", i, {double(t.x), double(t.y), double(t.colour), double(std::hash<std::string>()(t.text))});
		}
		put("visual", 0, {double(v.visual() != nullptr)});
		for (size_t m = 0, n = 0; m < v.meshes().size(); ++m)
			for (const host::Affine &a : v.GroupPoses(UINT(m))) {
				const double *r = &a.m.m11, *k = &a.normals.m11;
				put("group pose", n++, {r[0], r[1], r[2], r[3], r[4], r[5], r[6], r[7], r[8], a.t.x, a.t.y, a.t.z,
				                        k[0], k[1], k[2], k[3], k[4], k[5], k[6], k[7], k[8]});
			}
	}
	return out;
}

uint64_t Fingerprint(const std::vector<double> &values) {
	uint64_t h = 14695981039346656037ull;  // FNV-1a over the values' bits
	for (double x : values) {
		uint64_t bits;
		std::memcpy(&bits, &x, sizeof bits);
		h = (h ^ bits) * 1099511628211ull;
	}
	return h;
}

// Two rovers on the hills, the first driven through every control, then the second: atEnd
// after every frame with the frame's number, until it returns false.
void DriveTwoRovers(bool journal, const std::function<bool(int, host::Simulation &)> &atEnd) {
	std::ostringstream err;
	sim::DriveOptions o;
	o.session.root = SENDRA_ORBITER_ROOT;
	o.session.scenario = std::string(SENDRA_ORBITER_ROOT) + "/Scenarios/Sendra2016/Two rovers.scn";
	o.session.journal = journal;
	o.dts = {0.05, 0.1};
	std::istringstream script(std::string(sim::kDefaultScript) + "122 focus Sendra-2\n123 tap 1\n124 tap 7\n");
	sim::Session session(o.session, err);
	sim::Drive drive(session, sim::ParseDriveScript(script, "s.txt"), o);
	// The loading's calls are kept for the second rover too, or only counted.
	ASSERT_EQ(!host::VesselView(session.simulation().vessels().at(1)).journal().empty(), journal);
	for (int frame = 0; drive.Running(); ++frame) {
		drive.Next();
		if (!atEnd(frame, session.simulation()))
			return;
	}
	EXPECT_EQ(host::VesselView(session.simulation().focus()).name(), "Sendra-2");
	EXPECT_EQ(err.str(), "");
}

}  // namespace

// The host takes a shorter way through a frame's calls when it keeps no journal; both ways
// must leave the same simulation: every state and pose alike after every frame.
TEST(Session, KeepingTheJournalOrNotLeavesEveryStateAndPoseAlike) {
	std::vector<uint64_t> kept;
	DriveTwoRovers(true, [&](int, host::Simulation &sim) {
		kept.push_back(Fingerprint(Snapshot(sim)));
		return true;
	});
	EXPECT_GT(kept.size(), 1500u);
	int differs = -1, frames = 0;
	std::vector<double> counted;
	DriveTwoRovers(false, [&](int frame, host::Simulation &sim) {
		frames = frame + 1;
		counted = Snapshot(sim);
		differs = size_t(frame) < kept.size() && Fingerprint(counted) == kept[size_t(frame)] ? -1 : frame;
		return differs < 0;
	});
	if (differs < 0) {
		EXPECT_EQ(size_t(frames), kept.size());
		return;
	}
	// Where the first frame that differs differs, from the drive with the journal again.
	DriveTwoRovers(true, [&](int frame, host::Simulation &sim) {
		if (frame < differs)
			return true;
		std::vector<std::string> names;
		std::vector<double> with = Snapshot(sim, &names);
		size_t i = 0;
		while (i < with.size() && i < counted.size() && std::memcmp(&with[i], &counted[i], sizeof(double)) == 0)
			++i;
		ADD_FAILURE() << "frame " << frame << " at " << sim.simt() << " s: "
		              << (i < names.size() ? names[i] : "the number of values") << ": "
		              << (i < with.size() ? with[i] : 0.0) << " with the journal, "
		              << (i < counted.size() ? counted[i] : 0.0) << " without";
		return false;
	});
}

TEST(Progress, TheBarSaysTheShareDoneHowFarAlongAndTheTimeLeftOnOneLineItClears) {
	const std::pair<double, const char *> left[] = {
		{3, "a few seconds"},  {42, "about 40 s"},         {89, "about 90 s"},       {95, "about 2 min"},
		{3540, "about 59 min"}, {3600, "about 1 h 00 min"}, {7830, "about 2 h 11 min"}, {200000, "about 2 days"},
		{1e12, "ages"}};
	for (const auto &[seconds, text] : left)
		EXPECT_EQ(sim::DurationText(seconds), text) << seconds;

	std::ostringstream err;
	{
		sim::ProgressBar bar(err, true, 60, sim::ProgressBar::SimulatedTime(60));
		bar.Draw(15);
		const std::string line = err.str();
		EXPECT_EQ(line.rfind("\r[##########                              ]  25%  t=15.0 of 60.0 s  ", 0), 0u) << line;
		EXPECT_NE(line.find(" left\033[K"), std::string::npos) << line;
		EXPECT_TRUE(bar.shown());
	}
	EXPECT_EQ(err.str().substr(err.str().size() - 4), "\r\033[K") << "taken off its line at the end";
	// Done, or not begun: no time left to say.
	err.str("");
	sim::ProgressBar bar(err, true, 4, [](double made) { return std::to_string(int(made)) + " of 4 vessels"; });
	bar.Draw(4);
	EXPECT_EQ(err.str(), "\r[########################################] 100%  4 of 4 vessels\033[K");
	// Disabled, as when err is no terminal or the command is quiet: nothing, whatever is asked.
	std::ostringstream quiet;
	sim::ProgressBar off(quiet, false, 10, sim::ProgressBar::SimulatedTime(10));
	for (uint64_t step = 0; step < 1000; ++step)
		off.Update(step, 1);
	EXPECT_EQ(quiet.str(), "");
}

TEST(Progress, ALoadTellsHowManyOfItsVesselsAreMadeAfterEach) {
	host::SimOptions so;
	so.root = SENDRA_ORBITER_ROOT;
	host::Simulation sim(so);
	std::vector<std::pair<size_t, size_t>> told;
	host::LoadScenario(sim, host::ParseScenario(scenes::RoverScenario(scenes::RoverGrid(3, 10)), "grid.scn"),
	                   [&](size_t made, size_t total) { told.emplace_back(made, total); });
	EXPECT_EQ(told, (std::vector<std::pair<size_t, size_t>>{{1, 3}, {2, 3}, {3, 3}}));
}
