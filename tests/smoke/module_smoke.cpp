// module_smoke: loads the built rover module through the stand-in host the way Orbiter loads
// Modules\Sendra2016.dll, and drives it once end to end: the module's entry, its four exports,
// two rovers, a few hundred frames with keys, a saved and reloaded scenario, deletion and
// unloading, and a rover whose saved line is the longest the module writes. Runs on Linux and, built with mingw-w64, as a Windows program under wine, where
// it checks the Windows-only code of the module (its DllMain, GetProcAddress on itself, the
// export names). Prints every check; exits non-zero if any failed. With --record it also
// writes the drive's record, which tools/msvc-abi-drive.sh compares between this build and the
// Visual C++ ABI build of the module driven under wine.
//
// Usage: module_smoke <orbiter-root> <scenario-to-write> [--record FILE]
#include <algorithm>
#include <cctype>
#include <cfloat>
#include <cinttypes>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <sstream>
#include <string>

#include "HostWorld.h"
#include "sendra_host/HostError.h"
#include "sendra_host/ModuleLoader.h"
#include "sendra_host/ScenarioIO.h"
#include "sendra_host/Simulation.h"
#include "sendra_host/VesselView.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <dlfcn.h>
#endif

namespace {

int passed = 0, failed = 0;

bool Check(bool ok, const std::string &what) {
	std::printf("%s %s\n", ok ? "ok  " : "FAIL", what.c_str());
	(ok ? passed : failed)++;
	return ok;
}

// Whether the system still has the library at path loaded in this process.
std::string FullPath(const std::string &path) {
#ifdef _WIN32
	char full[MAX_PATH] = "";
	GetFullPathNameA(path.c_str(), sizeof full, full, nullptr);
	std::string text = full;
	for (char &c : text)
		c = static_cast<char>(std::tolower(static_cast<unsigned char>(c == '/' ? '\\' : c)));
	return text;
#else
	char *full = realpath(path.c_str(), nullptr);
	std::string text = full ? full : "";
	std::free(full);
	return text;
#endif
}

bool LibraryLoaded(const std::string &path) {
#ifdef _WIN32
	std::string file = path.substr(path.find_last_of("/\\") + 1);
	return GetModuleHandleA(file.c_str()) != nullptr;
#else
	void *lib = dlopen(path.c_str(), RTLD_LAZY | RTLD_NOLOAD);
	if (lib)
		dlclose(lib);
	return lib != nullptr;
#endif
}

// The full path of the file that the library with instance handle self was loaded from, and
// of the file at path: the two are the same when the system loaded the file the host named.
std::string LoadedFile(HINSTANCE self) {
#ifdef _WIN32
	char file[MAX_PATH] = "";
	GetModuleFileNameA(static_cast<HMODULE>(self), file, sizeof file);
	return FullPath(file);
#else
	Dl_info info;
	return dladdr(self, &info) && info.dli_fname ? FullPath(info.dli_fname) : "";
#endif
}

// The module's export name found with GetProcAddress on its own instance handle, as its
// DllMain looks up its exit hook; null if it has none.
template <typename Fn>
Fn Export(HINSTANCE self, const char *name) {
	// Through void (*)(), the generic function type, from what each system's lookup returns.
	using Generic = void (*)();
	return reinterpret_cast<Fn>(reinterpret_cast<Generic>(GetProcAddress(self, name)));
}

bool Contains(const std::string &text, const std::string &part) { return text.find(part) != std::string::npos; }

bool HudShows(const Vessel *v, const std::string &text) {
	for (const host::HudText &t : host::VesselView(v).hud().texts)
		if (t.text == text)
			return true;
	return false;
}

// The drive's record: every output of the drive that two builds of the module driven alike must
// agree on, one fact a line, written as the drive goes and flushed after every frame, so that a
// drive cut short leaves what it did. Lines beginning with "~" hold quantities that pass through
// the C library's mathematics (position, heading, attitude, the wheels' roll and swivel, the
// posed mesh), which another C library may round differently in the last bit; record_compare
// compares those within a tolerance and every other line exactly. Numbers are written with 17
// significant digits, enough to read back the same double.
class DriveRecord {
public:
	bool Open(const std::string &path) {
		out_.open(path, std::ios::binary | std::ios::trunc);
		return out_.good();
	}
	bool enabled() const { return out_.is_open(); }

