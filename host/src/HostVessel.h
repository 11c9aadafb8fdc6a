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

#include "Orbitersdk.h"
#include "sendra_host/Body.h"
#include "sendra_host/Mesh.h"
#include "sendra_host/VesselView.h"
#include "src/Flight.h"
#include "src/Journal.h"
#include "src/VesselHotData.h"

namespace host {
class Simulation;
class Module;
class Visual;

struct AnimComponent {
	double state0 = 0, state1 = 1;     // the component's state range
	MGROUP_TRANSFORM *trans = nullptr;  // owned by the module
	MGROUP_TRANSFORM::TYPE type = MGROUP_TRANSFORM::NULLTRANSFORM;  // trans->Type(), which an object keeps
	// A rotation over a range of states without children, such as a wheel's roll: what a
	// visual's catch-up composes on its fast path.
	bool lone = false;
	AnimComponent *parent = nullptr;
	std::vector<AnimComponent *> children;
	UINT anim = 0;   // owning animation
	UINT index = 0;  // position within the owning animation
};

// An animation; its state, which a frame sets, is kept apart (Vessel::animationStates).
struct AnimationRecord {
	double defstate = 0;  // the state in which the mesh file shows the parts
	std::vector<AnimComponent *> comps;  // in order of addition
	// Every component has the state range of the first (the same bits), so that a catch-up
	// clamps the states once for all of them.
	bool oneRange = true;
};

// What the host does with a line of a vessel's scenario block.
enum class LineUse {
	State,  // the place and attitude (STATUS, BASE, POS, HEADING, ALT, AROT, RPOS, RVEL, VROT,
	        // ELEMENTS): written anew from the state
	Mode,   // RCSMODE, AFCMODE, NAVFREQ: written anew from the vessel's settings
	Held,   // a line of the host's it reads but does not act on (PRPLEVEL, XPDR, DOCKINFO, ...)
	Other,  // a line the host does not know: a module's own
};
struct BlockLine {
	std::string text;  // as it stood, its indentation included
	LineUse use;
	std::string key;   // its first word, upper-cased, for the Mode lines
};

// A DOCKINFO entry (own port, the other's port, the other vessel) or an ATTACHED line (the
// child's point to its parent, the parent's point to the child, the parent), and where it
// was read.
struct Mooring {
	bool attached = false;
	int own = 0, other = 0;
	std::string mate;
	std::string file;
	long line = 0;
};

}  // namespace host

// The hot part (host::VesselHotData) lies at the record's front; the rest is cold, what the
// module declared (host::VesselDeclarations) first.
class Vessel : public host::VesselHotData, public host::VesselDeclarations {
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
	bool enableFocus = true;  // whether it can take the focus: its class's EnableFocus
	std::string navSteps;     // NAVFREQ as read: a whole number per nav receiver, single spaces
	                          // between; empty when none was read
	std::unique_ptr<VESSEL> plainInterface;  // the host's own interface when the module gave none
	// The surface base a BASE line put it on: the base's name, the pad (from 1; 0 for the base's
	// own place) and where that is [rad], which its saves name while it stays there.
	struct OnBase {
		std::string name;
		int pad = 0;
		double lng = 0, lat = 0;
		const host::Body *body = nullptr;  // the base's, which a later STATUS line may leave
	};
	std::optional<OnBase> onBase;
	// In flight: how it moves and where it is now; null while landed.
	std::unique_ptr<host::Flight> flight;
	// Its class file's docks, attachment points, tanks and transponder; the module the class
	// names when that module is absent (the vessel then plain).
	host::ClassItems classItems;
	std::string absentModule;
	// The lines of its scenario block as read (without END), each with what the host does with
	// it: a plain vessel's saves write them in their places, the state and the host's modes
	// anew, every other line as it stood.
	std::vector<host::BlockLine> blockLines;
	// Of a vessel with a module, the host's lines it reads but does not act on (PRPLEVEL, XPDR,
	// DOCKINFO, ...), which the default save writes after its own in the real writer's order.
	std::vector<std::string> heldLines;
	// What its DOCKINFO and ATTACHED lines asked for, which the loading of a scenario makes
	// into rides once every vessel exists; and whether its state gave a position of its own
	// (RPOS or ELEMENTS).
	std::vector<host::Mooring> moorings;
	bool ownPosition = false;

	host::CockpitDirection cockpitDir;
	std::vector<host::MeshSlot> meshes;
	std::vector<host::AnimationRecord> animations;
	std::vector<std::unique_ptr<host::AnimComponent>> components;  // in order of addition
	host::HudPaint hud;  // the last HUD paint, focus vessel only
};

namespace host {

// VESSELSTATUS2 as the host applies it (DefSetStateEx, and after loading a scenario block).
// Only version 2 is handled. A landed status with arot.x > 4 is put at rest on level ground.
// A landed status whose place, heading, attitude or altitude is not finite is not applied:
// the vessel keeps its state, and the first time a problem is reported.
// A status in flight (status 0) puts the vessel on its conic (Simulation::FlyOnOwn) when fly
// is true; a landed one ends its flight.
void ApplyStatus(Vessel &v, const VESSELSTATUS2 *vs, bool fly = true);

// A problem with vessel v's state or scenario lines: to the scenario block being loaded, with
// its file and line, if there is one; otherwise to the simulation's problems.
void ReportVesselProblem(Vessel &v, const std::string &what);
// What the host passes over or mends in vessel v's lines, which does not stop the loading: to
// the block being loaded, with its file and line, if there is one; otherwise to the
// simulation's problems. Notes name a file of their own and go as they are.
void WarnVessel(Vessel &v, const std::string &what);
void NoteVessel(Vessel &v, const std::string &text);

// The landed attitude (Euler angles as VESSELSTATUS2::arot) of a vessel at rest on level
// ground at lng, lat with heading hdg [rad].
VECTOR3 LandedAttitude(double lng, double lat, double hdg);
// Height of the vessel origin above the ground plane of its first three touchdown points.
double TouchdownElevation(const std::vector<TOUCHDOWNVTX> &points);

}  // namespace host
