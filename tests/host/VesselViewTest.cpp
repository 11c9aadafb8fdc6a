// The view of a vessel shows what the host holds, and the host's named changes keep its books:
// a place landed or in flight, a rudder standing at a level, a journal started afresh.
#include <gtest/gtest.h>

#include <cmath>

#include "FakeRoot.h"
#include "sendra_host/VesselView.h"

namespace {

using Values = std::vector<double>;
Values Of(const VECTOR3 &v) { return {v.x, v.y, v.z}; }

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
	EXPECT_EQ(Values({p.lng, p.lat, p.hdg, p.alt}), Values({0.1, -0.2, 3.0, 1.5}));
	EXPECT_EQ(Of(p.arot), Values({0.3, 0.2, 0.1}));
	// In flight: position and velocity relative to the body, nothing of a place on it.
	host::VesselPlace flight;
	flight.body = sim.FindBody("Earth");
	flight.pos = _V(7e6, 0, 1), flight.vel = _V(0, 7.5e3, 0), flight.arot = _V(0, 1, 0);
	sim.SetPlace(v, flight);
	p = view.place();
	EXPECT_EQ(p.body, flight.body);
	EXPECT_FALSE(p.landed);
	EXPECT_EQ(Of(p.pos), Values({7e6, 0, 1}));
	EXPECT_EQ(Of(p.vel), Values({0, 7.5e3, 0}));
	EXPECT_EQ(Values({p.lng, p.lat, p.hdg, p.alt}), Values(4, 0.0));
	EXPECT_EQ(Of(p.arot), Values({0, 1, 0}));

	// A rudder put at a level stands there, within -1..1; a level that is not a number is no change.
	sim.SetRudderLevel(v, 0.4);
	sim.Frame(0.02);
	EXPECT_EQ(Values({view.rudder().target, view.rudder().goal, view.rudder().level}), Values(3, 0.4));
	sim.SetRudderLevel(v, 2);
	sim.SetRudderLevel(v, NAN);
	sim.Frame(0.02);
	EXPECT_EQ(view.rudder().level, 1.0);

	// Without declarations the camera looks forward from the origin.
	EXPECT_EQ(Of(view.camera().offset), Values({0, 0, 0}));
	EXPECT_EQ(Of(view.camera().direction), Values({0, 0, 1}));

	view.Interface()->GetSize();
	EXPECT_EQ(view.journal(), std::vector<std::string>{"GetSize"});
	EXPECT_EQ(view.calls(), 1u);
	sim.ClearJournal(v);
	EXPECT_TRUE(view.journal().empty());
	EXPECT_EQ(view.calls(), 0u);
}

}  // namespace
