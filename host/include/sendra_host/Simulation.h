// The stand-in host's simulation: bodies, terrain, vessels, time, focus, keyboard, rudder,
// visuals and HUD, run frame by frame in the real host's order.
#pragma once

#include <array>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "sendra_host/Body.h"
#include "sendra_host/ConfigFile.h"
#include "sendra_host/Mesh.h"
#include "sendra_host/ModuleLoader.h"
#include "sendra_host/ScenarioText.h"
#include "sendra_host/VesselView.h"

namespace host {

struct Ride;

struct SimOptions {
	std::string root;                 // Orbiter-style folder with Config/, Modules/, Meshes/
	Terrain terrain = Terrain::Flat();
	int flightModel = 1;              // handed to ovcInit (the user's realism setting)
	double visualRange = 5000.0;      // [m]; 0 turns visuals off
	int hudWidth = 1024, hudHeight = 768;  // [pixels]
	int hudMode = HUD_SURFACE;
	double rudderDelay = 1.0;         // [s] for a full unit of rudder; 0 = no lag
	double mjd = 60000.0;             // MJD at simt = 0
	// The current time as an MJD, where a scenario gives no date; unset, the system's clock
	// when the scenario loads. Programs fix it for runs that repeat.
	std::optional<double> now;
	size_t journalCapacity = 16384;   // host calls kept per vessel in its journal; 0: only counted
};

struct LandedPosition {
	Body *body = nullptr;
	double lng = 0, lat = 0, hdg = 0;  // [rad]
};

struct KeyEvent {
	int key;
	bool down;
};

class Simulation {
public:
	explicit Simulation(SimOptions options);
	~Simulation();
	Simulation(const Simulation &) = delete;
	Simulation &operator=(const Simulation &) = delete;

	// The simulation the oapi functions act on: the one made last and not yet destroyed.
	static Simulation *Current();

	const SimOptions &options() const { return options_; }
	const Terrain &terrain() const { return options_.terrain; }

	// Bodies
	Body *FindBody(const std::string &name) const;  // case-insensitive; null if unknown
	const std::vector<std::unique_ptr<Body>> &bodies() const { return bodies_; }
	// The body's surface bases, read from its base folders the first time they are asked for;
	// what the reading passed over goes to notes, each "file:line: what".
	const std::vector<SurfaceBase> &SurfaceBases(const Body &body, std::vector<std::string> &notes);

	// Vessels. CreateVessel makes a vessel landed at pos the way the host makes one at run
	// time: module, ovcInit, clbkSetClassCaps, cfg items, clbkSetStateEx, clbkPostCreation,
	// then its visual if in range. Throws HostError if the class or module cannot be used.
	Vessel *CreateVessel(const std::string &name, const std::string &className, const LandedPosition &pos);
	// The first half of creation, shared with the scenario reader: module, ovcInit,
	// clbkSetClassCaps and the cfg items. The caller then sets the state and calls
	// FinishCreation, which gives the focus to focus if given, else to the first vessel
	// created when no vessel has it.
	Vessel *BeginCreation(const std::string &name, const std::string &className);
	void FinishCreation(const std::vector<Vessel *> &created, Vessel *focus = nullptr);
	void DeleteVessel(Vessel *v);
	void DeleteAllVessels();
	Vessel *FindVessel(const std::string &name) const;
	const std::vector<std::unique_ptr<Vessel>> &vessels() const { return vessels_; }

	// Vessels in flight, which each frame moves on to its time. FlyOnOwn puts v on the
	// two-body conic of its state (status 0: rpos and rvel about its reference body, its
	// attitude turning at vrot) from now, or throws HostError saying why the state describes no
	// orbit; RideOn makes it ride on another vessel as ride says (see src/Flight.h), at once
	// where the base puts it; EndFlight ends either, the vessel staying in its state. A vessel
	// that others ride on and that goes (DeleteVessel) leaves them flying on their own.
	void FlyOnOwn(Vessel *v);
	void RideOn(Vessel *v, const Ride &ride);
	void EndFlight(Vessel *v);

	// Focus: clbkFocusChanged(false, ...) on the vessel that loses it, then (true, ...) on the
	// one that gains it. The camera goes to the new focus, as in the real host.
	Vessel *focus() const { return focus_; }
	void SetFocus(Vessel *v);

	// Time
	double simt() const { return simt_; }
	double simdt() const { return simdt_; }
	double mjd() const { return options_.mjd + simt_ / 86400.0; }
	void SetStartMJD(double mjd) { options_.mjd = mjd; }

	// What the loaded scenario holds that the host does not model, for its saves.
	const KeptScenario &kept() const { return kept_; }
	void SetKept(KeptScenario kept) { kept_ = std::move(kept); }
	uint64_t frameCount() const { return frames_; }

	// Input for the next frame's keyboard step (focus vessel) and rudder targets.
	void KeyDown(int key) { pendingKeys_.push_back({key, true}); }
	void KeyUp(int key) { pendingKeys_.push_back({key, false}); }
	// The rudder target a program sets, whatever the control-surface mode; it stays until set
	// again. The user's yaw keys add to it (see Vessel::RudderGoal).
	void SetRudderTarget(Vessel *v, double level);
	// The vessel's control-surface mode, as the user's toggle or a module sets it: bit 0
	// elevator, bit 1 rudder, bit 2 ailerons (the toggle switches between 0 and 7).
	void SetControlSurfaceMode(Vessel *v, DWORD mode);
	// What a program changes of a vessel besides its modules' calls, the host's books kept: a
	// rudder standing at level (target and level both, -1..1); the vessel put where p says, as
	// the host holds it (the visuals follow in the next frame); its journal started afresh.
	void SetRudderLevel(Vessel *v, double level);
	void SetPlace(Vessel *v, const VesselPlace &p);
	void ClearJournal(Vessel *v);
	bool KeyHeld(int key) const { return key >= 0 && key < 256 && held_[static_cast<size_t>(key)] != 0; }
	// Frames and key events whose default handling would have run (not consumed).
	uint64_t defaultDirectKeyFrames() const { return defaultDirectFrames_; }
	uint64_t defaultBufferedKeys() const { return defaultBufferedKeys_; }

