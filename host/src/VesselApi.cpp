// The vessel interface that modules call: VESSEL's methods keep what the module declares on
// the host's vessel record and journal every call; VESSEL2 and VESSEL3 hold the callbacks'
// default behaviour.
#include <algorithm>
#include <cmath>
#include <cstring>

#include "sendra_host/Simulation.h"
#include "sendra_host/Text.h"
#include "src/HostVessel.h"
#include "src/Lights.h"
#include "src/ScenarioFiles.h"
#include "src/VesselLines.h"
#include "src/Visual.h"

using host::Op;

namespace {

// Sets an optional member of the record and journals the call.
template <typename T>
void Declare(Vessel *v, Op op, std::optional<T> &slot, const T &value) {
	v->Record(op);
	slot = value;
}

}  // namespace

VESSEL::VESSEL(OBJHANDLE hVessel, int fmodel)
	: vessel(static_cast<Vessel *>(hVessel)), flightmodel(static_cast<short>(fmodel)), version(0) {}

VESSEL2::VESSEL2(OBJHANDLE hVessel, int fmodel) : VESSEL(hVessel, fmodel) { version = 1; }

VESSEL3::VESSEL3(OBJHANDLE hVessel, int fmodel) : VESSEL2(hVessel, fmodel) { version = 2; }

// --- Identity ---------------------------------------------------------------

#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wignored-qualifiers"
const OBJHANDLE VESSEL::GetHandle() const {
	vessel->Record(Op::GetHandle);
	return vessel;
}

#pragma GCC diagnostic pop

char *VESSEL::GetName() const {
	vessel->Record(Op::GetName);
	return vessel->nameText.data();
}

char *VESSEL::GetClassName() const {
	vessel->Record(Op::GetClassName);
	return vessel->classText.data();
}

int VESSEL::GetFlightModel() const {
	vessel->Record(Op::GetFlightModel);
	return flightmodel;
}

// --- Physical description ----------------------------------------------------

void VESSEL::SetSize(double size) const { Declare(vessel, Op::SetSize, vessel->size, size); }
double VESSEL::GetSize() const {
	vessel->Record(Op::GetSize);
	return vessel->size.value_or(10.0);
}
void VESSEL::SetEmptyMass(double m) const { Declare(vessel, Op::SetEmptyMass, vessel->emptyMass, m); }
double VESSEL::GetEmptyMass() const {
	vessel->Record(Op::GetEmptyMass);
	return vessel->emptyMass.value_or(1000.0);
}
void VESSEL::SetPMI(const VECTOR3 &pmi) const { Declare(vessel, Op::SetPMI, vessel->pmi, pmi); }
void VESSEL::GetPMI(VECTOR3 &pmi) const {
	vessel->Record(Op::GetPMI);
	pmi = vessel->pmi.value_or(_V(15, 15, 15));
}
void VESSEL::SetCrossSections(const VECTOR3 &cs) const {
	Declare(vessel, Op::SetCrossSections, vessel->crossSections, cs);
}
void VESSEL::GetCrossSections(VECTOR3 &cs) const {
	vessel->Record(Op::GetCrossSections);
	cs = vessel->crossSections.value_or(_V(20, 20, 20));
}
void VESSEL::SetRotDrag(const VECTOR3 &rd) const { Declare(vessel, Op::SetRotDrag, vessel->rotDrag, rd); }
void VESSEL::GetRotDrag(VECTOR3 &rd) const {
	vessel->Record(Op::GetRotDrag);
	rd = vessel->rotDrag.value_or(_V(0.01, 0.01, 0.01));
}
void VESSEL::SetCW(double cw_z_pos, double cw_z_neg, double cw_x, double cw_y) const {
	Declare(vessel, Op::SetCW, vessel->cw, std::array<double, 4>{cw_z_pos, cw_z_neg, cw_x, cw_y});
}
void VESSEL::SetWingAspect(double aspect) const { Declare(vessel, Op::SetWingAspect, vessel->wingAspect, aspect); }
void VESSEL::SetWingEffectiveness(double eff) const {
	Declare(vessel, Op::SetWingEffectiveness, vessel->wingEffectiveness, eff);
}
void VESSEL::SetPitchMomentScale(double scale) const {
	Declare(vessel, Op::SetPitchMomentScale, vessel->pitchMomentScale, scale);
}
// The deprecated name sets the same quantity as SetYawMomentScale.
void VESSEL::SetBankMomentScale(double scale) const {
	Declare(vessel, Op::SetBankMomentScale, vessel->bankMomentScale, scale);
	vessel->yawMomentScale = scale;
}
void VESSEL::SetYawMomentScale(double scale) const {
	Declare(vessel, Op::SetYawMomentScale, vessel->yawMomentScale, scale);
	vessel->bankMomentScale = scale;
}
void VESSEL::SetTrimScale(double scale) const { Declare(vessel, Op::SetTrimScale, vessel->trimScale, scale); }

