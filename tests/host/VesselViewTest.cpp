// The view of a vessel shows what the host holds, and the host's named changes keep its books:
// a place landed or in flight, a rudder standing at a level, a journal started afresh.
#include <gtest/gtest.h>

#include <cmath>

#include "FakeRoot.h"
#include "sendra_host/VesselView.h"

namespace {

void ExpectVector(const VECTOR3 &v, double x, double y, double z) {
	EXPECT_EQ(v.x, x);
	EXPECT_EQ(v.y, y);
	EXPECT_EQ(v.z, z);
}

TEST(VesselView, ShowsThePlaceRudderCameraAndJournalTheHostHolds) {
	PlainWorld world;
	host::Simulation &sim = world.sim;
	Vessel *v = world.vessel;
	const host::VesselView view(v);
	EXPECT_TRUE(view.focus());
	EXPECT_FALSE(host::VesselView(sim.CreateVessel("Q", "Plain", {sim.FindBody("Moon"), 1, 0, 0})).focus());

	host::VesselPlace landed;
	landed.body = sim.FindBody("Mars");
	landed.landed = true;
	landed.lng = 0.1, landed.lat = -0.2, landed.hdg = 3.0, landed.alt = 1.5, landed.arot = _V(0.3, 0.2, 0.1);
	sim.SetPlace(v, landed);
	host::VesselPlace p = view.place();
	EXPECT_EQ(p.body, landed.body);
	EXPECT_TRUE(p.landed);
	EXPECT_EQ(std::vector<double>({p.lng, p.lat, p.hdg, p.alt}), std::vector<double>({0.1, -0.2, 3.0, 1.5}));
	ExpectVector(p.arot, 0.3, 0.2, 0.1);
	// In flight: position and velocity relative to the body, nothing of a place on it.
	host::VesselPlace flight;
	flight.body = sim.FindBody("Earth");
	flight.pos = _V(7e6, 0, 1), flight.vel = _V(0, 7.5e3, 0), flight.arot = _V(0, 1, 0);
	sim.SetPlace(v, flight);
	p = view.place();
	EXPECT_EQ(p.body, flight.body);
	EXPECT_FALSE(p.landed);
	ExpectVector(p.pos, 7e6, 0, 1);
	ExpectVector(p.vel, 0, 7.5e3, 0);
	EXPECT_EQ(std::vector<double>({p.lng, p.lat, p.hdg, p.alt}), std::vector<double>(4, 0.0));
	ExpectVector(p.arot, 0, 1, 0);

	// A rudder put at a level stands there, within -1..1; a level that is not a number is no change.
	sim.SetRudderLevel(v, 0.4);
	sim.Frame(0.02);
	EXPECT_EQ(std::vector<double>({view.rudder().target, view.rudder().goal, view.rudder().level}),
	          std::vector<double>(3, 0.4));
	sim.SetRudderLevel(v, 2);
	sim.SetRudderLevel(v, NAN);
	sim.Frame(0.02);
	EXPECT_EQ(view.rudder().level, 1.0);

	// Without declarations the camera looks forward from the origin.
	ExpectVector(view.camera().offset, 0, 0, 0);
	ExpectVector(view.camera().direction, 0, 0, 1);

	view.Interface()->GetSize();
	EXPECT_EQ(view.journal(), std::vector<std::string>{"GetSize"});
	EXPECT_EQ(view.calls(), 1u);
	sim.ClearJournal(v);
	EXPECT_TRUE(view.journal().empty());
	EXPECT_EQ(view.calls(), 0u);
}

}  // namespace
