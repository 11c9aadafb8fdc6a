// The serve session: the simulation, its input and frames, the HTTP server, and the
// real-time loop with its clean stop on Ctrl-C.
#include "ServeSession.h"

#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <nlohmann/json.hpp>

#include "Defaults.h"
#include "HostError.h"
#include "HostVessel.h"
#include "KeyNames.h"
#include "ScenarioIO.h"
#include "ServeKeys.h"
#include "Text.h"

namespace sim {

namespace {

bool Exists(const std::string &path) {
	struct stat st;
	return ::stat(path.c_str(), &st) == 0;
}

std::string ExeFolder() {
	char buf[4096];
	ssize_t n = ::readlink("/proc/self/exe", buf, sizeof buf - 1);
	if (n <= 0)
		return ".";
	std::string exe(buf, static_cast<size_t>(n));
	size_t slash = exe.rfind('/');
	return slash == std::string::npos ? std::string(".") : exe.substr(0, slash);
}

std::string Stem(const std::optional<std::string> &scenario) {
	if (!scenario)
		return "sendra-sim";
	std::string name = *scenario;
	size_t slash = name.rfind('/');
	if (slash != std::string::npos)
		name = name.substr(slash + 1);
	if (name.size() > 4 && host::EqualsNoCase(name.substr(name.size() - 4), ".scn"))
		name.resize(name.size() - 4);
	return name.empty() || name[0] == '.' ? "sendra-sim" : name;
}

// The saves' file operations with one change: the finished file is linked to its name, which
// fails if that name exists, instead of renamed over it.
class NoReplaceFiles : public host::SaveFileSystem {
public:
	int Rename(const std::string &from, const std::string &to) override {
		taken = false;
		if (::link(from.c_str(), to.c_str()) == 0) {
			::unlink(from.c_str());
			return 0;
		}
		int err = errno;
		if (err == EEXIST) {
			taken = true;
			return err;
		}
		// A file system without hard links: a rename, which cannot tell a name taken at
		// this very moment, after the check that it is free.
		if (Exists(to)) {
			taken = true;
			return EEXIST;
		}
		return host::SaveFileSystem::Rename(from, to);
	}
	bool taken = false;  // the last rename failed because the name was in use
};

std::string SessionDocument(const host::Simulation &sim, const ServeOptions &o, bool three) {
	using nlohmann::json;
	json keys = json::array();
	for (const BrowserKey *k = BrowserKeysBegin(); k != BrowserKeysEnd(); ++k)
		keys.push_back({{"code", k->code}, {"key", KeyNameOf(k->oapiKey)}, {"label", k->label}});
	const Vessel *v = sim.focus();
	json doc = {{"version", SENDRA_VERSION},
	            {"dt", o.dt},
	            {"hud", {{"width", sim.options().hudWidth}, {"height", sim.options().hudHeight}}},
	            {"terrain", sim.terrain().name()},
	            {"three", three},
	            {"keys", std::move(keys)}};
	doc["vessel"] = v ? json{{"name", v->name}, {"class", v->className}} : json(nullptr);
	doc["body"] = v && v->surfaceRef ? json{{"name", v->surfaceRef->name}, {"radius", v->surfaceRef->radius}}
	                                 : json(nullptr);
	return doc.dump(-1, ' ', false, json::error_handler_t::replace);
}

}  // namespace

WebFiles DefaultWebFiles() {
	std::string base = SENDRA_WEB_DIR;
	if (!Exists(base + "/page/index.html"))
		base = ExeFolder() + "/web";
	return {base + "/page", base + "/npm/node_modules/three"};
}

bool HasThree(const WebFiles &files) { return Exists(files.three + "/build/three.module.js"); }

ServeSession::ServeSession(const ServeOptions &o, const WebFiles &files, std::ostream &err, ServeHub::Limits limits)
	: options_(o), err_(err), stem_(Stem(o.scenario)), hub_(limits), mixer_(BrowserKeyCount()) {
	host::ScenarioFile scenario = o.scenario ? host::ReadScenarioFile(*o.scenario)
	                                         : host::ParseScenario(kDefaultScenario, kDefaultScenarioLabel);
	description_ = scenario.descriptionKind == "DESC" ? scenario.description : std::string();
	host::SimOptions so;
	so.root = o.root;
	so.terrain = host::Terrain::ByName(o.terrain);
	sim_ = std::make_unique<host::Simulation>(so);
	host::LoadScenario(*sim_, scenario);
	WarnProblems();

	bool three = HasThree(files);
	content_.session = SessionDocument(*sim_, o, three);
	content_.mesh = MeshDocument(*sim_);
	content_.terrain = sim_->terrain();
	if (const Vessel *f = sim_->focus(); f && f->surfaceRef) {
		content_.body = *f->surfaceRef;
		content_.hasBody = true;
	}
	content_.webRoot = files.page;
	content_.threeRoot = three ? files.three : std::string();
	hub_.SetSnapshot(FrameEncoder::State(*sim_, 0));
}

ServeSession::~ServeSession() { Stop(); }

int ServeSession::Start() {
	// A page that closes its connection must not end the program: writes to it fail instead.
	::signal(SIGPIPE, SIG_IGN);
	// Each event stream keeps a thread for as long as it is open; the others serve files and
	// input, so that a full set of streams still leaves the page its input.
	size_t threads = hub_.limits().maxSubscribers + 8;
	server_.new_task_queue = [threads] { return new httplib::ThreadPool(threads); };
	ConfigureServer(server_, hub_, content_);
	int port = options_.port;
	bool bound = port == 0 ? (port = server_.bind_to_any_port(options_.bind)) > 0
	                       : server_.bind_to_port(options_.bind, port);
	if (!bound)
		throw host::HostError("cannot listen on " + options_.bind + " port " + std::to_string(options_.port) +
		                      ": the address is not this machine's or the port is in use");
	serverThread_ = std::thread([this] { server_.listen_after_bind(); });
	started_ = true;
	return port;
}

void ServeSession::Stop() {
	hub_.Close();
	if (!started_)
		return;
	server_.stop();
	if (serverThread_.joinable())
		serverThread_.join();
	started_ = false;
}

void ServeSession::WarnProblems() {
	for (const std::string &p : sim_->TakeProblems())
		err_ << "sendra-sim: warning: " << p << '\n';
}

void ServeSession::Step(bool broadcast, double rate) {
	host::Simulation &sim = *sim_;
	InputMixer::Frame in = mixer_.Next(hub_.TakeInput());
	// The page's toggle, as Orbiter's: the focus vessel's mode, for this frame's yaw keys on.
	if (in.afc >= 0)
		sim.SetControlSurfaceMode(sim.focus(), static_cast<DWORD>(in.afc));
	for (const host::KeyEvent &k : in.keys) {
		if (k.down)
			sim.KeyDown(k.key);
		else
			sim.KeyUp(k.key);
	}
	sim.Frame(options_.dt);
	for (const auto &v : sim.vessels())
		v->journal.Clear();  // not read while serving; keeps a long session's memory flat
	WarnProblems();
	if (!broadcast)
		return;
	hub_.Broadcast(EventMessage("frame", encoder_.Delta(sim, rate)),
	               [&] { return EventMessage("frame", encoder_.Keyframe(sim, rate)); });
	hub_.SetSnapshot(FrameEncoder::State(sim, mixer_.connected()));
}

std::string ServeSession::Save(const std::string &folder) {
	NoReplaceFiles files;
	std::string prefix = (folder.empty() ? std::string(".") : folder) + "/" + stem_ + "-quicksave-";
	const int kMaxNumber = 9999;
	for (int n = 1; n <= kMaxNumber; ++n) {
		std::string path = prefix + host::Format("%04d", n) + ".scn";
		if (Exists(path))
			continue;
		try {
			host::SaveScenario(*sim_, path, description_, files);
			return path;
		} catch (const host::HostError &) {
			if (!files.taken)
				throw;
		}
	}
	throw host::HostError(prefix + "NNNN.scn", 0, "cannot save the scenario: every number up to 9999 is in use");
}

// --- The real-time loop -------------------------------------------------------------------

namespace {

std::atomic<bool> g_stop{false};

extern "C" void OnStopSignal(int) { g_stop.store(true); }

// The stop signals' handlers while serving, and the earlier ones back afterwards.
class StopSignals {
public:
	StopSignals() {
		g_stop.store(false);
		struct sigaction sa;
		std::memset(&sa, 0, sizeof sa);
		sa.sa_handler = OnStopSignal;
		sigemptyset(&sa.sa_mask);
		::sigaction(SIGINT, &sa, &oldInt_);
		::sigaction(SIGTERM, &sa, &oldTerm_);
	}
	~StopSignals() {
		::sigaction(SIGINT, &oldInt_, nullptr);
		::sigaction(SIGTERM, &oldTerm_, nullptr);
	}

private:
	struct sigaction oldInt_, oldTerm_;
};

std::string Url(const std::string &bind, int port) {
	std::string host = bind.find(':') != std::string::npos ? "[" + bind + "]" : bind;
	return "http://" + host + ":" + std::to_string(port) + "/";
}

}  // namespace

int RunServe(const ServeOptions &o, ServeConsole console) {
	StopSignals signals;
	WebFiles files = DefaultWebFiles();
	ServeSession session(o, files, console.err);
	if (!Exists(files.page + "/index.html"))
		console.err << "sendra-sim: warning: the page's files are missing from " << files.page
		            << "; rebuild sendra-sim to make them\n";
	else if (!HasThree(files))
		console.err << "sendra-sim: warning: three.js is missing from " << files.three
		            << ": npm could not install it when sendra-sim was built, and the page cannot draw the "
		               "rover. Install Node.js and npm and build again.\n";
	int port = session.Start();
	const Vessel *focus = session.simulation().focus();
	console.out << "sendra-sim: serving " << (focus ? focus->name : std::string("a scenario without a focus vessel"))
	            << " at " << Url(o.bind, port) << " (Ctrl-C stops and saves)" << std::endl;

	// The clock paces the frames and is read nowhere else: one frame of dt per dt of wall
	// time. The pages get at most 60 frames a second; after a stall (a suspended process) the
	// loop goes on from the present instead of rushing through the frames it missed.
	using Clock = std::chrono::steady_clock;
	const auto period = std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(o.dt));
	const auto broadcastPeriod = std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(1.0 / 61));
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
	std::string path = session.Save(".");
	console.out << "sendra-sim: stopped at t=" << host::Format("%.2f", simt) << " s; saved the simulation to "
	            << path << std::endl;
	return 0;
}

}  // namespace sim
