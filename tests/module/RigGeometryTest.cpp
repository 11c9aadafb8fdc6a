// The rover's animation rig on its real mesh, as the host poses it: slats, doors, swivels and
// rolls turn their groups about their pivots, links carry the wheels along, rovers share what
// they may; and the host's visuals come and go with the focus and the visual range.
#include <gtest/gtest.h>

#include <functional>
#include <set>

#include "RoverRig.h"
#include "RoverWorld.h"
#include "sendra_host/VesselView.h"

using testing_support::ModuleVariable;
using testing_support::RoverWorld;

namespace {

// Posed vertices against the mesh file's, in metres; float vertices a few metres out.
const double TOL = 2e-5;

using Transform = std::function<VECTOR3(const VECTOR3 &)>;

// A turn by deg degrees about axis through ref, as the host turns column vectors.
Transform Turn(const VECTOR3 &ref, const VECTOR3 &axis, double deg) {
	MATRIX3 r = rotm(axis, deg * RAD);
	return [=](const VECTOR3 &p) { return ref + mul(r, p - ref); };
}

VECTOR3 Pos(const NTVERTEX &v) { return _V(v.x, v.y, v.z); }
VECTOR3 Normal(const NTVERTEX &v) { return _V(v.nx, v.ny, v.nz); }

const host::MeshGroup &Template(Vessel *v, UINT group) { return host::VesselView(v).meshes().at(0).tmpl->groups.at(group); }
host::MeshGroup Posed(Vessel *v, UINT group) { return host::VesselView(v).PosedMeshes().at(0).groups.at(group); }

// The shown group is the mesh file's group moved by t (normals turned with it).
void ExpectPose(Vessel *v, UINT group, const Transform &t, const std::string &what) {
	const host::MeshGroup &file = Template(v, group), &shown = Posed(v, group);
	ASSERT_EQ(file.vertices.size(), shown.vertices.size());
	VECTOR3 origin = t(_V(0, 0, 0));
	double worst = 0, worstNormal = 0;
	for (size_t i = 0; i < file.vertices.size(); ++i) {
		worst = std::max(worst, length(Pos(shown.vertices[i]) - t(Pos(file.vertices[i]))));
		VECTOR3 n = t(Normal(file.vertices[i])) - origin;
		worstNormal = std::max(worstNormal, length(Normal(shown.vertices[i]) - n));
	}
	EXPECT_LT(worst, TOL) << what << ", group " << group;
	EXPECT_LT(worstNormal, 1e-5) << what << ", group " << group;
}

void ExpectUnmoved(Vessel *v, UINT group, const std::string &what) {
	ExpectPose(v, group, [](const VECTOR3 &p) { return p; }, what);
}

// Every group but the listed ones shows as in the mesh file.
void ExpectOthersUnmoved(Vessel *v, const std::set<UINT> &moved, const std::string &what) {
	for (UINT g = 0; g < host::VesselView(v).PosedMeshes()[0].groups.size(); ++g)
		if (!moved.count(g))
			ExpectUnmoved(v, g, what);
}

void Set(Vessel *v, UINT anim, double state) { RoverWorld::Rover(v).SetAnimation(anim, state); }

class RigGeometry : public ::testing::Test {
protected:
	void SetUp() override {
		rover = world.AddRover("R1");
		ASSERT_TRUE(host::VesselView(rover).visual());
		ASSERT_TRUE(host::VesselView(rover).meshes().at(0).tmpl) << "the rover's mesh did not load";
		ASSERT_GE(host::VesselView(rover).PosedMeshes().at(0).groups.size(), 172u);
	}
	Sendra2016 &r() { return RoverWorld::Rover(rover); }
	void Show() { world.sim.CatchUpVisuals(); }

