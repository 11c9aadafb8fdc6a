// The rover's class capabilities: size, mass, drag, inertia, touchdown points, its mesh,
// spot lights and beacons; and the callbacks that follow its visual and the input focus.
#include <cmath>

#include "../module/Sendra2016.h"

// Visible by name in the Linux build, so that the stand-in host's tests can find them.
#if defined(__GNUC__) && !defined(_WIN32)
#pragma GCC visibility push(default)
#endif
MESHHANDLE visualMesh = 0;

VECTOR3 BEACON_COLOURS[8] = {{{1, 1, 1}}, {{1, 1, 1}}, {{1, 1, 1}}, {{1, 1, 1}},
                             {{1, 1, 1}}, {{1, 1, 1}}, {{1, 1, 1}}, {{1, 1, 1}}};
#if defined(__GNUC__) && !defined(_WIN32)
#pragma GCC visibility pop
#endif

namespace {

const double EMPTY_MASS = 2721000.0;       // [kg]
const double TOUCHDOWN_STIFFNESS = 17789081.7;  // [N/m]
const double TOUCHDOWN_MU = 3.0;            // lateral and longitudinal friction

struct SpotLightRow {
	double pos[3];  // [m]
	double dir[3];  // passed as written, not normalised
};

// Front, right side, left side, rear.
const SpotLightRow SPOT_LIGHTS[4] = {
	{{0, 1.7, 2.2}, {0, 0, 1}},
	{{1.8, 1.563817, 0.471}, {0.7, -0.7, 0}},
	{{-1.8, 1.563817, 0.471}, {-0.7, -0.7, 0}},
	{{0, 1.7, 2.2}, {0, 0, -1}},
};
const double SPOT_RANGE = 150.0;                        // [m]
const double SPOT_ATTENUATION[3] = {0.001, 0.0, 0.001};  // constant, linear, quadratic
const double SPOT_UMBRA_DEG = 25.0;
const double SPOT_PENUMBRA_DEG = 60.0;

const double BEACON_POSITIONS[8][3] = {
	{-0.824, 1.554, 1.969}, {0.832, 1.554, 1.969}, {1.86, 1.39, 0.187},   {1.86, 1.39, 0.815},
	{-1.86, 1.39, 0.187},   {-1.86, 1.39, 0.815}, {-0.331, 1.545, -0.836}, {0.337, 1.545, -0.836},
};

VECTOR3 V(const double (&v)[3]) { return _V(v[0], v[1], v[2]); }

}  // namespace

void Sendra2016::clbkSetClassCaps(FILEHANDLE cfg) {
	(void)cfg;
	SetSize(6.08);
	SetEmptyMass(EMPTY_MASS);
	SetCW(0.9, 0.9, 2.0, 1.4);
	SetWingAspect(0.1);
	SetWingEffectiveness(0.1);
	SetCrossSections(_V(232.84, 1220.32, 166.36));
	SetRotDrag(_V(0.1, 0.1, 0.1));
	if (GetFlightModel() >= 1) {
		SetPitchMomentScale(1e-4);
		SetBankMomentScale(1e-4);
	}
	SetPMI(_V(163.54, 208.04, 76.03));
	SetTrimScale(0.05);
	SetCameraOffset(_V(0, 0.7, 3.121));

	// An equilateral triangle of circumradius L at the wheels' contact plane, one corner
	// ahead, and a fourth point high above that keeps the rover from rolling over.
	double h = rideHeight, l = footprintRadius;
	double c30 = std::cos(30.0 * RAD), s30 = std::sin(30.0 * RAD);
	double damping = 0.9 * 2.0 * std::sqrt(EMPTY_MASS * TOUCHDOWN_STIFFNESS);
	TOUCHDOWNVTX td[4] = {
		{_V(c30 * l, -h, -s30 * l), TOUCHDOWN_STIFFNESS, damping, TOUCHDOWN_MU, TOUCHDOWN_MU},
		{_V(0, -h, l), TOUCHDOWN_STIFFNESS, damping, TOUCHDOWN_MU, TOUCHDOWN_MU},
		{_V(-c30 * l, -h, -s30 * l), TOUCHDOWN_STIFFNESS, damping, TOUCHDOWN_MU, TOUCHDOWN_MU},
		{_V(0, 15 * l, 0), TOUCHDOWN_STIFFNESS, damping, TOUCHDOWN_MU, TOUCHDOWN_MU},
	};
	SetTouchdownPoints(td, 4);

	MESHHANDLE mesh = oapiLoadMeshGlobal("Sendra9");
	UINT meshIndex = AddMesh(mesh);
	SetMeshVisibilityMode(meshIndex, MESHVIS_ALWAYS);

	COLOUR4 white = {1, 1, 1, 0};
	COLOUR4 none = {0, 0, 0, 0};
	for (int i = 0; i < 4; ++i)
		spotLights[i] = AddSpotLight(V(SPOT_LIGHTS[i].pos), V(SPOT_LIGHTS[i].dir), SPOT_RANGE, SPOT_ATTENUATION[0],
		                             SPOT_ATTENUATION[1], SPOT_ATTENUATION[2], SPOT_UMBRA_DEG * RAD,
		                             SPOT_PENUMBRA_DEG * RAD, white, white, none);
	for (int i = 0; i < 4; ++i)
		spotLights[i]->Activate(false);

	for (int k = 0; k < 8; ++k) {
		beacons[k].shape = BEACONSHAPE_STAR;
		beacons[k].pos = &beaconPos[k];
		beacons[k].col = &BEACON_COLOURS[k];
		beacons[k].size = 0.2;
		beacons[k].falloff = 0.3;
		beacons[k].period = 1.0;
		beacons[k].duration = 1.0;
		beacons[k].tofs = 0.2 * (6 - k);  // 1.2 s for the first down to -0.2 s for the last
		beacons[k].active = false;
		AddBeacon(&beacons[k]);
	}
	// The host reads the positions through the records' pointers, not at AddBeacon.
	for (int k = 0; k < 8; ++k)
		beaconPos[k] = V(BEACON_POSITIONS[k]);
}

void Sendra2016::clbkVisualCreated(VISHANDLE vis, int refcount) {
	(void)refcount;
	visualMesh = GetMesh(vis, 0);
}

void Sendra2016::clbkVisualDestroyed(VISHANDLE vis, int refcount) {
	(void)vis;
	(void)refcount;
	visualMesh = 0;
}

void Sendra2016::clbkFocusChanged(bool getfocus, OBJHANDLE hNewVessel, OBJHANDLE hOldVessel) {
	(void)hNewVessel;
	(void)hOldVessel;
	if (!getfocus)
		oapiDebugString()[0] = '\0';
}