	void Line(const std::string &text) {
		if (enabled())
			out_ << text << '\n';
	}
	// Every vessel's facts at the moment named when ("t 12.300", "loaded").
	void Vessels(host::Simulation &sim, const std::string &when) {
		if (!enabled())
			return;
		if (sim.debugString()[0])
			Line(when + " debug " + sim.debugString());
		for (const auto &v : sim.vessels())
			OneVessel(host::VesselView(v), when);
		out_.flush();
	}
	// The posed groups of the vessel's first mesh: the host moves them with the module's
	// animation transforms, read through their table of virtual functions and their fields.
	void Pose(const host::VesselView &v, const std::string &when) {
		if (!enabled())
			return;
		const std::vector<host::Affine> poses = v.GroupPoses(0);
		for (size_t g = 0; g < poses.size(); ++g)
			Line("~ " + when + " " + v.name() + " group " + std::to_string(g) + ":" + Numbers(poses[g].m.data, 9) +
			     Numbers(poses[g].t.data, 3));
		out_.flush();
	}
	// A new simulation: its vessels' journals start afresh.
	void NewSession() { journalSeen_.clear(); }
	bool Good() { return !enabled() || out_.flush().good(); }

private:
	static std::string Numbers(const double *x, size_t n) {
		std::string text;
		char number[32];
		for (size_t i = 0; i < n; ++i) {
			std::snprintf(number, sizeof number, " %.17g", x[i]);
			text += number;
		}
		return text;
	}

	void OneVessel(const host::VesselView &v, const std::string &when) {
		const std::string who = when + " " + v.name();
		const host::VesselPlace s = v.place();
		Line(who + (v.focus() ? " focus" : " -") + " status " + (s.landed ? "1" : "0") + " " +
		     (s.body ? s.body->name : "-") + " afc " + std::to_string(v.controlSurfaceMode()) + " meshes " +
		     std::to_string(v.meshes().size()) + " visual " + (v.visual() ? "1" : "0"));
		std::string lights, beacons;
		for (size_t i = 0; i < v.lightCount(); ++i)
			lights += v.light(i).on ? " 1" : " 0";
		for (size_t i = 0; i < v.beaconCount(); ++i)
			beacons += v.beacon(i).on ? " 1" : " 0";
		Line(who + " lights" + lights + " beacons" + beacons);
		for (const host::HudText &t : v.hud().texts) {
			char where[64];
			std::snprintf(where, sizeof where, " hud %d %d %06" PRIX32 " ", t.x, t.y, static_cast<uint32_t>(t.colour));
			Line(who + where + t.text);
		}
		// The host calls since the vessel's last snapshot, in order; the journal keeps them all.
		uint64_t &seen = journalSeen_[v.name()];
		std::vector<std::string> entries = v.journal();
		uint64_t fresh = v.calls() - seen;
		std::string calls = fresh > entries.size() ? " (journal lost " + std::to_string(fresh - entries.size()) + ")" : "";
		for (size_t i = entries.size() - std::min<size_t>(entries.size(), fresh); i < entries.size(); ++i)
			calls += " " + entries[i];
		seen = v.calls();
		Line(who + " calls" + calls);
		// The rover makes its fifteen sunscreen slats' and two doors' animations first; their
		// states are sums of fixed rates and steps, the same whatever the C library: exact.
		const host::Range<double> states = v.animationStates();
		const size_t exact = std::min<size_t>(states.size(), 17);
		Line(who + " parts" + Numbers(states.begin(), exact));
		const double pose[] = {s.lng, s.lat, s.hdg, s.alt, s.arot.x, s.arot.y, s.arot.z, v.rudder().level};
		Line("~ " + who + " pose" + Numbers(pose, 8));
		Line("~ " + who + " animations" + Numbers(states.begin() + exact, states.size() - exact));
	}

