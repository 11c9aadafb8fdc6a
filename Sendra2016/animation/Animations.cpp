// DefineAnimations: the 46 animations of the rover's mesh, built from the rig's tables.
#include <array>
#include <cstddef>
#include <cstdlib>
#include <new>
#include <utility>

#include "AnimationTables.h"

namespace {

// A rotation transform of mesh 0. groups must live in static storage: the host keeps the
// pointer. The angle is narrowed to single precision from radians computed in double.
MGROUP_ROTATE Rotation(const UINT *groups, UINT ngroups, const double (&ref)[3], const double (&axis)[3],
                       double angleDeg) {
	return MGROUP_ROTATE(0, const_cast<UINT *>(groups), ngroups, _V(ref[0], ref[1], ref[2]),
	                     _V(axis[0], axis[1], axis[2]), static_cast<float>(angleDeg * RAD));
}

MGROUP_ROTATE Rotation(const rig::RotationRow &r) { return Rotation(r.groups, r.ngroups, r.ref, r.axis, r.angleDeg); }

template <typename Row, std::size_t N, typename Make, std::size_t... I>
std::array<MGROUP_ROTATE, N> BuildTransforms(const Row (&rows)[N], Make make, std::index_sequence<I...>) {
	return {{make(rows[I])...}};
}

// One transform per row, made by make(row).
template <typename Row, std::size_t N, typename Make>
std::array<MGROUP_ROTATE, N> BuildTransforms(const Row (&rows)[N], Make make) {
	return BuildTransforms(rows, make, std::make_index_sequence<N>());
}

MGROUP_ROTATE PartRotation(const rig::PartRow &row) { return Rotation(row.rotation); }

MGROUP_ROTATE WheelSwivel(const rig::WheelRow &w) {
	return Rotation(&w.swivelGroup, 1, w.swivelPoint, rig::WHEEL_SWIVEL_AXIS, rig::WHEEL_TURN_DEG);
}

MGROUP_ROTATE WheelRoll(const rig::WheelRow &w) {
	return Rotation(w.rollGroups, 2, w.rollPoint, rig::WHEEL_ROLL_AXIS, rig::WHEEL_TURN_DEG);
}

}  // namespace

// Each shared transform is made once for the whole module, when the first rover's
// DefineAnimations reaches it; later rovers use the same objects. The six roll transforms are
// the rover's own: the host carries them along with their wheel's swivel, so no two rovers
// may share them. They are made first, with malloc (the module runs without C++ exceptions):
// if one cannot be made, no animation is, and ovcInit gives the rover up.
void Sendra2016::DefineAnimations() {
	using namespace rig;

	for (const WheelRow &w : WHEELS) {
		void *memory = std::malloc(sizeof(MGROUP_ROTATE));
		if (!memory)
			return;
		this->*w.rollTransform = new (memory) MGROUP_ROTATE(WheelRoll(w));
	}

	static std::array<MGROUP_ROTATE, 15> slats =
	    BuildTransforms(SUNSCREEN_SLATS, [](const RotationRow &r) { return Rotation(r); });
	for (int i = 0; i < 15; ++i) {
		animSunscreen[i] = CreateAnimation(0.0);
		AddAnimationComponent(animSunscreen[i], 0.0, 1.0, &slats[i]);
	}

	static std::array<MGROUP_ROTATE, 2> doors =
	    BuildTransforms(DOORS, [](const DoorRow &d) { return Rotation(d.rotation); });
	for (int i = 0; i < 2; ++i) {
		this->*DOORS[i].anim = CreateAnimation(0.0);
		AddAnimationComponent(this->*DOORS[i].anim, 0.0, 1.0, &doors[i]);
	}

	// Left side's rolls first, then the right side's, each front to rear.
	const std::pair<Side, UINT Sendra2016::*> rollSides[2] = {{LEFT, &Sendra2016::animWheelRollLeft},
	                                                         {RIGHT, &Sendra2016::animWheelRollRight}};
	for (const auto &side : rollSides) {
		this->*side.second = CreateAnimation(0.0);
		for (const WheelRow &w : WHEELS)
			if (w.side == side.first)
				AddAnimationComponent(this->*side.second, 0.0, 1.0, this->*w.rollTransform);
	}

	static std::array<MGROUP_ROTATE, 6> swivels = BuildTransforms(WHEELS, WheelSwivel);
	for (int i = 0; i < 6; ++i) {
		const WheelRow &w = WHEELS[i];
		this->*w.swivelAnim = CreateAnimation(0.0);
		ANIMATIONCOMPONENT_HANDLE swivel = AddAnimationComponent(this->*w.swivelAnim, 0.0, 1.0, &swivels[i]);
		this->*w.linkAnim = CreateAnimation(0.0);
		AddAnimationComponent(this->*w.linkAnim, 0.0, 1.0, this->*w.rollTransform, swivel);
	}

	static std::array<MGROUP_ROTATE, 3> dials = BuildTransforms(DIALS, PartRotation);
	for (int i = 0; i < 3; ++i) {
		this->*DIALS[i].anim = CreateAnimation(0.0);
		AddAnimationComponent(this->*DIALS[i].anim, 0.0, 1.0, &dials[i]);
	}

	static std::array<MGROUP_ROTATE, 12> sticks = BuildTransforms(STICKS, PartRotation);
	for (int i = 0; i < 12; ++i) {
		this->*STICKS[i].anim = CreateAnimation(0.0);
		AddAnimationComponent(this->*STICKS[i].anim, 0.0, 1.0, &sticks[i]);
	}
}
