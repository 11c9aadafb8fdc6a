// module_smoke: loads the built rover module through the stand-in host the way Orbiter loads
// Modules\Sendra2016.dll, and drives it once end to end: the module's entry, its four exports,
// two rovers, a few hundred frames with keys, a saved and reloaded scenario, deletion and
// unloading. Runs on Linux and, built with mingw-w64, as a Windows program under wine, where
// it checks the Windows-only code of the module (its DllMain, GetProcAddress on itself, the
// export names). Prints every check; exits non-zero if any failed.
//
// Usage: module_smoke <orbiter-root> <scenario-to-write>
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>

#include "HostError.h"
#include "HostVessel.h"
#include "HostWorld.h"
#include "ModuleLoader.h"
#include "ScenarioIO.h"
#include "Simulation.h"

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
	for (const host::HudText &t : v->hud.texts)
		if (t.text == text)
			return true;
	return false;
}

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
	const double latA = a->state.surf_lat, lngB = b->state.surf_lng, latB = b->state.surf_lat;
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
	double moved = (a->state.surf_lat - latA) * metresPerRadian;
	Check(std::fabs(moved - expected) < 0.01 * expected,
	      "the focus rover drove north " + std::to_string(moved) + " m (expected " + std::to_string(expected) + " m)");
	Check(b->state.surf_lng == lngB && b->state.surf_lat == latB, "the other rover stayed where it was");
	Check(HudShows(a, "Current Ground Speed 2.78") && HudShows(a, "Forward Gear"),
	      "the HUD shows \"Current Ground Speed 2.78\" and \"Forward Gear\"");
	bool lightsOn = a->lights.size() == 4;
	for (const auto &light : a->lights)
		lightsOn = lightsOn && light->IsActive();
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
	host::SaveScenario(sim, path, "module_smoke: first save");
	host::SaveScenario(sim, path, "module_smoke: two rovers, one of them driven");
	std::string scenario = ReadAll(path);
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

void DeleteAndUnload(host::Simulation &sim, const std::string &path) {
	while (!sim.vessels().empty())
		sim.DeleteVessel(sim.vessels().back().get());
	Check(sim.vessels().empty(), "both rovers deleted");
	sim.modules().UnloadAll();
	Check(!sim.modules().Find("Sendra2016") && !LibraryLoaded(path), "the module is unloaded (detach)");
}

}  // namespace

int main(int argc, char **argv) {
	if (argc != 3) {
		std::fprintf(stderr, "usage: module_smoke <orbiter-root> <scenario-to-write>\n");
		return 2;
	}
	const std::string root = argv[1], scenarioPath = argv[2];
	try {
		std::string modulePath;
		{
			host_testing::HostWorld world(host_testing::WorldOptions(root));
			host::Simulation &sim = world.sim;
			LoadAndCheckModule(sim, root);
			modulePath = sim.modules().Find("Sendra2016")->path();
			HINSTANCE self = sim.modules().Find("Sendra2016")->instance();

			Vessel *a = world.Add("Sendra-1", "Sendra2016", 23.47, 0.67);
			Vessel *b = world.Add("Sendra-2", "Sendra2016", 23.47 + 20.0 / 1.738e6 * DEG, 0.67);  // 20 m east
			Check(a->callbacks3() && b->callbacks3() && a->iface != b->iface, "two rovers created" + Problems(sim));
			Check(host::InitLibCalls(self) == 1, "the module was loaded once for both");

			Drive(world, a, b);
			SaveAndCheckScenario(sim, scenarioPath);
			DeleteAndUnload(sim, modulePath);
		}
		{
			// The saved scenario loads back in a new session, which loads the module afresh.
			host::SimOptions options;
			options.root = root;
			host::Simulation sim(options);
			host::LoadScenario(sim, host::ReadScenarioFile(scenarioPath));
			const host::Module *m = sim.modules().Find("Sendra2016");
			Check(sim.vessels().size() == 2 && m && host::InitLibCalls(m->instance()) == 1,
			      "the saved scenario loads back: two rovers, the module attached once again" + Problems(sim));
			DeleteAndUnload(sim, modulePath);
		}
	} catch (const std::exception &e) {
		Check(false, std::string("no error from the host: ") + e.what());
	}
	std::printf("%d passed, %d failed\n", passed, failed);
	return failed == 0 && passed > 0 ? 0 : 1;
}
