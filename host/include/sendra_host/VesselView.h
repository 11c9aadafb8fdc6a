// A vessel as programs and tests see it: read-only, computed by the host from its own record,
// which stays behind the host's wall. A view is a pointer wide; make one where it is needed.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "Orbitersdk.h"
#include "sendra_host/Mesh.h"

class Vessel;  // the host's record; an OBJHANDLE of a vessel points to one

namespace host {

struct Body;
class Module;

// Values the host keeps side by side, valid until the vessel changes them.
template <typename T>
struct Range {
	const T *first = nullptr;
	size_t count = 0;
	const T *begin() const { return first; }
	const T *end() const { return first + count; }
	size_t size() const { return count; }
	const T &operator[](size_t i) const { return first[i]; }
	const T &at(size_t i) const { return i < count ? first[i] : throw std::out_of_range("host::Range::at"); }
};

// What a module declared once of its vessel; a value it never set stays empty.
struct VesselDeclarations {
	std::optional<double> size;                   // [m] mean radius
	std::optional<double> emptyMass;              // [kg]
	std::optional<double> wingAspect, wingEffectiveness, pitchMomentScale, bankMomentScale, yawMomentScale,
	    trimScale;
	std::optional<VECTOR3> pmi;                   // [m^2] principal moments of inertia per unit mass
	std::optional<VECTOR3> crossSections;         // [m^2] along x, y, z
	std::optional<VECTOR3> rotDrag;               // rotational drag coefficients
	std::optional<std::array<double, 4>> cw;      // drag coefficients z+, z-, x, y
	std::vector<TOUCHDOWNVTX> touchdownPoints;    // [m] in the vessel frame
	std::optional<VECTOR3> cameraOffset;          // [m] the cockpit camera, in the vessel frame
	std::optional<VECTOR3> cameraDefaultDirection;
	double cameraTilt = 0;                        // [rad]
};

// What a vessel's class file declares beside its module, as the real host reads it for any
// vessel: docking ports, attachment points, propellant tanks and the transponder.
struct DockPort {
	VECTOR3 pos{}, dir{}, rot{};  // [m] in the vessel frame; the approach direction; the alignment
	std::optional<int> ids;       // the IDS channel's step, when the port has a transmitter
};
struct AttachmentPoint {
	bool toParent = false;  // "P": where the vessel hangs on a parent; "C": where a child hangs on it
	VECTOR3 pos{}, dir{}, rot{};
	std::string id;         // its label, which the real host matches attachments by ("XS", "GS")
};
struct Tank {
	double capacity = 0;    // [kg]
	double efficiency = 1;  // the propellant's, 0..1
};
struct ClassItems {
	std::vector<DockPort> docks;               // numbered from 0 as DOCKINFO counts them
	std::vector<AttachmentPoint> attachments;  // in file order, both kinds
	std::vector<Tank> tanks;                   // PropellantResource1, 2, ..., or MaxFuel
	bool transponder = false;                  // EnableXPDR
	int transponderStep = 0;                   // XPDR: its channel's step at the start
};

// One mesh the vessel added, by its index.
struct MeshSlot {
	std::string name;               // as added (the template's name for a handle)
	const Mesh *tmpl = nullptr;     // the loaded template; null if it could not be loaded
	std::optional<VECTOR3> offset;  // [m] in the vessel frame; empty when added without one
	WORD visibility = MESHVIS_EXTERNAL;
};

// The cockpit camera: where it looks from and where the user turned it.
struct CockpitDirection {
	double polar = 0, azimuth = 0;  // [rad] relative to the default direction
	bool transition = false;
	int resets = 0;                 // how often oapiCameraSetCockpitDir was called
};
struct Camera {
	VECTOR3 offset;     // [m] in the vessel frame, 0 when undeclared
	VECTOR3 direction;  // the default direction, +z when undeclared
	CockpitDirection cockpit;
};

// One Text call of a HUD paint, and the paint.
struct HudText {
	int x = 0, y = 0;  // [pixels] from the HUD's top left
	DWORD colour = 0;  // 0xBBGGRR in force at the call
	std::string text;
};
struct HudPaint {
	bool painted = false;       // the callback ran this frame
	bool defaultDrawn = false;  // the host's default HUD was drawn
	std::vector<HudText> texts;
};

// Where a vessel is: landed on a body, or in flight relative to one.
struct VesselPlace {
	const Body *body = nullptr;  // landed on, or the reference body in flight; null for none
	bool landed = false;
	double lng = 0, lat = 0;     // [rad] landed: longitude east, latitude north
	double hdg = 0;              // [rad] landed: heading, clockwise from north
	double alt = 0;              // [m] landed: height of the origin above the ground
	VECTOR3 pos{}, vel{};        // [m], [m/s] in flight: relative to body, in the ecliptic frame of
	                             // J2000 (left-handed: +x the vernal equinox, +y ecliptic north)
	VECTOR3 arot{};              // [rad] attitude as Euler angles (VESSELSTATUS2.arot): landed, in
	                             // the body's frame; in flight, in the ecliptic frame
	VECTOR3 spin{};              // [rad/s] in flight: angular velocity in the vessel's own axes
};

// The rudder, -1 (full left) to 1: the level follows the goal with the host's lag.
struct Rudder {
	double target = 0;  // what a program set
	double goal = 0;    // the target with the user's yaw keys, within -1..1
	double level = 0;
};

// A light emitter and a beacon as the module keeps them, read now, and whether they shine.
struct Light {
	const LightEmitter *emitter = nullptr;
	LightEmitter::TYPE type = LightEmitter::LT_NONE;
	VECTOR3 pos{}, dir{};           // [m] in the vessel frame; dir as the module gave it
	double range = 0;               // [m] point and spot lights
	double att[3] = {0, 0, 0};      // attenuation coefficients, point and spot lights
	double umbra = 0, penumbra = 0; // [rad] full apertures of the spot's inner and outer cones
	COLOUR4 diffuse{}, specular{}, ambient{};
	bool on = false;
};
struct Beacon {
	const BEACONLIGHTSPEC *spec = nullptr;  // the module's record, read through its pointers
	DWORD shape = 0;
	std::optional<VECTOR3> pos, col;        // [m] vessel frame; colour 0..1; as the module points to them
	double size = 0, falloff = 0;           // [m]
	double period = 0, duration = 0, tofs = 0;  // [s]
	bool on = false;
	VECTOR3 colour{{1, 1, 1}};              // its colour where finite, else white, each within 0..1
};

// An animation, its components in the order added.
struct AnimationComponent {
	double state0 = 0, state1 = 1;                // the animation's states over which it moves
	const MGROUP_TRANSFORM *transform = nullptr;  // the module's own
	int parentAnimation = -1;                     // its parent's animation, or -1 for none
	UINT parentIndex = 0;                         // and the parent's place in it
};
struct Animation {
	double defaultState = 0;  // the state in which the mesh file shows the parts
	std::vector<AnimationComponent> components;
};

// The transform of a mesh group from the mesh file's pose to the one shown: p' = m p + t for
// points, m d for directions, normals n' = normals n.
struct Affine {
	MATRIX3 m;
	VECTOR3 t;        // [m]
	MATRIX3 normals;  // the rotations among the composed maps: normals ignore a scale

