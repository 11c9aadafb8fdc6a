// What a frame touches of a vessel lies in the hot part of its record: a rover's animation
// states, change marks, lights and beacon list are in its inline arena, and a vessel that
// declares more than the arena holds keeps everything, the rest on the heap.
#include <gtest/gtest.h>

#include <new>

#include "FakeRoot.h"
#include "sendra_host/Simulation.h"
#include "src/HostVessel.h"
#include "src/Lights.h"

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

	// What a post-step's prefetch asks for: the states and marks in use, which share their
	// lines, and a line for each emitter's switch, ten lines of the arena's 24.
	EXPECT_EQ(v->stateData, v->animationStates.data());
	EXPECT_EQ(v->stateCount, v->animationStates.size());
	EXPECT_EQ(v->changedWords, v->animationsChanged.data());
	auto hot = [&](const void *p) {
		size_t line = static_cast<size_t>(static_cast<const unsigned char *>(p) - arena.data()) / 64;
		return (v->hotLines >> line) & 1;
	};
	EXPECT_TRUE(hot(v->changedWords));
	for (const double &state : v->animationStates)
		EXPECT_TRUE(hot(&state));
	EXPECT_EQ(__builtin_popcount(v->hotLines), 10);
	// And the beacons' flags, one span of the module's object.
	ASSERT_EQ(v->beacons.size(), 8u);
	for (const BEACONLIGHTSPEC *b : v->beacons) {
		const char *flag = reinterpret_cast<const char *>(&b->active);
		EXPECT_TRUE(flag >= v->beaconFlags && flag < v->beaconFlags + v->beaconBytes);
	}
	EXPECT_LE(v->beaconBytes, 1024u);
}

TEST(VesselHotData, AVesselDeclaringMoreThanItHoldsKeepsEverything) {
	PlainWorld world;
	host::Simulation &sim = world.sim;
	Vessel *v = world.vessel;
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
	// The states moved to the heap: the prefetch asks for the emitters' lines and those of the
	// marks, which still fit in the arena, and nothing beyond it.
	uint32_t marks = 0;
	for (const uint64_t &word : v->animationsChanged)
		if (v->arena.Owns(&word))
			marks |= 1u << (reinterpret_cast<const unsigned char *>(&word) - v->arena.data()) / 64;
	EXPECT_EQ(v->hotLines, v->lightLines | marks);
	EXPECT_NE(v->lightLines, 0u);

	// Beacons whose flags lie within a kilobyte are asked for as one span, from the lowest
	// flag; spread wider, none are.
	static BEACONLIGHTSPEC spread[40];
	for (int i = 8; i >= 0; i -= 2)
		api->AddBeacon(&spread[i]);
	EXPECT_EQ(v->beaconFlags, reinterpret_cast<const char *>(&spread[0].active));
	EXPECT_EQ(v->beaconBytes, reinterpret_cast<const char *>(&spread[8].active) - v->beaconFlags + 1);
	api->AddBeacon(&spread[39]);
	EXPECT_EQ(v->beaconBytes, 0u);
	api->AddBeacon(&spread[1]);
	EXPECT_EQ(v->beaconBytes, 0u);
	EXPECT_EQ(api->GetBeacon(6), &spread[1]);
	// A kilobyte is the most: flags 1024 bytes apart would be a span of 1025.
	alignas(BEACONLIGHTSPEC) static unsigned char room[1024 + sizeof(BEACONLIGHTSPEC)];
	Vessel *q = Make(sim, "Q", "Plain");
	q->iface->AddBeacon(new (room) BEACONLIGHTSPEC{});
	q->iface->AddBeacon(new (room + 1024) BEACONLIGHTSPEC{});
	EXPECT_EQ(q->beaconBytes, 0u);

	// Deleting gives back what came from the heap and only that (the sanitizer build sees a
	// leak or a free of the arena's memory).
	sim.DeleteVessel(v);
	EXPECT_EQ(sim.FindVessel("P"), nullptr);
}

}  // namespace
