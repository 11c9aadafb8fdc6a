// What the rover declares to the host at creation, its camera stations and its reaction to
// losing the input focus.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>

#include "RoverWorld.h"
#include "sendra_host/VesselView.h"

using testing_support::JournalFrom;
using testing_support::ModuleVariable;
using testing_support::RoverWorld;

namespace {

void ExpectVector(const VECTOR3 &v, double x, double y, double z) {
	EXPECT_DOUBLE_EQ(v.x, x);
	EXPECT_DOUBLE_EQ(v.y, y);
	EXPECT_DOUBLE_EQ(v.z, z);
}

TEST(ClassCaps, DeclaresTheRoverInOrderWithItsValues) {
	RoverWorld world;
	Vessel *v = world.AddRover("R");
	std::vector<std::string> calls = JournalFrom(v, "SetSize");
	std::vector<std::string> expected = {
		"SetSize", "SetEmptyMass", "SetCW", "SetWingAspect", "SetWingEffectiveness", "SetCrossSections",
		"SetRotDrag", "GetFlightModel", "SetPitchMomentScale", "SetBankMomentScale", "SetPMI", "SetTrimScale",
		"SetCameraOffset", "SetTouchdownPoints", "oapiLoadMeshGlobal", "AddMesh", "SetMeshVisibilityMode"};
	for (int i = 0; i < 4; ++i)
		expected.push_back("AddSpotLight");
	for (int i = 0; i < 4; ++i)
		expected.push_back("LightEmitter::Activate");
	for (int i = 0; i < 8; ++i)
		expected.push_back("AddBeacon");
	ASSERT_GE(calls.size(), expected.size());
	EXPECT_EQ(std::vector<std::string>(calls.begin(), calls.begin() + expected.size()), expected);

	EXPECT_EQ(host::VesselView(v).declared().size, 6.08);
	EXPECT_EQ(host::VesselView(v).declared().emptyMass, 2721000.0);  // not 2721
	EXPECT_EQ(host::VesselView(v).declared().cw, (std::array<double, 4>{0.9, 0.9, 2.0, 1.4}));
	EXPECT_EQ(host::VesselView(v).declared().wingAspect, 0.1);
	EXPECT_EQ(host::VesselView(v).declared().wingEffectiveness, 0.1);
	ExpectVector(*host::VesselView(v).declared().crossSections, 232.84, 1220.32, 166.36);
	ExpectVector(*host::VesselView(v).declared().rotDrag, 0.1, 0.1, 0.1);
	EXPECT_EQ(host::VesselView(v).declared().pitchMomentScale, 1e-4);
	EXPECT_EQ(host::VesselView(v).declared().bankMomentScale, 1e-4);
	ExpectVector(*host::VesselView(v).declared().pmi, 163.54, 208.04, 76.03);
	EXPECT_EQ(host::VesselView(v).declared().trimScale, 0.05);
	ExpectVector(*host::VesselView(v).declared().cameraOffset, 0, 0.7, 3.121);
	EXPECT_FALSE(host::VesselView(v).declared().cameraDefaultDirection);

	// One mesh, without offset, seen from outside and from the cockpit.
	ASSERT_EQ(host::VesselView(v).meshes().size(), 1u);
	EXPECT_EQ(host::VesselView(v).meshes()[0].name, "Sendra9");
	EXPECT_FALSE(host::VesselView(v).meshes()[0].offset);
	EXPECT_EQ(host::VesselView(v).meshes()[0].visibility, MESHVIS_ALWAYS);
}

TEST(ClassCaps, TouchdownTriangleSitsAtRideHeight) {
	RoverWorld world;
	Vessel *v = world.AddRover("R");
	const Sendra2016 &r = RoverWorld::Rover(v);
	// The triangle's circumradius [m] and the ride height.
	const double l = 3.0, h = 2.166;
	EXPECT_EQ(r.footprintRadius, l);
	EXPECT_EQ(r.rideHeight, h);
	ASSERT_EQ(host::VesselView(v).declared().touchdownPoints.size(), 4u);
	const auto &td = host::VesselView(v).declared().touchdownPoints;
	ExpectVector(td[0].pos, std::cos(30 * RAD) * l, -h, -std::sin(30 * RAD) * l);
	ExpectVector(td[1].pos, 0, -h, l);
	ExpectVector(td[2].pos, -std::cos(30 * RAD) * l, -h, -std::sin(30 * RAD) * l);
	ExpectVector(td[3].pos, 0, 15 * l, 0);
	for (const TOUCHDOWNVTX &p : td) {
		EXPECT_EQ(p.stiffness, 17789081.7);
		EXPECT_DOUBLE_EQ(p.damping, 0.9 * 2 * std::sqrt(2721000 * 17789081.7));
		EXPECT_EQ(p.mu, 3.0);
		EXPECT_EQ(p.mu_lng, 3.0);
	}
	// Made at rest, the rover stands where the host puts its origin: on the plane of its
	// first three points, at the ride height above the ground.
	EXPECT_DOUBLE_EQ(host::VesselView(v).place().alt, 2.166);
}

TEST(ClassCaps, FlightModelZeroSetsNoMomentScales) {
	host::SimOptions o = testing_support::WorldOptions();
	o.flightModel = 0;
	RoverWorld world(o);
	Vessel *v = world.AddRover("R");
	EXPECT_FALSE(host::VesselView(v).declared().pitchMomentScale);
	EXPECT_FALSE(host::VesselView(v).declared().bankMomentScale);
	std::vector<std::string> calls = JournalFrom(v, "GetFlightModel");
	ASSERT_GE(calls.size(), 2u);
	EXPECT_EQ(calls[1], "SetPMI");
}

TEST(ClassCaps, LightsAndBeaconsStartOffAndFollowTheSwitchFromTheFirstStep) {
	RoverWorld world;
	Vessel *v = world.AddRover("R");
	Sendra2016 &r = RoverWorld::Rover(v);
	const host::VesselView view(v);
	ASSERT_EQ(view.lightCount(), 4u);
	ASSERT_EQ(view.beaconCount(), 8u);

	const double positions[4][3] = {{0, 1.7, 2.2}, {1.8, 1.563817, 0.471}, {-1.8, 1.563817, 0.471}, {0, 1.7, 2.2}};
	const double directions[4][3] = {{0, 0, 1}, {0.7, -0.7, 0}, {-0.7, -0.7, 0}, {0, 0, -1}};
	for (int i = 0; i < 4; ++i) {
		const host::Light info = view.light(i);
		EXPECT_EQ(r.spotLights[i], info.emitter);
		EXPECT_EQ(info.type, LightEmitter::LT_SPOT);
		EXPECT_FALSE(info.on);
		ExpectVector(info.pos, positions[i][0], positions[i][1], positions[i][2]);
		ExpectVector(info.dir, directions[i][0], directions[i][1], directions[i][2]);  // not normalised
		EXPECT_EQ(info.range, 150.0);
		EXPECT_EQ(info.att[0], 0.001);
		EXPECT_EQ(info.att[1], 0.0);
		EXPECT_EQ(info.att[2], 0.001);
		EXPECT_NEAR(info.umbra, 0.4363323, 1e-7);
		EXPECT_NEAR(info.penumbra, 1.0471976, 1e-7);
		auto rgba = [](const COLOUR4 &c) { return std::array<float, 4>{c.r, c.g, c.b, c.a}; };
		EXPECT_EQ(rgba(info.diffuse), (std::array<float, 4>{1, 1, 1, 0}));
		EXPECT_EQ(rgba(info.specular), (std::array<float, 4>{1, 1, 1, 0}));
		EXPECT_EQ(rgba(info.ambient), (std::array<float, 4>{0, 0, 0, 0}));
	}

	VECTOR3 *colours = ModuleVariable<VECTOR3>("BEACON_COLOURS");
	ASSERT_NE(colours, nullptr);
	const double beaconPos[8][3] = {{-0.824, 1.554, 1.969}, {0.832, 1.554, 1.969}, {1.86, 1.39, 0.187},
	                                {1.86, 1.39, 0.815},    {-1.86, 1.39, 0.187}, {-1.86, 1.39, 0.815},
	                                {-0.331, 1.545, -0.836}, {0.337, 1.545, -0.836}};
	for (int k = 0; k < 8; ++k) {
		const BEACONLIGHTSPEC *b = view.beacon(k).spec;
		EXPECT_EQ(b, &r.beacons[k]);  // the host keeps the rover's own records
		EXPECT_EQ(b->pos, &r.beaconPos[k]);
		EXPECT_EQ(b->col, &colours[k]);
		ExpectVector(*b->pos, beaconPos[k][0], beaconPos[k][1], beaconPos[k][2]);
		ExpectVector(*b->col, 1, 1, 1);
		EXPECT_EQ(b->shape, static_cast<DWORD>(BEACONSHAPE_STAR));
		EXPECT_EQ(b->size, 0.2);
		EXPECT_EQ(b->falloff, 0.3);
		EXPECT_EQ(b->period, 1.0);
		EXPECT_EQ(b->duration, 1.0);
		EXPECT_NEAR(b->tofs, 1.2 - 0.2 * k, 1e-15);
		// The switch's byte as stored: a record left unset holds the fill pattern, which a
		// bool test may read either way.
		EXPECT_EQ(*reinterpret_cast<const unsigned char *>(&b->active), 0);
	}
	EXPECT_EQ(view.beacon(6).tofs, 0.0);
	EXPECT_LT(view.beacon(7).tofs, 0.0);

	// The switch takes effect at the next step, and every step after.
	r.lightsOn = 1;
	EXPECT_FALSE(view.light(0).on);
	world.Step();
	for (int i = 0; i < 4; ++i)
		EXPECT_TRUE(view.light(i).on);
	for (int k = 0; k < 8; ++k)
		EXPECT_TRUE(view.beacon(k).on);
	r.spotLights[2]->Activate(false);  // something else switches one off
	world.Step();
	EXPECT_TRUE(view.light(2).on);

	// A switch value other than 0 or 1 leaves them as they are.
	r.lightsOn = 2;
	r.spotLights[1]->Activate(false);
	world.Step(0.02, 3);
	EXPECT_FALSE(view.light(1).on);
	EXPECT_TRUE(view.light(0).on);
	EXPECT_TRUE(view.beacon(0).on);
	r.lightsOn = 0;
	world.Step();
	EXPECT_FALSE(view.light(0).on);
	EXPECT_FALSE(view.beacon(7).on);
}

TEST(ClassCaps, BeaconColoursAreSharedByAllRovers) {
	RoverWorld world;
	Vessel *a = world.AddRover("A");
	Vessel *b = world.AddRover("B", 1, 0, 0);
	for (int k = 0; k < 8; ++k) {
		EXPECT_EQ(host::VesselView(a).beacon(k).spec->col, host::VesselView(b).beacon(k).spec->col);
		EXPECT_NE(host::VesselView(a).beacon(k).spec->pos, host::VesselView(b).beacon(k).spec->pos);
	}
	// The colour a beacon shows: the module's where it is finite, else white, each within 0..1;
	// read through the module's pointer whenever asked.
	Sendra2016 &r = RoverWorld::Rover(a);
	VECTOR3 *shared = r.beacons[0].col;
	VECTOR3 bright = _V(2, -1, 0.5), broken = _V(NAN, 0.5, 0.5);
	r.beacons[0].col = &bright;
	r.beacons[1].col = &broken;
	const host::VesselView va(a);
	ExpectVector(va.beacon(0).colour, 1, 0, 0.5);
	ExpectVector(*va.beacon(0).col, 2, -1, 0.5);
	ExpectVector(va.beacon(1).colour, 1, 1, 1);
	ExpectVector(va.beacon(2).colour, 1, 1, 1);
	r.beacons[0].col = r.beacons[1].col = shared;
}

TEST(FocusChange, LosingTheFocusEmptiesTheDebugLine) {
	RoverWorld world;
	Vessel *a = world.AddRover("A");
	Vessel *b = world.AddRover("B", 1, 0, 0);
	ASSERT_EQ(world.sim.focus(), a);
	std::strcpy(world.sim.debugString(), "written by another vessel");
	// Gaining the focus leaves the line alone.
	host::VesselView(a).callbacks()->clbkFocusChanged(true, a, b);
	EXPECT_STREQ(world.sim.debugString(), "written by another vessel");
	world.sim.SetFocus(b);
	EXPECT_STREQ(world.sim.debugString(), "");
}

TEST(CameraStations, StationKeyAppliesTheStationsInTurnWithThreeCallsEach) {
	RoverWorld world;
	Vessel *v = world.AddRover("R");
	Sendra2016 &r = RoverWorld::Rover(v);
	const double offsets[5][3] = {{0, 0.7, 3.121}, {-0.6, 0.48, 1.412}, {0.6, 0.48, 1.412}, {0, -0.52, 2.512}, {0, 0.27, -1.46}};
	for (int press = 0; press < 6; ++press) {
		int station = press % 5;
		oapiCameraSetCockpitDir(0.3, 0, false);  // the driver had turned the view
		world.sim.ClearJournal(v);
		world.Tap(OAPI_KEY_V);
		std::vector<std::string> calls = JournalFrom(v, "SetCameraDefaultDirection");
		ASSERT_GE(calls.size(), 3u);
		EXPECT_EQ(std::vector<std::string>(calls.begin(), calls.begin() + 3),
		          (std::vector<std::string>{"SetCameraDefaultDirection", "SetCameraOffset", "oapiCameraSetCockpitDir"}));
		ExpectVector(*host::VesselView(v).declared().cameraOffset, offsets[station][0], offsets[station][1], offsets[station][2]);
		ExpectVector(*host::VesselView(v).declared().cameraDefaultDirection, 0, 0, station == 4 ? -1 : 1);
		EXPECT_EQ(host::VesselView(v).camera().cockpit.polar, 0.0);
		EXPECT_EQ(host::VesselView(v).camera().cockpit.azimuth, 0.0);
		EXPECT_FALSE(host::VesselView(v).camera().cockpit.transition);
		EXPECT_EQ(r.cameraStation, (station + 1) % 5);
	}
}

TEST(CameraStations, StationsOutsideTheRangeMakeNoCalls) {
	RoverWorld world;
	Vessel *v = world.AddRover("R");
	Sendra2016 &r = RoverWorld::Rover(v);
	for (int station : {5, -1}) {
		r.cameraStation = station;
		world.sim.ClearJournal(v);
		world.Tap(OAPI_KEY_V);
		std::vector<std::string> names = host::VesselView(v).journal();
		EXPECT_EQ(std::count(names.begin(), names.end(), "SetCameraOffset"), 0) << station;
		EXPECT_EQ(std::count(names.begin(), names.end(), "oapiCameraSetCockpitDir"), 0) << station;
	}
	EXPECT_EQ(r.cameraStation, 0);  // -1 + 1
}

}  // namespace
