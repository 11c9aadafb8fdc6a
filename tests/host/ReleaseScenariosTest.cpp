// The scenarios of the simulator's release, as a user of it has them: each loads, runs, saves
// and loads again with no line of its vessels or blocks lost.
#include <gtest/gtest.h>

#include <algorithm>
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