void VESSEL::SetTouchdownPoints(const TOUCHDOWNVTX *tdvtx, DWORD ntdvtx) const {
	vessel->Record(Op::SetTouchdownPoints);
	// The real host asserts at least three points; the stand-in ignores a shorter list.
	if (!tdvtx || ntdvtx < 3) {
		vessel->sim.ReportProblem(vessel->name + ": SetTouchdownPoints given fewer than three points; ignored");
		return;
	}
	vessel->touchdownPoints.assign(tdvtx, tdvtx + ntdvtx);
}

void VESSEL::SetTouchdownPoints(const VECTOR3 &pt1, const VECTOR3 &pt2, const VECTOR3 &pt3) const {
	vessel->Record(Op::SetTouchdownPoints);
	double mass = vessel->emptyMass.value_or(1000.0);
	double stiffness = mass == 1000.0 ? 1e6 : 20.0 * mass;
	double damping = 0.1 * stiffness;
	vessel->touchdownPoints.clear();
	for (const VECTOR3 *p : {&pt1, &pt2, &pt3})
		vessel->touchdownPoints.push_back(TOUCHDOWNVTX{*p, stiffness, damping, 0.5, 0.1});
}

DWORD VESSEL::GetTouchdownPointCount() const {
	vessel->Record(Op::GetTouchdownPointCount);
	return static_cast<DWORD>(vessel->touchdownPoints.size());
}

bool VESSEL::GetTouchdownPoint(TOUCHDOWNVTX &tdvtx, DWORD idx) const {
	vessel->Record(Op::GetTouchdownPoint);
	if (idx >= vessel->touchdownPoints.size())
		return false;
	tdvtx = vessel->touchdownPoints[idx];
	return true;
}

// --- Meshes ------------------------------------------------------------------

static UINT AddMeshSlot(Vessel *v, host::MeshSlot slot) {
	v->meshes.push_back(std::move(slot));
	if (v->visual)
		v->visual->SyncMeshes();
	return static_cast<UINT>(v->meshes.size() - 1);
}

UINT VESSEL::AddMesh(const char *meshname, const VECTOR3 *ofs) const {
	vessel->Record(Op::AddMesh);
	host::MeshSlot slot;
	slot.name = meshname ? std::string(meshname, strnlen(meshname, 1024)) : std::string();
	slot.tmpl = vessel->sim.LoadMesh(slot.name);
	if (ofs)
		slot.offset = *ofs;
	return AddMeshSlot(vessel, std::move(slot));
}

UINT VESSEL::AddMesh(MESHHANDLE hMesh, const VECTOR3 *ofs) const {
	vessel->Record(Op::AddMesh);
	host::MeshSlot slot;
	// A visual's mesh stands for its template: the visual and its meshes go when it does.
	slot.tmpl = host::MeshTemplateOf(hMesh);
	if (slot.tmpl)
		slot.name = slot.tmpl->name;
	if (ofs)
		slot.offset = *ofs;
	return AddMeshSlot(vessel, std::move(slot));
}

void VESSEL::SetMeshVisibilityMode(UINT idx, WORD mode) const {
	vessel->Record(Op::SetMeshVisibilityMode);
	if (idx < vessel->meshes.size())
		vessel->meshes[idx].visibility = mode;
}

WORD VESSEL::GetMeshVisibilityMode(UINT idx) const {
	vessel->Record(Op::GetMeshVisibilityMode);
	return idx < vessel->meshes.size() ? vessel->meshes[idx].visibility : 0;
}

MESHHANDLE VESSEL::GetMesh(VISHANDLE vis, UINT idx) const {
	vessel->Record(Op::GetMesh);
	host::Visual *v = vessel->visual.get();
	if (!v || vis != v->handle())
		return nullptr;
	return v->MeshHandle(idx);
}

