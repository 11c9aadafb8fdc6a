// What a frame touches of a vessel lies in the hot part of its record: a rover's animation
// states, change marks, lights and beacon list are in its inline arena, and a vessel that
// declares more than the arena holds keeps everything, the rest on the heap.
#include <gtest/gtest.h>

#include "FakeRoot.h"
#include "sendra_host/HostVessel.h"
#include "sendra_host/Lights.h"
#include "sendra_host/Simulation.h"

namespace {

Vessel *Make(host::Simulation &sim, const std::string &name, const std::string &className) {
	host::LandedPosition pos;
	pos.body = sim.FindBody("Moon");
	return sim.CreateVessel(name, className, pos);
}

TEST(VesselHotData, HoldsARoversFrameData) {
	host::SimOptions o;
	o.root = SENDRA_ORBITER_ROOT;
	host::Simulation sim(o);
	Vessel *v = Make(sim, "R", "Sendra2016");
	const host::InlineArena &arena = v->arena;
	ASSERT_GT(v->animationStates.size(), 40u);
	EXPECT_TRUE(arena.Owns(v->animationStates.data()));
	EXPECT_TRUE(arena.Owns(v->animationsChanged.data()));
	EXPECT_TRUE(arena.Owns(v->beacons.data()));
	ASSERT_EQ(v->lights.size(), 4u);
	for (const host::LightEmitterPtr &le : v->lights)
		EXPECT_TRUE(arena.Owns(le.get()));
}

TEST(VesselHotData, AVesselDeclaringMoreThanItHoldsKeepsEverything) {
	FakeRoot root;
	root.Write("Config/Vessels/Plain.cfg", "ClassName = Plain\n");
	host::SimOptions o;
	o.root = root.path();
	host::Simulation sim(o);
	Vessel *v = Make(sim, "P", "Plain");
	VESSEL *api = v->iface;

	const UINT n = 193;  // the 193rd begins a fourth word of change marks
	for (UINT i = 0; i < n; ++i)
		ASSERT_EQ(api->CreateAnimation(0.25), i);
	for (UINT i = 0; i < n; i += 3)
		EXPECT_TRUE(api->SetAnimation(i, i * 0.5));
	EXPECT_FALSE(api->SetAnimation(n, 1));
	for (UINT i = 0; i < n; ++i) {
		EXPECT_EQ(api->GetAnimation(i), i % 3 ? 0.25 : i * 0.5) << i;
		bool marked = (v->animationsChanged.at(i / 64) >> (i % 64)) & 1;
		EXPECT_EQ(marked, i % 3 == 0) << i;
	}

	// Spot and point lights in turn, each where it was put; the first in the arena, the last
	// beyond it.
	const int lights = 12;
	for (int i = 0; i < lights; ++i) {
		VECTOR3 pos = _V(i, 0, 0);
		COLOUR4 c = {1, 1, 1, 1};
		LightEmitter *le = i % 2 ? api->AddPointLight(pos, 10, 1, 0, 0, c, c, c)
		                         : api->AddSpotLight(pos, _V(0, 0, 1), 10, 1, 0, 0, 0.1, 0.2, c, c, c);
		EXPECT_EQ(le, api->GetLightEmitter(static_cast<DWORD>(i)));
	}
	ASSERT_EQ(api->LightEmitterCount(), static_cast<DWORD>(lights));
	for (int i = 0; i < lights; ++i) {
		host::LightInfo info = host::DescribeLight(*v->lights[static_cast<size_t>(i)]);
		EXPECT_EQ(info.type, i % 2 ? LightEmitter::LT_POINT : LightEmitter::LT_SPOT) << i;
		EXPECT_EQ(info.pos.x, i) << i;
	}
	EXPECT_TRUE(v->arena.Owns(v->lights.front().get()));
	EXPECT_FALSE(v->arena.Owns(v->lights.back().get()));
	EXPECT_FALSE(v->arena.Owns(v->animationStates.data()));

	// Deleting gives back what came from the heap and only that (the sanitizer build sees a
	// leak or a free of the arena's memory).
	sim.DeleteVessel(v);
	EXPECT_EQ(sim.FindVessel("P"), nullptr);
}

}  // namespace
