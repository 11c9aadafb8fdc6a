// An add-on package as a player unpacks it into the Orbiter folder: every file at its Orbiter
// path, and its scenarios loaded in the stand-in host from the unpacked tree alone (from a
// copy with the stand-in's module added, for the players' package, whose DLL it cannot load).
// Built once for each package: SENDRA_PACKAGE_ROOT is the unpacked tree, SENDRA_HOST_ROOT the
// root the host loads from, SENDRA_PACKAGED_MODULE the module's path in the package,
// SENDRA_BUILT_MODULE the module the build made, and SENDRA_PACKAGE_CRLF 1 when the package's
// readme, manual and scenarios have Windows line ends (the players' package).
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "sendra_host/ScenarioIO.h"
#include "sendra_host/Simulation.h"
#include "sendra_host/VesselView.h"

namespace fs = std::filesystem;

namespace {

const fs::path kPackage = SENDRA_PACKAGE_ROOT;
const fs::path kHostRoot = SENDRA_HOST_ROOT;
const fs::path kAssets = SENDRA_ASSETS;
const bool kCrlf = SENDRA_PACKAGE_CRLF;

// The regular files under dir, as paths relative to it with '/'.
std::set<std::string> Files(const fs::path &dir) {
	std::set<std::string> files;
	for (const auto &e : fs::recursive_directory_iterator(dir))
		if (e.is_regular_file())
			files.insert(e.path().lexically_relative(dir).generic_string());
	return files;
}

std::string ReadAll(const fs::path &path) {
	std::ifstream in(path, std::ios::binary);
	std::stringstream text;
	text << in.rdbuf();
	return text.str();
}

std::vector<fs::path> PackagedScenarios() {
	std::vector<fs::path> scenarios;
	for (const auto &e : fs::directory_iterator(kPackage / "Scenarios" / "Sendra2016"))
		if (e.path().extension() == ".scn")
			scenarios.push_back(e.path());
	std::sort(scenarios.begin(), scenarios.end());
	return scenarios;
}

// The rover's own lines (doors, sunscreen, lights) of vessel name's block in scenario text.
std::vector<std::string> RoverLines(const std::string &scenario, const std::string &name) {
	std::vector<std::string> lines;
	std::istringstream in(scenario);
	std::string line;
	bool inBlock = false;
	while (std::getline(in, line)) {
		if (!line.empty() && line.back() == '\r')
			line.pop_back();
		if (line.rfind(name + ":", 0) == 0)
			inBlock = true;
		else if (inBlock && line == "END")
			break;
		else if (inBlock)
			for (const char *key : {"  DOORL ", "  DOORR ", "  SUNSCREEN ", "  LIGHT "})
				if (line.rfind(key, 0) == 0)
					lines.push_back(line);
	}
	return lines;
}

// A session on the unpacked package (the host's root) with the scenario at path loaded.
struct PackagedSession {
	explicit PackagedSession(const fs::path &path) : sim(Options()), file(host::ReadScenarioFile(path.string())) {
		host::LoadScenario(sim, file);
	}
	static host::SimOptions Options() {
		host::SimOptions o;
		o.root = kHostRoot.string();
		return o;
	}
	std::string Saved() {
		std::ostringstream out;
		host::WriteScenario(sim, out);
		return out.str();
	}
	host::Simulation sim;
	host::ScenarioFile file;
};

TEST(Package, HoldsTheModuleAndEveryAssetAtTheirOrbiterPaths) {
	std::set<std::string> expected = Files(kAssets);
	const std::string module = SENDRA_PACKAGED_MODULE;
	expected.insert(module);
	EXPECT_EQ(Files(kPackage), expected);

	for (const char *required :
	     {"Config/Vessels/Sendra2016.cfg", "Meshes/Sendra9.msh", "Doc/Sendra2016.md", "Sendra2016-readme.txt"})
		EXPECT_EQ(expected.count(required), 1u) << required << " is missing from assets/";
	EXPECT_GE(PackagedScenarios().size(), 3u);

	// Byte for byte what the source tree and the build hold; in the players' package the readme,
	// the manual and the scenarios with CRLF for every line end.
	auto lf = [](std::string text) {
		for (size_t at; (at = text.find("\r\n")) != std::string::npos;)
			text.erase(at, 1);
		return text;
	};
	for (const std::string &rel : Files(kAssets)) {
		const std::string packaged = ReadAll(kPackage / rel), source = ReadAll(kAssets / rel);
		const std::string ext = fs::path(rel).extension().string();
		if (kCrlf && (ext == ".txt" || ext == ".md" || ext == ".scn")) {
			EXPECT_EQ(lf(packaged), lf(source)) << rel;
			EXPECT_EQ(std::count(packaged.begin(), packaged.end(), '\n'), std::count(packaged.begin(), packaged.end(), '\r'))
			    << rel << " has a line end without CR";
		} else {
			EXPECT_EQ(packaged, source) << rel;
		}
	}
	EXPECT_EQ(ReadAll(kPackage / module), ReadAll(SENDRA_BUILT_MODULE));
}

TEST(Package, EveryScenarioLoadsFromTheUnpackedTreeAlone) {
	for (const fs::path &scn : PackagedScenarios()) {
		SCOPED_TRACE(scn.filename().string());
		std::unique_ptr<PackagedSession> s;
		ASSERT_NO_THROW(s = std::make_unique<PackagedSession>(scn));
		// The package holds no solar system, which would replace the player's own: alone, the
		// tree runs on the host's own bodies and says so.
		EXPECT_EQ(s->sim.TakeProblems(),
		          std::vector<std::string>{s->sim.options().root +
		                                   "/Config/Sol.cfg: no solar system in this Orbiter folder; the stand-in host "
		                                   "uses its own Earth, Moon and Mars"});
		EXPECT_EQ(s->file.blocks.at(0).name, "DESC");

		// Each rover runs its module from the package's Modules folder, with the package's mesh.
		ASSERT_EQ(s->sim.vessels().size(), s->file.vessels.size());
		ASSERT_FALSE(s->sim.vessels().empty());
		for (const auto &v : s->sim.vessels()) {
			SCOPED_TRACE(host::VesselView(v).name());
			EXPECT_EQ(host::VesselView(v).className(), "Sendra2016");
			ASSERT_NE(host::VesselView(v).callbacks3(), nullptr);
			ASSERT_NE(host::VesselView(v).module(), nullptr);
			EXPECT_EQ(fs::path(host::VesselView(v).module()->path()).lexically_normal(),
			          (kHostRoot / "Modules" / host::ModuleFileName("Sendra2016")).lexically_normal());
			ASSERT_FALSE(host::VesselView(v).meshes().empty());
			EXPECT_EQ(host::VesselView(v).meshes()[0].name, "Sendra9");
		}
		ASSERT_EQ(s->sim.meshTemplates().count("Sendra9"), 1u);
		EXPECT_NE(s->sim.meshTemplates().at("Sendra9"), nullptr);

		// The rovers read their own lines: saved again at once, they come out as written.
		std::string original = ReadAll(scn), saved = s->Saved();
		for (const auto &block : s->file.vessels) {
			std::vector<std::string> lines = RoverLines(original, block.name);
			EXPECT_EQ(lines.size(), 4u) << block.name;
			EXPECT_EQ(RoverLines(saved, block.name), lines) << block.name;
		}

		// Landed where the file puts them, with the focus it names, for a few seconds at rest.
		s->sim.Frame(0.02);
		for (size_t i = 0; i < s->file.vessels.size(); ++i) {
			const host::VesselPlace state = host::VesselView(s->sim.vessels()[i]).place();
			double lng = 0, lat = 0;
			for (const auto &line : s->file.vessels[i].lines) {
				std::istringstream words{std::string(line.text)};
				std::string key;
				if (words >> key && key == "POS")
					words >> lng >> lat;
			}
			EXPECT_TRUE(state.landed);
			EXPECT_NEAR(state.lng * DEG, lng, 1e-9);
			EXPECT_NEAR(state.lat * DEG, lat, 1e-9);
			EXPECT_EQ(state.alt, 2.166);
		}
		ASSERT_NE(s->sim.focus(), nullptr);
		EXPECT_EQ(host::VesselView(s->sim.focus()).name(), s->file.focus);
	}
}

TEST(Package, MidDriveScenarioGoesOnMovingItsDoorsAndSunscreen) {
	PackagedSession s(kPackage / "Scenarios" / "Sendra2016" / "Mid-drive.scn");
	for (int i = 0; i < 100; ++i)  // 2 s at 0.1 of the travel per second
		s.sim.Frame(0.02);
	EXPECT_EQ(RoverLines(s.Saved(), "Sendra-1"),
	          (std::vector<std::string>{"  DOORL 3 0.4500", "  DOORR 2 0.4000", "  SUNSCREEN 3 0.6000", "  LIGHT 1 "}));
	const host::VesselView v(s.sim.vessels().front());
	ASSERT_EQ(v.lightCount(), 4u);
	for (size_t i = 0; i < v.lightCount(); ++i)
		EXPECT_TRUE(v.light(i).on);
}

TEST(Package, TwoRoversScenarioHasEachRoverWithItsOwnLights) {
	PackagedSession s(kPackage / "Scenarios" / "Sendra2016" / "Two rovers.scn");
	s.sim.Frame(0.02);
	ASSERT_EQ(s.sim.vessels().size(), 2u);
	ASSERT_TRUE(s.sim.FindVessel("Sendra-1") && s.sim.FindVessel("Sendra-2"));
	const host::VesselView a(s.sim.FindVessel("Sendra-1")), b(s.sim.FindVessel("Sendra-2"));
	ASSERT_EQ(a.lightCount(), 4u);
	ASSERT_EQ(b.lightCount(), 4u);
	for (size_t i = 0; i < 4; ++i) {
		EXPECT_FALSE(a.light(i).on);
		EXPECT_TRUE(b.light(i).on);
	}
	// 15 m apart on the same parallel, facing each other.
	double apart = (b.place().lng - a.place().lng) * std::cos(a.place().lat) * 1.738e6;
	EXPECT_NEAR(apart, 15.0, 0.1);
	EXPECT_NEAR(a.place().hdg * DEG, 90.0, 1e-9);
	EXPECT_NEAR(b.place().hdg * DEG, 270.0, 1e-9);
}

}  // namespace