UINT VESSEL::GetMeshCount() const {
	vessel->Record(Op::GetMeshCount);
	return static_cast<UINT>(vessel->meshes.size());
}

// --- Lights --------------------------------------------------------------------

LightEmitter *VESSEL::AddSpotLight(const VECTOR3 &pos, const VECTOR3 &dir, double range, double att0, double att1,
                                   double att2, double umbra, double penumbra, COLOUR4 diffuse, COLOUR4 specular,
                                   COLOUR4 ambient) const {
	vessel->Record(Op::AddSpotLight);
	return vessel->AddLight<SpotLight>(static_cast<OBJHANDLE>(vessel), pos, dir, range, att0, att1, att2, umbra,
	                                   penumbra, diffuse, specular, ambient);
}

LightEmitter *VESSEL::AddPointLight(const VECTOR3 &pos, double range, double att0, double att1, double att2,
                                    COLOUR4 diffuse, COLOUR4 specular, COLOUR4 ambient) const {
	vessel->Record(Op::AddPointLight);
	return vessel->AddLight<PointLight>(static_cast<OBJHANDLE>(vessel), pos, range, att0, att1, att2, diffuse, specular,
	                                    ambient);
}

DWORD VESSEL::LightEmitterCount() const {
	vessel->Record(Op::LightEmitterCount);
	return static_cast<DWORD>(vessel->lights.size());
}

const LightEmitter *VESSEL::GetLightEmitter(DWORD i) const {
	vessel->Record(Op::GetLightEmitter);
	return i < vessel->lights.size() ? vessel->lights[i].get() : nullptr;
}

void VESSEL::AddBeacon(BEACONLIGHTSPEC *bs) {
	vessel->Record(Op::AddBeacon);
	if (bs)
		vessel->AddBeacon(bs);
}

const BEACONLIGHTSPEC *VESSEL::GetBeacon(DWORD idx) const {
	vessel->Record(Op::GetBeacon);
	return idx < vessel->beacons.size() ? vessel->beacons[idx] : nullptr;
}

// --- Animations ------------------------------------------------------------------

UINT VESSEL::CreateAnimation(double initial_state) const {
	vessel->Record(Op::CreateAnimation);
	host::AnimationRecord a;
	a.defstate = initial_state;
	vessel->animations.push_back(std::move(a));
	vessel->AddAnimationState(initial_state);
	if (vessel->visual)
		vessel->visual->applied.push_back(initial_state);
	return static_cast<UINT>(vessel->animations.size() - 1);
}

ANIMATIONCOMPONENT_HANDLE VESSEL::AddAnimationComponent(UINT anim, double state0, double state1,
                                                        MGROUP_TRANSFORM *trans,
                                                        ANIMATIONCOMPONENT_HANDLE parent) const {
	vessel->Record(Op::AddAnimationComponent);
	if (anim >= vessel->animations.size() || !trans)
		return nullptr;
	auto *parentComp = static_cast<host::AnimComponent *>(parent);
	if (parentComp) {
		// Only a component of this vessel can be a parent.
		bool known = std::any_of(vessel->components.begin(), vessel->components.end(),
		                         [&](const std::unique_ptr<host::AnimComponent> &c) { return c.get() == parentComp; });
		if (!known)
			return nullptr;
	}
	auto comp = std::make_unique<host::AnimComponent>();
	comp->state0 = state0;
	comp->state1 = state1;
	comp->trans = trans;
	comp->type = trans->Type();
	comp->lone = comp->type == MGROUP_TRANSFORM::ROTATE && state0 != state1;
	comp->parent = parentComp;
	comp->anim = anim;
	comp->index = static_cast<UINT>(vessel->animations[anim].comps.size());
	host::AnimComponent *raw = comp.get();
	host::AnimationRecord &record = vessel->animations[anim];
	if (!record.comps.empty()) {
		const host::AnimComponent &first = *record.comps.front();
		record.oneRange = record.oneRange && std::memcmp(&first.state0, &comp->state0, sizeof state0) == 0 &&
		                  std::memcmp(&first.state1, &comp->state1, sizeof state1) == 0;
	}
	record.comps.push_back(raw);
	if (parentComp) {
		parentComp->children.push_back(raw);
		parentComp->lone = false;
	}
	vessel->components.push_back(std::move(comp));
	vessel->MarkAnimationChanged(anim);
	return raw;
}

