// The scenarios of the simulator's release, as a user of it has them: each loads, runs, saves
// and loads again with no line of its vessels or blocks lost.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <filesystem>
#include <sstream>

#include "OrbiterAPI.h"
#include "Scratch.h"
#include "sendra_host/ScenarioIO.h"
#include "sendra_host/Simulation.h"
#include "sendra_host/Text.h"
#include "src/HostVessel.h"

namespace fs = std::filesystem;

namespace {

const fs::path kRelease = fs::path(SENDRA_FIXTURES) / "orbiter-release";

// The release's folder with the rover's class and module beside its own.
class ReleaseRoot : public scenes::ScratchFolder {
public:
	ReleaseRoot() : scenes::ScratchFolder("sendra-release") {
		fs::copy(kRelease, dir(), fs::copy_options::recursive);
		for (const char *folder : {"Modules", "Meshes"})
			fs::create_directories(dir() / folder);
		fs::copy_file(fs::path(SENDRA_ORBITER_ROOT) / "Config/Vessels/Sendra2016.cfg", dir() / "Config/Vessels/Sendra2016.cfg");
		fs::create_symlink(fs::path(SENDRA_ORBITER_ROOT) / "Modules/libSendra2016.so", dir() / "Modules/libSendra2016.so");
		for (const auto &mesh : fs::directory_iterator(fs::path(SENDRA_ORBITER_ROOT) / "Meshes"))
			fs::create_symlink(mesh.path(), dir() / "Meshes" / mesh.path().filename());
	}
	host::SimOptions options() const {
		host::SimOptions o;
		o.root = path();
		o.now = 60000.5;
		return o;
	}
};

bool IsRewritten(std::string_view line) {
	// The state and the host's modes, which a save writes anew.
	static const char *const kKeys[] = {"STATUS", "BASE", "POS",  "HEADING", "ALT",     "AROT",
	                                    "RPOS",   "RVEL", "VROT", "ELEMENTS", "RCSMODE", "AFCMODE", "NAVFREQ"};
	std::vector<std::string_view> w = host::SplitWords(host::Trim(line));
	return w.empty() || std::any_of(std::begin(kKeys), std::end(kKeys), [&](const char *k) { return host::EqualsNoCase(w[0], k); });
}

// Each vessel's lines that a save keeps as they stand, trimmed, in order.
std::map<std::string, std::vector<std::string>> KeptLines(const host::ScenarioFile &f) {
	std::map<std::string, std::vector<std::string>> kept;
	for (const host::ScenarioVesselBlock &b : f.vessels) {
		std::vector<std::string> &lines = kept[b.name + ":" + b.className];
		for (const auto &l : b.lines)
			if (!IsRewritten(l.text) && !host::EqualsNoCase(host::Trim(l.text), "END"))
				lines.emplace_back(host::Trim(l.text));
	}
	return kept;
}

std::string Save(host::Simulation &sim) {
	std::ostringstream out;
	host::WriteScenario(sim, out);
	return out.str();
}

std::vector<fs::path> ReleaseScenarios() {
	std::vector<fs::path> files;
	for (const auto &e : fs::recursive_directory_iterator(kRelease / "Scenarios"))
		if (e.path().extension() == ".scn")
			files.push_back(e.path());
	std::sort(files.begin(), files.end());
	return files;
}

}  // namespace

TEST(ReleaseScenarios, EachRunsTenSecondsAndItsSaveLoadsAgainWithNothingLost) {
	ReleaseRoot root;
	const std::vector<fs::path> files = ReleaseScenarios();
	ASSERT_EQ(files.size(), 12u);
	for (const fs::path &file : files) {
		SCOPED_TRACE(file.filename().string());
		host::ScenarioFile in = host::ReadScenarioFile(file.string());
		host::Simulation sim(root.options());
		ASSERT_NO_THROW(host::LoadScenario(sim, in));
		ASSERT_EQ(sim.vessels().size(), in.vessels.size());
		std::vector<VECTOR3> start;
		for (const auto &v : sim.vessels())
			start.push_back(v->state.rpos);
		for (int i = 0; i < 20; ++i)
			sim.Frame(0.5);
		EXPECT_DOUBLE_EQ(sim.simt(), 10.0);
		// Vessels in flight moved on; landed ones stay put in their body's frame.
		for (size_t i = 0; i < sim.vessels().size(); ++i) {
			const Vessel &v = *sim.vessels()[i];
			if (v.state.status == 0) {
				EXPECT_GT(length(v.state.rpos - start[i]), 1.0) << v.name;
			}
		}
		const std::string saved = Save(sim);
		host::ScenarioFile out = host::ParseScenario(saved, "saved.scn");
		EXPECT_EQ(KeptLines(out), KeptLines(in));
		// Every block comes back as read, the focus where it names a vessel.
		for (const host::ScenarioBlock &b : in.blocks)
			if (b.name != "FOCUS" || sim.FindVessel(in.focus)) {
				EXPECT_NE(saved.find(b.text), std::string::npos) << b.text;
			}
		// The save loads again and, saved at once, keeps the same lines and states (riders,
		// placed anew from the rounded states, to the last decimals).
		host::Simulation again(root.options());
		ASSERT_NO_THROW(host::LoadScenario(again, out));
		const std::string resaved = Save(again);
		EXPECT_EQ(KeptLines(host::ParseScenario(resaved, "again.scn")), KeptLines(in));
		EXPECT_EQ(std::count(resaved.begin(), resaved.end(), '\n'), std::count(saved.begin(), saved.end(), '\n'));
		for (size_t i = 0; i < again.vessels().size(); ++i)
			EXPECT_LT(length(again.vessels()[i]->state.rpos - sim.vessels()[i]->state.rpos), 1e-2);
	}
}

