// The rover's ground motion through the host: travel, steering, swivel bearing, coasting,
// terrain pitch and the landed attitude it imposes.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

#include "RoverWorld.h"

using testing_support::RoverWorld;

namespace {

const double kMoonRadius = 1.738e6;

void EngageForward(Sendra2016 &r) {
	r.gearForward = 1;
	r.gearNeutral = 0;
	r.gearReverse = 0;
	r.neutralFrom = 0;
}

void EngageReverse(Sendra2016 &r) {
	r.gearForward = 0;
	r.gearNeutral = 0;
	r.gearReverse = 1;
	r.neutralFrom = 0;
}

// Holds the rudder at level from the next post-step on, and the steering input at once.
void HoldRudder(RoverWorld &world, Vessel *v, double level) {
	world.sim.SetRudderLevel(v, level);
	RoverWorld::Rover(v).steerInput = static_cast<int>(level);
}

// Puts v where change makes its place, as the host holds it.
template <typename Change>
void Move(RoverWorld &world, Vessel *v, Change change) {
	host::VesselPlace p = host::VesselView(v).place();
	change(p);
	world.sim.SetPlace(v, p);
}

std::vector<std::string> FrameJournal(RoverWorld &world, Vessel *v) {
	world.sim.ClearJournal(v);
	world.Step();
	return host::VesselView(v).journal();
}

TEST(SurfaceMotion, NeutralStaysPutButStillSamplesTheTerrainAndImposesItsState) {
	RoverWorld world(host::Terrain::Hills());
	Vessel *v = world.AddRover("R", 23.47, 0.67, 0);
	double lng = host::VesselView(v).place().lng, lat = host::VesselView(v).place().lat, hdg = host::VesselView(v).place().hdg;
	std::vector<std::string> journal = FrameJournal(world, v);
	EXPECT_EQ(host::VesselView(v).place().lng, lng);
	EXPECT_EQ(host::VesselView(v).place().lat, lat);
	EXPECT_EQ(host::VesselView(v).place().hdg, hdg);
	EXPECT_EQ(host::VesselView(v).place().alt, 2.166);
	EXPECT_EQ(RoverWorld::Rover(v).vs.flag, 0u);  // no propellant, thruster or dock lists asked for
	Move(world, v, [](host::VesselPlace &p) { p.alt = 5.0; });  // the host had the rover elsewhere: the step
	                                                          // puts it back on its wheels
	world.Step();
	EXPECT_EQ(host::VesselView(v).place().alt, 2.166);
	EXPECT_NE(RoverWorld::Rover(v).terrainPitch, 0.0);  // the hills are sampled
	// The pre-step's host calls, in order: no oapiGetSimStep since nothing travels.
	std::vector<std::string> preStep(journal.begin(), journal.begin() + 12);
	EXPECT_EQ(preStep, (std::vector<std::string>{"GetSurfaceRef", "oapiGetSize", "GetStatusEx", "GetSurfaceRef",
	                                             "oapiSurfaceElevation", "GetSurfaceRef", "oapiSurfaceElevation",
	                                             "GetSurfaceRef", "oapiSurfaceElevation", "DefSetStateEx",
	                                             "GetControlSurfaceLevel", "SetAnimation"}));
}

TEST(SurfaceMotion, ForwardDriveCoversSpeedTimesTimeOfLatitude) {
	RoverWorld world;
	Vessel *v = world.AddRover("R");
	Sendra2016 &r = RoverWorld::Rover(v);
	EngageForward(r);
	r.groundSpeed = 2.78;
	world.Step(0.1);
	// One 0.1 s step at 2.78 m/s: 0.278 m of ground northward, no longitude.
	EXPECT_NEAR(r.latStepDeg, 0.278 / (kMoonRadius * 2.0 * PI / 360), 1e-18);
	EXPECT_NEAR(host::VesselView(v).place().lat * kMoonRadius, 0.278, 1e-9);
	EXPECT_EQ(host::VesselView(v).place().lng, 0.0);
	// The speed stays (no keys), so N steps cover N v dt.
	world.Step(0.1, 999);
	EXPECT_NEAR(host::VesselView(v).place().lat * kMoonRadius, 1000 * 2.78 * 0.1, 1e-6);
	EXPECT_EQ(host::VesselView(v).place().lng, 0.0);
}

TEST(SurfaceMotion, SteeringTurnsTheHeadingByAGrowingAmountAndDeflectsTheWheels) {
	RoverWorld world;
	Vessel *v = world.AddRover("R");
	Sendra2016 &r = RoverWorld::Rover(v);
	EngageForward(r);  // at speed 0: the rover turns on the spot
	HoldRudder(world, v, -1.0);
	double previous = 0;
	for (int n = 1; n <= 100; ++n) {
		world.Step();
		double turned = 2 * PI - host::VesselView(v).place().hdg;  // wrapped below 0 on the first step
		EXPECT_NEAR(turned - previous, n * 1e-5, 1e-12) << "step " << n;
		EXPECT_DOUBLE_EQ(r.steerDeflection, std::min(0.005 * n, 0.125));
		previous = turned;
	}
	EXPECT_NEAR(previous, 1e-5 * 100 * 101 / 2, 1e-12);  // 0.0505 rad after 100 steps
	EXPECT_EQ(host::VesselView(v).place().lat, 0.0);

	// Letting go: the turn rate resets at once, the wheels return 0.005 per step and snap.
	HoldRudder(world, v, 0.0);
	double heading = host::VesselView(v).place().hdg;
	world.Step();
	EXPECT_EQ(r.turnRate, 0.0);
	EXPECT_EQ(host::VesselView(v).place().hdg, heading);
	EXPECT_DOUBLE_EQ(r.steerDeflection, 0.12);
	world.Step(0.02, 23);
	EXPECT_NEAR(r.steerDeflection, 0.005, 1e-12);
	world.Step();
	EXPECT_EQ(r.steerDeflection, 0.0);
}

TEST(SurfaceMotion, ReverseTurnsTheOtherWayForTheSameInput) {
	RoverWorld world;
	Vessel *v = world.AddRover("R", 0, 0, 90);
	Sendra2016 &r = RoverWorld::Rover(v);
	EngageReverse(r);
	HoldRudder(world, v, 1.0);
	world.Step(0.02, 3);
	EXPECT_NEAR(host::VesselView(v).place().hdg, PI / 2 - 6e-5, 1e-12);  // decreases, as forward with -1
	EXPECT_DOUBLE_EQ(r.steerDeflection, 0.015);
	HoldRudder(world, v, -1.0);
	world.Step();
	EXPECT_DOUBLE_EQ(r.steerDeflection, 0.01);
	world.Step(0.02, 4);  // on through straight to the other side
	EXPECT_NEAR(r.steerDeflection, -0.01, 1e-15);
	HoldRudder(world, v, 0.0);  // and back from there
	world.Step();
	EXPECT_NEAR(r.steerDeflection, -0.005, 1e-15);
	world.Step();
	EXPECT_NEAR(r.steerDeflection, 0.0, 1e-15);
}

TEST(SurfaceMotion, HeadingWrapTestsAreStrict) {
	RoverWorld world;
	// Turning left onto exactly 0 stays 0.
	Vessel *left = world.AddRover("L", 0, 0, 1e-5 * DEG);
	Move(world, left, [](host::VesselPlace &p) { p.hdg = 1e-5; });
	EngageForward(RoverWorld::Rover(left));
	HoldRudder(world, left, -1.0);
	// Turning right onto exactly 2 pi stays 2 pi.
	double start = 2 * PI - 1e-5;
	while (start + 1e-5 != 2 * PI)
		start = std::nextafter(start, start + 1e-5 + 2 * PI > 2 * PI ? 0.0 : 10.0);
	Vessel *right = world.AddRover("Rt", 1, 0, 0);
	Move(world, right, [&](host::VesselPlace &p) { p.hdg = start; });
	EngageForward(RoverWorld::Rover(right));
	HoldRudder(world, right, 1.0);
	// Turning right past 2 pi comes round to just above 0.
	Vessel *over = world.AddRover("Over", 2, 0, 0);
	Move(world, over, [](host::VesselPlace &p) { p.hdg = 2 * PI - 0.25e-5; });
	EngageForward(RoverWorld::Rover(over));
	HoldRudder(world, over, 1.0);
	world.Step();
	EXPECT_EQ(host::VesselView(left).place().hdg, 0.0);
	EXPECT_EQ(host::VesselView(right).place().hdg, 2 * PI);
	EXPECT_NEAR(host::VesselView(over).place().hdg, 0.75e-5, 1e-12);
}

TEST(SurfaceMotion, SwivelledWheelsDriveAlongTheSwivelBearing) {
	RoverWorld world;
	Vessel *v = world.AddRover("R");
	Sendra2016 &r = RoverWorld::Rover(v);
	r.turnProc = 0.25;  // due east whatever the heading
	EngageForward(r);
	r.groundSpeed = 1.0;
	world.Step(1.0);
	EXPECT_NEAR(host::VesselView(v).place().lng * kMoonRadius, 1.0, 1e-9);
	EXPECT_NEAR(host::VesselView(v).place().lat * kMoonRadius, 0.0, 1e-12);
	Move(world, v, [](host::VesselPlace &p) { p.hdg = 2.0; });  // the heading does not matter in swivel mode
	world.Step(1.0);
	EXPECT_NEAR(host::VesselView(v).place().lng * kMoonRadius, 2.0, 1e-9);
	EngageReverse(r);
	world.Step(1.0, 3);
	EXPECT_NEAR(host::VesselView(v).place().lng * kMoonRadius, -1.0, 1e-9);  // west
}

TEST(SurfaceMotion, CoastingKeepsTheDirectionOfTheGearLeftWithoutSteering) {
	RoverWorld world;
	Vessel *v = world.AddRover("R");
	Sendra2016 &r = RoverWorld::Rover(v);
	EngageForward(r);
	r.groundSpeed = 1.0;
	world.Step(0.1, 10);
	double lat = host::VesselView(v).place().lat;
	// Neutral out of forward: onward north at the decaying speed, rudder ignored.
	r.gearForward = 0;
	r.gearNeutral = 1;
	r.neutralFrom = 1;
	HoldRudder(world, v, 1.0);
	double heading = host::VesselView(v).place().hdg;
	world.Step(0.1);
	EXPECT_NEAR((host::VesselView(v).place().lat - lat) * kMoonRadius, 0.1, 1e-9);  // this step at 1.0
	world.Step(0.1);
	EXPECT_NEAR((host::VesselView(v).place().lat - lat) * kMoonRadius, 0.1 + 0.099, 1e-9);  // decayed by 0.01
	EXPECT_EQ(host::VesselView(v).place().hdg, heading);
	EXPECT_EQ(r.steerDeflection, 0.0);
	// Out of reverse: backward.
	r.neutralFrom = 2;
	r.groundSpeed = 1.0;
	lat = host::VesselView(v).place().lat;
	world.Step(0.1);
	EXPECT_NEAR((host::VesselView(v).place().lat - lat) * kMoonRadius, -0.1, 1e-9);
}

TEST(SurfaceMotion, PitchFollowsTheTerrainBetweenTheProbes) {
	{
		RoverWorld world;
		Vessel *v = world.AddRover("R");
		world.Step();
		EXPECT_EQ(RoverWorld::Rover(v).terrainPitch, 0.0);
	}
	// A slope rising 0.1 m per metre northward: the front probe is 0.4 m above the rear one.
	RoverWorld world(host::Terrain::Custom([](const host::Body &b, double, double lat) { return 0.1 * lat * b.radius; }));
	Vessel *v = world.AddRover("R");
	world.Step();
	EXPECT_NEAR(RoverWorld::Rover(v).terrainPitch, std::atan2(0.4, 4.0), 1e-9);
	EXPECT_NEAR(RoverWorld::Rover(v).terrainPitch, 0.0997, 1e-4);
}

// A plane through the rover's position tilted by pitch along heading hdg.
host::Terrain Incline(double lng0, double lat0, double hdg, double pitch) {
	return host::Terrain::Custom([=](const host::Body &b, double lng, double lat) {
		return std::tan(pitch) * b.radius * ((lat - lat0) * std::cos(hdg) + (lng - lng0) * std::sin(hdg));
	});
}

// The attitude angles the rover sets for where it stands: heading north and east on level
// ground where the prime meridian crosses the equator, and on a 0.05 rad slope away from both.
TEST(SurfaceMotion, AttitudeAnglesFollowThePlaceTheHeadingAndTheSlopesPitch) {
	struct Case {
		double lng, lat, hdg, pitch;
		VECTOR3 arot;
	};
	const Case cases[] = {
		{0, 0, 0, 0, _V(PI / 2, 0, PI / 2)},
		{0, 0, PI / 2, 0, _V(0, 0, PI / 2)},
		{0.5, 0.3, 1.0, 0.05, _V(0.659507, 0.524714, 1.617962)},
	};
	for (const Case &c : cases) {
		RoverWorld world(Incline(c.lng, c.lat, c.hdg, c.pitch));
		Vessel *v = world.AddRover("R", c.lng * DEG, c.lat * DEG, c.hdg * DEG);
		Move(world, v, [&](host::VesselPlace &p) { p.lng = c.lng, p.lat = c.lat, p.hdg = c.hdg; });
		world.Step();
		EXPECT_NEAR(RoverWorld::Rover(v).terrainPitch, c.pitch, 1e-9);
		EXPECT_NEAR(host::VesselView(v).place().arot.x, c.arot.x, 1e-6) << c.lng << " " << c.lat << " " << c.hdg;
		EXPECT_NEAR(host::VesselView(v).place().arot.y, c.arot.y, 1e-6);
		EXPECT_NEAR(host::VesselView(v).place().arot.z, c.arot.z, 1e-6);
	}
}

TEST(SurfaceMotion, LongitudeStepsAreNotWidenedAtHighLatitude) {
	RoverWorld world;
	Vessel *v = world.AddRover("R", 0, 80, 90);
	Sendra2016 &r = RoverWorld::Rover(v);
	EngageForward(r);
	r.groundSpeed = 2.0;
	double lat = host::VesselView(v).place().lat;
	world.Step(1.0);
	EXPECT_NEAR(host::VesselView(v).place().lng * kMoonRadius, 2.0, 1e-9);  // as many degrees as a northward step
	EXPECT_NEAR(host::VesselView(v).place().lat, lat, 1e-15);
}

// A valley running east-west, rising 0.01 y^2 to the north and south and 0.05 x^2 to the
// east and west of the rover's start (x, y metres east and north).
host::Terrain Valley() {
	return host::Terrain::Custom([](const host::Body &b, double lng, double lat) {
		double x = lng * b.radius, y = lat * b.radius;
		return 0.01 * y * y + 0.05 * x * x;
	});
}

TEST(SurfaceMotion, PitchIsSampledOnTheCentreLineWhereTheStepEnds) {
	RoverWorld world(Valley());
	Vessel *v = world.AddRover("R");
	Sendra2016 &r = RoverWorld::Rover(v);
	world.Step(1.0);
	EXPECT_EQ(r.terrainPitch, 0.0);  // at the bottom, nothing across the track counts
	EngageForward(r);
	r.groundSpeed = 2.0;
	world.Step(1.0);
	// 2 m north: the probes at 4 m and 0 m differ by 0.16 m over their 4 m.
	EXPECT_NEAR(host::VesselView(v).place().lat * kMoonRadius, 2.0, 1e-9);
	EXPECT_NEAR(r.terrainPitch, std::atan2(0.16, 4.0), 1e-9);
	EXPECT_EQ(r.surfacePos.y, host::VesselView(v).place().lat);
}

TEST(SurfaceMotion, TravelFollowsTheHeadingThatThisStepsSteeringLeft) {
	for (int sense : {+1, -1}) {
		RoverWorld world;
		Vessel *v = world.AddRover("R");
		Sendra2016 &r = RoverWorld::Rover(v);
		sense > 0 ? EngageForward(r) : EngageReverse(r);
		r.groundSpeed = 1.0;
		HoldRudder(world, v, -sense);  // turns the heading left, to 2 pi - 1e-5, in either gear
		world.Step(1.0);
		EXPECT_DOUBLE_EQ(host::VesselView(v).place().hdg, 2 * PI - 1e-5);
		// Ahead in forward gear is a little west of north, back in reverse a little east.
		EXPECT_NEAR(host::VesselView(v).place().lng * kMoonRadius, -sense * std::sin(1e-5), 1e-15) << sense;
		EXPECT_NEAR(host::VesselView(v).place().lat * kMoonRadius, sense * std::cos(1e-5), 1e-9) << sense;
	}
}

}  // namespace
