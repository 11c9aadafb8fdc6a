// The rig the rover declares to the host, checked against the tests' own copy of the rig
// (RoverRig.h), never against the module's tables: every animation in the order of creation,
// every component's groups, pivot, axis, angle, range and parent, and the fields holding the
// handles.
#include <gtest/gtest.h>

#include <array>

#include "RoverRig.h"
#include "RoverWorld.h"

using testing_support::JournalFrom;
using testing_support::RoverWorld;

namespace {

using namespace expected_rig;

struct ExpectedAnimation {
	std::string name;
	UINT handle;  // as the rover's field holds it
	std::vector<Turn> comps;
	std::vector<const MGROUP_ROTATE *> own;  // the rover's own transforms, one per component
	int parentAnimation = -1;                // links: the animation whose component is the parent
};

ExpectedAnimation Animation(const std::string &name, UINT handle, std::vector<Turn> comps,
                            std::vector<const MGROUP_ROTATE *> own = {}, int parent = -1) {
	return {name, handle, std::move(comps), std::move(own), parent};
}

// The 46 animations in the order in which the rover makes them.
std::vector<ExpectedAnimation> InCreationOrder(const Sendra2016 &r) {
	std::vector<ExpectedAnimation> out;
	for (int i = 0; i < 15; ++i)
		out.push_back(Animation("slat " + std::to_string(i), r.animSunscreen[i],
		                        {{{SLATS[i].group}, HINGE, HINGE_AXIS, SLATS[i].deg}}));
	for (const Part &d : DOORS)
		out.push_back(Animation("door", r.*d.anim, {d.turn}));
	for (bool right : {false, true}) {  // the left side's three wheels first, front to rear
		ExpectedAnimation roll = Animation(right ? "right roll" : "left roll",
		                                   right ? r.animWheelRollRight : r.animWheelRollLeft, {});
		for (const Wheel &w : WHEELS)
			if (w.right == right) {
				roll.comps.push_back(w.Roll());
				roll.own.push_back(r.*w.rollTransform);
			}
		out.push_back(roll);
	}
	for (const Wheel &w : WHEELS) {
		out.push_back(Animation("swivel of group " + std::to_string(w.swivelGroup), r.*w.swivelAnim, {w.Swivel()}));
		out.push_back(Animation("link of group " + std::to_string(w.swivelGroup), r.*w.linkAnim, {w.Roll()},
		                        {r.*w.rollTransform}, static_cast<int>(out.size()) - 1));
	}
	for (const Part &d : DIALS)
		out.push_back(Animation("dial", r.*d.anim, {d.turn}));
	for (const Part &s : STICKS)
		out.push_back(Animation("stick", r.*s.anim, {s.turn}));
	return out;
}

std::array<double, 3> Xyz(const VECTOR3 &v) { return {v.x, v.y, v.z}; }

TEST(RigDeclarations, EveryAnimationTurnsItsGroupsAboutItsPivotInTheOrderOfCreation) {
	RoverWorld world;
	Vessel *v = world.AddRover("R");
	const Sendra2016 &r = RoverWorld::Rover(v);
	std::vector<ExpectedAnimation> expected = InCreationOrder(r);
	const host::VesselView view(v);
	ASSERT_EQ(view.animationCount(), expected.size());
	std::vector<std::string> calls;
	for (UINT i = 0; i < expected.size(); ++i) {
		const ExpectedAnimation &e = expected[i];
		const host::Animation a = view.animation(i);
		SCOPED_TRACE("animation " + std::to_string(i) + ", " + e.name);
		EXPECT_EQ(e.handle, i);
		EXPECT_EQ(a.defaultState, 0.0);
		EXPECT_EQ(view.animationStates()[i], 0.0);
		ASSERT_EQ(a.components.size(), e.comps.size());
		calls.push_back("CreateAnimation");
		for (size_t j = 0; j < e.comps.size(); ++j) {
			calls.push_back("AddAnimationComponent");
			const host::AnimationComponent &c = a.components[j];
			const Turn &want = e.comps[j];
			EXPECT_EQ(c.state0, 0.0);
			EXPECT_EQ(c.state1, 1.0);
			ASSERT_EQ(c.transform->Type(), MGROUP_TRANSFORM::ROTATE);
			const auto &t = *static_cast<const MGROUP_ROTATE *>(c.transform);
			EXPECT_EQ(t.mesh, 0u);
			EXPECT_EQ(std::vector<UINT>(t.grp, t.grp + t.ngrp), want.groups);
			EXPECT_EQ(Xyz(t.ref), Xyz(want.ref));
			EXPECT_EQ(Xyz(t.axis), Xyz(want.axis));
			EXPECT_EQ(t.angle, static_cast<float>(want.deg * RAD));  // degrees to radians, then narrowed
			if (!e.own.empty()) {
				EXPECT_EQ(&t, e.own[j]);
			}
			// A child of the first component of its parent animation.
			EXPECT_EQ(c.parentAnimation, e.parentAnimation);
			EXPECT_EQ(c.parentIndex, 0u);
		}
	}
	// Each animation is made with all its components before the next, and none is set.
	std::vector<std::string> made = JournalFrom(v, "CreateAnimation");
	made.resize(std::find(made.begin(), made.end(), "SetSize") - made.begin());
	EXPECT_EQ(made, calls);
}

}  // namespace