	std::ofstream out_;
	std::map<std::string, uint64_t> journalSeen_;  // journal entries already written, by vessel name
};

DriveRecord record;

std::string Problems(host::Simulation &sim) {
	std::string all;
	for (const std::string &p : sim.TakeProblems())
		all += "\n     (host reports: " + p + ")";
	return all;
}

void LoadAndCheckModule(host::Simulation &sim, const std::string &root) {
	host::Module &m = sim.modules().Get(root, "Sendra2016");
#ifdef _WIN32
	const char *fileName = "Sendra2016.dll";
#else
	const char *fileName = "libSendra2016.so";
#endif
	Check(host::ModuleFileName("Sendra2016") == fileName, "the module's file is Modules/" + std::string(fileName));
	Check(LibraryLoaded(m.path()), "the system loaded " + m.path());
	Check(!FullPath(m.path()).empty() && LoadedFile(m.instance()) == FullPath(m.path()),
	      "from that file itself, not another of its name (" + LoadedFile(m.instance()) + ")");
	HINSTANCE self = m.instance();
	Check(self != nullptr, "the module has an instance handle");
	Check(host::InitLibCalls(self) == 1, "attach called InitLib once with that handle (" +
	                                         std::to_string(host::InitLibCalls(self)) + ")");
	Check(!GetProcAddress(self, "ExitModule") && !GetProcAddress(self, "opcDLLExit"),
	      "attach found no exit hook: neither ExitModule nor opcDLLExit is exported");
	bool allFound = true;
	for (const char *name : {"GetModuleVersion", "ModuleDate", "ovcInit", "ovcExit"})
		allFound = Check(GetProcAddress(self, name) != nullptr, std::string("export ") + name + " found by its plain name") &&
		           allFound;
	if (allFound) {
		auto version = Export<host::Module::VersionFn>(self, "GetModuleVersion");
		Check(Export<host::Module::InitFn>(self, "ovcInit") == m.ovcInit &&
		          Export<host::Module::ExitFn>(self, "ovcExit") == m.ovcExit,
		      "the loader uses those same ovcInit and ovcExit");
		int dateCalls = host::Date2IntCalls();
		Check(m.version() == 160828 && version() == 160828 && host::Date2IntCalls() == dateCalls,
		      "GetModuleVersion is 160828 and computed once");
	}
	Check(m.date() == "Jul  2 2018", "ModuleDate is \"" + m.date() + "\"");
}

// Drives rover a north from rest and checks the motion, the HUD and the lights; b stays put.
void Drive(host_testing::HostWorld &world, Vessel *a, Vessel *b) {
	host::Simulation &sim = world.sim;
	const double dt = 0.05;  // [s]
	const double latA = host::VesselView(a).place().lat, lngB = host::VesselView(b).place().lng, latB = host::VesselView(b).place().lat;
	sim.SetFocus(a);
	world.Tap(OAPI_KEY_NUMPAD8, dt);
	const int held = 300;
	world.Hold(OAPI_KEY_ADD);
	world.Step(dt, held);
	world.Release(OAPI_KEY_ADD);
	world.Tap(OAPI_KEY_1, dt);
	world.Tap(OAPI_KEY_7, dt);
	const int coasting = 100;
	world.Step(dt, coasting);
	Check(sim.frameCount() == 2 + held + 4 + coasting, "drove " + std::to_string(sim.frameCount()) + " frames");

	// The speed grows by 0.01 m/s in each frame that keypad plus is held, up to 2.78, and
	// moves the rover from the next frame on; then it stays at 2.78.
	double expected = 0, speed = 0;
	for (int i = 0; i < held; ++i) {
		expected += speed * dt;
		speed = std::min(speed + 0.01, 2.78);
	}
	expected += speed * dt * (4 + coasting);
	const double metresPerRadian = 1.738e6;  // the Moon's radius
	double moved = (host::VesselView(a).place().lat - latA) * metresPerRadian;
	Check(std::fabs(moved - expected) < 0.01 * expected,
	      "the focus rover drove north " + std::to_string(moved) + " m (expected " + std::to_string(expected) + " m)");
	Check(host::VesselView(b).place().lng == lngB && host::VesselView(b).place().lat == latB, "the other rover stayed where it was");
	Check(HudShows(a, "Current Ground Speed 2.78") && HudShows(a, "Forward Gear"),
	      "the HUD shows \"Current Ground Speed 2.78\" and \"Forward Gear\"");
	const host::VesselView va(a);
	bool lightsOn = va.lightCount() == 4;
	for (size_t i = 0; i < va.lightCount(); ++i)
		lightsOn = lightsOn && va.light(i).emitter->IsActive();
	Check(lightsOn, "key 7 switched the rover's four spot lights on");
}

// The saved text of vessel name's block, from "name:" to its END.
std::string Block(const std::string &scenario, const std::string &name) {
	size_t from = scenario.find("\n" + name + ":");
	if (from == std::string::npos)
		return "";
	size_t to = scenario.find("\nEND\n", from);
	return scenario.substr(from + 1, to == std::string::npos ? std::string::npos : to - from);
}

std::string ReadAll(const std::string &path) {
	std::ifstream in(path, std::ios::binary);
	std::stringstream text;
	text << in.rdbuf();
	return text.str();
}

void SaveAndCheckScenario(host::Simulation &sim, const std::string &path) {
	// Saved twice: the second save replaces the first file, which the C library's rename does
	// not do on Windows.
	for (const char *description : {"module_smoke: first save", "module_smoke: two rovers, one of them driven"}) {
		host::KeptScenario kept;
		kept.blocks.push_back({"DESC", 0, std::string("BEGIN_DESC\n") + description + "\nEND_DESC\n"});
		sim.SetKept(std::move(kept));
		host::SaveScenario(sim, path);
	}
	std::string scenario = ReadAll(path);
	std::istringstream lines(scenario);
	for (std::string line; std::getline(lines, line);)
		record.Line("scenario " + line);
	Check(Contains(scenario, "BEGIN_DESC\nmodule_smoke: two rovers, one of them driven\nEND_DESC\n"),
	      "saving over an existing scenario replaces it");
	std::string a = Block(scenario, "Sendra-1"), b = Block(scenario, "Sendra-2");
	Check(Contains(a, "Sendra-1:Sendra2016\n") && Contains(b, "Sendra-2:Sendra2016\n"),
	      "the saved scenario holds both rovers");
	Check(Contains(a, "  STATUS Landed Moon\n") && Contains(a, "  ALT 2.166\n"), "the driven rover is saved landed on the Moon");
	Check(Contains(a, "  DOORL 3 0.5") && Contains(a, "  DOORR 0 0.0000\n") && Contains(a, "  SUNSCREEN 0 0.0000\n") &&
	          Contains(a, "  LIGHT 1 \n"),
	      "the driven rover's lines: left door opening half way, lights on");
	Check(Contains(b, "  DOORL 0 0.0000\n") && Contains(b, "  LIGHT 0 \n"), "the other rover's lines: all closed, lights off");
}

// Fills the stack that the next call will use with non-zero bytes, so that a text the module
// leaves unended there runs on into them, instead of stopping at a zero an earlier call left.
#ifdef __GNUC__
__attribute__((noinline))
#endif
void FillStack() {
	volatile char bytes[256 * 1024];
	for (size_t i = 0; i < sizeof bytes; ++i)
		bytes[i] = 'x';
}

// A door line as long as the rover's saved values get, the most negative int and double:
// 327 characters, which fill the module's value buffer up to its end. Loaded, and saved again
// on a stack of non-zero bytes, it comes out whole and ends where it should: Windows'
// _vsnprintf leaves a text that fills the buffer unended, and the module must end it, which
// only the Windows drives can show.
void SaveAndCheckLongestLine(host::Simulation &sim, const std::string &scenario) {
	const std::string shorter = "Sendra-2:Sendra2016\n  STATUS Landed Moon\n", door = "  DOORL 0 0.0000\n";
	std::string text = scenario;
	size_t at = text.find(door, text.find(shorter));
	if (!Check(text.find(shorter) != std::string::npos && at != std::string::npos, "the saved scenario has Sendra-2's door"))
		return;
	text.replace(at, door.size(), "  DOORL -2147483648 -1.7976931348623157e308\n");
	host::LoadScenario(sim, host::ParseScenario(text, "longest.scn"));
	Vessel *v = sim.FindVessel("Sendra-2");
	std::ostringstream out;
	FillStack();
	host::SaveVesselLines(sim, v, out);
	const std::string b = "\n" + out.str();
	char value[400];
	const int length = std::snprintf(value, sizeof value, "%d %0.4f", INT_MIN, -DBL_MAX);
	Check(length == 327 && Contains(b, std::string("\n  DOORL ") + value + "\n"),
	      "a door line of 327 characters, the most negative int and double, is saved whole and ended");
}

void DeleteAndUnload(host::Simulation &sim, const std::string &path) {
	while (!sim.vessels().empty())
		sim.DeleteVessel(sim.vessels().back().get());
	Check(sim.vessels().empty(), "both rovers deleted");
	sim.modules().UnloadAll();
	Check(!sim.modules().Find("Sendra2016") && !LibraryLoaded(path), "the module is unloaded (detach)");
}

// A simulation for the drive: journals that keep every call of the drive, and the record of
// each frame.
host::SimOptions Options(const std::string &root) {
	host::SimOptions options = host_testing::WorldOptions(root);
	options.journalCapacity = size_t(1) << 20;
	return options;
}

// Each frame is named by its simulation time, which is set before the module's post-step and
// HUD paint, so that a frame cut short there is named alike.
void RecordFrames(host::Simulation &sim) {
	record.NewSession();
	sim.onFrameEnd = [](host::Simulation &s) {
		char when[48];
		std::snprintf(when, sizeof when, "t %.3f", s.simt());
		record.Vessels(s, when);
	};
}

}  // namespace

