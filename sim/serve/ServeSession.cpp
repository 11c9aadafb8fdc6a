// The serve session: the simulation, its input and frames, the HTTP server, and the
// real-time loop with its clean stop on Ctrl-C.
#include "serve/ServeSession.h"

#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cmath>
#include <cstring>
#include <nlohmann/json.hpp>
#include <thread>

#include "output/OutputFiles.h"
#include "sendra_host/HostError.h"
#include "sendra_host/Text.h"
#include "serve/ServeKeys.h"
#include "session/KeyNames.h"
#include "session/Paths.h"

namespace sim {

namespace {

// [s] The pages get at most 60 frames a second.
const double kBroadcastPeriod = 1.0 / 60;
const char kProgramStem[] = "sendra-sim";  // the quicksave's name when the scenario's cannot be used
const int kExitNotSaved = 3;               // the program's status for an output that cannot be written

std::string Stem(const std::optional<std::string> &scenario) {
	if (!scenario)
		return kProgramStem;
	std::string name = *scenario;
	size_t slash = name.rfind('/');
	if (slash != std::string::npos)
		name = name.substr(slash + 1);
	if (name.size() > 4 && host::EqualsNoCase(name.substr(name.size() - 4), ".scn"))
		name.resize(name.size() - 4);
	return name.empty() || name[0] == '.' ? kProgramStem : name;
}

std::string SessionDocument(const host::Simulation &sim, const ServeOptions &o, bool three) {
	using nlohmann::json;
	json keys = json::array();
	for (const BrowserKey *k = BrowserKeysBegin(); k != BrowserKeysEnd(); ++k)
		keys.push_back({{"code", k->code}, {"key", KeyNameOf(k->oapiKey)}, {"label", k->label}});
	auto named = [](const host::VesselView &v) { return json{{"name", v.name()}, {"class", v.className()}}; };
	json vessels = json::array();
	for (const auto &v : sim.vessels()) {
		json entry = named(host::VesselView(v));
		if (!host::VesselView(v).canTakeFocus())
			entry["focusable"] = false;  // F3 passes it by
		vessels.push_back(std::move(entry));
	}
	const Vessel *f = sim.focus();
	json doc = {{"version", SENDRA_VERSION},
	            {"dt", o.dt},
	            {"hud", {{"width", sim.options().hudWidth}, {"height", sim.options().hudHeight}}},
	            {"terrain", sim.terrain().name()},
	            {"three", three},
	            {"keys", std::move(keys)},
	            {"vessels", std::move(vessels)}};
	const host::Body *body = f ? host::VesselView(f).place().body : nullptr;
	doc["vessel"] = f ? named(host::VesselView(f)) : json(nullptr);
	doc["body"] = body ? json{{"name", body->name}, {"radius", body->radius}} : json(nullptr);
	return doc.dump(-1, ' ', false, json::error_handler_t::replace);
}

// Changes when a vessel's mesh slots do, so that their names are looked at again only then.
uint64_t MeshSignature(const host::Simulation &sim) {
	uint64_t sig = 0;
	for (const auto &v : sim.vessels())
		for (const host::MeshSlot &slot : host::VesselView(v).meshes())
			sig = sig * 1099511628211u + reinterpret_cast<uintptr_t>(slot.tmpl) + slot.name.size();
	return sig;
}

// Where a step of the focus goes, as F3 on the page asks: the first vessel after the focus in
// the scenario's order that can take the focus, going on from the first after the last; from
// the first when none has the focus. Null when no other vessel can take it.
Vessel *NextFocus(const host::Simulation &sim) {
	const auto &vessels = sim.vessels();
	const size_t n = vessels.size();
	size_t from = n - 1;  // the step starts after it
	for (size_t i = 0; i < n; ++i)
		if (vessels[i].get() == sim.focus())
			from = i;
	for (size_t k = 1; k <= n; ++k) {
		Vessel *v = vessels[(from + k) % n].get();
		if (v != sim.focus() && host::VesselView(v).canTakeFocus())
			return v;
	}
	return nullptr;
}

// The driver's manual in the Orbiter folder, as the add-on installs it: its HTML page where the
// package made one, else its Markdown; empty when neither is there.
std::string Manual(const std::string &root) {
	for (const char *name : {"/Doc/Sendra2016.html", "/Doc/Sendra2016.md"})
		if (Exists(root + name))
			return root + name;
	return std::string();
}

}  // namespace

WebFiles DefaultWebFiles() {
	std::string base = SENDRA_WEB_DIR;
	if (!Exists(base + "/page/index.html"))
		base = ProgramFolder() + "/web";
	return {base + "/page", base + "/npm/node_modules/three"};
}

bool HasThree(const WebFiles &files) { return Exists(files.three + "/build/three.module.js"); }

ServeSession::ServeSession(const ServeOptions &o, const WebFiles &files, std::ostream &err, ServeHub::Limits limits,
                           HttpLimits httpLimits, FrameEncoder::Limits frameLimits)
	: options_(o), stem_(Stem(o.session.scenario)), session_(o.session, err), hub_(limits),
	  mixer_(BrowserKeyCount()), encoder_(frameLimits),
	  heartbeat_(static_cast<unsigned>(std::max(1.0, std::round(1.0 / std::max(o.dt, kBroadcastPeriod))))),
	  server_(hub_, content_, httpLimits) {
	host::Simulation &sim = session_.simulation();
	bool three = HasThree(files);
	content_.session = SessionDocument(sim, o, three);
	meshSignature_ = MeshSignature(sim);
	meshNames_ = MeshNames(sim);
	hub_.SetMeshes(MeshDocument(sim));
	content_.terrain = sim.terrain();
	for (const auto &b : sim.bodies())
		content_.bodies.push_back(*b);
	if (const host::Body *body = sim.focus() ? host::VesselView(sim.focus()).place().body : nullptr)
		content_.body = body->name;
	content_.webRoot = files.page;
	content_.threeRoot = three ? files.three : std::string();
	content_.manual = Manual(o.session.root);
	hub_.SetSnapshot(StateDocument(sim, 0));
}

ServeSession::~ServeSession() { Stop(); }

int ServeSession::Start() {
	// A page that closes its connection must not end the program: writes to it fail instead.
	::signal(SIGPIPE, SIG_IGN);
	int port = server_.Listen(options_.bind, options_.port, options_.allowHosts);
	server_.Start();
	return port;
}

void ServeSession::Stop() { server_.Stop(); }

void ServeSession::Step(bool broadcast, double rate) {
	Frame();
	if (broadcast)
		Publish(rate);
}

void ServeSession::Frame() {
	InputMixer::Frame in = mixer_.Next(hub_.TakeInput());
	hub_.Settle(mixer_.CarriedByTab());
	host::Simulation &sim = session_.simulation();
	// F3 on the page: the host's own focus change, as a drive script's focus event makes it,
	// before the frame, so that the frame's keys and HUD are the new focus's.
	for (int i = 0; i < in.focusSteps; ++i)
		if (Vessel *next = NextFocus(sim))
			sim.SetFocus(next);
	// The page's toggle, as Orbiter's: the focus vessel's mode, for this frame's yaw keys on.
	if (in.afc >= 0)
		sim.SetControlSurfaceMode(sim.focus(), static_cast<DWORD>(in.afc));
	session_.Step(options_.dt, FrameInput{in.keys, std::nullopt});
	// A vessel that added a mesh the pages do not have yet: they fetch the meshes again.
	if (uint64_t signature = MeshSignature(sim); signature != meshSignature_) {
		meshSignature_ = signature;
		if (std::set<std::string> names = MeshNames(sim); names != meshNames_) {
			meshNames_ = std::move(names);
			hub_.SetMeshes(MeshDocument(sim));
		}
	}
}

void ServeSession::Publish(double rate) {
	host::Simulation &sim = session_.simulation();
	bool changed = false;
	std::string delta = encoder_.Delta(sim, rate, &changed);
	std::shared_ptr<const std::string> message;
	if (changed || ++sinceSent_ >= heartbeat_) {
		message = std::make_shared<const std::string>(EventMessage("frame", delta));
		sinceSent_ = 0;
	}
	ServeHub::FreshState fresh;
	fresh.reset = [&](bool behind) { return EventMessage("reset", encoder_.Reset(behind)); };
	fresh.piece = [&](size_t from, size_t &next) { return EventMessage("piece", encoder_.Piece(from, next)); };
	fresh.end = encoder_.end();
	hub_.Broadcast(message, fresh);
	if (encoder_.sightChanges() != stateSight_) {
		stateSight_ = encoder_.sightChanges();
		stateVessels_ = StateVessels(sim);
	}
	hub_.SetSnapshot(StateDocument(sim, mixer_.connected(), &stateVessels_));
}

std::string ServeSession::QuicksaveBase(const OutputFolder &folder) const {
	const std::string longest = stem_ + "-quicksave-0001.scn";
	return static_cast<long>(std::max(longest.size(), kLongestStagedName)) <= folder.NameMax() ? stem_
	                                                                                          : std::string(kProgramStem);
}

void ServeSession::Stage(OutputSet &set, const OutputFolder &folder, const std::string &name) {
	StagedSaves saves(folder, set, nullptr);
	saves.Stage([this](const std::string &path, host::SaveFileSystem &fs) { session_.Save(path, fs); }, name);
}

void ServeSession::TrySave(OutputFolder &folder) {
	for (const std::string &warning : folder.TakeWarnings())
		session_.Warn(warning);
	const std::string first = QuicksaveBase(folder) + "-quicksave-0001.scn";
	OutputSet set(folder, folder.PathOf(first));
	Stage(set, folder, first);
}  // the set removes what it staged

std::string ServeSession::Save(const std::string &folderPath, std::string *why) {
	OutputFolder folder(folderPath.empty() ? std::string(".") : folderPath, OutputFolder::Use::Shared);
	for (const std::string &warning : folder.TakeWarnings())
		session_.Warn(warning);
	const std::string base = QuicksaveBase(folder);
	const std::string first = base + "-quicksave-0001.scn";
	OutputSet set(folder, folder.PathOf(first));
	Stage(set, folder, first);
	// The numbers in turn; when all are taken, a name of its own rather than no save.
	const int kMaxNumber = 9999, kOtherNames = 100;
	bool numbered = true;
	std::optional<std::string> name = set.CommitNew([&](int i) -> std::optional<std::string> {
		numbered = i < kMaxNumber;
		if (numbered)
			return base + host::Format("-quicksave-%04d.scn", i + 1);
		if (i < kMaxNumber + kOtherNames)
			return base + "-quicksave-" + RandomName(6) + ".scn";
		return std::nullopt;
	});
	if (!name)
		throw host::HostError(folder.PathOf(base + "-quicksave-NNNN.scn"), 0,
		                      "cannot save the scenario: every name for it is in use");
	if (why && base != stem_)
		*why = "the scenario's file name is too long for the name of its quicksave in " + folder.path();
	else if (why && !numbered)
		*why = "every quicksave number up to " + std::to_string(kMaxNumber) + " is in use in " + folder.path();
	return folder.PathOf(*name);
}

// --- The real-time loop -------------------------------------------------------------------

namespace {

std::atomic<bool> g_stop{false};

extern "C" void OnStopSignal(int) { g_stop.store(true); }

// The stop signals' handlers while serving, and the earlier dispositions back afterwards. A
// signal the program was started with ignored (nohup's SIGHUP) stays ignored. A write beyond
// the file-size limit fails as on a full disk, so that the save can go elsewhere.
class StopSignals {
public:
	StopSignals() {
		g_stop.store(false);
		struct sigaction sa;
		std::memset(&sa, 0, sizeof sa);
		sa.sa_handler = OnStopSignal;
		sigemptyset(&sa.sa_mask);
		// SIGHUP too: a closed terminal or a logout ends the server as Ctrl-C does, saved.
		for (size_t i = 0; i < kSignals.size(); ++i) {
			::sigaction(kSignals[i], nullptr, &old_[i]);
			if (old_[i].sa_handler != SIG_IGN)
				::sigaction(kSignals[i], &sa, nullptr);
		}
		sa.sa_handler = SIG_IGN;
		::sigaction(SIGXFSZ, &sa, &oldFileSize_);
	}
	~StopSignals() {
		for (size_t i = 0; i < kSignals.size(); ++i)
			::sigaction(kSignals[i], &old_[i], nullptr);
		::sigaction(SIGXFSZ, &oldFileSize_, nullptr);
	}

private:
	static constexpr std::array<int, 3> kSignals{SIGINT, SIGTERM, SIGHUP};
	std::array<struct sigaction, 3> old_;
	struct sigaction oldFileSize_;
};

std::string Absolute(const std::string &folder) {
	char cwd[4096];
	return folder == "." && ::getcwd(cwd, sizeof cwd) ? std::string(cwd) : folder;
}

// Fails at once if the save cannot be written in folder, where it goes when serve stops,
// rather than after a session that would then be lost or saved elsewhere; says when the
// save's name there will not be the usual one.
void CheckSaveFolder(ServeSession &session, const std::string &folder, std::ostream &err) {
	try {
		OutputFolder f(folder, OutputFolder::Use::Shared);
		session.TrySave(f);
		if (session.QuicksaveBase(f) != session.stem())
			err << "sendra-sim: warning: the scenario's file name is too long for the name of its quicksave; it will be "
			       "saved as "
			    << kProgramStem << "-quicksave-NNNN.scn\n";
	} catch (const host::HostError &e) {
		throw host::HostError("serve: cannot save in " + Absolute(folder) + " (" + e.what() +
		                      "), where the simulation is saved when serve stops; run it in a folder it can "
		                      "write to");
	}
}

// Where the save goes: the current folder, else the user's home, else the temporary folder.
std::vector<std::string> SavePlaces() {
	std::vector<std::string> places{"."};
	const char *home = std::getenv("HOME");
	const char *temp = std::getenv("TMPDIR");
	for (const char *place : {home, temp && temp[0] == '/' ? temp : "/tmp"})
		if (place && place[0] == '/' && std::find(places.begin(), places.end(), place) == places.end())
			places.push_back(place);
	return places;
}

// Saves the session in the first of the places that takes it, saying why it is not the first;
// returns the path, or nothing when no place took it.
std::optional<std::string> SaveSomewhere(ServeSession &session, std::ostream &err) {
	std::vector<std::string> places = SavePlaces(), failures;
	for (size_t i = 0; i < places.size(); ++i) {
		try {
			std::string why;
			std::string path = session.Save(places[i], &why);
			if (!why.empty())
				err << "sendra-sim: " << host::Printable(why) << '\n';
			return path;
		} catch (const host::HostError &e) {
			err << "sendra-sim: " << host::Printable(e.what())
			    << (i + 1 < places.size() ? "; saving in " + host::Printable(places[i + 1]) + " instead" : std::string())
			    << '\n';
			failures.push_back(Absolute(places[i]));
		}
	}
	std::string tried;
	for (size_t i = 0; i < failures.size(); ++i)
		tried += (i == 0 ? "" : i + 1 == failures.size() ? " and " : ", ") + failures[i];
	err << "sendra-sim: the simulation could not be saved: " << host::Printable(tried) << " would not take it\n";
	return std::nullopt;
}

std::string Url(const std::string &bind, int port) {
	std::string host = bind.find(':') != std::string::npos ? "[" + bind + "]" : bind;
	return "http://" + host + ":" + std::to_string(port) + "/";
}

}  // namespace

std::string ExposureWarning(const std::string &bind) {
	if (!ReachedBeyondThisMachine(bind))
		return std::string();
	return "sendra-sim: warning: serving on " + bind +
	       ", which other machines may reach: anyone who can reach it can watch and drive the simulation, and "
	       "nothing asks who they are\n";
}

int RunServe(const ServeOptions &o, ServeConsole console) {
	StopSignals signals;
	WebFiles files = DefaultWebFiles();
	ServeSession session(o, files, console.err);
	CheckSaveFolder(session, ".", console.err);
	if (!Exists(files.page + "/index.html"))
		console.err << "sendra-sim: warning: the page's files are missing from " << files.page
		            << "; rebuild sendra-sim to make them\n";
	else if (!HasThree(files))
		console.err << "sendra-sim: warning: three.js is missing from " << files.three
		            << ": npm could not install it when sendra-sim was built, and the page cannot draw the "
		               "rover. Install Node.js and npm and build again.\n";
	int port = session.Start();
	if (session.Exposed())
		console.err << ExposureWarning(o.bind);
	const Vessel *focus = session.simulation().focus();
	console.out << "sendra-sim: serving "
	            << (focus ? host::VesselView(focus).name() : std::string("a scenario without a focus vessel"))
	            << " at " << Url(o.bind, port) << " (Ctrl-C stops and saves)" << std::endl;

	// The clock paces the frames and is read nowhere else: one frame of dt per dt of wall
	// time. The pages get at most 60 frames a second; after a stall (a suspended process) the
	// loop goes on from the present instead of rushing through the frames it missed.
	using Clock = std::chrono::steady_clock;
	const auto period = std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(o.dt));
	const auto broadcastPeriod =
		std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(kBroadcastPeriod * 60 / 61));
	const auto maxLag = std::chrono::milliseconds(250);
	Clock::time_point next = Clock::now(), lastBroadcast = next - broadcastPeriod, windowStart = next;
	uint64_t windowFrames = 0;
	double rate = 0;
	while (!g_stop.load()) {
		Clock::time_point now = Clock::now();
		bool broadcast = now - lastBroadcast >= broadcastPeriod;
		if (broadcast)
			lastBroadcast = now;
		session.Step(broadcast, rate);
		for (const std::string &warning : session.hub().TakeWarnings())
			console.err << "sendra-sim: warning: " << warning << std::endl;
		++windowFrames;
		if (now - windowStart >= std::chrono::seconds(1)) {
			rate = static_cast<double>(windowFrames) / std::chrono::duration<double>(now - windowStart).count();
			windowFrames = 0;
			windowStart = now;
		}
		next += period;
		now = Clock::now();
		if (now - next > maxLag)
			next = now;
		std::this_thread::sleep_until(next);
	}
	session.Stop();
	double simt = session.simulation().simt();
	std::optional<std::string> path = SaveSomewhere(session, console.err);
	if (!path)
		return kExitNotSaved;
	console.out << "sendra-sim: stopped at t=" << host::Format("%.2f", simt) << " s; saved the simulation to "
	            << host::Printable(*path) << std::endl;
	return 0;
}

}  // namespace sim
