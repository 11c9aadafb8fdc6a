// Stand-in for the Orbiter 2016 SDK header VesselAPI.h: the vessel interface classes VESSEL,
// VESSEL2 and VESSEL3. VESSEL has no virtual functions; the host calls a module through the
// virtual callbacks of VESSEL2 and VESSEL3, declared here in the real host's order.
#ifndef __VESSELAPI_H
#define __VESSELAPI_H

#include "OrbiterAPI.h"

// The 2016 signatures return const-qualified handles by value, as the real SDK does.
#if defined(__GNUC__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wignored-qualifiers"
#endif

namespace oapi { class Sketchpad; }

// One touchdown point of the vessel's ground contact model.
typedef struct {
	VECTOR3 pos;       // position in the vessel frame [m]
	double stiffness;  // suspension stiffness [N/m]
	double damping;    // suspension damping [N s/m]
	double mu;         // isotropic / lateral friction coefficient
	double mu_lng;     // longitudinal friction coefficient (first three points only)
} TOUCHDOWNVTX;

class Vessel;  // the host's own vessel object; an OBJHANDLE of a vessel points to one

class OAPIFUNC VESSEL {
public:
	VESSEL(OBJHANDLE hVessel, int fmodel = 1);
	int Version() const { return version; }

	// Identity
	const OBJHANDLE GetHandle() const;
	char *GetName() const;
	char *GetClassName() const;
	int GetFlightModel() const;

	// Physical description
	void SetSize(double size) const;
	double GetSize() const;
	void SetEmptyMass(double m) const;
	double GetEmptyMass() const;
	void SetPMI(const VECTOR3 &pmi) const;
	void GetPMI(VECTOR3 &pmi) const;
	void SetCrossSections(const VECTOR3 &cs) const;
	void GetCrossSections(VECTOR3 &cs) const;
	void SetRotDrag(const VECTOR3 &rd) const;
	void GetRotDrag(VECTOR3 &rd) const;
	void SetCW(double cw_z_pos, double cw_z_neg, double cw_x, double cw_y) const;
	void SetWingAspect(double aspect) const;
	void SetWingEffectiveness(double eff) const;
	void SetPitchMomentScale(double scale) const;
	void SetBankMomentScale(double scale) const;
	void SetYawMomentScale(double scale) const;
	void SetTrimScale(double scale) const;
	void SetTouchdownPoints(const TOUCHDOWNVTX *tdvtx, DWORD ntdvtx) const;
	void SetTouchdownPoints(const VECTOR3 &pt1, const VECTOR3 &pt2, const VECTOR3 &pt3) const;
	DWORD GetTouchdownPointCount() const;
	bool GetTouchdownPoint(TOUCHDOWNVTX &tdvtx, DWORD idx) const;

	// Meshes
	UINT AddMesh(const char *meshname, const VECTOR3 *ofs = 0) const;
	UINT AddMesh(MESHHANDLE hMesh, const VECTOR3 *ofs = 0) const;
	void SetMeshVisibilityMode(UINT idx, WORD mode) const;
	WORD GetMeshVisibilityMode(UINT idx) const;
	MESHHANDLE GetMesh(VISHANDLE vis, UINT idx) const;
	UINT GetMeshCount() const;

	// Lights
	LightEmitter *AddSpotLight(const VECTOR3 &pos, const VECTOR3 &dir, double range, double att0, double att1,
	                           double att2, double umbra, double penumbra, COLOUR4 diffuse, COLOUR4 specular,
	                           COLOUR4 ambient) const;
	LightEmitter *AddPointLight(const VECTOR3 &pos, double range, double att0, double att1, double att2,
	                            COLOUR4 diffuse, COLOUR4 specular, COLOUR4 ambient) const;
	DWORD LightEmitterCount() const;
	const LightEmitter *GetLightEmitter(DWORD i) const;
	void AddBeacon(BEACONLIGHTSPEC *bs);
	const BEACONLIGHTSPEC *GetBeacon(DWORD idx) const;

	// Animations
	UINT CreateAnimation(double initial_state) const;
	ANIMATIONCOMPONENT_HANDLE AddAnimationComponent(UINT anim, double state0, double state1,
	                                                MGROUP_TRANSFORM *trans,
	                                                ANIMATIONCOMPONENT_HANDLE parent = NULL) const;
	bool SetAnimation(UINT anim, double state) const;
	double GetAnimation(UINT anim) const;