	// Runs one frame of length dt [s] in the real host's order.
	void Frame(double dt);
	// Called at the end of every frame, after the HUD's paint.
	std::function<void(Simulation &)> onFrameEnd;

	// Visuals: create and drop them as vessels come into and leave the focus's range.
	void UpdateVisuals();
	void CatchUpVisuals();

	// HUD: paints the focus vessel's HUD now (the frame does, after the visuals).
	void PaintHud();

	// Meshes loaded with oapiLoadMeshGlobal, by name; null if it could not be read.
	const Mesh *LoadMesh(const std::string &name);
	const std::map<std::string, std::unique_ptr<Mesh>> &meshTemplates() const { return meshes_; }

	ModuleLibrary &modules() { return modules_; }

	// The vessel whose callback is running, for the journal of oapi functions.
	Vessel *activeVessel() const { return active_; }
	// Problems found while a module's callback ran (a mesh that cannot be read, a bad line
	// handed to the host's parser); callers report them after the callback returns.
	void ReportProblem(const std::string &message) { problems_.push_back(message); }
	bool HasProblems() const { return !problems_.empty(); }
	std::vector<std::string> TakeProblems();

	char *debugString() { return debug_.data(); }
	// The debug line as modules left it, up to its first NUL or its 256 bytes.
	std::string DebugLine() const;
	// Lines modules wrote with oapiWriteLog.
	void Log(const std::string &line) { log_.push_back(line); }
	const std::vector<std::string> &log() const { return log_; }

	// Runs f with v as the active vessel (for the journal of oapi functions).
	template <typename F>
	auto InCallback(Vessel *v, F &&f) -> decltype(f()) {
		struct Scope {
			Vessel *&slot, *saved;
			~Scope() { slot = saved; }
		} scope{active_, active_};
		active_ = v;
		return f();
	}

private:
	// The host's own update of a frame: each vessel's rudder level moves toward its goal, and
	// each vessel in flight to where time t [s] puts it.
	void MoveControlSurfaces(double dt);
	void MoveInFlight(double t);
	// A vessel's rudder goal may have changed: its level moves in the next frames until it
	// reaches the goal.
	void RudderMayMove(Vessel *v);
	// The frame's key events update the held keys; the focus vessel's module gets them, direct
	// then buffered, and the host reads its yaw keys between the two.
	void DeliverKeys();
	// The host's yaw keys, read from the key state the focus vessel's module saw.
	void ReadUserYaw(Vessel &focus, const char *kstate, bool consumed);
	void DropVisual(Vessel *v);
	void MakeVisual(Vessel *v);
	double SurfaceDistance(const Vessel &a, const Vessel &b) const;
	// Whether v is within the visual range of the focus vessel, which there must be.
	bool InVisualRange(const Vessel &v) const;
	// The configuration of a vessel class, read from its file once per simulation.
	ConfigFile &ClassConfig(const std::string &className);

	SimOptions options_;
	std::vector<std::unique_ptr<Body>> bodies_;
	std::vector<std::unique_ptr<Vessel>> vessels_;
	KeptScenario kept_;
	// By name, so that finding one (and refusing a duplicate) does not walk every vessel.
	std::unordered_map<std::string, Vessel *> vesselsByName_;
	Vessel *focus_ = nullptr;
	Vessel *active_ = nullptr;
	double simt_ = 0, simdt_ = 0;
	uint64_t frames_ = 0;
	std::array<char, 256> held_{};  // as the keyboard buffer holds them: 0x80 while held
	std::vector<KeyEvent> pendingKeys_;
	uint64_t defaultDirectFrames_ = 0, defaultBufferedKeys_ = 0;
	std::map<std::string, std::unique_ptr<Mesh>> meshes_;
	std::map<std::string, ConfigFile> classConfigs_;
	std::map<std::string, ClassItems> classItems_;
	std::map<const Body *, std::vector<SurfaceBase>> bases_;
	ModuleLibrary modules_;
	std::vector<std::string> problems_;
	std::array<char, 256> debug_{};
	std::vector<std::string> log_;
	// The vessels whose rudder level may differ from its goal, each once (Vessel::rudderMoving):
	// a rudder at its goal stays there until the goal changes, so a frame visits these alone.
	std::vector<Vessel *> movingRudders_;
	// The vessels in flight, each after the one it rides on, made again after a flight began or
	// ended.
	std::vector<Vessel *> flying_;
	bool flightsChanged_ = false;
	// The vessels with a visual, in vessel order, made again after a visual came or went.
	std::vector<Vessel *> withVisual_;
	bool visualsChanged_ = false;
	Simulation *previous_ = nullptr;
};

// How a HUD paint hands the focus vessel's module its Sketchpad. By default the host calls the
// module's clbkDrawHUD with its own Sketchpad. A Sketchpad's table of virtual functions is laid
// out by the C++ ABI (a virtual destructor takes one slot in Visual C++'s, two in the GNU one), so
// a program that loads modules built with another ABI than its own installs a call that hands
// them a Sketchpad laid out as they expect, forwarding to skp. Null restores the default.
using HudDrawCall = bool (*)(VESSEL3 &module, int mode, const HUDPAINTSPEC &hps, oapi::Sketchpad &skp);
void SetHudDrawCall(HudDrawCall call);

}  // namespace host