TEST(ReleaseScenarios, TheirVesselsAreWhereTheHostPutsThem) {
	ReleaseRoot root;
	auto load = [&](host::Simulation &sim, const std::string &name) {
		host::LoadScenario(sim, host::ReadScenarioFile((kRelease / "Scenarios" / name).string()));
		return sim.TakeProblems();
	};
	auto said = [](const std::vector<std::string> &problems, const std::string &what) {
		return std::any_of(problems.begin(), problems.end(), [&](const std::string &p) { return p.find(what) != std::string::npos; });
	};
	{
		// No number after Date: the current time; the focus that is no vessel: the first.
		host::Simulation sim(root.options());
		std::vector<std::string> p = load(sim, "Challenges/Challenge 2 - Lunar transfer.scn");
		EXPECT_DOUBLE_EQ(sim.mjd(), 60000.5);
		EXPECT_TRUE(said(p, "Challenge 2 - Lunar transfer.scn:17: Date: 'Date MJD' gives no date")) << p[0];
		host::Simulation galileo(root.options());
		p = load(galileo, "Jupiter flybys/Galileo's first Ganymede flyby.scn");
		EXPECT_EQ(galileo.focus(), galileo.vessels().at(0).get());
		EXPECT_TRUE(said(p, "the focus ship 'GL-01' is not one of the vessels; 'Galileo' has the focus"));
		// On its way to Ganymede, about Jupiter.
		const Vessel &g = *galileo.vessels()[0];
		EXPECT_EQ(g.surfaceRef->name, "Jupiter");
		EXPECT_NEAR(g.flight->free->conic.eccentricity(), 0.918, 1e-3);
	}
	{
		host::Simulation sim(root.options());
		std::vector<std::string> p = load(sim, "Delta-glider/Venus takeoff.scn");
		const Vessel *onVenus = nullptr;
		for (const auto &v : sim.vessels())
			if (v->state.status == 1 && v->surfaceRef->name == "Venus")
				onVenus = v.get();
		ASSERT_NE(onVenus, nullptr);
		EXPECT_TRUE(said(p, "Could not load vessel module: DeltaGlider"));
	}
	{
		// A glider docked to the station, which its module would have placed: it stays with the
		// station, its DOCKINFO kept; one at a base stands on the pad.
		host::Simulation sim(root.options());
		std::vector<std::string> p = load(sim, "Delta-glider/Docked at ISS.scn");
		Vessel *iss = sim.FindVessel("ISS"), *glider = sim.FindVessel("GL-02"), *landed = sim.FindVessel("GL-01");
		ASSERT_TRUE(iss && glider && landed);
		EXPECT_EQ(host::VesselView(glider).ridesOn(), iss);
		EXPECT_TRUE(said(p, "Docked at ISS.scn:49: vessel 'GL-02': DOCKINFO names port 0 of its own"));
		sim.Frame(100);
		EXPECT_LT(length(glider->state.rpos - iss->state.rpos), 1e-6);
		EXPECT_NEAR(length(iss->state.rvel), 7700, 200);
		ASSERT_TRUE(landed->onBase);
		EXPECT_EQ(landed->onBase->name, "Habana");
		EXPECT_EQ(landed->onBase->pad, 2);
	}
	{
		// Six payloads carried, each staying where it hangs as the shuttle turns.
		host::Simulation sim(root.options());
		load(sim, "Shuttle-A/Shuttle-A Drop.scn");
		Vessel *shuttle = sim.FindVessel("SH-15"), *payload = sim.FindVessel("SH-PL04");
		ASSERT_TRUE(shuttle && payload);
		EXPECT_EQ(host::VesselView(payload).ridesOn(), shuttle);
		auto inShuttle = [&] {
			return tmul(host::VesselView(shuttle).Attitude(), payload->state.rpos - shuttle->state.rpos);
		};
		VECTOR3 before = inShuttle();
		sim.Frame(30);
		VECTOR3 after = inShuttle();
		EXPECT_LT(length(after - before), 1e-6);
	}
}

