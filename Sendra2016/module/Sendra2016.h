// The Sendra2016 rover: a six-wheeled surface rover vessel for Orbiter 2016. The class holds
// the rover's fields; each subsystem's code lives in its own folder beside this one.
#ifndef SENDRA2016_H
#define SENDRA2016_H

#include "Orbitersdk.h"

// Module-wide state. The Linux build exports both by name (dlsym "visualMesh"), for tests.
// Mesh 0 of the visual created last, null when no visual exists (all rovers share it).
extern MESHHANDLE visualMesh;
// Colours of the eight beacons, all white; the host reads them through the beacon records.
extern VECTOR3 BEACON_COLOURS[8];

// Status codes of a moving part (the doors and the sunscreen).
const int PART_CLOSED = 0;
const int PART_OPEN = 1;
const int PART_CLOSING = 2;
const int PART_OPENING = 3;

class Sendra2016 final : public VESSEL3 {
public:
	Sendra2016(OBJHANDLE hVessel, int flightmodel);
	~Sendra2016();

	// Host callbacks (vessel configuration)
	void clbkSetClassCaps(FILEHANDLE cfg) override;
	void clbkVisualCreated(VISHANDLE vis, int refcount) override;
	void clbkVisualDestroyed(VISHANDLE vis, int refcount) override;
	void clbkFocusChanged(bool getfocus, OBJHANDLE hNewVessel, OBJHANDLE hOldVessel) override;
	// Scenario persistence
	void clbkSaveState(FILEHANDLE scn) override;
	void clbkLoadStateEx(FILEHANDLE scn, void *status) override;
	// Surface driving
	void clbkPreStep(double simt, double simdt, double mjd) override;
	// Driver controls and display
	void clbkPostStep(double simt, double simdt, double mjd) override;
	int clbkConsumeDirectKey(char *kstate) override;
	int clbkConsumeBufferedKey(DWORD key, bool down, char *kstate) override;
	bool clbkDrawHUD(int mode, const HUDPAINTSPEC *hps, oapi::Sketchpad *skp) override;

	void DefineAnimations();
	void SetCameraStation(int station);
	void UpdateSurfaceState();

	// --- Fields, in the order of the object ----------------------------------------------
	int doorLeftStatus;        // PART_CLOSED, PART_OPEN, PART_CLOSING or PART_OPENING
	int sunscreenStatus;
	int doorRightStatus;
	VESSELSTATUS2 vs;          // state record, refilled and written back every pre-step
	double groundSpeed;        // [m/s], 0 to 2.78; the direction comes from the gear
	double steerDeflection;    // [fraction of a turn], -0.125 to +0.125
	double sunscreenProc;      // sunscreen animation state, 0 closed to 1 open
	MGROUP_ROTATE *rollTransformRightFront;  // per-rover wheel-roll transforms, owned
	MGROUP_ROTATE *rollTransformRightMiddle;
	MGROUP_ROTATE *rollTransformRightRear;
	MGROUP_ROTATE *rollTransformLeftFront;
	MGROUP_ROTATE *rollTransformLeftMiddle;
	MGROUP_ROTATE *rollTransformLeftRear;
	int steerInput;            // rudder level truncated: -1, 0 or +1
	int turnAngle;             // [deg] turnProc x 360 truncated, shown on the HUD
	int autoCentre;            // 1 while the swivel returns to straight
	double wheelRollProc;      // wheel roll animation state, 0 to 1 (one wheel turn)
	double planetRadius;       // [m]
	double planetCircumference;  // [m]
	double metresPerDegree;    // [m] of ground per degree of arc
	double turnRate;           // [rad per step] heading change while steering is held
	VECTOR3 surfacePos;        // longitude, latitude, heading [rad] after the step's motion
	double terrainRoll;        // [rad], always 0
	double terrainPitch;       // [rad] from the terrain probes; front higher is positive
	double rideHeight;         // [m] height of the vessel origin above the ground
	double footprintRadius;    // [m] circumradius of the touchdown triangle
	double latStepDeg;         // [deg] latitude increment of the step, before the gear's sign
	double lngStepDeg;         // [deg] longitude increment of the step, before the gear's sign
	VECTOR3 rearProbe;         // [m] rear terrain probe offset in the rover frame
	VECTOR3 frontProbe;        // [m] front terrain probe offset in the rover frame
	double doorLeftProc;       // left door animation state, 0 closed to 1 open
	double doorRate;           // [state per second] of both doors
	double speedProc;          // groundSpeed / 2.78, the sticks' pitch state
	double doorRightProc;      // right door animation state, 0 closed to 1 open
	UINT animTurnDialLeft, animTurnDialRight, animTurnDialRear;
	UINT animStickLeftBankPlus, animStickLeftBankMinus, animStickLeftPitchPlus, animStickLeftPitchMinus;
	UINT animStickRightBankPlus, animStickRightBankMinus, animStickRightPitchPlus, animStickRightPitchMinus;
	UINT animStickRearBankMinus, animStickRearBankPlus, animStickRearPitchMinus, animStickRearPitchPlus;
	UINT animSunscreen[15];
	UINT animWheelLinkRightFront, animWheelLinkRightMiddle, animWheelLinkRightRear;
	UINT animWheelLinkLeftFront, animWheelLinkLeftMiddle, animWheelLinkLeftRear;
	UINT animSteerRightFront, animSteerRightMiddle, animSteerRightRear;
	UINT animSteerLeftFront, animSteerLeftMiddle, animSteerLeftRear;
	UINT animWheelRollRight, animWheelRollLeft;
	UINT animDoorLeft, animDoorRight;
	double turnProc;           // wheel swivel [fraction of a turn], 0 to 1, wrapping
	LightEmitter *spotLights[4];  // owned by the host
	int cameraStation;         // station the next press of V applies, 0 to 4
	int lightsOn;              // 0 off, 1 on
	int gearForward;           // exactly one of the three gear flags is 1
	int gearReverse;
	int gearNeutral;
	int neutralFrom;           // gear left for neutral: 0 none, 1 forward, 2 reverse
	VECTOR3 beaconPos[8];      // [m] beacon positions; the host reads them through beacons
	BEACONLIGHTSPEC beacons[8];

private:
	Sendra2016(const Sendra2016 &);
	Sendra2016 &operator=(const Sendra2016 &);
};

// Rx(angles.x) Ry(angles.y) Rz(angles.z), angles in radians.
MATRIX3 RotationMatrix(VECTOR3 angles);

// printf's text of format in buffer, cut to size - 1 characters and always ended; returns the
// number of characters written.
int FormatText(char *buffer, size_t size, const char *format, ...);

#endif  // SENDRA2016_H