	RoverWorld world;
	Vessel *rover = nullptr;
};

using expected_rig::HINGE;
using expected_rig::HINGE_AXIS;
const VECTOR3 UP = _V(0, 1, 0), AXLE = _V(1, 0, 0);
const VECTOR3 RIGHT_FRONT = _V(1.5374, -1.759, 1.493);

TEST_F(RigGeometry, SunscreenSlatsFanOutByTheirShareOfTheirAngle) {
	for (UINT a : r().animSunscreen)
		Set(rover, a, 0.5);
	Show();
	ExpectPose(rover, 116, Turn(HINGE, HINGE_AXIS, 62.4), "slat 0 at half open");
	ExpectPose(rover, 109, Turn(HINGE, HINGE_AXIS, 2.4), "slat 14 at half open");
	std::set<UINT> slats;
	for (const expected_rig::Slat &s : expected_rig::SLATS)
		slats.insert(s.group);
	ExpectOthersUnmoved(rover, slats, "sunscreen half open");

	for (UINT a : r().animSunscreen)
		Set(rover, a, 1.0);
	Show();
	for (int i = 0; i < 15; ++i) {
		const expected_rig::Slat &s = expected_rig::SLATS[i];
		ExpectPose(rover, s.group, Turn(HINGE, HINGE_AXIS, s.deg), "slat " + std::to_string(i) + " open");
	}
	// Open, the slat that turns furthest reaches up over the hinge and back behind it.
	double top = -1e9, back = 1e9;
	for (const NTVERTEX &v : Posed(rover, 116).vertices) {
		top = std::max(top, static_cast<double>(v.y));
		back = std::min(back, static_cast<double>(v.z));
	}
	EXPECT_GT(top, HINGE.y + 0.8);
	EXPECT_LT(back, HINGE.z - 0.5);

	// Closing restores the file's pose.
	for (UINT a : r().animSunscreen)
		Set(rover, a, 0.0);
	Show();
	ExpectOthersUnmoved(rover, {}, "sunscreen closed again");
}

TEST_F(RigGeometry, DoorsSwingOutwardAboutTheirHinges) {
	Set(rover, r().animDoorLeft, 1);
	Set(rover, r().animDoorRight, 1);
	Show();
	Transform left = Turn(_V(-1.882, 3.2, -0.024), UP, 60), right = Turn(_V(1.882, 3.2, -0.024), UP, -60);
	for (UINT g : {97u, 31u})
		ExpectPose(rover, g, left, "left door open");
	for (UINT g : {29u, 96u})
		ExpectPose(rover, g, right, "right door open");
	ExpectOthersUnmoved(rover, {97, 31, 29, 96}, "doors open");
	// Open doors stand out from the hull's sides.
	auto outermost = [&](UINT g, double sign) {
		double x = 0;
		for (const NTVERTEX &v : Posed(rover, g).vertices)
			x = std::max(x, sign * v.x);
		return x;
	};
	EXPECT_GT(outermost(97, -1), 2.5);
	EXPECT_GT(outermost(29, +1), 2.5);
}

TEST_F(RigGeometry, SwivelTurnsTheForkAndCarriesTheWheelAlong) {
	Set(rover, r().animSteerRightFront, 0.25);
	Show();
	Transform quarter = Turn(RIGHT_FRONT, UP, 90);
	for (UINT g : {13u, 35u, 21u})
		ExpectPose(rover, g, quarter, "right front swivelled a quarter turn");
	ExpectOthersUnmoved(rover, {13, 35, 21}, "right front swivelled");
	EXPECT_EQ(r().GetAnimation(r().animWheelLinkRightFront), 0.0);
	// The roll transform now turns the wheel about its swivelled axle (the full turn is
	// stored in single precision, hence the tolerance).
	const MGROUP_ROTATE &roll = *r().rollTransformRightFront;
	EXPECT_LT(length(roll.axis - _V(0, 0, -1)), 1e-6);
	EXPECT_LT(length(roll.ref - RIGHT_FRONT), 1e-6);

	Set(rover, r().animSteerRightFront, 1.0);
	Show();
	for (UINT g : {13u, 35u, 21u})
		ExpectUnmoved(rover, g, "a full turn of swivel");
	EXPECT_LT(length(roll.axis - AXLE), 1e-6);
}

TEST_F(RigGeometry, RollingMovesOnlyEachWheelsRollGroups) {
	for (bool right : {true, false}) {
		UINT anim = right ? r().animWheelRollRight : r().animWheelRollLeft;
		Set(rover, anim, 0.25);
		Show();
		std::set<UINT> moved;
		for (const expected_rig::Wheel &w : expected_rig::WHEELS) {
			if (w.right != right)
				continue;
			for (UINT g : w.rollGroups) {
				ExpectPose(rover, g, Turn(w.rollPoint, AXLE, 90), "a quarter roll");
				moved.insert(g);
			}
		}
		ExpectOthersUnmoved(rover, moved, "one side rolled");
		Set(rover, anim, 0.0);
		Show();
	}
}

// Swivel by a quarter turn, then roll by half a turn: the wheel turns about its swivelled
// axle, which for the left front wheel also stands off the swivel axis by 7.3 mm.
TEST_F(RigGeometry, RollAfterSwivelTurnsAboutTheSwivelledAxle) {
	struct Wheel {
		UINT steer, rollAnim, tyre, hub;
		VECTOR3 swivel, roll;
	};
	const Wheel wheels[2] = {
		{r().animSteerRightFront, r().animWheelRollRight, 35, 21, RIGHT_FRONT, RIGHT_FRONT},
		{r().animSteerLeftFront, r().animWheelRollLeft, 34, 18, _V(-1.5363, -1.759, 1.493), _V(-1.529, -1.759, 1.493)},
	};
	for (const Wheel &w : wheels) {
		Set(rover, w.steer, 0.25);
		Show();
		Set(rover, w.rollAnim, 0.5);
		Show();
		// A quarter turn about +y takes (x, y, z) about the swivel point to (z, y, -x); the
		// axle (1, 0, 0) becomes (0, 0, -1) through the carried roll point; half a turn about
		// it negates x and y about that point.
		auto swivel = [&](const VECTOR3 &p) {
			VECTOR3 d = p - w.swivel;
			return w.swivel + _V(d.z, d.y, -d.x);
		};
		VECTOR3 axlePoint = swivel(w.roll);
		Transform expected = [&](const VECTOR3 &p) {
			VECTOR3 d = swivel(p) - axlePoint;
			return axlePoint + _V(-d.x, -d.y, d.z);
		};
		ExpectPose(rover, w.tyre, expected, "swivel then roll");
		ExpectPose(rover, w.hub, expected, "swivel then roll");
	}

	// Both states given at once, so that the host applies the roll first: the same pose.
	RoverWorld other;
	Vessel *b = other.AddRover("R2");
	Sendra2016 &rb = RoverWorld::Rover(b);
	for (UINT a : {rb.animSteerRightFront, rb.animSteerLeftFront})
		Set(b, a, 0.25);
	Set(b, rb.animWheelRollRight, 0.5);
	Set(b, rb.animWheelRollLeft, 0.5);
	other.sim.CatchUpVisuals();
	for (UINT g : {35u, 21u, 34u, 18u}) {
		const host::MeshGroup &mine = Posed(rover, g), &theirs = Posed(b, g);
		for (size_t i = 0; i < mine.vertices.size(); ++i)
			ASSERT_LT(length(Pos(mine.vertices[i]) - Pos(theirs.vertices[i])), TOL) << "group " << g;
	}
}

// The host's poser on the hull (group 0) with animations a test adds to the rover.
TEST(HostPoser, NormalsTurnWithRotationsAndStayUnderScalesAndNonNumbersMoveNothing) {
	RoverWorld world;
	Vessel *v = world.AddRover("R1");
	Sendra2016 &r = RoverWorld::Rover(v);
	static UINT hull[1] = {0};
	MGROUP_ROTATE turn(0, hull, 1, _V(0, 0, 0), _V(0, 0, 1), static_cast<float>(PI05));
	MGROUP_SCALE stretch(0, hull, 1, _V(0, 0, 0), _V(2, 1, 1));
	UINT turnAnim = r.CreateAnimation(0), stretchAnim = r.CreateAnimation(0);
	r.AddAnimationComponent(turnAnim, 0, 1, &turn);
	r.AddAnimationComponent(stretchAnim, 0, 1, &stretch);
	Set(v, turnAnim, 1);
	world.sim.CatchUpVisuals();
	Set(v, stretchAnim, 1);
	world.sim.CatchUpVisuals();
	// Turned a quarter about +z, (x, y, z) goes to (-y, x, z); then x doubles. Normals take
	// the turn only.
	const host::MeshGroup &file = Template(v, 0), &shown = Posed(v, 0);
	for (size_t i = 0; i < file.vertices.size(); ++i) {
		const NTVERTEX &f = file.vertices[i], &p = shown.vertices[i];
		ASSERT_LT(length(Pos(p) - _V(-2 * f.y, f.x, f.z)), TOL) << "vertex " << i;
		ASSERT_LT(length(Normal(p) - _V(-f.ny, f.nx, f.nz)), 1e-6) << "vertex " << i;
	}

	// A component whose range is not a number leaves the hull where it is.
	MGROUP_ROTATE broken(0, hull, 1, _V(0, 0, 0), _V(1, 0, 0), 1.0f);
	UINT brokenAnim = r.CreateAnimation(0);
	r.AddAnimationComponent(brokenAnim, 0, std::nan(""), &broken);
	Set(v, brokenAnim, 0.5);
	world.sim.CatchUpVisuals();
	for (size_t i = 0; i < file.vertices.size(); ++i)
		ASSERT_LT(length(Pos(Posed(v, 0).vertices[i]) - _V(-2 * file.vertices[i].y, file.vertices[i].x, file.vertices[i].z)), TOL);
	world.sim.DeleteAllVessels();  // the visual goes while the test's transforms still exist
}

// Component transforms of a rover, animation by animation.
std::vector<const MGROUP_TRANSFORM *> Transforms(Vessel *v) {
	std::vector<const MGROUP_TRANSFORM *> out;
	const host::VesselView view(v);
	for (size_t a = 0; a < view.animationCount(); ++a)
		for (const host::AnimationComponent &c : view.animation(a).components)
			out.push_back(c.transform);
	return out;
}

struct RotationValues {
	UINT mesh, ngrp;
	UINT *grp;
	VECTOR3 ref, axis;
	float angle;
	bool operator==(const RotationValues &o) const {
		return mesh == o.mesh && ngrp == o.ngrp && grp == o.grp && length(ref - o.ref) == 0 &&
		       length(axis - o.axis) == 0 && angle == o.angle;
	}
};
RotationValues ValuesOf(const MGROUP_TRANSFORM *t) {
	auto *r = static_cast<const MGROUP_ROTATE *>(t);
	return {r->mesh, r->ngrp, r->grp, r->ref, r->axis, r->angle};
}

TEST(RigSharing, ASecondRoverSharesEverythingButItsRollTransforms) {
	RoverWorld world;
	Vessel *a = world.AddRover("A");
	std::vector<const MGROUP_TRANSFORM *> firstTransforms = Transforms(a);
	std::vector<RotationValues> firstValues;
	for (const MGROUP_TRANSFORM *t : firstTransforms)
		firstValues.push_back(ValuesOf(t));

	Vessel *b = world.AddRover("B", 1);
	for (Vessel *v : {a, b}) {
		EXPECT_EQ(host::VesselView(v).animationCount(), 46u);
		std::vector<const MGROUP_TRANSFORM *> ts = Transforms(v);
		EXPECT_EQ(ts.size(), 50u);
		EXPECT_EQ(std::set<const MGROUP_TRANSFORM *>(ts.begin(), ts.end()).size(), 44u);
		for (const auto &t : ts)
			EXPECT_EQ(t->Type(), MGROUP_TRANSFORM::ROTATE);
	}

	Sendra2016 &ra = RoverWorld::Rover(a), &rb = RoverWorld::Rover(b);
	std::set<const MGROUP_TRANSFORM *> rollA, rollB;
	for (const expected_rig::Wheel &w : expected_rig::WHEELS) {
		rollA.insert(ra.*w.rollTransform);
		rollB.insert(rb.*w.rollTransform);
	}
	ASSERT_EQ(rollA.size(), 6u);
	ASSERT_EQ(rollB.size(), 6u);
	std::vector<const MGROUP_TRANSFORM *> secondTransforms = Transforms(b);
	ASSERT_EQ(secondTransforms.size(), firstTransforms.size());
	size_t shared = 0;
	for (size_t i = 0; i < firstTransforms.size(); ++i) {
		const MGROUP_TRANSFORM *t1 = firstTransforms[i], *t2 = secondTransforms[i];
		if (rollA.count(t1)) {
			// The rover's own: a different object in the same place of the rig.
			EXPECT_TRUE(rollB.count(t2)) << "component " << i;
			EXPECT_FALSE(rollA.count(t2)) << "component " << i;
		} else {
			EXPECT_EQ(t1, t2) << "component " << i;
			EXPECT_TRUE(ValuesOf(t1) == firstValues[i]) << "component " << i << " changed";
			++shared;
		}
	}
	EXPECT_EQ(shared, 38u);

	// Only the six links have a parent: the wheel's swivel component, and their transform is
	// the very object that the side's roll animation turns.
	for (Vessel *v : {a, b}) {
		Sendra2016 &rv = RoverWorld::Rover(v);
		const host::VesselView view(v);
		size_t withParent = 0;
		for (size_t i = 0; i < view.animationCount(); ++i)
			for (const host::AnimationComponent &c : view.animation(i).components)
				withParent += c.parentAnimation >= 0 ? 1 : 0;
		EXPECT_EQ(withParent, 6u);
		for (const expected_rig::Wheel &w : expected_rig::WHEELS) {
			const host::Animation link = view.animation(rv.*w.linkAnim);
			const host::Animation roll = view.animation(w.right ? rv.animWheelRollRight : rv.animWheelRollLeft);
			ASSERT_EQ(link.components.size(), 1u);
			ASSERT_EQ(view.animation(rv.*w.swivelAnim).components.size(), 1u);
			EXPECT_EQ(link.components[0].parentAnimation, static_cast<int>(rv.*w.swivelAnim));
			EXPECT_EQ(link.components[0].parentIndex, 0u);
			EXPECT_EQ(link.components[0].transform, rv.*w.rollTransform);
			size_t inRoll = 0;
			for (const host::AnimationComponent &c : roll.components)
				inRoll += c.transform == rv.*w.rollTransform ? 1 : 0;
			EXPECT_EQ(inRoll, 1u);
		}
	}
}

// Puts v at longitude lng [rad], as the host holds it.
void Move(RoverWorld &world, Vessel *v, double lng) {
	host::VesselPlace p = host::VesselView(v).place();
	p.lng = lng;
	world.sim.SetPlace(v, p);
}

TEST(RoverVisual, VisualsFollowTheFocusAndTheVisualRange) {
	RoverWorld world;
	Vessel *a = world.AddRover("A");
	MESHHANDLE *visualMesh = ModuleVariable<MESHHANDLE>("visualMesh");
	ASSERT_NE(visualMesh, nullptr);
	// The focus vessel's visual, made once its state is set, with mesh 0 handed to the rover.
	ASSERT_TRUE(host::VesselView(a).visual());
	EXPECT_EQ(*visualMesh, host::VesselView(a).visualMesh(0));
	std::vector<std::string> afterState = testing_support::JournalFrom(a, "DefSetStateEx");
	EXPECT_NE(std::find(afterState.begin(), afterState.end(), "GetMesh"), afterState.end());

	// 0.05 degrees of the Moon is 1.5 km: in range; 1 degree, 30 km, is not. The handle is
	// the mesh of the visual made last.
	Vessel *near = world.AddRover("Near", 0.05);
	Vessel *far = world.AddRover("Far", 1.0);
	ASSERT_TRUE(host::VesselView(near).visual());
	EXPECT_FALSE(host::VesselView(far).visual());
	EXPECT_EQ(*visualMesh, host::VesselView(near).visualMesh(0));
	std::vector<std::string> farCalls = host::VesselView(far).journal();
	EXPECT_EQ(std::count(farCalls.begin(), farCalls.end(), "GetMesh"), 0);

	// Leaving the range drops the visual, and any rover's visual going clears the handle.
	Move(world, near, 0.5 * RAD);
	world.sim.UpdateVisuals();
	EXPECT_FALSE(host::VesselView(near).visual());
	EXPECT_EQ(*visualMesh, nullptr);
	EXPECT_TRUE(host::VesselView(a).visual());

	// Back in range, then deleted: the visual goes with the vessel.
	Move(world, near, 0.05 * RAD);
	world.sim.UpdateVisuals();
	ASSERT_TRUE(host::VesselView(near).visual());
	EXPECT_EQ(*visualMesh, host::VesselView(near).visualMesh(0));
	world.sim.DeleteVessel(near);
	EXPECT_EQ(*visualMesh, nullptr);
	EXPECT_TRUE(host::VesselView(a).visual());

	// The range follows the focus.
	world.sim.SetFocus(far);
	EXPECT_FALSE(host::VesselView(a).visual());
	ASSERT_TRUE(host::VesselView(far).visual());
	EXPECT_EQ(*visualMesh, host::VesselView(far).visualMesh(0));
}

TEST(RoverVisual, NoVisualsWithAVisualRangeOfZero) {
	host::SimOptions options = testing_support::WorldOptions();
	options.visualRange = 0;
	RoverWorld world(options);
	Vessel *v = world.AddRover("R1");
	world.Step(0.02, 3);
	EXPECT_FALSE(host::VesselView(v).visual());
	std::vector<std::string> calls = host::VesselView(v).journal();
	EXPECT_EQ(std::count(calls.begin(), calls.end(), "GetMesh"), 0);
}

TEST_F(RigGeometry, ADroppedVisualLeavesTheTransformsAsTheFileHasThemAndANewVisualCatchesUp) {
	Set(rover, r().animDoorLeft, 1);
	Set(rover, r().animSteerRightFront, 0.25);
	Set(rover, r().animWheelRollRight, 0.3);
	for (UINT a : r().animSunscreen)
		Set(rover, a, 0.7);
	Show();
	EXPECT_GT(length(r().rollTransformRightFront->axis - AXLE), 0.1);  // carried along by the swivel
	// The visual goes with the focus: the host drives it back to the default states first,
	// which carries the module's own child transforms back too.
	world.sim.SetFocus(nullptr);
	ASSERT_FALSE(host::VesselView(rover).visual());
	EXPECT_LT(length(r().rollTransformRightFront->axis - AXLE), 1e-6);

	// A visual made later shows the states the rover has by then.
	world.sim.SetFocus(rover);
	ASSERT_TRUE(host::VesselView(rover).visual());
	ExpectPose(rover, 97, Turn(_V(-1.882, 3.2, -0.024), UP, 60), "new visual, left door open");
	ExpectPose(rover, 13, Turn(RIGHT_FRONT, UP, 90), "new visual, swivelled fork");
	Transform swivelThenRoll = [&](const VECTOR3 &p) {
		return Turn(RIGHT_FRONT, _V(0, 0, -1), 108)(Turn(RIGHT_FRONT, UP, 90)(p));
	};
	ExpectPose(rover, 35, swivelThenRoll, "new visual, swivelled and rolled tyre");
}

}  // namespace
