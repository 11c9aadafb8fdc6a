// The rover's animation rig, written out by hand for the tests and not taken from the
// module's tables: which groups of mesh 0 each moving part turns, about which axis through
// which point, and how far (degrees at state 1). Points in metres, vessel frame (x right, y
// up, z forward).
#pragma once

#include <vector>

#include "module/Sendra2016.h"

namespace expected_rig {

inline const VECTOR3 X_AXIS = _V(1, 0, 0), Y_AXIS = _V(0, 1, 0), Z_AXIS = _V(0, 0, 1);

// One rotation of a component.
struct Turn {
	std::vector<UINT> groups;
	VECTOR3 ref, axis;
	double deg;
};

// The sunscreen: fifteen slats about one hinge, one animation each, slat i = animSunscreen[i].
inline const VECTOR3 HINGE = _V(0, 0.078, -0.89), HINGE_AXIS = _V(-1, 0, 0);
struct Slat {
	UINT group;
	double deg;
};
inline const Slat SLATS[15] = {{116, 124.8}, {123, 121.2}, {115, 112.2}, {124, 103.8}, {114, 97.8},
                               {122, 90},    {113, 79.8},  {121, 67.2},  {112, 58.8},  {120, 49.8},
                               {111, 39.6},  {119, 31.2},  {110, 23.4},  {118, 13.8},  {109, 4.8}};

// A part of one animation with one component.
struct Part {
	UINT Sendra2016::*anim;
	Turn turn;
};

inline const Part DOORS[2] = {
	{&Sendra2016::animDoorLeft, {{97, 31}, _V(-1.882, 3.2, -0.024), Y_AXIS, 60}},
	{&Sendra2016::animDoorRight, {{29, 96}, _V(1.882, 3.2, -0.024), Y_AXIS, -60}},
};

// Each wheel swivels a full turn about the vertical through its swivel point and rolls a full
// turn about the axle through its roll point. In the order in which their swivels are made.
struct Wheel {
	UINT Sendra2016::*swivelAnim;
	UINT Sendra2016::*linkAnim;
	MGROUP_ROTATE *Sendra2016::*rollTransform;
	bool right;
	UINT swivelGroup;
	VECTOR3 swivelPoint;
	UINT rollGroups[2];
	VECTOR3 rollPoint;

	Turn Swivel() const { return {{swivelGroup}, swivelPoint, Y_AXIS, 360}; }
	Turn Roll() const { return {{rollGroups[0], rollGroups[1]}, rollPoint, X_AXIS, 360}; }
};
inline const Wheel WHEELS[6] = {
	{&Sendra2016::animSteerRightFront, &Sendra2016::animWheelLinkRightFront, &Sendra2016::rollTransformRightFront, true,
	 13, _V(1.5374, -1.759, 1.493), {35, 21}, _V(1.5374, -1.759, 1.493)},
	{&Sendra2016::animSteerRightMiddle, &Sendra2016::animWheelLinkRightMiddle, &Sendra2016::rollTransformRightMiddle,
	 true, 12, _V(1.5374, -1.759, -0.569), {36, 17}, _V(1.5374, -1.759, -0.569)},
	{&Sendra2016::animSteerRightRear, &Sendra2016::animWheelLinkRightRear, &Sendra2016::rollTransformRightRear, true,
	 11, _V(1.5374, -1.759, -2.629), {37, 20}, _V(1.5374, -1.759, -2.629)},
	{&Sendra2016::animSteerLeftFront, &Sendra2016::animWheelLinkLeftFront, &Sendra2016::rollTransformLeftFront, false,
	 14, _V(-1.5363, -1.759, 1.493), {34, 18}, _V(-1.529, -1.759, 1.493)},
	{&Sendra2016::animSteerLeftMiddle, &Sendra2016::animWheelLinkLeftMiddle, &Sendra2016::rollTransformLeftMiddle,
	 false, 15, _V(-1.5363, -1.759, -0.569), {33, 22}, _V(-1.5363, -1.759, -0.569)},
	{&Sendra2016::animSteerLeftRear, &Sendra2016::animWheelLinkLeftRear, &Sendra2016::rollTransformLeftRear, false,
	 16, _V(-1.5374, -1.759, -2.629), {32, 19}, _V(-1.529, -1.759, -2.629)},
};

inline const Part DIALS[3] = {
	{&Sendra2016::animTurnDialLeft, {{159}, _V(-0.956, 0.208, 2.563), Z_AXIS, -360}},
	{&Sendra2016::animTurnDialRight, {{158}, _V(0.842, 0.208, 2.563), Z_AXIS, -360}},
	{&Sendra2016::animTurnDialRear, {{160}, _V(-0.169, -0.089, -2.944), Z_AXIS, 360}},
};

// The control sticks: bank about the forward axis, pitch about the lateral one. In creation
// order.
inline const VECTOR3 LEFT_STICK = _V(-1.044, 0.148, 2.204), RIGHT_STICK = _V(0.936, 0.148, 2.204),
                     REAR_STICK = _V(0, -0.23, -2.944);
inline const Part STICKS[12] = {
	{&Sendra2016::animStickLeftBankPlus, {{171}, LEFT_STICK, Z_AXIS, 15}},
	{&Sendra2016::animStickLeftBankMinus, {{171}, LEFT_STICK, Z_AXIS, -15}},
	{&Sendra2016::animStickLeftPitchPlus, {{171}, LEFT_STICK, X_AXIS, 15}},
	{&Sendra2016::animStickLeftPitchMinus, {{171}, LEFT_STICK, X_AXIS, -15}},
	{&Sendra2016::animStickRightBankPlus, {{170}, RIGHT_STICK, Z_AXIS, 15}},
	{&Sendra2016::animStickRightBankMinus, {{170}, RIGHT_STICK, Z_AXIS, -15}},
	{&Sendra2016::animStickRightPitchPlus, {{170}, RIGHT_STICK, X_AXIS, 15}},
	{&Sendra2016::animStickRightPitchMinus, {{170}, RIGHT_STICK, X_AXIS, -15}},
	{&Sendra2016::animStickRearBankMinus, {{152}, REAR_STICK, Z_AXIS, -15}},
	{&Sendra2016::animStickRearBankPlus, {{152}, REAR_STICK, Z_AXIS, 15}},
	{&Sendra2016::animStickRearPitchMinus, {{152}, REAR_STICK, X_AXIS, -15}},
	{&Sendra2016::animStickRearPitchPlus, {{152}, REAR_STICK, X_AXIS, 15}},
};

}  // namespace expected_rig
