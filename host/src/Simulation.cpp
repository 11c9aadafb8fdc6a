// The stand-in host's simulation loop and vessel management.
#include "sendra_host/Simulation.h"

#include <sys/stat.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <iostream>

#include "sendra_host/ConfigFile.h"
#include "sendra_host/HostError.h"
#include "sendra_host/Sun.h"
#include "sendra_host/Text.h"
#include "src/Bases.h"
#include "src/ClassItems.h"
#include "src/FileNames.h"
#include "src/Flight.h"
#include "src/HostVessel.h"
#include "src/HudSketchpad.h"
#include "src/Lights.h"
#include "src/ScenarioFiles.h"
#include "src/SolarSystem.h"
#include "src/Visual.h"

namespace host {

namespace {
Simulation *g_current = nullptr;

// How many vessels ahead a pass prefetches: the front of the record six ahead (its address
// is all it needs), and three ahead what the front points to, which by then has arrived.
const size_t kRecordAhead = 6, kPointedAhead = 3;

// Prefetches what a pass over the vessels reads of the vessels it reaches later (see
// VesselHotData): a frame of many vessels otherwise waits on the first touch of each
// vessel's records, which no cache holds from one frame to the next.
HOST_ALWAYS_INLINE void PrefetchAhead(const std::vector<std::unique_ptr<Vessel>> &vessels, size_t i,
                                        bool postStep) {
	if (i + kRecordAhead < vessels.size())
		vessels[i + kRecordAhead]->PrefetchFront(postStep);
	if (i + kPointedAhead < vessels.size())
		vessels[i + kPointedAhead]->PrefetchPointed(postStep);
}

bool IsFile(const std::string &path) {
	struct stat st;
	return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}
}  // namespace

Simulation *Simulation::Current() { return g_current; }

Simulation::Simulation(SimOptions options) : options_(std::move(options)) {
	if (options_.root.empty()) {
		bodies_ = MakeSolarSystem();
	} else {
		SolarSystem sol = ReadSolarSystem(options_.root, "Sol");
		bodies_ = std::move(sol.bodies);
		problems_ = std::move(sol.warnings);
	}
	previous_ = g_current;
	g_current = this;
}

Simulation::~Simulation() {
	DeleteAllVessels();
	modules_.UnloadAll();
	if (g_current == this)
		g_current = previous_;
}

Body *Simulation::FindBody(const std::string &name) const {
	for (const auto &b : bodies_)
		if (EqualsNoCase(b->name, name))
			return b.get();
	return nullptr;
}

Vessel *Simulation::FindVessel(const std::string &name) const {
	auto it = vesselsByName_.find(name);
	return it == vesselsByName_.end() ? nullptr : it->second;
}

std::string Simulation::DebugLine() const {
	const char *d = debug_.data();
	return std::string(d, ::strnlen(d, debug_.size()));
}

std::vector<std::string> Simulation::TakeProblems() {
	std::vector<std::string> out;
	out.swap(problems_);
	return out;
}

// --- Creation and deletion ------------------------------------------------------

ConfigFile &Simulation::ClassConfig(const std::string &className) {
	auto known = classConfigs_.find(className);
	if (known != classConfigs_.end())
		return known->second;
	// Config/Vessels/<class>.cfg, then Config/<class>.cfg, as Windows finds them.
	std::optional<std::string> cfgPath;
	for (const char *folder : {"Config/Vessels/", "Config/"}) {
		cfgPath = FindNoCase(options_.root, folder + className + ".cfg", problems_);
		if (cfgPath && IsFile(*cfgPath))
			break;
		cfgPath.reset();
	}
	if (!cfgPath)
		throw HostError(options_.root + "/Config/Vessels/" + className + ".cfg", 0,
		                "no configuration file for vessel class '" + className + "'");
	return classConfigs_.emplace(className, ConfigFile::Read(*cfgPath)).first->second;
}

Vessel *Simulation::BeginCreation(const std::string &name, const std::string &className) {
	if (name.empty())
		throw HostError("a vessel needs a name");
	if (FindVessel(name))
		throw HostError("a vessel named '" + name + "' already exists");
	ConfigFile &cfg = ClassConfig(className);
	const std::string &cfgPath = cfg.path();
	Module *module = nullptr;
	std::string absent;
	if (std::optional<std::string> moduleName = cfg.Value("Module")) {
		if (moduleName->empty() || moduleName->find_first_of("/\\") != std::string::npos)
			throw HostError(cfgPath, cfg.LineOf("Module"), "invalid module name '" + *moduleName + "'");
		module = modules_.GetPresent(options_.root, *moduleName);
		for (std::string &note : modules_.TakeNotes())
			ReportProblem(note);
		// As the real host logs it, and then makes a plain vessel of the configuration.
		if (!module) {
			absent = *moduleName;
			ReportProblem(HostError::Format(cfgPath, cfg.LineOf("Module"),
			                                "Could not load vessel module: " + absent + " (no " + options_.root +
			                                    "/Modules/" + ModuleFileName(absent) + "); '" + name +
			                                    "' is a plain vessel of its configuration"));
		}
	}

	auto owned = std::make_unique<Vessel>(*this, name, className, options_.flightModel, options_.journalCapacity);
	Vessel *v = owned.get();
	v->surfaceRef = FindBody("Moon");
	v->state.rbody = v->surfaceRef;
	v->module = module;
	v->absentModule = absent;
	if (module) {
		v->iface = InCallback(v, [&] { return module->ovcInit(v, options_.flightModel); });
		if (!v->iface)
			ReportProblem(name + ": ovcInit of module '" + module->name() +
			              "' returned null; the vessel runs without its module's callbacks");
	}
	if (!v->iface) {
		v->plainInterface = std::make_unique<VESSEL>(v, options_.flightModel);
		v->iface = v->plainInterface.get();
	}
	vessels_.push_back(std::move(owned));
	vesselsByName_.emplace(name, v);

	// A vessel whose creation fails (an item of its configuration that cannot be read) goes
	// again, through its module's ovcExit, rather than staying half made.
	try {
		if (VESSEL2 *cb = v->callbacks())
			InCallback(v, [&] { cb->clbkSetClassCaps(&cfg); });

		// The generic configuration items are read after the module's, and override them.
		if (auto x = cfg.Number("Size")) v->size = *x;
		if (auto x = cfg.Number("Mass")) v->emptyMass = *x;
		if (auto x = cfg.Vector("Inertia")) v->pmi = *x;
		if (auto x = cfg.Vector("CrossSections")) v->crossSections = *x;
		if (auto x = cfg.Vector("RotResistance")) v->rotDrag = *x;
		if (auto x = cfg.Vector("CameraOffset")) v->cameraOffset = *x;
		if (auto x = cfg.Bool("EnableFocus")) v->enableFocus = *x;
		if (auto x = cfg.Value("MeshName")) {
			MeshSlot slot;
			slot.name = *x;
			slot.tmpl = LoadMesh(*x);
			v->meshes.push_back(std::move(slot));
		}
		// Read once a class, so that a line that does not read is said once.
		std::vector<std::string> warnings;
		auto items = classItems_.find(className);
		if (items == classItems_.end())
			items = classItems_.emplace(className, ReadClassItems(cfg, warnings)).first;
		v->classItems = items->second;
		for (std::string &w : cfg.TakeWarnings())
			warnings.push_back(std::move(w));
		for (std::string &w : warnings)
			ReportProblem(w);
	} catch (...) {
		DeleteVessel(v);
		throw;
	}
	return v;
}

Vessel *Simulation::CreateVessel(const std::string &name, const std::string &className, const LandedPosition &pos) {
	if (!pos.body)
		throw HostError("vessel '" + name + "' needs a body to stand on");
	Vessel *v = BeginCreation(name, className);
	VESSELSTATUS2 vs{};
	vs.version = 2;
	vs.status = 1;
	vs.rbody = pos.body;
	vs.surf_lng = pos.lng;
	vs.surf_lat = pos.lat;
	vs.surf_hdg = pos.hdg;
	vs.arot.x = 10;  // no attitude given: the host puts the vessel at rest
	if (VESSEL2 *cb = v->callbacks())
		InCallback(v, [&] { cb->clbkSetStateEx(&vs); });
	else
		ApplyStatus(*v, &vs);
	FinishCreation({v});
	return v;
}

void Simulation::FinishCreation(const std::vector<Vessel *> &created, Vessel *focus) {
	for (Vessel *v : created)
		if (VESSEL2 *cb = v->callbacks())
			InCallback(v, [&] { cb->clbkPostCreation(); });
	if (focus)
		SetFocus(focus);
	else if (!focus_ && !created.empty())
		SetFocus(created.front());
	UpdateVisuals();
}

void Simulation::DeleteVessel(Vessel *v) {
	// From the back: deleting all vessels, newest first, then takes linear time.
	auto rit = std::find_if(vessels_.rbegin(), vessels_.rend(), [&](const auto &p) { return p.get() == v; });
	if (rit == vessels_.rend())
		return;
	auto it = std::next(rit).base();
	if (focus_ == v) {
		Vessel *next = nullptr;
		for (const auto &o : vessels_)
			if (o.get() != v) {
				next = o.get();
				break;
			}
		SetFocus(next);
	}
	DropVisual(v);
	EndFlight(v);
	if (v->module && v->iface && !v->plainInterface) {
		Module *m = v->module;
		InCallback(v, [&] { m->ovcExit(v->iface); });
	}
	v->iface = nullptr;
	if (v->rudderMoving)
		movingRudders_.erase(std::find(movingRudders_.begin(), movingRudders_.end(), v));
	auto named = vesselsByName_.find(v->name);
	if (named != vesselsByName_.end() && named->second == v)
		vesselsByName_.erase(named);
	vessels_.erase(it);
}

// --- Flight ---------------------------------------------------------------------------------

namespace {

FlightPose PoseOfState(const VESSELSTATUS2 &s) { return {{s.rpos, s.rvel}, AttitudeFromEuler(s.arot), s.vrot}; }

void TakePose(Vessel &v, const FlightPose &p) {
	v.flight->pose = p;
	v.state.rpos = p.orbit.pos;
	v.state.rvel = p.orbit.vel;
	v.state.arot = EulerFromAttitude(p.attitude);
	v.state.vrot = p.spin;
}

// A conic knows no ground: a vessel whose conic took it under its body's mean surface touches
// down at the point under it at mjd, as the real host's touchdown stops a vessel at the ground.
// It is landed there at rest, heading along its motion; whoever rode on it flies on.
void TouchDown(Simulation &sim, Vessel &v, double mjd) {
	const Body &b = *v.surfaceRef;
	const VESSELSTATUS2 &s = v.state;
	const double r = length(s.rpos);
	const BodyDirection up = InBodyFrame(b, r > 0 ? BodyDirection{s.rpos.x / r, s.rpos.y / r, s.rpos.z / r} : BodyDirection{1, 0, 0}, mjd);
	const BodyDirection vel = InBodyFrame(b, {s.rvel.x, s.rvel.y, s.rvel.z}, mjd);
	const double lng = std::atan2(up.z, up.x), lat = std::asin(std::clamp(up.y, -1.0, 1.0));
	const double east = -std::sin(lng) * vel.x + std::cos(lng) * vel.z;
	const double north = -std::sin(lat) * std::cos(lng) * vel.x + std::cos(lat) * vel.y - std::sin(lat) * std::sin(lng) * vel.z;
	VESSELSTATUS2 landed = s;
	landed.status = 1;
	landed.surf_lng = lng;
	landed.surf_lat = lat;
	landed.surf_hdg = std::isfinite(east) && std::isfinite(north) && (east != 0 || north != 0)
	                      ? std::fmod(std::atan2(east, north) + 2 * PI, 2 * PI)
	                      : 0;
	landed.arot = _V(10, 0, 0);  // at rest on level ground
	landed.vrot = _V(0, 0, 0);   // on the ground
	sim.ReportProblem(Format("%s: its orbit met the ground of %s, where it has landed at %.4f %.4f", v.name.c_str(),
	                         b.name.c_str(), lng * DEG, lat * DEG));
	ApplyStatus(v, &landed);
}

}  // namespace

void Simulation::FlyOnOwn(Vessel *v) {
	const Body *body = v->surfaceRef;
	if (!body)
		throw HostError("vessel '" + v->name + "' has no body to orbit");
	if (!(body->gm > 0))
		throw HostError("vessel '" + v->name + "': " + MasslessBody(body->name, body->mass));
	FlightPose pose = PoseOfState(v->state);
	std::string why;
	std::optional<FreeFlight> free = FlyFrom(pose, body->gm, simt_, why);
	if (!free)
		throw HostError("vessel '" + v->name + "' describes no orbit about " + body->name + ": " + why);
	if (!v->flight)
		v->flight = std::make_unique<Flight>();
	v->flight->free = std::move(free);
	v->flight->ride.reset();
	v->state.status = 0;
	TakePose(*v, PoseAt(*v->flight->free, simt_));
	flightsChanged_ = true;
}

void Simulation::RideOn(Vessel *v, const Ride &ride) {
	if (!ride.base || !ride.base->flight)
		throw HostError("vessel '" + v->name + "' can ride only on a vessel in flight");
	if (!v->flight)
		v->flight = std::make_unique<Flight>();
	v->flight->free.reset();
	v->flight->ride = ride;
	v->surfaceRef = ride.base->surfaceRef;
	v->state.rbody = v->surfaceRef;
	v->state.status = 0;
	TakePose(*v, PoseOnBase(ride, ride.base->flight->pose));
	flightsChanged_ = true;
}

void Simulation::EndFlight(Vessel *v) {
	if (!v->flight)
		return;
	v->flight.reset();
	flightsChanged_ = true;
	// Whoever rode on it flies on from where it is.
	for (const auto &o : vessels_)
		if (o->flight && o->flight->ride && o->flight->ride->base == v) {
			try {
				FlyOnOwn(o.get());
			} catch (const HostError &e) {
				ReportProblem(std::string(e.what()) + "; it stays where it is");
				EndFlight(o.get());
			}
		}
}

void Simulation::MoveInFlight(double t) {
	if (flightsChanged_) {
		// Bases before their riders: by the length of the chain each rides on.
		std::vector<std::pair<size_t, Vessel *>> byDepth;
		for (const auto &v : vessels_)
			if (v->flight) {
				size_t depth = 0;
				for (const Vessel *b = v.get(); b->flight && b->flight->ride && depth <= vessels_.size(); b = b->flight->ride->base)
					++depth;
				byDepth.emplace_back(depth, v.get());
			}
		std::stable_sort(byDepth.begin(), byDepth.end(),
		                 [](const auto &a, const auto &b) { return a.first < b.first; });
		flying_.clear();
		for (const auto &d : byDepth)
			flying_.push_back(d.second);
		flightsChanged_ = false;
	}
	std::vector<Vessel *> down;
	for (Vessel *v : flying_) {
		const Flight &f = *v->flight;
		TakePose(*v, f.free ? PoseAt(*f.free, t) : PoseOnBase(*f.ride, f.ride->base->flight->pose));
		const double r = v->surfaceRef ? v->surfaceRef->radius : 0;
		if (f.free && dotp(v->state.rpos, v->state.rpos) < r * r)
			down.push_back(v);
	}
	for (Vessel *v : down)
		TouchDown(*this, *v, options_.mjd + t / 86400.0);
}

void Simulation::DeleteAllVessels() {
	while (!vessels_.empty())
		DeleteVessel(vessels_.back().get());
}

void Simulation::SetFocus(Vessel *v) {
	if (v == focus_)
		return;
	Vessel *old = focus_;
	if (old) {
		old->rudderUser = 0;  // the keys go to the new focus
		RudderMayMove(old);
		if (VESSEL2 *cb = old->callbacks())
			InCallback(old, [&] { cb->clbkFocusChanged(false, v, old); });
	}
	focus_ = v;
	if (v) {
		kept_.cameraTarget = v->name;
		if (VESSEL2 *cb = v->callbacks())
			InCallback(v, [&] { cb->clbkFocusChanged(true, v, old); });
	}
	UpdateVisuals();
}

void Simulation::SetRudderTarget(Vessel *v, double level) {
	if (!v || !std::isfinite(level))
		return;
	v->rudderTarget = std::clamp(level, -1.0, 1.0);
	RudderMayMove(v);
}

void Simulation::RudderMayMove(Vessel *v) {
	if (!v->rudderMoving) {
		v->rudderMoving = true;
		movingRudders_.push_back(v);
	}
}

void Simulation::SetControlSurfaceMode(Vessel *v, DWORD mode) {
	if (v)
		v->adcMode = mode;
}

void Simulation::SetRudderLevel(Vessel *v, double level) {
	if (!v || !std::isfinite(level))
		return;
	v->rudderTarget = v->rudderLevel = std::clamp(level, -1.0, 1.0);
	RudderMayMove(v);
}

void Simulation::SetPlace(Vessel *v, const VesselPlace &p) {
	if (!v)
		return;
	VESSELSTATUS2 &s = v->state;
	if (p.body)
		v->surfaceRef = const_cast<Body *>(p.body);
	s.rbody = v->surfaceRef;
	s.status = p.landed ? 1 : 0;
	if (p.landed) {
		s.surf_lng = p.lng;
		s.surf_lat = p.lat;
		s.surf_hdg = p.hdg;
		s.vrot.x = p.alt;
	} else {
		s.rpos = p.pos;
		s.rvel = p.vel;
	}
	s.arot = p.arot;
}

void Simulation::ClearJournal(Vessel *v) {
	if (v)
		v->journal.Clear();
}

// Keypad 1 and 3 are the host's yaw keys: the user's rudder target is -1 or +1 while one is
// held, 0 with both or neither. They act only while the control-surface mode has the rudder
// (bit 1), and not in a frame whose keys the module consumed; a key the module reset with
// RESETKEY is not seen.
void Simulation::ReadUserYaw(Vessel &focus, const char *kstate, bool consumed) {
	double yaw = 0;
	if (!consumed && (focus.adcMode & 2)) {
		if (KEYDOWN(kstate, OAPI_KEY_NUMPAD1))
			yaw -= 1;
		if (KEYDOWN(kstate, OAPI_KEY_NUMPAD3))
			yaw += 1;
	}
	if (yaw != focus.rudderUser) {
		focus.rudderUser = yaw;
		RudderMayMove(&focus);
	}
}

// --- The frame ----------------------------------------------------------------------

// The real host's order: the pre-steps, the host's own update, the time, the post-steps, the
// focus vessel's keys, the visuals, the focus vessel's HUD, and the frame's end.
void Simulation::Frame(double dt) {
	simdt_ = dt;
	double tNext = simt_ + dt;
	double mjdNext = options_.mjd + tNext / 86400.0;

	for (size_t i = 0; i < vessels_.size(); ++i) {
		Vessel *v = vessels_[i].get();
		PrefetchAhead(vessels_, i, false);
		if (VESSEL2 *cb = v->callbacks())
			InCallback(v, [&] { cb->clbkPreStep(tNext, dt, mjdNext); });
	}
	MoveControlSurfaces(dt);
	MoveInFlight(tNext);
	simt_ = tNext;
	for (size_t i = 0; i < vessels_.size(); ++i) {
		Vessel *v = vessels_[i].get();
		PrefetchAhead(vessels_, i, true);
		if (VESSEL2 *cb = v->callbacks())
			InCallback(v, [&] { cb->clbkPostStep(simt_, dt, mjdNext); });
	}
	DeliverKeys();
	UpdateVisuals();
	CatchUpVisuals();
	PaintHud();
	++frames_;
	if (onFrameEnd)
		onFrameEnd(*this);
}

void Simulation::MoveControlSurfaces(double dt) {
	double delay = options_.rudderDelay;
	double step = delay > 0 ? dt / delay : 0;
	size_t kept = 0;
	for (size_t i = 0; i < movingRudders_.size(); ++i) {
		if (i + kRecordAhead < movingRudders_.size())
			movingRudders_[i + kRecordAhead]->PrefetchRudder();
		Vessel *v = movingRudders_[i];
		double goal = v->RudderGoal();
		double diff = goal - v->rudderLevel;
		if (delay <= 0 || std::fabs(diff) <= step)
			v->rudderLevel = goal;
		else
			v->rudderLevel += diff > 0 ? step : -step;
		if (v->rudderLevel != goal)
			movingRudders_[kept++] = v;
		else
			v->rudderMoving = false;
	}
	movingRudders_.resize(kept);
}

void Simulation::DeliverKeys() {
	std::vector<KeyEvent> events;
	events.swap(pendingKeys_);
	for (const KeyEvent &e : events)
		if (e.key >= 0 && e.key < 256)
			held_[static_cast<size_t>(e.key)] = e.down ? static_cast<char>(0x80) : 0;
	Vessel *f = focus_;
	if (!f)
		return;
	char kstate[256];
	std::memcpy(kstate, held_.data(), sizeof kstate);
	VESSEL2 *cb = f->callbacks();
	bool consumed = cb && InCallback(f, [&] { return cb->clbkConsumeDirectKey(kstate); }) != 0;
	if (cb && !consumed)
		++defaultDirectFrames_;
	ReadUserYaw(*f, kstate, consumed);
	if (!cb)
		return;
	for (const KeyEvent &e : events) {
		if (e.key < 0 || e.key >= 256)
			continue;
		if (!InCallback(f, [&] { return cb->clbkConsumeBufferedKey(static_cast<DWORD>(e.key), e.down, kstate); }))
			++defaultBufferedKeys_;
	}
}

// --- HUD --------------------------------------------------------------------------------

namespace {
HudDrawCall hudDrawCall = nullptr;
}  // namespace

void SetHudDrawCall(HudDrawCall call) { hudDrawCall = call; }

void Simulation::PaintHud() {
	if (!focus_)
		return;
	Vessel *f = focus_;
	f->hud.painted = f->hud.defaultDrawn = false;
	VESSEL3 *cb3 = f->callbacks3();
	VESSEL2 *cb2 = f->callbacks();
	if (!cb2) {
		f->hud.texts.clear();
		return;
	}
	HUDPAINTSPEC hps;
	hps.W = options_.hudWidth;
	hps.H = options_.hudHeight;
	hps.CX = hps.W / 2;
	hps.CY = hps.H / 2;
	hps.Scale = hps.H / 40.0;  // a 40 degree vertical aperture
	hps.Markersize = hps.H / 24;
	f->hud.painted = true;
	RecordingSketchpad skp(*f);
	int mode = options_.hudMode;
	bool done = cb3 && InCallback(f, [&] {
		return hudDrawCall ? hudDrawCall(*cb3, mode, hps, skp) : cb3->clbkDrawHUD(mode, &hps, &skp);
	});
	if (!done)
		InCallback(f, [&] { cb2->clbkDrawHUD(mode, &hps, static_cast<HDC>(nullptr)); });
}

// --- Visuals ------------------------------------------------------------------------------

double Simulation::SurfaceDistance(const Vessel &a, const Vessel &b) const {
	if (!a.surfaceRef || a.surfaceRef != b.surfaceRef)
		return INFINITY;
	double lat1 = a.state.surf_lat, lat2 = b.state.surf_lat;
	double dlat = lat2 - lat1, dlng = b.state.surf_lng - a.state.surf_lng;
	double h = std::sin(dlat / 2) * std::sin(dlat / 2) +
	           std::cos(lat1) * std::cos(lat2) * std::sin(dlng / 2) * std::sin(dlng / 2);
	if (!std::isfinite(h))
		return INFINITY;
	return 2.0 * a.surfaceRef->radius * std::asin(std::sqrt(std::clamp(h, 0.0, 1.0)));
}

// R |dlat| <= d <= R (|dlat| + |dlng|) for the distance d over the surface, so these bounds
// settle most vessels without the trigonometry. Their margin is far beyond the rounding of
// the distance's formula, which decides the rest: the same vessels are in range either way.
bool Simulation::InVisualRange(const Vessel &v) const {
	if (&v == focus_)
		return true;
	const Vessel &f = *focus_;
	if (!v.surfaceRef || v.surfaceRef != f.surfaceRef)
		return false;
	double range = options_.visualRange;
	// In flight, by the distance in space; a vessel landed and one in flight are not near.
	if (v.state.status != 1 || f.state.status != 1)
		return v.state.status == f.state.status && length(v.state.rpos - f.state.rpos) <= range;
	double r = v.surfaceRef->radius;
	double dlat = std::fabs(f.state.surf_lat - v.state.surf_lat), dlng = std::fabs(f.state.surf_lng - v.state.surf_lng);
	if (r * dlat > range * (1 + 1e-6))
		return false;
	if (r * (dlat + dlng) < range * (1 - 1e-6))
		return true;
	return SurfaceDistance(v, f) <= range;
}

void Simulation::UpdateVisuals() {
	// Without a visual range no vessel ever gets a visual.
	if (!(options_.visualRange > 0))
		return;
	for (size_t i = 0; i < vessels_.size(); ++i) {
		if (i + kRecordAhead < vessels_.size())
			vessels_[i + kRecordAhead]->PrefetchVisualRange();
		Vessel *v = vessels_[i].get();
		bool want = focus_ && InVisualRange(*v);
		if (want && !v->visual)
			MakeVisual(v);
		else if (!want && v->visual)
			DropVisual(v);
	}
}

void Simulation::CatchUpVisuals() {
	if (visualsChanged_) {
		withVisual_.clear();
		for (const auto &v : vessels_)
			if (v->visual)
				withVisual_.push_back(v.get());
		visualsChanged_ = false;
	}
	for (Vessel *v : withVisual_)
		v->visual->CatchUpChanged();
}

void Simulation::MakeVisual(Vessel *v) {
	visualsChanged_ = true;
	v->visual.reset(new Visual(*v));
	v->visual->CatchUp();
	if (VESSEL2 *cb = v->callbacks()) {
		VISHANDLE vis = v->visual->handle();
		InCallback(v, [&] { cb->clbkVisualCreated(vis, 1); });
	}
}

void Simulation::DropVisual(Vessel *v) {
	if (!v->visual)
		return;
	visualsChanged_ = true;
	if (VESSEL2 *cb = v->callbacks()) {
		VISHANDLE vis = v->visual->handle();
		InCallback(v, [&] { cb->clbkVisualDestroyed(vis, 0); });
	}
	v->visual->ResetToDefault();
	v->visual.reset();
}

// --- Surface bases ------------------------------------------------------------------------

const std::vector<SurfaceBase> &Simulation::SurfaceBases(const Body &body, std::vector<std::string> &notes) {
	auto known = bases_.find(&body);
	if (known != bases_.end())
		return known->second;
	return bases_.emplace(&body, ReadBases(options_.root, body, notes)).first->second;
}

// --- Meshes -------------------------------------------------------------------------------

const Mesh *Simulation::LoadMesh(const std::string &name) {
	auto it = meshes_.find(name);
	if (it != meshes_.end())
		return it->second.get();
	std::string rel = name;
	std::replace(rel.begin(), rel.end(), '\\', '/');
	// As Windows finds it, whatever the letter case; the name as given when nothing matches,
	// for the reader's message.
	std::string path = FindNoCase(options_.root, "Meshes/" + rel + ".msh", problems_)
	                       .value_or(options_.root + "/Meshes/" + rel + ".msh");
	std::unique_ptr<Mesh> mesh;
	if (name.empty()) {
		ReportProblem("a mesh without a name cannot be loaded");
	} else {
		try {
			mesh = std::make_unique<Mesh>(ReadMeshFile(path));
			mesh->name = name;
			for (const std::string &w : mesh->warnings)
				ReportProblem(w);
		} catch (const HostError &e) {
			ReportProblem(e.what());
		}
	}
	const Mesh *result = mesh.get();
	meshes_.emplace(name, std::move(mesh));
	return result;
}

// --- A vessel's state ---------------------------------------------------------------------

void ReportVesselProblem(Vessel &v, const std::string &what) {
	if (ScenarioBlockReader *reader = ScenarioBlockReader::Active())
		reader->Report("vessel '" + v.name + "': " + what);
	else
		v.sim.ReportProblem(v.name + ": " + what);
}

void WarnVessel(Vessel &v, const std::string &what) {
	if (ScenarioBlockReader *reader = ScenarioBlockReader::Active())
		reader->Warn("vessel '" + v.name + "': " + what);
	else
		v.sim.ReportProblem(v.name + ": " + what);
}

void NoteVessel(Vessel &v, const std::string &text) {
	if (ScenarioBlockReader *reader = ScenarioBlockReader::Active())
		reader->Note(text);
	else
		v.sim.ReportProblem(text);
}

namespace {

// Whether the place, heading and (when given) attitude and altitude of a landed status are
// finite numbers. An arot.x above 4 or not a number means "no attitude given".
bool LandedPoseFinite(const VESSELSTATUS2 &vs) {
	if (!std::isfinite(vs.surf_lng) || !std::isfinite(vs.surf_lat) || !std::isfinite(vs.surf_hdg))
		return false;
	if (!(vs.arot.x <= 4.0))
		return true;
	return std::isfinite(vs.arot.x) && std::isfinite(vs.arot.y) && std::isfinite(vs.arot.z) && std::isfinite(vs.vrot.x);
}

}  // namespace

void ApplyStatus(Vessel &v, const VESSELSTATUS2 *vs, bool fly) {
	if (!vs || vs->version != 2)
		return;
	// A pose that is not a number would spread into every later step, the records and the
	// saved scenario: the vessel keeps the last finite one, and the host says so once.
	auto finite = [](const VECTOR3 &x) { return std::isfinite(x.x) && std::isfinite(x.y) && std::isfinite(x.z); };
	bool flying = vs->status != 1;
	if (flying ? !(finite(vs->rpos) && finite(vs->rvel) && finite(vs->arot) && finite(vs->vrot)) : !LandedPoseFinite(*vs)) {
		if (!v.warnedNonFiniteState) {
			v.warnedNonFiniteState = true;
			ReportVesselProblem(v, std::string("was given a ") + (flying ? "state in flight" : "landed state") +
			                           " that is not finite; it keeps its last finite state");
		}
		return;
	}
	auto *body = static_cast<HostObject *>(vs->rbody);
	if (body && body->kind == HostObject::Kind::Body)
		v.surfaceRef = static_cast<Body *>(body);
	VESSELSTATUS2 &s = v.state;
	s.version = 2;
	s.flag = 0;
	s.rbody = v.surfaceRef;
	s.base = vs->base;
	s.port = vs->port;
	s.status = vs->status;
	s.rpos = vs->rpos;
	s.rvel = vs->rvel;
	s.surf_lng = vs->surf_lng;
	s.surf_lat = vs->surf_lat;
	s.surf_hdg = vs->surf_hdg;
	s.xpdr = vs->xpdr;
	if (vs->status == 1 && !(vs->arot.x <= 4.0)) {
		// No attitude given: rest on level ground on the touchdown points.
		s.arot = LandedAttitude(vs->surf_lng, vs->surf_lat, vs->surf_hdg);
		s.vrot = _V(TouchdownElevation(v.touchdownPoints), 0, 0);
	} else {
		s.arot = vs->arot;
		s.vrot = vs->vrot;
	}
	if (!flying) {
		v.sim.EndFlight(&v);
	} else if (fly) {
		try {
			v.sim.FlyOnOwn(&v);
		} catch (const HostError &e) {
			ReportVesselProblem(v, std::string(e.what()) + "; it stays where it is");
			v.sim.EndFlight(&v);
		}
	}
}

double TouchdownElevation(const std::vector<TOUCHDOWNVTX> &points) {
	if (points.size() < 3)
		return 0;
	const VECTOR3 &p0 = points[0].pos, &p1 = points[1].pos, &p2 = points[2].pos;
	VECTOR3 n = crossp(p0 - (p1 + p2) * 0.5, p2 - p1);
	double len = length(n);
	if (!(len > 0) || !std::isfinite(len))
		return 0;
	return std::fabs(dotp(n / len, p0));
}

}  // namespace host