namespace {
// Sets the state of one of v's animations, marking it changed when it differs.
inline void StoreAnimationState(Vessel &v, UINT anim, double state) {
	double &now = v.stateData[anim];
	if (!(now == state))
		v.MarkAnimationChanged(anim);
	now = state;
}

// SetAnimation's slow path, for what the fast path leaves: a journal that keeps entries, an
// animation the vessel does not have. Out of line, so that the fast path needs no stack frame.
#if defined(__GNUC__)
__attribute__((noinline))
#endif
bool SetAnimationFully(Vessel &v, UINT anim, double state) {
	v.Record(Op::SetAnimation);
	if (anim >= v.stateCount)
		return false;
	StoreAnimationState(v, anim, state);
	return true;
}
}  // namespace

// A frame sets dozens of states of every vessel: the fast path calls nothing, so that it
// needs no stack frame, and hands the rest to the slow path whole.
bool VESSEL::SetAnimation(UINT anim, double state) const {
	Vessel &v = *vessel;
	if (v.journal.Keeps() || anim >= v.stateCount)
		return SetAnimationFully(v, anim, state);
	v.journal.Count();
	StoreAnimationState(v, anim, state);
	return true;
}

double VESSEL::GetAnimation(UINT anim) const {
	vessel->Record(Op::GetAnimation);
	return anim < vessel->stateCount ? vessel->stateData[anim] : -1.0;
}

// --- State -----------------------------------------------------------------------

#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wignored-qualifiers"
const OBJHANDLE VESSEL::GetSurfaceRef() const {
	vessel->Record(Op::GetSurfaceRef);
	return vessel->surfaceRef;
}
#pragma GCC diagnostic pop

void VESSEL::GetStatusEx(void *status) const {
	vessel->Record(Op::GetStatusEx);
	auto *vs = static_cast<VESSELSTATUS2 *>(status);
	if (!vs || vs->version != 2)
		return;
	DWORD flag = vs->flag;
	*vs = vessel->state;
	vs->version = 2;
	vs->flag = flag;
	// The stand-in keeps no propellant, thrusters or docks: requested lists come back empty.
	vs->nfuel = vs->nthruster = vs->ndockinfo = 0;
	vs->fuel = nullptr;
	vs->thruster = nullptr;
	vs->dockinfo = nullptr;
}

void VESSEL::DefSetStateEx(const void *status) const {
	vessel->Record(Op::DefSetStateEx);
	host::ApplyStatus(*vessel, static_cast<const VESSELSTATUS2 *>(status));
}

void VESSEL::ParseScenarioLineEx(char *line, void *status) const {
	vessel->Record(Op::ParseScenarioLineEx);
	// The host's lines it does not act on are held for the default save to write back.
	if (host::ParseVesselLine(*vessel, line, static_cast<VESSELSTATUS2 *>(status)) == host::LineUse::Held)
		vessel->heldLines.emplace_back(host::Trim(std::string_view(line, strnlen(line, 1 << 20))));
}

// --- Controls ------------------------------------------------------------------------

double VESSEL::GetControlSurfaceLevel(AIRCTRL_TYPE type) const {
	vessel->Record(Op::GetControlSurfaceLevel);
	return type == AIRCTRL_RUDDER ? vessel->rudderLevel : 0.0;
}

void VESSEL::SetADCtrlMode(DWORD mode) const {
	vessel->Record(Op::SetADCtrlMode);
	vessel->adcMode = mode;
}

DWORD VESSEL::GetADCtrlMode() const {
	vessel->Record(Op::GetADCtrlMode);
	return vessel->adcMode;
}

// --- Camera --------------------------------------------------------------------------

void VESSEL::SetCameraOffset(const VECTOR3 &co) const {
	Declare(vessel, Op::SetCameraOffset, vessel->cameraOffset, co);
}

void VESSEL::GetCameraOffset(VECTOR3 &co) const {
	vessel->Record(Op::GetCameraOffset);
	co = vessel->cameraOffset.value_or(_V(0, 0, 0));
}

void VESSEL::SetCameraDefaultDirection(const VECTOR3 &cd) const {
	Declare(vessel, Op::SetCameraDefaultDirection, vessel->cameraDefaultDirection, cd);
	vessel->cameraTilt = 0;
}

void VESSEL::SetCameraDefaultDirection(const VECTOR3 &cd, double tilt) const {
	Declare(vessel, Op::SetCameraDefaultDirection, vessel->cameraDefaultDirection, cd);
	vessel->cameraTilt = tilt;
}

