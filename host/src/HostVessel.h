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
#include <utility>
#include <vector>

#include "Body.h"
#include "FrameBlock.h"
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

// Deletes an emitter as the class it was made as (the SDK's light classes have no virtual
// destructor), and gives its memory back unless it lies in the frame block it was made in.
struct LightEmitterDelete {
	const FrameBlock *block = nullptr;
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

	// Makes a light emitter of class L (args as its constructor takes them) in the frame block,
	// or on the heap once the block is full, and adds it to the vessel's lights.
	template <typename L, typename... Args>
	L *AddLight(Args &&...args) {
		lights.reserve(lights.size() + 1);  // the emitter is never left without an owner
		void *room = frameBlock.Allocate(sizeof(L), alignof(L));
		L *le = room ? new (room) L(std::forward<Args>(args)...) : new L(std::forward<Args>(args)...);
		lights.emplace_back(le, host::LightEmitterDelete{&frameBlock});
		return le;
	}

	// The first room in the frame block of the lists below.
	static constexpr size_t kFrameAnimations = 64, kFrameLights = 4, kFrameBeacons = 8;

	// --- What a frame reads and writes of every vessel, at the front of the record and in
	// its frame block right after, so that a frame of many vessels touches few cache lines
	// of each.
	VESSEL *iface = nullptr;  // what ovcInit returned, or plainInterface
	host::Body *surfaceRef = nullptr;
	host::Journal journal;
	// Rudder, -1..1: the target is what a program set plus the user's yaw keys of the last
	// keyboard step (focus vessel only), within -1..1; the level follows it with a lag of delay
	// seconds per full unit.
	double rudderTarget = 0, rudderUser = 0, rudderLevel = 0;
	double RudderGoal() const { return std::clamp(rudderTarget + rudderUser, -1.0, 1.0); }
	DWORD adcMode = 0;  // control-surface mode (AFCMODE): the yaw keys move the rudder while bit 1 is set
	int rcsMode = 1;    // attitude thruster mode (RCSMODE): RCS_NONE, RCS_ROT or RCS_LIN; kept for saves
	bool warnedNonFinitePose = false;   // an animation state was not finite (said once)
	bool warnedNonFiniteState = false;  // a landed state handed to the host was not finite (said once)
	// State: the host keeps what the vessel was last given.
	VESSELSTATUS2 state{};  // version 2; list pointers always null
	// Per animation, the logical state as last set: side by side, as a frame sets many.
	std::vector<double, host::FrameAllocator<double>> animationStates;
	// Animations whose state or components changed since the visual last caught up, one bit
	// per animation by index: a frame's catch-up visits these only. There is a word for every
	// animation (CreateAnimation adds them), so marking one of the vessel's animations needs
	// no test.
	std::vector<uint64_t, host::FrameAllocator<uint64_t>> animationsChanged;
	void MarkAnimationChanged(UINT anim) { animationsChanged[anim / 64] |= uint64_t(1) << (anim % 64); }
	std::vector<host::LightEmitterPtr, host::FrameAllocator<host::LightEmitterPtr>> lights;
	std::vector<BEACONLIGHTSPEC *, host::FrameAllocator<BEACONLIGHTSPEC *>> beacons;
	std::unique_ptr<host::Visual> visual;
	// Room for the lists above and the light emitters (see AddLight).
	host::FrameBlock frameBlock;

	// --- The rest of the record.
	host::Simulation &sim;
	std::string name;
	std::string className;
	std::vector<char> nameText;   // NUL-terminated copies for GetName / GetClassName
	std::vector<char> classText;
	host::Module *module = nullptr;
	int flightModel;
	bool enableFocus = true;  // whether it can take the focus: its class's EnableFocus
	std::string navSteps;     // NAVFREQ as read: a whole number per nav receiver, single spaces
	                          // between; empty when none was read
	std::unique_ptr<VESSEL> plainInterface;  // the host's own interface when the module gave none

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
	std::vector<host::AnimationRecord> animations;
	std::vector<std::unique_ptr<host::AnimComponent>> components;  // in order of addition
	host::HudPaint hud;  // the last HUD paint, focus vessel only
};