	// State
	const OBJHANDLE GetSurfaceRef() const;
	void GetStatusEx(void *status) const;
	void DefSetStateEx(const void *status) const;
	void ParseScenarioLineEx(char *line, void *status) const;

	// Controls
	double GetControlSurfaceLevel(AIRCTRL_TYPE type) const;
	void SetADCtrlMode(DWORD mode) const;
	DWORD GetADCtrlMode() const;

	// Camera
	void SetCameraOffset(const VECTOR3 &co) const;
	void GetCameraOffset(VECTOR3 &co) const;
	void SetCameraDefaultDirection(const VECTOR3 &cd) const;
	void SetCameraDefaultDirection(const VECTOR3 &cd, double tilt) const;

protected:
	Vessel *vessel;
	short flightmodel;
	short version;
};

class OAPIFUNC VESSEL2 : public VESSEL {
public:
	VESSEL2(OBJHANDLE hVessel, int fmodel = 1);

	virtual void clbkSetClassCaps(FILEHANDLE cfg);
	virtual void clbkSaveState(FILEHANDLE scn);
	virtual void clbkLoadStateEx(FILEHANDLE scn, void *status);
	virtual void clbkSetStateEx(const void *status);
	virtual void clbkPostCreation();
	virtual void clbkFocusChanged(bool getfocus, OBJHANDLE hNewVessel, OBJHANDLE hOldVessel);
	virtual void clbkPreStep(double simt, double simdt, double mjd);
	virtual void clbkPostStep(double simt, double simdt, double mjd);
	virtual bool clbkPlaybackEvent(double simt, double event_t, const char *event_type, const char *event);
	virtual void clbkVisualCreated(VISHANDLE vis, int refcount);
	virtual void clbkVisualDestroyed(VISHANDLE vis, int refcount);
	virtual void clbkDrawHUD(int mode, const HUDPAINTSPEC *hps, HDC hDC);
	virtual void clbkRCSMode(int mode);
	virtual void clbkADCtrlMode(DWORD mode);
	virtual void clbkHUDMode(int mode);
	virtual void clbkMFDMode(int mfd, int mode);
	virtual void clbkNavMode(int mode, bool active);
	virtual void clbkDockEvent(int dock, OBJHANDLE mate);
	virtual void clbkAnimate(double simt);
	virtual int clbkConsumeDirectKey(char *kstate);
	virtual int clbkConsumeBufferedKey(DWORD key, bool down, char *kstate);
	virtual bool clbkLoadGenericCockpit();
	virtual bool clbkLoadPanel(int id);
	virtual bool clbkPanelMouseEvent(int id, int event, int mx, int my);
	virtual bool clbkPanelRedrawEvent(int id, int event, SURFHANDLE surf);
	virtual bool clbkLoadVC(int id);
	virtual bool clbkVCMouseEvent(int id, int event, VECTOR3 &p);
	virtual bool clbkVCRedrawEvent(int id, int event, SURFHANDLE surf);
};

class OAPIFUNC VESSEL3 : public VESSEL2 {
public:
	VESSEL3(OBJHANDLE hVessel, int fmodel = 1);

	virtual bool clbkPanelMouseEvent(int id, int event, int mx, int my, void *context);
	virtual bool clbkPanelRedrawEvent(int id, int event, SURFHANDLE surf, void *context);
	virtual int clbkGeneric(int msgid = 0, int prm = 0, void *context = NULL);
	virtual bool clbkLoadPanel2D(int id, PANELHANDLE hPanel, DWORD viewW, DWORD viewH);
	virtual bool clbkDrawHUD(int mode, const HUDPAINTSPEC *hps, oapi::Sketchpad *skp);
	virtual void clbkRenderHUD(int mode, const HUDPAINTSPEC *hps, SURFHANDLE hDefaultTex);
	virtual void clbkGetRadiationForce(const VECTOR3 &mflux, VECTOR3 &F, VECTOR3 &pos);
};

#if defined(__GNUC__)
#pragma GCC diagnostic pop
#endif

#endif  // __VESSELAPI_H
