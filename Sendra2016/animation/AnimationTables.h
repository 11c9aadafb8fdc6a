// The rig of the rover's mesh as data: one table per kind of moving part, one row per part,
// in the order in which DefineAnimations creates the animations (their handles are creation
// indices, so the order is part of the rover's interface). Angles in degrees, points in
// metres in the mesh frame (x right, y up, z forward).
#ifndef SENDRA2016_ANIMATION_TABLES_H
#define SENDRA2016_ANIMATION_TABLES_H

#include "../module/Sendra2016.h"

namespace rig {

// A rotation of up to two mesh groups about an axis through a reference point.
struct RotationRow {
	UINT groups[2];   // group indices; only the first ngroups are used
	UINT ngroups;
	double ref[3];    // [m] a point on the axis
	double axis[3];   // unit axis
	double angleDeg;  // rotation at state 1
};

// The fifteen sunscreen slats, fanning out about one hinge; animSunscreen[i] is row i.
const RotationRow SUNSCREEN_SLATS[15] = {
	{{116}, 1, {0, 0.078, -0.89}, {-1, 0, 0}, 124.8},
	{{123}, 1, {0, 0.078, -0.89}, {-1, 0, 0}, 121.2},
	{{115}, 1, {0, 0.078, -0.89}, {-1, 0, 0}, 112.2},
	{{124}, 1, {0, 0.078, -0.89}, {-1, 0, 0}, 103.8},
	{{114}, 1, {0, 0.078, -0.89}, {-1, 0, 0}, 97.8},
	{{122}, 1, {0, 0.078, -0.89}, {-1, 0, 0}, 90},
	{{113}, 1, {0, 0.078, -0.89}, {-1, 0, 0}, 79.8},
	{{121}, 1, {0, 0.078, -0.89}, {-1, 0, 0}, 67.2},
	{{112}, 1, {0, 0.078, -0.89}, {-1, 0, 0}, 58.8},
	{{120}, 1, {0, 0.078, -0.89}, {-1, 0, 0}, 49.8},
	{{111}, 1, {0, 0.078, -0.89}, {-1, 0, 0}, 39.6},
	{{119}, 1, {0, 0.078, -0.89}, {-1, 0, 0}, 31.2},
	{{110}, 1, {0, 0.078, -0.89}, {-1, 0, 0}, 23.4},
	{{118}, 1, {0, 0.078, -0.89}, {-1, 0, 0}, 13.8},
	{{109}, 1, {0, 0.078, -0.89}, {-1, 0, 0}, 4.8},
};

// The side doors, about vertical hinges: left, right.
struct DoorRow {
	UINT Sendra2016::*anim;
	RotationRow rotation;
};
const DoorRow DOORS[2] = {
	{&Sendra2016::animDoorLeft, {{97, 31}, 2, {-1.882, 3.2, -0.024}, {0, 1, 0}, 60}},
	{&Sendra2016::animDoorRight, {{29, 96}, 2, {1.882, 3.2, -0.024}, {0, 1, 0}, -60}},
};

// The wheels. Each swivels a full turn about the vertical through its swivel point; its two
// roll groups roll a full turn about the axle through its roll point and hang from the swivel
// through the wheel's link animation. The axle line decides how steering deflects the swivel.
enum Side { RIGHT, LEFT };
enum Axle { FRONT, MIDDLE, REAR };
struct WheelRow {
	Side side;
	Axle axle;
	UINT Sendra2016::*swivelAnim;
	UINT swivelGroup;
	double swivelPoint[3];
	MGROUP_ROTATE *Sendra2016::*rollTransform;
	UINT rollGroups[2];
	double rollPoint[3];
	UINT Sendra2016::*linkAnim;
};
const double WHEEL_SWIVEL_AXIS[3] = {0, 1, 0};
const double WHEEL_ROLL_AXIS[3] = {1, 0, 0};
const double WHEEL_TURN_DEG = 360;
// Rows in the order of swivel and link creation: right front, middle, rear, then left.
const WheelRow WHEELS[6] = {
	{RIGHT, FRONT, &Sendra2016::animSteerRightFront, 13, {1.5374, -1.759, 1.493}, &Sendra2016::rollTransformRightFront,
	 {35, 21}, {1.5374, -1.759, 1.493}, &Sendra2016::animWheelLinkRightFront},
	{RIGHT, MIDDLE, &Sendra2016::animSteerRightMiddle, 12, {1.5374, -1.759, -0.569}, &Sendra2016::rollTransformRightMiddle,
	 {36, 17}, {1.5374, -1.759, -0.569}, &Sendra2016::animWheelLinkRightMiddle},
	{RIGHT, REAR, &Sendra2016::animSteerRightRear, 11, {1.5374, -1.759, -2.629}, &Sendra2016::rollTransformRightRear,
	 {37, 20}, {1.5374, -1.759, -2.629}, &Sendra2016::animWheelLinkRightRear},
	{LEFT, FRONT, &Sendra2016::animSteerLeftFront, 14, {-1.5363, -1.759, 1.493}, &Sendra2016::rollTransformLeftFront,
	 {34, 18}, {-1.529, -1.759, 1.493}, &Sendra2016::animWheelLinkLeftFront},
	{LEFT, MIDDLE, &Sendra2016::animSteerLeftMiddle, 15, {-1.5363, -1.759, -0.569}, &Sendra2016::rollTransformLeftMiddle,
	 {33, 22}, {-1.5363, -1.759, -0.569}, &Sendra2016::animWheelLinkLeftMiddle},
	{LEFT, REAR, &Sendra2016::animSteerLeftRear, 16, {-1.5374, -1.759, -2.629}, &Sendra2016::rollTransformLeftRear,
	 {32, 19}, {-1.529, -1.759, -2.629}, &Sendra2016::animWheelLinkLeftRear},
};

// The dials, turning with the wheels' swivel: left, right, rear.
struct PartRow {
	UINT Sendra2016::*anim;
	RotationRow rotation;
};
const PartRow DIALS[3] = {
	{&Sendra2016::animTurnDialLeft, {{159}, 1, {-0.956, 0.208, 2.563}, {0, 0, 1}, -360}},
	{&Sendra2016::animTurnDialRight, {{158}, 1, {0.842, 0.208, 2.563}, {0, 0, 1}, -360}},
	{&Sendra2016::animTurnDialRear, {{160}, 1, {-0.169, -0.089, -2.944}, {0, 0, 1}, 360}},
};

// The three control sticks (left, right, rear), four tilts each: bank about the forward
// axis, pitch about the lateral axis.
const PartRow STICKS[12] = {
	{&Sendra2016::animStickLeftBankPlus, {{171}, 1, {-1.044, 0.148, 2.204}, {0, 0, 1}, 15}},
	{&Sendra2016::animStickLeftBankMinus, {{171}, 1, {-1.044, 0.148, 2.204}, {0, 0, 1}, -15}},
	{&Sendra2016::animStickLeftPitchPlus, {{171}, 1, {-1.044, 0.148, 2.204}, {1, 0, 0}, 15}},
	{&Sendra2016::animStickLeftPitchMinus, {{171}, 1, {-1.044, 0.148, 2.204}, {1, 0, 0}, -15}},
	{&Sendra2016::animStickRightBankPlus, {{170}, 1, {0.936, 0.148, 2.204}, {0, 0, 1}, 15}},
	{&Sendra2016::animStickRightBankMinus, {{170}, 1, {0.936, 0.148, 2.204}, {0, 0, 1}, -15}},
	{&Sendra2016::animStickRightPitchPlus, {{170}, 1, {0.936, 0.148, 2.204}, {1, 0, 0}, 15}},
	{&Sendra2016::animStickRightPitchMinus, {{170}, 1, {0.936, 0.148, 2.204}, {1, 0, 0}, -15}},
	{&Sendra2016::animStickRearBankMinus, {{152}, 1, {0, -0.23, -2.944}, {0, 0, 1}, -15}},
	{&Sendra2016::animStickRearBankPlus, {{152}, 1, {0, -0.23, -2.944}, {0, 0, 1}, 15}},
	{&Sendra2016::animStickRearPitchMinus, {{152}, 1, {0, -0.23, -2.944}, {1, 0, 0}, -15}},
	{&Sendra2016::animStickRearPitchPlus, {{152}, 1, {0, -0.23, -2.944}, {1, 0, 0}, 15}},
};

}  // namespace rig

#endif  // SENDRA2016_ANIMATION_TABLES_H