// A rover set down 20 m east of a vessel landed in a release scenario (on Earth beside the
// quadcopter; on the Moon beside the shuttle under a station in lunar orbit) or, where none is
// landed on the Moon, among vessels in lunar transfer, drives north for ten seconds as on its
// own: it stays on the ground and goes some metres north, its heading kept; the others stay
// where they were; the save keeps every other vessel's lines and every block, and loaded
// again has the rover where it stopped.
TEST(ReleaseScenarios, ARoverDrivesAmongTheirVesselsAndTheSaveKeepsThemWhole) {
	ReleaseRoot root;
	const std::pair<const char *, const char *> cases[] = {{"Quadcopter/Quadcopter at KSC.scn", "QC-01"},
	                                                         {"Demo/ISS Approach.scn", "SH-01"},
	                                                         {"Challenges/Challenge 2 - Lunar transfer.scn", nullptr}};
	for (const auto &[name, neighbour] : cases) {
		SCOPED_TRACE(name);
		const host::ScenarioFile in = host::ReadScenarioFile((kRelease / "Scenarios" / name).string());
		host::Simulation sim(root.options());
		host::LoadScenario(sim, in);
		host::VesselPlace at;
		at.body = sim.FindBody("Moon");
		at.lng = 23.47 * RAD;
		if (neighbour)
			at = host::VesselView(sim.FindVessel(neighbour)).place();
		ASSERT_TRUE(at.body && (at.landed || !neighbour));
		host::Body *body = sim.FindBody(at.body->name);
		Vessel *rover = sim.CreateVessel("Rover", "Sendra2016",
		                                 {body, at.lng + 20 / (body->radius * std::cos(at.lat)), at.lat, 0});
		sim.SetFocus(rover);
		const double standing = host::VesselView(rover).place().alt;
		std::vector<std::array<double, 3>> places;
		for (const auto &v : sim.vessels())
			places.push_back({v->state.surf_lng, v->state.surf_lat, v->state.surf_hdg});
		sim.KeyDown(OAPI_KEY_NUMPAD8);
		sim.Frame(0.1);
		sim.KeyUp(OAPI_KEY_NUMPAD8);
		sim.KeyDown(OAPI_KEY_ADD);
		for (int i = 0; i < 100; ++i)
			sim.Frame(0.1);
		const host::VesselPlace now = host::VesselView(rover).place();
		ASSERT_TRUE(now.landed);
		EXPECT_EQ(now.body, body);
		const double north = (now.lat - at.lat) * body->radius, east = (now.lng - at.lng) * body->radius * std::cos(at.lat);
		EXPECT_GT(north, 2.0);
		EXPECT_LT(north, 20.0);
		EXPECT_NEAR(east, 20, 0.1);
		EXPECT_LT(std::fabs(std::remainder(now.hdg, PI2)), 0.01);
		EXPECT_NEAR(now.alt, standing, 0.05);
		for (size_t i = 0; i < sim.vessels().size(); ++i) {
			const VESSELSTATUS2 &s = sim.vessels()[i]->state;
			if (s.status == 1 && sim.vessels()[i].get() != rover) {
				EXPECT_EQ(places[i], (std::array<double, 3>{s.surf_lng, s.surf_lat, s.surf_hdg})) << sim.vessels()[i]->name;
			}
		}

		const std::string saved = Save(sim);
		const host::ScenarioFile out = host::ParseScenario(saved, "saved.scn");
		std::map<std::string, std::vector<std::string>> kept = KeptLines(out);
		ASSERT_EQ(kept.erase("Rover:Sendra2016"), 1u);
		EXPECT_EQ(kept, KeptLines(in));
		for (const host::ScenarioBlock &b : in.blocks)
			if (b.name != "FOCUS" && b.name != "CAMERA") {  // the camera went with the focus to the rover
				EXPECT_NE(saved.find(b.text), std::string::npos) << b.text;
			}
		host::Simulation again(root.options());
		ASSERT_NO_THROW(host::LoadScenario(again, out));
		EXPECT_EQ(KeptLines(host::ParseScenario(Save(again), "again.scn")), KeptLines(out));
		const Vessel *back = again.FindVessel("Rover");
		ASSERT_NE(back, nullptr);
		EXPECT_EQ(again.focus(), back);
		const host::VesselPlace loaded = host::VesselView(back).place();
		EXPECT_LT(std::hypot(loaded.lat - now.lat, (loaded.lng - now.lng) * std::cos(now.lat)) * body->radius, 0.02);
		EXPECT_NEAR(loaded.hdg, now.hdg, 1e-3);
	}
}