// --- VESSEL2 callbacks: the host's defaults -------------------------------------------

void VESSEL2::clbkSetClassCaps(FILEHANDLE) {}

void VESSEL2::clbkSaveState(FILEHANDLE scn) {
	vessel->Record(Op::VESSEL2_clbkSaveState);
	host::WriteDefaultVesselLines(*vessel, scn);
}

void VESSEL2::clbkLoadStateEx(FILEHANDLE scn, void *status) {
	vessel->Record(Op::VESSEL2_clbkLoadStateEx);
	char *line;
	while (oapiReadScenario_nextline(scn, line))
		ParseScenarioLineEx(line, status);
}

void VESSEL2::clbkSetStateEx(const void *status) {
	vessel->Record(Op::VESSEL2_clbkSetStateEx);
	DefSetStateEx(status);
}

void VESSEL2::clbkPostCreation() {}
void VESSEL2::clbkFocusChanged(bool, OBJHANDLE, OBJHANDLE) {}
void VESSEL2::clbkPreStep(double, double, double) {}
void VESSEL2::clbkPostStep(double, double, double) {}
bool VESSEL2::clbkPlaybackEvent(double, double, const char *, const char *) { return false; }
void VESSEL2::clbkVisualCreated(VISHANDLE, int) {}
void VESSEL2::clbkVisualDestroyed(VISHANDLE, int) {}

void VESSEL2::clbkDrawHUD(int, const HUDPAINTSPEC *, HDC) {
	vessel->Record(Op::VESSEL2_clbkDrawHUD);
	vessel->hud.defaultDrawn = true;
}

void VESSEL2::clbkRCSMode(int) {}
void VESSEL2::clbkADCtrlMode(DWORD) {}
void VESSEL2::clbkHUDMode(int) {}
void VESSEL2::clbkMFDMode(int, int) {}
void VESSEL2::clbkNavMode(int, bool) {}
void VESSEL2::clbkDockEvent(int, OBJHANDLE) {}
void VESSEL2::clbkAnimate(double) {}
int VESSEL2::clbkConsumeDirectKey(char *) { return 0; }
int VESSEL2::clbkConsumeBufferedKey(DWORD, bool, char *) { return 0; }

bool VESSEL2::clbkLoadGenericCockpit() {
	vessel->Record(Op::VESSEL2_clbkLoadGenericCockpit);
	SetCameraDefaultDirection(_V(0, 0, 1));
	return true;
}

bool VESSEL2::clbkLoadPanel(int) { return false; }
bool VESSEL2::clbkPanelMouseEvent(int, int, int, int) { return false; }
bool VESSEL2::clbkPanelRedrawEvent(int, int, SURFHANDLE) { return false; }
bool VESSEL2::clbkLoadVC(int) { return false; }
bool VESSEL2::clbkVCMouseEvent(int, int, VECTOR3 &) { return false; }
bool VESSEL2::clbkVCRedrawEvent(int, int, SURFHANDLE) { return false; }

// --- VESSEL3 callbacks -------------------------------------------------------------------

bool VESSEL3::clbkPanelMouseEvent(int, int, int, int, void *) { return false; }
bool VESSEL3::clbkPanelRedrawEvent(int, int, SURFHANDLE, void *) { return false; }
int VESSEL3::clbkGeneric(int, int, void *) { return 0; }
bool VESSEL3::clbkLoadPanel2D(int, PANELHANDLE, DWORD, DWORD) { return false; }

bool VESSEL3::clbkDrawHUD(int, const HUDPAINTSPEC *, oapi::Sketchpad *) {
	vessel->Record(Op::VESSEL3_clbkDrawHUD);
	vessel->hud.defaultDrawn = true;
	return true;
}

void VESSEL3::clbkRenderHUD(int, const HUDPAINTSPEC *, SURFHANDLE) { vessel->Record(Op::VESSEL3_clbkRenderHUD); }

void VESSEL3::clbkGetRadiationForce(const VECTOR3 &mflux, VECTOR3 &F, VECTOR3 &pos) {
	vessel->Record(Op::VESSEL3_clbkGetRadiationForce);
	double size = vessel->size.value_or(10.0);
	F = mflux * (size * size * 1.5);
	pos = _V(0, 0, 0);
}