int main(int argc, char **argv) {
	std::string recordPath;
	if (argc == 5 && std::string(argv[3]) == "--record")
		recordPath = argv[4];
	if (argc != 3 && recordPath.empty()) {
		std::fprintf(stderr, "usage: module_smoke <orbiter-root> <scenario-to-write> [--record FILE]\n");
		return 2;
	}
	if (!recordPath.empty() && !record.Open(recordPath)) {
		std::fprintf(stderr, "module_smoke: %s: cannot write the record\n", recordPath.c_str());
		return 2;
	}
	const std::string root = argv[1], scenarioPath = argv[2];
	try {
		std::string modulePath;
		{
			host_testing::HostWorld world(Options(root));
			host::Simulation &sim = world.sim;
			RecordFrames(sim);
			LoadAndCheckModule(sim, root);
			const host::Module *m = sim.modules().Find("Sendra2016");
			modulePath = m->path();
			HINSTANCE self = m->instance();
			record.Line("module version " + std::to_string(m->version()) + " date " + m->date());

			Vessel *a = world.Add("Sendra-1", "Sendra2016", 23.47, 0.67);
			Vessel *b = world.Add("Sendra-2", "Sendra2016", 23.47 + 20.0 / 1.738e6 * DEG, 0.67);  // 20 m east
			const host::VesselView va(a), vb(b);
			Check(va.callbacks3() && vb.callbacks3() && va.Interface() != vb.Interface(), "two rovers created" + Problems(sim));
			Check(host::InitLibCalls(self) == 1, "the module was loaded once for both");
			record.Vessels(sim, "created");

			Drive(world, a, b);
			record.Pose(va, "driven");
			SaveAndCheckScenario(sim, scenarioPath);
			record.Vessels(sim, "after-save");
			DeleteAndUnload(sim, modulePath);
		}
		{
			// The saved scenario loads back in a new session, which loads the module afresh.
			host::Simulation sim(Options(root));
			RecordFrames(sim);
			host::LoadScenario(sim, host::ReadScenarioFile(scenarioPath));
			const host::Module *m = sim.modules().Find("Sendra2016");
			Check(sim.vessels().size() == 2 && m && host::InitLibCalls(m->instance()) == 1,
			      "the saved scenario loads back: two rovers, the module attached once again" + Problems(sim));
			record.Vessels(sim, "loaded");
			for (const auto &v : sim.vessels())
				record.Pose(host::VesselView(v), "loaded");
			DeleteAndUnload(sim, modulePath);
		}
		{
			host::Simulation sim(Options(root));
			SaveAndCheckLongestLine(sim, ReadAll(scenarioPath));
			DeleteAndUnload(sim, modulePath);
		}
	} catch (const std::exception &e) {
		Check(false, std::string("no error from the host: ") + e.what());
	}
	record.Line("end");
	if (!record.Good())
		Check(false, "the record " + recordPath + " is written");
	std::printf("%d passed, %d failed\n", passed, failed);
	return failed == 0 && passed > 0 ? 0 : 1;
}