	static Affine Identity();
	VECTOR3 Point(const VECTOR3 &p) const { return mul(m, p) + t; }
	VECTOR3 Direction(const VECTOR3 &d) const { return mul(m, d); }
	VECTOR3 Normal(const VECTOR3 &n) const { return mul(normals, n); }
};

class VesselView {
public:
	explicit VesselView(const Vessel *v) : v_(v) {}
	explicit VesselView(const std::unique_ptr<Vessel> &v) : v_(v.get()) {}

	const std::string &name() const;
	const std::string &className() const;
	int flightModel() const;
	const Module *module() const;  // null for a vessel without one
	// The vessel's object (what ovcInit returned, or the host's own plain one), and its
	// callbacks when it is a VESSEL2 or VESSEL3.
	VESSEL *Interface() const;
	VESSEL2 *callbacks() const;
	VESSEL3 *callbacks3() const;
	bool focus() const;
	bool canTakeFocus() const;  // its class's EnableFocus (TRUE unless the class says FALSE)

	VesselPlace place() const;
	// In flight, the vessel it rides on, docked to it or carried by it (null for one flying on its
	// own or landed); the module its class names when that module is absent (empty otherwise),
	// the vessel then plain; and its class file's items.
	const Vessel *ridesOn() const;
	const std::string &absentModule() const;
	const ClassItems &classItems() const;
	// The rotation that takes the vessel's axes (x right, y up, z forward) to its body's frame
	// (landed) or the ecliptic frame (in flight), and, landed, to its local horizon: the columns
	// are its axes in (east, up, north).
	MATRIX3 Attitude() const;
	MATRIX3 HorizonAttitude() const;
	Rudder rudder() const;
	DWORD controlSurfaceMode() const;  // bit 0 elevator, bit 1 rudder, bit 2 ailerons

	const VesselDeclarations &declared() const;
	Camera camera() const;
	const std::vector<MeshSlot> &meshes() const;
	Range<double> animationStates() const;  // per animation, as last set
	size_t animationCount() const;
	Animation animation(size_t i) const;
	size_t lightCount() const;
	Light light(size_t i) const;
	size_t beaconCount() const;
	Beacon beacon(size_t i) const;
	// Whether light i and beacon i shine, read alone: what a record of every frame needs.
	bool lightOn(size_t i) const;
	bool beaconOn(size_t i) const;
	const HudPaint &hud() const;  // the last paint; the focus vessel's alone

	// Its visual while it is within visual range of the focus (null otherwise), the animation
	// states it shows, and the instance of mesh idx handed to the module.
	VISHANDLE visual() const;
	Range<double> shownStates() const;
	MESHHANDLE visualMesh(UINT idx) const;
	// The pose of each group of mesh idx as the visual shows it; empty without a visual.
	std::vector<Affine> GroupPoses(UINT idx) const;
	// Every mesh with its groups posed as shown, computed now; without a visual, as a new
	// visual would pose them (the module's transforms as they were afterwards).
	std::vector<Mesh> PosedMeshes() const;

	// The names of the host calls it made, oldest first, as many as the journal keeps, and
	// how many it made since the journal was last cleared.
	std::vector<std::string> journal() const;
	uint64_t calls() const;

private:
	const Vessel *v_;
};

}  // namespace host
