// The host's own vessel object: what a module declared to the host, the vessel's landed
// state, its animations, lights and meshes, its controls and the journal of its host calls.
// An OBJHANDLE of a vessel points to one of these; VESSEL::vessel points to it too.
#pragma once

#include <algorithm>
#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "Body.h"
#include "Journal.h"
#include "Mesh.h"
#include "Orbitersdk.h"

namespace host {
class Simulation;
class Module;
class Visual;

struct AnimComponent {
	double state0 = 0, state1 = 1;     // the component's state range
	MGROUP_TRANSFORM *trans = nullptr;  // owned by the module
	AnimComponent *parent = nullptr;
	std::vector<AnimComponent *> children;
	UINT anim = 0;   // owning animation
	UINT index = 0;  // position within the owning animation
};

// An animation; its state, which a frame sets, is kept apart (Vessel::animationStates).
struct AnimationRecord {
	double defstate = 0;  // the state in which the mesh file shows the parts
	std::vector<AnimComponent *> comps;  // in order of addition
};

struct MeshSlot {
	std::string name;                 // mesh name as added (template name for handles)
	const Mesh *tmpl = nullptr;       // loaded template, null if it could not be loaded
	std::optional<VECTOR3> offset;    // null when added without an offset
	WORD visibility = MESHVIS_EXTERNAL;
};

struct CockpitDirection {
	double polar = 0, azimuth = 0;  // [rad] relative to the default direction
	bool transition = false;
	int resets = 0;                 // how often oapiCameraSetCockpitDir was called
};

// One Text call of a HUD paint.
struct HudText {
	int x = 0, y = 0;
	DWORD colour = 0;  // 0xBBGGRR in force at the call
	std::string text;
};

// Deletes an emitter as the class it was made as: the SDK's light classes have no virtual
// destructor.
struct LightEmitterDelete {
	void operator()(LightEmitter *le) const;
};
using LightEmitterPtr = std::unique_ptr<LightEmitter, LightEmitterDelete>;

struct HudPaint {
	bool painted = false;        // the callback ran this frame
	bool defaultDrawn = false;   // the host's default HUD was drawn
	std::vector<HudText> texts;
};

}  // namespace host

class Vessel : public host::HostObject {
public:
	Vessel(host::Simulation &sim, const std::string &name, const std::string &className, int flightModel,
	       size_t journalCapacity);
	~Vessel();
	Vessel(const Vessel &) = delete;
	Vessel &operator=(const Vessel &) = delete;

	OBJHANDLE handle() { return this; }
	// The module's callbacks, or null for a plain vessel without them.
	VESSEL2 *callbacks() const { return iface && iface->Version() >= 1 ? static_cast<VESSEL2 *>(iface) : nullptr; }
	VESSEL3 *callbacks3() const { return iface && iface->Version() >= 2 ? static_cast<VESSEL3 *>(iface) : nullptr; }
	void Record(host::Op op) { journal.Record(op); }

	host::Simulation &sim;
	std::string name;
	std::string className;
	std::vector<char> nameText;   // NUL-terminated copies for GetName / GetClassName
	std::vector<char> classText;
	host::Module *module = nullptr;
	int flightModel;
	VESSEL *iface = nullptr;                  // what ovcInit returned, or plainInterface
	std::unique_ptr<VESSEL> plainInterface;  // the host's own interface when the module gave none

	// State: the host keeps what the vessel was last given.
	host::Body *surfaceRef = nullptr;
	VESSELSTATUS2 state{};  // version 2; list pointers always null

	// What the module declared (unset values stay empty).
	std::optional<double> size, emptyMass, wingAspect, wingEffectiveness, pitchMomentScale, bankMomentScale,
	    yawMomentScale, trimScale;
	std::optional<VECTOR3> pmi, crossSections, rotDrag;
	std::optional<std::array<double, 4>> cw;
	std::vector<TOUCHDOWNVTX> touchdownPoints;
	std::optional<VECTOR3> cameraOffset, cameraDefaultDirection;
	double cameraTilt = 0;
	host::CockpitDirection cockpitDir;
	std::vector<host::MeshSlot> meshes;
	std::vector<host::LightEmitterPtr> lights;
	std::vector<BEACONLIGHTSPEC *> beacons;
	std::vector<host::AnimationRecord> animations;
	// Per animation, the logical state as last set: side by side, as a frame sets many.
	std::vector<double> animationStates;
	std::vector<std::unique_ptr<host::AnimComponent>> components;  // in order of addition
	// Animations whose state or components changed since the visual last caught up, one bit
	// per animation by index: a frame's catch-up visits these only.
	std::vector<uint64_t> animationsChanged;
	void MarkAnimationChanged(UINT anim) {
		size_t word = anim / 64;
		if (word >= animationsChanged.size())
			animationsChanged.resize(word + 1);
		animationsChanged[word] |= uint64_t(1) << (anim % 64);
	}
	DWORD adcMode = 0;  // control-surface mode (AFCMODE): the yaw keys move the rudder while bit 1 is set
	int rcsMode = 1;    // attitude thruster mode (RCSMODE): RCS_NONE, RCS_ROT or RCS_LIN; kept for saves

	// Rudder, -1..1: the target is what a program set plus the user's yaw keys of the last
	// keyboard step (focus vessel only), within -1..1; the level follows it with a lag of delay
	// seconds per full unit.
	double rudderTarget = 0, rudderUser = 0, rudderLevel = 0;
	double RudderGoal() const { return std::clamp(rudderTarget + rudderUser, -1.0, 1.0); }

	host::Journal journal;
	std::unique_ptr<host::Visual> visual;
	host::HudPaint hud;  // the last HUD paint, focus vessel only
	bool warnedNonFinitePose = false;   // an animation state was not finite (said once)
	bool warnedNonFiniteState = false;  // a landed state handed to the host was not finite (said once)
};
