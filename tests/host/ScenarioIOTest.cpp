// Whole scenario files: the reader's blocks and errors, loading in the real host's order, the
// writer's layout, round trips of the shipped and real files, saving through a temporary file,
// places past a pole, and scale.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>

#include "Scratch.h"
#include "sendra_host/HostError.h"
#include "sendra_host/ScenarioIO.h"
#include "sendra_host/Simulation.h"
#include "src/HostVessel.h"
#include "src/VesselLines.h"

namespace fs = std::filesystem;
using namespace std::string_literals;

namespace {

using scenes::ReadFile;
using scenes::WriteFile;

std::string Replace(std::string s, const std::string &from, const std::string &to) {
	for (size_t at = s.find(from); at != std::string::npos; at = s.find(from, at + to.size()))
		s.replace(at, from.size(), to);
	return s;
}

std::string Fixture(const std::string &name) { return ReadFile(fs::path(SENDRA_FIXTURES) / "orbiter" / name); }
std::string Saved(const std::string &name) { return ReadFile(fs::path(SENDRA_FIXTURES) / "saved" / name); }
const std::string kBom = "\xEF\xBB\xBF";

// A scratch Orbiter root: the rover's module and class from the staged tree, a class without
// a module (the host reads its lines itself) and a class whose module is missing.
class ScratchRoot : public scenes::ScratchRoot {
public:
	ScratchRoot() : scenes::ScratchRoot("sendra-scn") {
		AddStagedRover(SENDRA_ORBITER_ROOT);
		WriteClass("Marker", "; a vessel without a module\nSize = 2\n");
		WriteClass("Broken", "Module = NoSuchModule\n");
		WriteClass("Fixed", "EnableFocus = FALSE\n");
	}
	fs::path scenario(const std::string &name) const { return dir() / "Scenarios" / name; }
	host::SimOptions options() const {
		host::SimOptions o;
		o.root = path();
		return o;
	}
};

std::string Repeat(const std::string &s, int n) {
	std::string out;
	for (int i = 0; i < n; ++i)
		out += s;
	return out;
}

// The message of the HostError f throws, or "" if it throws none.
std::string ErrorOf(const std::function<void()> &f) {
	try {
		f();
	} catch (const host::HostError &e) {
		return e.what();
	}
	return "";
}

// A scenario of landed vessels on the Moon, each given as "name:Class" and its lines.
std::string Ships(const std::string &blocks, const std::string &focus = "") {
	std::string s = "BEGIN_ENVIRONMENT\n  System Sol\n  Date MJD 51982.5\nEND_ENVIRONMENT\n\n";
	if (!focus.empty())
		s += "BEGIN_FOCUS\n  Ship " + focus + "\nEND_FOCUS\n\n";
	return s + "BEGIN_SHIPS\n" + blocks + "END_SHIPS\n";
}

std::string Marker(const std::string &name, const std::string &pos = "10 20") {
	return name + ":Marker\n  STATUS Landed Moon\n  POS " + pos + "\n  HEADING 45\nEND\n";
}

// --- Reading -------------------------------------------------------------------------------

TEST(ScenarioReader, ReadsTheBlocksOfTheRealFiles) {
	host::ScenarioFile mojave = host::ParseScenario(Fixture("mojave-spaceport.scn"), "mojave-spaceport.scn");
	ASSERT_FALSE(mojave.blocks.empty());
	EXPECT_EQ(mojave.blocks[0].name, "HYPERDESC");
	EXPECT_EQ(mojave.blocks[0].text,
	          "BEGIN_HYPERDESC\n<h1>Mojave Spaceport</h1>\n<p>Ready for takeoff on runway 26 at Mojave Air and "
	          "Spaceport.</p>\nEND_HYPERDESC\n");
	EXPECT_EQ(mojave.system, "Sol");
	EXPECT_EQ(mojave.mjd, 51982.7357081269);
	EXPECT_EQ(mojave.focus, "GL-01S");
	EXPECT_EQ(mojave.focusLine, 12);
	ASSERT_EQ(mojave.vessels.size(), 1u);
	const host::ScenarioVesselBlock &gl = mojave.vessels[0];
	EXPECT_EQ(gl.name, "GL-01S");
	EXPECT_EQ(gl.className, "DG-S");
	EXPECT_EQ(gl.line, 40);
	ASSERT_EQ(gl.lines.size(), 19u);  // 18 lines and END
	EXPECT_EQ(gl.lines.front().number, 41);
	EXPECT_EQ(gl.lines.front().text, "  STATUS Landed Earth");
	EXPECT_EQ(gl.lines.back().text, "END");

	host::ScenarioFile lunar = host::ParseScenario(Fixture("lunar-transfer-2.scn"), "lunar-transfer-2.scn");
	EXPECT_EQ(lunar.blocks.at(0).text, "BEGIN_DESC\nLunar transfer - Stage 2:\n\nAfter ejection burn.\nEND_DESC\n");
	EXPECT_EQ(lunar.mjd, 51982.1302551737);
	EXPECT_EQ(lunar.focus, "SH-02");
	ASSERT_EQ(lunar.vessels.size(), 4u);
	const char *names[] = {"GL-01", "SH-02", "GL-02", "SH-01"};
	const char *classes[] = {"DeltaGlider", "ShuttleA", "DeltaGlider", "ShuttleA"};
	for (size_t i = 0; i < 4; ++i) {
		EXPECT_EQ(lunar.vessels[i].name, names[i]);
		EXPECT_EQ(lunar.vessels[i].className, classes[i]);
	}
}

TEST(ScenarioReader, HeadersMatchByPrefixAtColumnZeroAndOtherBlocksAreSkipped) {
	std::string text =
	    "; a comment before any block\n"
	    "begin_environment and more\n  DATE jd 2451545.0\nEND_ENVIRONMENT\n"
	    "BEGIN_CAMERA\n  TARGET A\n  BEGIN_PRESET\n  Ship A\n  END_PRESET\nEND_CAMERA\n"
	    "BEGIN_ExtMFD\n  Ship Fake:Thing\nEND\n"
	    "BEGIN_MFD Left\n  TYPE Orbit\nEND_MFD\n"
	    "BEGIN_PANEL\nEND_PANEL\n"
	    "  BEGIN_SHIPS\nnot:Read\nEND\n  END_SHIPS\n"  // indented: not a header
	    "Begin_Ships\n"
	    "Rover\n  STATUS Landed Moon\nend\n"
	    "R :Sendra2016\nEND\n"
	    "R2: Sendra2016 ; the comment goes\nEND\n"
	    "a:b:c\nEND\n"
	    "END_SHIPS\n";
	host::ScenarioFile s = host::ParseScenario(text, "t.scn");
	EXPECT_EQ(s.mjd, 51544.5);  // J2000 given as a Julian date
	EXPECT_EQ(s.focus, "");
	ASSERT_EQ(s.vessels.size(), 4u);
	// Split at the first ':' with nothing trimmed around it; no ':' means the class is the name.
	EXPECT_EQ(s.vessels[0].name, "Rover");
	EXPECT_EQ(s.vessels[0].className, "Rover");
	EXPECT_EQ(s.vessels[1].name, "R ");
	EXPECT_EQ(s.vessels[1].className, "Sendra2016");
	EXPECT_EQ(s.vessels[2].className, " Sendra2016");
	EXPECT_EQ(s.vessels[3].name, "a");
	EXPECT_EQ(s.vessels[3].className, "b:c");

	EXPECT_EQ(host::ParseScenario("BEGIN_ENVIRONMENT\nDate JE 2001.0\nEND_ENVIRONMENT\n", "t").mjd, 51544.5 + 365.25);
	// Without a date, or one with no number, the scenario starts at the current time.
	EXPECT_FALSE(host::ParseScenario("", "t").mjd);
	host::ScenarioFile noNumber = host::ParseScenario("BEGIN_ENVIRONMENT\n  Date MJD soon\nEND_ENVIRONMENT\n", "t");
	EXPECT_FALSE(noNumber.mjd);
	EXPECT_EQ(noNumber.dateLine, 2);
	ASSERT_EQ(noNumber.warnings.size(), 1u);
	EXPECT_NE(noNumber.warnings[0].find("t:2: Date"), std::string::npos) << noNumber.warnings[0];
}

// A vessel block of 16 lines and END whose text is 1 MiB and extra bytes long.
std::string MebibyteBlock(size_t extra) {
	std::string text = "BEGIN_SHIPS\nA:Marker\n";
	for (int i = 0; i < 15; ++i)
		text += std::string(65535, 'x') + "\n";
	return text + std::string(65531 + extra, 'y') + "\nEND\nEND_SHIPS\n";
}

TEST(ScenarioReader, ReportsWhatIsWrongWithFileAndLine) {
	struct Case {
		std::string text, error;
	};
	const Case cases[] = {
	    {"BEGIN_SHIPS\nA:Marker\n  STATUS Landed Moon\n", "t.scn:2: vessel 'A' has no END line"},
	    {"BEGIN_SHIPS\nA:Marker\n  POS 1 2\nEND_SHIPS\n", "t.scn:2: vessel 'A' has no END line (END_SHIPS follows at line 4)"},
	    {"\nBEGIN_SHIPS\nA:Marker\nEND\n", "t.scn:2: BEGIN_SHIPS has no END_SHIPS"},
	    {"BEGIN_SHIPS\nA:Marker\nEND\nB:Marker\nEND\nA:Sendra2016\nEND\nEND_SHIPS\n",
	     "t.scn:6: a second vessel named 'A' (the first is at line 2)"},
	    {"BEGIN_SHIPS\nEND\nEND_SHIPS\n", "t.scn:2: END without a vessel line before it"},
	    {"BEGIN_SHIPS\nEND_SHIPS\nBEGIN_SHIPS\nEND_SHIPS\n", "t.scn:3: a second BEGIN_SHIPS block (the first is at line 1)"},
	    {"BEGIN_CAMERA\n  MODE Extern\n", "t.scn:1: BEGIN_CAMERA has no END_CAMERA or END"},
	    {"BEGIN_HYPERDESC\n<p>\n", "t.scn:1: BEGIN_HYPERDESC has no END_HYPERDESC"},
	    {"BEGIN_ENVIRONMENT\n  System Sol\n", "t.scn:1: BEGIN_ENVIRONMENT has no END_ENVIRONMENT"},
	    {"BEGIN_ENVIRONMENT\n  System Vega\nEND_ENVIRONMENT\n", "t.scn:2: unknown planetary system 'Vega'"},
	    {"BEGIN_ENVIRONMENT\n  Date MJD 5 6\nEND_ENVIRONMENT\n", "t.scn:2: Date: expected MJD, JD or JE"},
	    {"BEGIN_ENVIRONMENT\n  Date MJD nan\nEND_ENVIRONMENT\n", "t.scn:2: Date: 'Date MJD nan' is not a finite date"},
	    {"BEGIN_ENVIRONMENT\n  Date JD -inf\nEND_ENVIRONMENT\n", "t.scn:2: Date: 'Date JD -inf' is not a finite date"},
	    {"BEGIN_ENVIRONMENT\n  Date TDB 5\nEND_ENVIRONMENT\n", "t.scn:2: Date: unknown time scale 'TDB'"},
	    {"BEGIN_ENVIRONMENT\n  Date JE 1e306\nEND_ENVIRONMENT\n",
	     "t.scn:2: Date: 'Date JE 1e306' is a date beyond the range of numbers"},
	    {"BEGIN_CAMERA\n" + Repeat(std::string(65000, 'x') + "\n", 17) + "END_CAMERA\n",
	     "t.scn:18: BEGIN_CAMERA (line 1) holds more than 1048576 bytes of text"},
	    {"BEGIN_ENVIRONMENT\n" + Repeat("  Help " + std::string(65000, 'x') + "\n", 17) + "END_ENVIRONMENT\n",
	     "t.scn:18: BEGIN_ENVIRONMENT (line 1) holds more than 1048576 bytes of text"},
	    {Repeat("BEGIN_HUD\nEND_HUD\n", 10001), "t.scn:20001: more than 10000 blocks that the stand-in host keeps"},
	    {"BEGIN_FOCUS\n  Ship\nEND_FOCUS\n", "t.scn:2: Ship names no vessel"},
	    {"BEGIN_SHIPS\nA:\nEND\nEND_SHIPS\n", "t.scn:2: vessel 'A' names no class"},
	    {"BEGIN_SHIPS\n:Marker\nEND\nEND_SHIPS\n", "t.scn:2: a vessel line without a name"},
	    {"BEGIN_SHIPS\nA:../../../etc/x\nEND\nEND_SHIPS\n", "t.scn:2: vessel 'A': class '../../../etc/x' is not a plain class name"},
	    {"BEGIN_SHIPS\nA:Marker\n  " + std::string(70000, 'x') + "\nEND\nEND_SHIPS\n", "t.scn:3: line longer than 65536"},
	    {"BEGIN_SHIPS\nA:Marker\n  POS 1\0 2\nEND\nEND_SHIPS\n"s, "t.scn:3: binary data"},
	    {MebibyteBlock(1), "t.scn:19: vessel 'A': its block holds more than 1048576 bytes of text"},
	};
	for (const Case &c : cases) {
		std::string error = ErrorOf([&] { host::ParseScenario(c.text, "t.scn"); });
		EXPECT_EQ(error.rfind(c.error, 0), 0u) << "for\n" << c.text.substr(0, 200) << "\ngot: " << error;
	}
	// A vessel's block of 1 MiB to the byte, line ends included, is read and kept as it is.
	host::ScenarioFile full = host::ParseScenario(MebibyteBlock(0), "t.scn");
	ASSERT_EQ(full.vessels.size(), 1u);
	const host::ScenarioLines &lines = full.vessels[0].lines;
	EXPECT_EQ(lines.bytes(), size_t(1) << 20);
	EXPECT_EQ(lines.size(), 17u);
	EXPECT_EQ(lines.front().number, 3);
	EXPECT_EQ(lines.front().text, std::string(65535, 'x'));
	EXPECT_EQ(lines.back().number, 19);
	EXPECT_EQ(lines.back().text, "END");
}

TEST(ScenarioReader, RefusesWhatIsNotAReadableFileAndKeepsNoFileOpen) {
	auto openFiles = [] { return std::distance(fs::directory_iterator("/proc/self/fd"), fs::directory_iterator()); };
	const auto open = openFiles();
	for (int i = 0; i < 3; ++i)
		EXPECT_FALSE(host::ReadScenarioFile(SENDRA_FIXTURES "/orbiter/mojave-spaceport.scn").vessels.empty());
	EXPECT_EQ(openFiles(), open);
	ScratchRoot root;
	std::string missing = root.scenario("missing.scn").string();
	EXPECT_EQ(ErrorOf([&] { host::ReadScenarioFile(missing); }),
	          missing + ": cannot open the scenario file: No such file or directory");
	std::string folder = root.dir().string();
	EXPECT_EQ(ErrorOf([&] { host::ReadScenarioFile(folder); }), folder + ": is a folder, not a scenario file");
	EXPECT_EQ(ErrorOf([] { host::ReadScenarioFile("/dev/null"); }), "/dev/null: is not a regular file");
	EXPECT_EQ(openFiles(), open);
}

TEST(ScenarioReader, TakesWhatWindowsEditorsWrite) {
	// A byte-order mark before the first line, whatever block it begins.
	EXPECT_EQ(host::ParseScenario(kBom + "BEGIN_DESC\nhello\nEND_DESC\n", "t").blocks.at(0).text,
	          "BEGIN_DESC\nhello\nEND_DESC\n");
	EXPECT_EQ(host::ParseScenario(kBom + "BEGIN_ENVIRONMENT\n  Date MJD 123\nEND_ENVIRONMENT\n", "t").mjd, 123);
	EXPECT_EQ(host::ParseScenario(kBom + "BEGIN_FOCUS\n  Ship A\nEND_FOCUS\n", "t").focus, "A");
	EXPECT_EQ(host::ParseScenario(kBom + "BEGIN_SHIPS\nA:Marker\nEND\nEND_SHIPS\n", "t").vessels.size(), 1u);
	EXPECT_EQ(host::ParseScenario(kBom + "BEGIN_HUD\nEND_HUD\n", "t").blocks.at(0).text, "BEGIN_HUD\nEND_HUD\n");
	// A line at the length limit reads the same with CRLF as with LF; one more is refused.
	const std::string atLimit(65536, 'x');
	for (const char *end : {"\n", "\r\n"}) {
		EXPECT_EQ(ErrorOf([&] { host::ParseScenario("BEGIN_CAMERA\n" + atLimit + end + "END_CAMERA\n", "t"); }), "");
		EXPECT_NE(ErrorOf([&] { host::ParseScenario("BEGIN_CAMERA\n" + atLimit + "x" + end + "END_CAMERA\n", "t"); }), "");
	}

	// And in a class configuration: its module is found on the first line, and its lines at the
	// limit are read.
	ScratchRoot root;
	fs::path cfg = root.dir() / "Config" / "Vessels" / "Sendra2016.cfg";
	WriteFile(cfg, kBom + "Module = Sendra2016\r\n; " + std::string(4094, '-') + "\r\nSize = 3\r\n");
	host::Simulation sim(root.options());
	host::LoadScenario(sim, host::ParseScenario(Ships("R:Sendra2016\n  STATUS Landed Moon\nEND\n"), "r.scn"));
	EXPECT_NE(sim.vessels().at(0)->callbacks(), nullptr);
	EXPECT_EQ(sim.vessels()[0]->size, 3.0);
	std::ostringstream out;
	host::WriteScenario(sim, out);
	EXPECT_NE(out.str().find("  LIGHT 0 \n"), std::string::npos) << "the module's lines are saved";
	WriteFile(cfg, "Module = Sendra2016\n; " + std::string(4095, '-') + "\r\n");
	host::Simulation refused(root.options());
	EXPECT_EQ(ErrorOf([&] { refused.CreateVessel("R", "Sendra2016", {refused.FindBody("Moon"), 0, 0, 0}); }),
	          cfg.string() + ":2: line longer than 4096 characters");
}

// --- Loading -------------------------------------------------------------------------------

TEST(ScenarioLoader, RealMojaveFailsCleanlyOnItsMissingClass) {
	ScratchRoot root;
	host::Simulation sim(root.options());
	host::ScenarioFile s = host::ParseScenario(Fixture("mojave-spaceport.scn"), "mojave-spaceport.scn");
	std::string error = ErrorOf([&] { host::LoadScenario(sim, s); });
	EXPECT_EQ(error.rfind("mojave-spaceport.scn:40: vessel 'GL-01S' of class 'DG-S': ", 0), 0u) << error;
	EXPECT_NE(error.find("no configuration file for vessel class 'DG-S'"), std::string::npos) << error;
	EXPECT_TRUE(sim.vessels().empty());
}

TEST(ScenarioLoader, MojaveWithTheRoverIsPlacedWhereTheFileSays) {
	ScratchRoot root;
	host::Simulation sim(root.options());
	std::string text = Replace(Fixture("mojave-spaceport.scn"), "GL-01S:DG-S", "GL-01S:Sendra2016");
	host::LoadScenario(sim, host::ParseScenario(text, "mojave-rover.scn"));
	ASSERT_EQ(sim.vessels().size(), 1u);
	Vessel *v = sim.vessels()[0].get();
	EXPECT_EQ(v->className, "Sendra2016");
	EXPECT_EQ(v->surfaceRef, sim.FindBody("Earth"));
	EXPECT_EQ(v->state.status, 1);
	EXPECT_DOUBLE_EQ(v->state.surf_lng, -118.1427663 * RAD);
	EXPECT_DOUBLE_EQ(v->state.surf_lat, 35.0591778 * RAD);
	EXPECT_DOUBLE_EQ(v->state.surf_hdg, 270.04 * RAD);
	EXPECT_EQ(v->state.vrot.x, 2.48);
	EXPECT_DOUBLE_EQ(v->state.arot.x, 0.565 * RAD);
	EXPECT_DOUBLE_EQ(v->state.arot.y, 62.168 * RAD);
	EXPECT_DOUBLE_EQ(v->state.arot.z, -54.918 * RAD);
	EXPECT_EQ(sim.focus(), v);
	EXPECT_EQ(sim.mjd(), 51982.7357081269);
	// Given no attitude, a rover rests level: as the real host saved it on the Moon's level ground.
	host::Simulation moon(root.options());
	host::LoadScenario(moon, host::ParseScenario(Replace(Fixture("real-host-current-state.scn"), "  AROT 40.839 20.280 72.782\n", ""), "level.scn"));
	const VECTOR3 level = moon.vessels().at(0)->state.arot * DEG;
	EXPECT_NEAR(level.x, 40.839, 0.01);
	EXPECT_NEAR(level.y, 20.280, 0.01);
	EXPECT_NEAR(level.z, 72.782, 0.01);
	// The glider's own lines (PRPLEVEL, GEAR, ...) meant nothing to the host. Every line of the block went to the host's parser: 18 lines and END.
	std::vector<std::string> journal = v->journal.Names();
	EXPECT_EQ(std::count(journal.begin(), journal.end(), "ParseScenarioLineEx"), 18);
	EXPECT_EQ(std::count(journal.begin(), journal.end(), "oapiReadScenario_nextline"), 19);
}

TEST(ScenarioLoader, LunarTransferIsRefusedAtTheFirstThingTheHostCannotHonour) {
	ScratchRoot root;
	host::Simulation sim(root.options());
	std::string lunar = Fixture("lunar-transfer-2.scn");
	auto load = [&](const std::string &text) {
		return ErrorOf([&] { host::LoadScenario(sim, host::ParseScenario(text, "lunar.scn")); });
	};
	std::string error = load(lunar);
	EXPECT_EQ(error.rfind("lunar.scn:41: vessel 'GL-01' of class 'DeltaGlider': ", 0), 0u) << error;

	// With classes the host has, the glider's BASE is the first thing it cannot place...
	std::string known = Replace(Replace(lunar, ":DeltaGlider", ":Marker"), ":ShuttleA", ":Sendra2016");
	EXPECT_EQ(load(known), "lunar.scn:43: vessel 'GL-01': unknown surface base 'Habana' on Earth (it has no bases in "
	                       "this Orbiter folder)");
	// ...then, given places instead, the orbiting shuttle (through the rover's callback too).
	std::string placed = Replace(Replace(known, "BASE Habana:2", "POS -82.4 23.1"), "BASE Olympus:3", "POS 1 2");
	placed = Replace(placed, "BASE Brighton Beach:1", "POS 3 4");
	// ...and given places, the four load, the shuttle (a rover here, through its callback) in
	// flight about Earth where its RPOS and RVEL put it.
	EXPECT_EQ(load(placed), "");
	ASSERT_EQ(sim.vessels().size(), 4u);
	const VESSELSTATUS2 &flying = sim.vessels()[1]->state;
	EXPECT_EQ(flying.status, 0);
	EXPECT_EQ(sim.vessels()[1]->surfaceRef, sim.FindBody("Earth"));
	EXPECT_DOUBLE_EQ(flying.rpos.z, 5132848.58);
	EXPECT_DOUBLE_EQ(flying.rvel.x, -8810.655);
	EXPECT_NEAR(flying.arot.y * DEG, 64.17, 1e-9);
	sim.DeleteAllVessels();

	// Landed all, the four load on Earth, Mars and the Moon with the named focus.
	std::string landed = Replace(placed, "STATUS Orbiting Earth", "STATUS Landed Earth");
	landed = Replace(Replace(landed, "  RPOS -4467569.40 289289.61 5132848.58\n", ""), "  RVEL -8810.655 886.373 -6058.972\n", "");
	landed = Replace(landed, "AROT 168.37 64.17 -101.74", "AROT 1 2 3");
	EXPECT_EQ(load(landed), "");
	ASSERT_EQ(sim.vessels().size(), 4u);
	EXPECT_EQ(sim.focus()->name, "SH-02");
	EXPECT_EQ(sim.vessels()[2]->surfaceRef, sim.FindBody("Mars"));
	EXPECT_EQ(sim.vessels()[3]->surfaceRef, sim.FindBody("Moon"));
	EXPECT_DOUBLE_EQ(sim.vessels()[0]->state.surf_hdg, 174.13 * RAD);
}

TEST(ScenarioLoader, AVesselWithoutAModuleIsReadByTheHostsOwnParser) {
	ScratchRoot root;
	host::Simulation sim(root.options());
	host::LoadScenario(sim, host::ParseScenario(Ships("M:Marker\n  status landed MARS ; where\n  POS -10.5 20.25\n"
	                                                  "  HEADING 300\n  ALT 1.5\n  AROT 10 20 30\n  XPDR 0\nEND\n"),
	                                            "m.scn"));
	ASSERT_EQ(sim.vessels().size(), 1u);
	Vessel *v = sim.vessels()[0].get();
	EXPECT_EQ(v->callbacks(), nullptr);
	EXPECT_EQ(v->surfaceRef, sim.FindBody("Mars"));
	EXPECT_DOUBLE_EQ(v->state.surf_lng, -10.5 * RAD);
	EXPECT_DOUBLE_EQ(v->state.surf_lat, 20.25 * RAD);
	EXPECT_DOUBLE_EQ(v->state.surf_hdg, 300 * RAD);
	EXPECT_EQ(v->state.vrot.x, 1.5);
	EXPECT_DOUBLE_EQ(v->state.arot.z, 30 * RAD);
	EXPECT_EQ(sim.mjd(), 51982.5);
}

// BASE puts a landed vessel on its pad (+x south, +z east of the base, over the body's
// radius) or at the base's own place, and a save names the base while the vessel stays there;
// POS after it wins; an unknown base or pad is refused with what there is.
TEST(ScenarioLoader, ABaseLinePutsAVesselOnItsPadAndTheSaveNamesItWhileItStaysThere) {
	ScratchRoot root;
	fs::create_directories(root.dir() / "Config/MOON/base");
	root.Write("Config/MOON/base/tranq.cfg", "BASE-V2.0\nName = Tranquility\nLocation = 23.47 0.67\n"
	                                         "BEGIN_OBJECTLIST\nLPAD2\n  POS 100 0 -200\nEND\nBLOCK\n  POS 5 0 5\nEND\n"
	                                         "LPAD1\n  POS -30 0 60 ; east and north\nEND\nEND_OBJECTLIST\n");
	root.Write("Config/MOON/base/notes.cfg", "Name = Not a base\nLocation = 0 0\n");
	host::Simulation sim(root.options());
	auto at = [](const std::string &base, const std::string &more = "") {
		return Ships("B:Marker\n  STATUS Landed Moon\n  BASE " + base + "\n" + more + "  HEADING 10\nEND\n");
	};
	const double lng0 = 23.47 * RAD, lat0 = 0.67 * RAD, r = 1.738e6;
	struct Case {
		std::string base, more;
		double lng, lat;
	} places[] = {
	    {"Tranquility:1", "", lng0 - 200 / (r * std::cos(lat0)), lat0 - 100 / r},
	    {"Tranquility:2", "", lng0 + 60 / (r * std::cos(lat0)), lat0 + 30 / r},
	    {"Tranquility", "", lng0, lat0},
	    {"Tranquility:2", "  POS 1 2\n", 1 * RAD, 2 * RAD},
	    // Another body's STATUS after the base: the place stays, on a body the base is not on.
	    {"Tranquility:1", "  STATUS Landed Earth\n", lng0 - 200 / (r * std::cos(lat0)), lat0 - 100 / r},
	};
	for (const Case &c : places) {
		host::LoadScenario(sim, host::ParseScenario(at(c.base, c.more), "b.scn"));
		ASSERT_EQ(sim.vessels().size(), 1u) << c.base;
		const VESSELSTATUS2 &s = sim.vessels()[0]->state;
		EXPECT_NEAR(s.surf_lng, c.lng, 1e-12) << c.base;
		EXPECT_NEAR(s.surf_lat, c.lat, 1e-12) << c.base;
		std::ostringstream saved;
		host::WriteScenario(sim, saved);
		bool named = saved.str().find("  STATUS Landed Moon\n  BASE " + c.base + "\n  POS ") != std::string::npos;
		EXPECT_EQ(named, c.more.empty()) << saved.str();
		EXPECT_EQ(saved.str().find("BASE") != std::string::npos, named) << saved.str();
		sim.DeleteAllVessels();
	}
	host::LoadScenario(sim, host::ParseScenario(at("Tranquility:1"), "b.scn"));
	sim.SetPlace(sim.vessels()[0].get(), {sim.FindBody("Moon"), true, lng0, lat0 + 11 / r, 0, 0, {}, {}, {}});
	std::ostringstream moved;
	host::WriteScenario(sim, moved);
	EXPECT_EQ(moved.str().find("BASE"), std::string::npos) << "moved 11 m off its pad";
	sim.DeleteAllVessels();
	EXPECT_TRUE(sim.TakeProblems().empty());

	EXPECT_EQ(ErrorOf([&] { host::LoadScenario(sim, host::ParseScenario(at("Tranquility:3"), "b.scn")); }),
	          "b.scn:9: vessel 'B': base 'Tranquility' has no pad 3 (its pads are 1 to 2)");
	EXPECT_EQ(ErrorOf([&] { host::LoadScenario(sim, host::ParseScenario(at("tranquility:1"), "b.scn")); }),
	          "b.scn:9: vessel 'B': unknown surface base 'tranquility' on Moon (its bases: Tranquility)");
	EXPECT_EQ(ErrorOf([&] { host::LoadScenario(sim, host::ParseScenario(at("Tranquility:0"), "b.scn")); }),
	          "b.scn:9: vessel 'B': BASE 'Tranquility:0': the pad after ':' is a whole number from 1");
	EXPECT_EQ(ErrorOf([&] {
		          host::LoadScenario(sim, host::ParseScenario(Ships("B:Marker\n  BASE Tranquility\nEND\n"), "b.scn"));
	          }).rfind("b.scn:8: vessel 'B': BASE 'Tranquility': a vessel at a base is landed", 0),
	          0u);
}

TEST(ScenarioLoader, RefusesWhatItCannotLoadAndLeavesTheSimulationAsItWas) {
	ScratchRoot root;
	host::Simulation sim(root.options());
	host::LoadScenario(sim, host::ParseScenario(Ships(Marker("Old")), "old.scn"));
	sim.ReportProblem("an earlier problem");
	double mjd = sim.mjd();
	struct Case {
		std::string text, error;
	};
	const std::string first = Marker("First");
	const Case cases[] = {
	    {Ships(first + "A:Marker\n  POS 1 2\nEND\n"),
	     "x.scn:12: vessel 'A' has no state: the host needs 'STATUS Landed <body>' or 'STATUS Orbiting <body>'"},
	    // Hostile states in flight.
	    {Ships(first + "A:Marker\n  STATUS Orbiting Moon\n  RPOS nan 0 0\n  RVEL 0 inf 0\nEND\n"),
	     "x.scn:14: vessel 'A': RPOS: expected 3 finite numbers, got 'nan 0 0'\n"
	     "x.scn:15: vessel 'A': RVEL: expected 3 finite numbers, got '0 inf 0'"},
	    {Ships(first + "A:Marker\n  STATUS Orbiting Moon\n  RVEL 1 0 0\nEND\n"),
	     "x.scn:12: vessel 'A' in flight is inside Moon: 0 m from its centre, within its radius of 1738000 m"},
	    {Ships(first + "A:Marker\n  STATUS Orbiting Moon\n  RPOS 2e6 0 0\n  RVEL -5 0 0\nEND\n"),
	     "x.scn:12: vessel 'A' describes no orbit about Moon: a degenerate orbit"},
	    {Ships(first + "A:Marker\n  STATUS Landed Moon\n  ELEMENTS 2e6 0.1 0 0 0 0 51982\nEND\n"),
	     "x.scn:14: vessel 'A': ELEMENTS: an orbit is about the body of a 'STATUS Orbiting <body>' line before it"},
	    {Ships(first + "A:Marker\n  STATUS Orbiting Moon\n  ELEMENTS -2e6 0.5 0 0 0 0 51982\nEND\n"),
	     "x.scn:14: vessel 'A': ELEMENTS '-2e6 0.5 0 0 0 0 51982': a semi-major axis of -2e+06 m and an eccentricity of 0.5 describe no orbit"},
	    {Ships(first + "A:Marker\n  STATUS Orbiting Moon\n  ELEMENTS 2e6 0.1 0 0 0 0\nEND\n"),
	     "x.scn:14: vessel 'A': ELEMENTS: expected 7 finite numbers (a e i LAN LPE L epoch), got '2e6 0.1 0 0 0 0'"},
	    {Ships(first + "A:Marker\n  STATUS Orbiting Moon\n  ELEMENTS 1.8e6 0.5 0 0 0 0 51982.5\nEND\n"),
	     "x.scn:12: vessel 'A' in flight is inside Moon"},
	    {Ships(first + "A:Marker\n  STATUS Landed Vulcan\nEND\n"),
	     "x.scn:13: vessel 'A': unknown body 'Vulcan' (the solar system has Sun, Mercury, Venus, Earth, Moon, Mars,"},
	    {Ships(first + "A:Sendra2016\n  STATUS Landed Moon\n  POS 1 two\nEND\n"),
	     "x.scn:14: vessel 'A': POS: expected 2 finite numbers, got '1 two'"},
	    {Ships(first + "A:Marker\n  STATUS Landed Moon\n  POS 1 95\nEND\n"),
	     "x.scn:14: vessel 'A': POS: latitude 95 is outside -90..90 degrees"},
	    {Ships(first + "A:Marker\n  STATUS Landed Moon\n  HEADING inf\n  ALT x\nEND\n"),
	     "x.scn:14: vessel 'A': HEADING: expected 1 finite number, got 'inf'\n"
	     "x.scn:15: vessel 'A': ALT: expected 1 finite number, got 'x'"},
	    {Ships(first + "A:Marker\n  STATUS\nEND\n"), "x.scn:13: vessel 'A': STATUS: expected 'Landed <body>' or 'Orbiting <body>', got ''"},
	    {Ships(first + "A:Marker\n  STATUS Orbiting\nEND\n"), "x.scn:13: vessel 'A': STATUS Orbiting names no body"},
	    {Ships(first + "A:Sendra2016\n  STATUS Landed Moon\n  AFCMODE 8\n  RCSMODE -1\n  AFCMODE x\nEND\n"),
	     "x.scn:14: vessel 'A': AFCMODE: expected a whole number from 0 to 7, got '8'\n"
	     "x.scn:15: vessel 'A': RCSMODE: expected a whole number from 0 to 2, got '-1'\n"
	     "x.scn:16: vessel 'A': AFCMODE: expected a whole number from 0 to 7, got 'x'"},
	    {Ships(first + "A:Sendra2016\n  STATUS Landed Moon\n  NAVFREQ 10 x\n  NAVFREQ 20 2147483648\nEND\n"),
	     "x.scn:14: vessel 'A': NAVFREQ: expected a whole number per nav receiver, got '10 x'\n"
	     "x.scn:15: vessel 'A': NAVFREQ: expected a whole number per nav receiver, got '20 2147483648'"},
	    {Ships(first + "A:Marker\n  STATUS Landed\nEND\n"), "x.scn:13: vessel 'A': STATUS Landed names no body"},
	    {Ships(first + Marker("Old")), "x.scn:12: vessel 'Old' of class 'Marker': a vessel named 'Old' already exists"},
	    {Ships(first + Marker("A").replace(1, 7, ":Nothing")),
	     "x.scn:12: vessel 'A' of class 'Nothing': " + root.dir().string() +
	         "/Config/Vessels/Nothing.cfg: no configuration file for vessel class 'Nothing'"},
	};
	for (const Case &c : cases) {
		std::string error = ErrorOf([&] { host::LoadScenario(sim, host::ParseScenario(c.text, "x.scn")); });
		EXPECT_EQ(error.rfind(c.error, 0), 0u) << "for\n" << c.text << "\ngot: " << error;
		ASSERT_EQ(sim.vessels().size(), 1u);
		EXPECT_EQ(sim.vessels()[0]->name, "Old");
		EXPECT_EQ(sim.FindVessel("First"), nullptr);
		EXPECT_EQ(sim.mjd(), mjd);
	}
	EXPECT_EQ(sim.TakeProblems(), std::vector<std::string>{"an earlier problem"});
}

TEST(ScenarioLoader, AFileWithNeitherVesselsNorBlocksIsSaidToBeNoScenario) {
	ScratchRoot root;
	host::Simulation sim(root.options());
	host::LoadScenario(sim, host::ParseScenario("# Sendra2016\n\nThe rover module.\n", "README.md"));
	EXPECT_EQ(sim.TakeProblems(),
	          (std::vector<std::string>{
	              "README.md: no Date in BEGIN_ENVIRONMENT; the scenario starts at the current time, as Orbiter starts it",
	              "README.md: holds no vessels and no blocks; is it a scenario file?"}));
	host::LoadScenario(sim, host::ParseScenario("BEGIN_ENVIRONMENT\n  Date MJD 1\nEND_ENVIRONMENT\nBEGIN_SHIPS\nEND_SHIPS\n", "none.scn"));
	EXPECT_TRUE(sim.TakeProblems().empty()) << "a scenario without vessels is still one";
}

TEST(ScenarioLoader, TheFocusGoesOnceToTheNamedVesselAfterAllAreMade) {
	ScratchRoot root;
	host::Simulation sim(root.options());
	std::string rover = ":Sendra2016\n  STATUS Landed Moon\n  POS 0 0\nEND\n";
	host::LoadScenario(sim, host::ParseScenario(Ships("A" + rover + "B" + rover, "B"), "f.scn"));
	Vessel *a = sim.FindVessel("A"), *b = sim.FindVessel("B");
	ASSERT_TRUE(a && b);
	EXPECT_EQ(sim.focus(), b);
	// A rover that loses the focus clears the debug line: A never had it.
	std::vector<std::string> ja = a->journal.Names();
	EXPECT_EQ(std::count(ja.begin(), ja.end(), "oapiDebugString"), 0);
	// Each was made and read before either got a visual.
	EXPECT_NE(a->visual, nullptr);
	EXPECT_NE(b->visual, nullptr);
}

TEST(ScenarioLoader, AFocusThatIsNoVesselFallsToTheFirstWithAWarning) {
	ScratchRoot root;
	host::Simulation sim(root.options());
	std::string rover = ":Sendra2016\n  STATUS Landed Moon\n  POS 0 0\nEND\n";
	host::LoadScenario(sim, host::ParseScenario(Ships("A" + rover + "B" + rover, "Nobody"), "f.scn"));
	EXPECT_EQ(sim.focus(), sim.FindVessel("A"));
	EXPECT_EQ(sim.TakeProblems(), std::vector<std::string>{"f.scn:7: the focus ship 'Nobody' is not one of the vessels; "
	                                                       "'A' has the focus, as Orbiter gives it"});
}

// --- Writing -------------------------------------------------------------------------------

TEST(ScenarioWriter, WritesTheRealLayout) {
	ScratchRoot root;
	host::Simulation sim(root.options());
	host::LoadScenario(sim, host::ParseScenario(Ships(Marker("A", "-118.1427663 35.0591778") + Marker("B", "1 2"), "B"),
	                                            "w.scn"));
	Vessel *a = sim.FindVessel("A");
	a->state.vrot.x = 2.4804;
	a->state.arot = _V(0.565 * RAD, 62.168 * RAD, -54.918 * RAD);
	a->state.surf_hdg = -PI05;  // written as a compass heading
	std::ostringstream out;
	host::WriteScenario(sim, out);
	EXPECT_EQ(out.str().substr(0, out.str().find("B:Marker")),
	          "BEGIN_DESC\nEND_DESC\n\n"
	          "BEGIN_ENVIRONMENT\n  System Sol\n  Date MJD 51982.5000000000\nEND_ENVIRONMENT\n\n"
	          "BEGIN_FOCUS\n  Ship B\nEND_FOCUS\n\n"
	          "BEGIN_SHIPS\n"
	          "A:Marker\n"
	          "  STATUS Landed Moon\n"
	          "  POS -118.1427663000 35.0591778000\n"
	          "  HEADING 270.000000\n"
	          "  ALT 2.480\n"
	          "  AROT 0.565000 62.168000 -54.918000\n"
	          "  NAVFREQ 0 0\n"
	          "END\n");
	EXPECT_EQ(out.str().substr(out.str().size() - 14), "END\nEND_SHIPS\n");

	// The date moves on with the simulation.
	sim.Frame(86400.0 / 4);
	std::ostringstream again;
	host::WriteScenario(sim, again);
	host::ScenarioFile s = host::ParseScenario(again.str(), "again.scn");
	EXPECT_EQ(s.mjd, 51982.75);
	EXPECT_EQ(s.focus, "B");
}

TEST(ScenarioWriter, NavReceiversAreSavedAsTheRealHostHasThem) {
	// A vessel that can take the focus has two receivers unless its file tunes others; one that
	// cannot has those its file gives.
	ScratchRoot root;
	host::Simulation sim(root.options());
	const std::string landed = "  STATUS Landed Moon\n";
	host::LoadScenario(sim, host::ParseScenario(Ships("Tuned:Marker\n" + landed + "  NAVFREQ 94 +524 84   114 ; four\nEND\n" +
	                                                  "Bare:Marker\n" + landed + "  NAVFREQ\nEND\n" +
	                                                  "Fixed:Fixed\n" + landed + "END\n" +
	                                                  "One:Fixed\n" + landed + "  navfreq 7\nEND\n"),
	                                            "n.scn"));
	std::ostringstream out;
	host::WriteScenario(sim, out);
	std::vector<std::string> nav;
	for (const host::ScenarioVesselBlock &b : host::ParseScenario(out.str(), "out.scn").vessels) {
		nav.emplace_back();
		for (host::ScenarioLines::Line l : b.lines)
			if (l.text.find("NAVFREQ") != std::string_view::npos)
				nav.back() += l.text;
	}
	EXPECT_EQ(nav, (std::vector<std::string>{"  NAVFREQ 94 524 84 114", "  NAVFREQ 0 0", "", "  NAVFREQ 7"}));
}

TEST(ScenarioWriter, RefusesWhatWouldNotLoadAgain) {
	ScratchRoot root;
	host::Simulation sim(root.options());
	host::LandedPosition pos{sim.FindBody("Moon"), 0, 0, 0};
	Vessel *v = sim.CreateVessel("a:b", "Marker", pos);
	std::ostringstream out;
	EXPECT_EQ(ErrorOf([&] { host::WriteScenario(sim, out); }),
	          "vessel 'a:b' of class 'Marker' cannot be saved: its name contains ':'");
	sim.DeleteVessel(v);
	for (const char *name : {"semi;colon", " lead", "END_SHIPS2", "tab\tin"})
		sim.CreateVessel(name, "Marker", pos);
	for (const char *name : {"semi;colon", " lead", "END_SHIPS2", "tab\tin"}) {
		EXPECT_NE(ErrorOf([&] { host::WriteScenario(sim, out); }), "") << name;
		sim.DeleteVessel(sim.FindVessel(name));
	}
	// A state that is not finite would write a file that cannot be read back.
	v = sim.CreateVessel("NaN", "Marker", pos);
	v->state.surf_lat = NAN;
	EXPECT_EQ(ErrorOf([&] { host::WriteScenario(sim, out); }),
	          "NaN: the landed state is not finite and cannot be saved");
	EXPECT_TRUE(sim.TakeProblems().empty());
}

// --- Saving ---------------------------------------------------------------------------------

// The system's file operations, failing at one chosen step; a write fails after half of the
// text has gone to the file.
class FailingFiles : public host::SaveFileSystem {
public:
	enum Step { FailCreate, FailWrite, FailFlush, FailClose, FailRename };
	explicit FailingFiles(Step step) : step_(step) {}

	int Create(const std::string &path, mode_t mode, int &fd) override {
		if (step_ == FailCreate)
			return EACCES;
		created = path;
		return SaveFileSystem::Create(path, mode, fd);
	}
	int Write(int fd, const char *data, size_t size, size_t &written) override {
		if (step_ == FailWrite && writes++ > 0) {
			written = 0;
			return ENOSPC;
		}
		// The first write is a short one, as a system may do.
		return SaveFileSystem::Write(fd, data, step_ == FailWrite ? size / 2 : size, written);
	}
	int Flush(int fd) override { return step_ == FailFlush ? EIO : SaveFileSystem::Flush(fd); }
	int Close(int fd) override {
		int err = SaveFileSystem::Close(fd);
		return step_ == FailClose ? EIO : err;
	}
	int Rename(const std::string &from, const std::string &to) override {
		return step_ == FailRename ? EXDEV : SaveFileSystem::Rename(from, to);
	}

	std::string created;
	int writes = 0;

private:
	Step step_;
};

TEST(ScenarioSave, AFailedSaveLeavesThePreviousFileIntactAndNoTemporaryFile) {
	ScratchRoot root;
	host::Simulation sim(root.options());
	host::LoadScenario(sim, host::ParseScenario(Ships(Marker("A")), "a.scn"));
	fs::path target = root.scenario("saved.scn");
	WriteFile(target, "the previous save\n");
	chmod(target.c_str(), 0664);

	struct Case {
		FailingFiles::Step step;
		std::string error;
	};
	const Case cases[] = {
	    {FailingFiles::FailCreate, "cannot create a temporary file in '" + root.scenario("").string() + "': Permission denied"},
	    {FailingFiles::FailWrite, "write error: No space left on device"},
	    {FailingFiles::FailFlush, "cannot flush the temporary file: Input/output error"},
	    {FailingFiles::FailClose, "cannot close the temporary file: Input/output error"},
	    {FailingFiles::FailRename, "cannot replace the file: Invalid cross-device link"},
	};
	for (const Case &c : cases) {
		FailingFiles files(c.step);
		std::string error = ErrorOf([&] { host::SaveScenario(sim, target.string(), files); });
		EXPECT_EQ(error, target.string() + ": cannot save the scenario: " + c.error);
		EXPECT_EQ(ReadFile(target), "the previous save\n");
		if (c.step == FailingFiles::FailWrite) {
			EXPECT_EQ(files.writes, 2);
		}
		if (c.step != FailingFiles::FailCreate) {
			EXPECT_EQ(files.created.rfind(root.scenario(".saved.scn.").string(), 0), 0u) << files.created;
			EXPECT_FALSE(fs::exists(files.created));
		}
		EXPECT_EQ(std::distance(fs::directory_iterator(root.scenario("")), fs::directory_iterator()), 1);
	}

	// A save that succeeds replaces the file whole and keeps its permissions, group write too,
	// which the usual umask masks.
	host::SaveScenario(sim, target.string());
	EXPECT_EQ(host::ParseScenario(ReadFile(target), "saved.scn").vessels.at(0).name, "A");
	struct stat st;
	ASSERT_EQ(stat(target.c_str(), &st), 0);
	EXPECT_EQ(st.st_mode & 0777, 0664u);
	EXPECT_EQ(std::distance(fs::directory_iterator(root.scenario("")), fs::directory_iterator()), 1);

	// Neither a folder nor a file in a missing folder is written.
	EXPECT_EQ(ErrorOf([&] { host::SaveScenario(sim, root.dir().string()); }),
	          root.dir().string() + ": is a folder; give the scenario a file name");
	std::string lost = (root.dir() / "nowhere" / "x.scn").string();
	EXPECT_EQ(ErrorOf([&] { host::SaveScenario(sim, lost); }),
	          lost + ": cannot save the scenario: cannot create a temporary file in '" + (root.dir() / "nowhere/").string() +
	              "': No such file or directory");

	// Text that would not read back, and a vessel that cannot be saved, stop the save before
	// any file is touched.
	host::KeptScenario tooLong;
	tooLong.environment = std::string(70000, 'x') + "\n";
	sim.SetKept(tooLong);
	EXPECT_EQ(ErrorOf([&] { host::SaveScenario(sim, target.string()); }),
	          target.string() + ": cannot save the scenario: the text would not read back: " + target.string() +
	              ":7: line longer than 65536 characters");
	sim.SetKept({});
	sim.vessels()[0]->state.surf_lng = INFINITY;
	EXPECT_EQ(ErrorOf([&] { host::SaveScenario(sim, target.string()); }),
	          target.string() + ": cannot save the scenario: A: the landed state is not finite and cannot be saved");
	EXPECT_EQ(host::ParseScenario(ReadFile(target), "saved.scn").vessels.size(), 1u);
	EXPECT_EQ(std::distance(fs::directory_iterator(root.scenario("")), fs::directory_iterator()), 1);
}

TEST(ScenarioSave, SavedPlacesLoadBackToTheSavedDecimals) {
	ScratchRoot root;
	fs::path file = root.scenario("places.scn");
	std::vector<host::LandedPosition> places;  // their bodies are the first simulation's
	std::vector<std::string> bodies;
	{
		host::Simulation sim(root.options());
		const double lngs[] = {-179.123456789012, 0.000000000049, 123.456789012345};
		const double lats[] = {-89.99999999999, 45.5, 0.333333333333};
		const double hdgs[] = {359.9999996, 0.0000004, 123.4567894};
		for (int i = 0; i < 3; ++i) {
			host::LandedPosition p{sim.FindBody(i == 1 ? "Earth" : "Moon"), lngs[i] * RAD, lats[i] * RAD, hdgs[i] * RAD};
			sim.CreateVessel("V" + std::to_string(i), "Marker", p);
			places.push_back(p);
			bodies.push_back(p.body->name);
		}
		host::SaveScenario(sim, file.string());
	}
	host::Simulation sim(root.options());
	host::LoadScenario(sim, host::ReadScenarioFile(file.string()));
	ASSERT_EQ(sim.vessels().size(), 3u);
	for (size_t i = 0; i < 3; ++i) {
		const Vessel &v = *sim.vessels()[i];
		EXPECT_EQ(v.surfaceRef->name, bodies[i]);
		EXPECT_NEAR(v.state.surf_lng * DEG, places[i].lng * DEG, 0.51e-10);
		EXPECT_NEAR(v.state.surf_lat * DEG, places[i].lat * DEG, 0.51e-10);
		double dh = std::remainder(v.state.surf_hdg * DEG - places[i].hdg * DEG, 360.0);
		EXPECT_NEAR(dh, 0.0, 0.51e-6);
		EXPECT_GE(v.state.surf_hdg * DEG, 0.0);
		EXPECT_LE(v.state.surf_hdg * DEG, 360.0);
	}
	EXPECT_EQ(sim.focus()->name, "V0");
}

TEST(ScenarioSave, ARoverDrivenOverEitherPoleSavesThePlaceSoThatItLoadsAgain) {
	ScratchRoot root;
	fs::path file = root.scenario("pole.scn");
	for (const char *start : {"POS 30 89.9999\n  HEADING 0", "POS -30 -89.9999\n  HEADING 180"}) {
		SCOPED_TRACE(start);
		double lng, lat, hdg;
		VECTOR3 arot;
		{
			// Forward gear and keypad plus held for 10 s: 5 m, over the pole 3 m ahead.
			host::Simulation sim(root.options());
			host::LoadScenario(sim, host::ParseScenario(Ships("R:Sendra2016\n  STATUS Landed Moon\n  " +
			                                                  std::string(start) + "\nEND\n"),
			                                            "pole.scn"));
			sim.KeyDown(OAPI_KEY_NUMPAD8);
			sim.Frame(0.1);
			sim.KeyUp(OAPI_KEY_NUMPAD8);
			sim.KeyDown(OAPI_KEY_ADD);
			for (int i = 0; i < 100; ++i)
				sim.Frame(0.1);
			const VESSELSTATUS2 &s = sim.vessels()[0]->state;
			ASSERT_GT(std::fabs(s.surf_lat), PI05 + 1e-7);
			lng = s.surf_lng, lat = s.surf_lat, hdg = s.surf_hdg, arot = s.arot;
			host::SaveScenario(sim, file.string());
		}
		host::Simulation sim(root.options());
		host::LoadScenario(sim, host::ReadScenarioFile(file.string()));
		const VESSELSTATUS2 &s = sim.vessels()[0]->state;
		// The same point seen from the other side of the pole: latitude mirrored, longitude and
		// heading half a turn on, into (-180, 180] and [0, 360).
		EXPECT_NEAR(s.surf_lat, std::copysign(PI, lat) - lat, 1e-11);
		EXPECT_NEAR(s.surf_lng, std::remainder(lng + PI, PI2), 1e-11);
		EXPECT_NEAR(s.surf_hdg, std::fmod(hdg + PI, PI2), 2e-8);
		// Facing the same way: the attitude as it was, and as the place and heading give it.
		for (int i = 0; i < 3; ++i)
			EXPECT_NEAR(s.arot.data[i], arot.data[i], 2e-8);
		VECTOR3 was = host::LandedAttitude(lng, lat, hdg), is = host::LandedAttitude(s.surf_lng, s.surf_lat, s.surf_hdg);
		for (int i = 0; i < 3; ++i)
			EXPECT_NEAR(std::remainder(is.data[i] - was.data[i], PI2), 0.0, 1e-7);
	}
	// Latitudes far past the poles, and longitudes at the ends of the range.
	struct Place {
		double lng, lat, hdg, savedLng, savedLat, savedHdg;  // [deg]
	} places[] = {
	    {0, 90.5, 0, 180, 89.5, 180},  {-180, -90.5, 350, 0, -89.5, 170}, {179, 269, 180, -1, -89, 0},
	    {10, 370, 20, 10, 10, 20},     {10, -450, 20, 10, -90, 20},        {540, 91, 90, 0, 89, 270},
	    {-360, 95, 10, 180, 85, 190},  {0, 91, -180.00000000000003, 180, 89, 0},
	};
	for (const Place &p : places) {
		host::SavedPlace saved = host::PlaceToSave(p.lng * RAD, p.lat * RAD, p.hdg * RAD);
		EXPECT_NEAR(saved.lng, p.savedLng, 1e-9) << p.lat;
		EXPECT_NEAR(saved.lat, p.savedLat, 1e-9) << p.lat;
		EXPECT_NEAR(saved.hdg, p.savedHdg, 1e-9) << p.lat;
	}
}

// --- Round trips ------------------------------------------------------------------------------

// Blocks out of the writer's order, a plugin's and an unknown block, descriptions of two
// kinds, second blocks of the user interface, the host's lines of equipment the stand-in does
// not model, and the environment's other items.
const char kOutOfOrder[] =
    "BEGIN_ExtMFD\n  Ship Probe\nEND\n"
    "BEGIN_URLDESC\nhttps://example.org/probe\nEND_URLDESC\n"
    "BEGIN_VC\nEND_VC\n"
    "BEGIN_PANEL\nEND_PANEL\n"
    "BEGIN_MFD Right\n  TYPE Orbit\nEND_MFD\n"
    "BEGIN_SHIPS\n"
    "Probe:Marker\n  STATUS Landed Mars\n  POS 10 -20\n  HEADING 400\n  ALT 1\n  AROT 1 2 3\n  RCSMODE 2\n"
    "  AFCMODE 5\n  PRPLEVEL 0:1.000000\n  XPDR 0\n  FLIGHTDATA\nEND\n"
    "END_SHIPS\n"
    "BEGIN_HUD\n  TYPE Docking\nEND_HUD\n"
    "BEGIN_CAMERA\n  TARGET Probe\n  MODE Extern\nEND_CAMERA\n"
    "BEGIN_MFD Left\n  TYPE Surface ; a comment stays\nEND_MFD\n"
    "BEGIN_HYPERDESC\n<p>END_DESC</p>\nEND_HYPERDESC\n"
    "BEGIN_Unknown\n  what it holds\nEND_Unknown\n"
    "BEGIN_ENVIRONMENT\n  System Sol\n  Date MJD 51000.25\n  Script Tutorial\n  Weather dusty ; a later host's\n"
    "END_ENVIRONMENT\n"
    "BEGIN_camera\n  TARGET Elsewhere\nEND_camera\n"
    "BEGIN_MFD left\n  TYPE Map\nEND_MFD\n"
    "BEGIN_HUD\nEND_HUD\n";

// The scenario as a save writes it after loading text.
std::string LoadAndSave(const ScratchRoot &root, const std::string &text, const std::string &label) {
	host::Simulation sim(root.options());
	host::LoadScenario(sim, host::ParseScenario(text, label));
	std::ostringstream out;
	host::WriteScenario(sim, out);
	return out.str();
}

TEST(ScenarioRoundTrip, ShippedAndRealScenariosSaveAsOrbitersWriterWritesThem) {
	ScratchRoot root;
	WriteFile(root.dir() / "Config" / "Vessels" / "DG-S.cfg", "ClassName = DG-S\n");  // no module here
	const fs::path shipped = fs::path(SENDRA_ORBITER_ROOT) / "Scenarios" / "Sendra2016";
	struct Case {
		std::string name, text;
	};
	std::vector<Case> cases;
	for (const char *name : {"Mid-drive.scn", "Rover at rest.scn", "Two rovers.scn"})
		cases.push_back({name, ReadFile(shipped / name)});
	for (const char *name : {"mojave-spaceport.scn", "real-host-quicksave.scn", "real-host-current-state.scn"})
		cases.push_back({name, Fixture(name)});
	cases.push_back({"blocks-out-of-order.scn", kBom + Replace(kOutOfOrder, "\n", "\r\n")});
	for (const Case &c : cases) {
		std::string saved = LoadAndSave(root, c.text, c.name);
		EXPECT_EQ(saved, Saved(c.name)) << c.name;
		EXPECT_EQ(LoadAndSave(root, saved, c.name), saved) << c.name << ", loaded and saved again";
	}
	// The second blocks were passed over, each with a warning that the loading reports.
	host::ScenarioFile twice = host::ParseScenario(kOutOfOrder, "o.scn");
	host::Simulation sim(root.options());
	host::LoadScenario(sim, twice);
	EXPECT_EQ(sim.TakeProblems(), twice.warnings);
	EXPECT_EQ(twice.warnings,
	          (std::vector<std::string>{
	              "o.scn:50: a second CAMERA block (the first is at line 31) is passed over, as Orbiter reads the first",
	              "o.scn:53: a second MFD left block (the first is at line 35) is passed over, as Orbiter reads the first",
	              "o.scn:56: a second HUD block (the first is at line 28) is passed over, as Orbiter reads the first"}));
}

// --- Scale ------------------------------------------------------------------------------------

TEST(ScenarioScale, AHundredThousandVesselsLoadAndSaveInLinearTime) {
	ScratchRoot root;
	host::SimOptions options = root.options();
	options.visualRange = 0;
	const int n = 100000;
	std::string blocks;
	for (int i = 0; i < n; ++i)
		blocks += "V" + std::to_string(i) + ":Marker\n  STATUS Landed Moon\n  POS " + std::to_string(i % 360) + " " +
		          std::to_string((i / 360) % 90) + "\n  HEADING 90\nEND\n";
	std::string text = Ships(blocks, "V99999");
	auto start = std::chrono::steady_clock::now();
	host::Simulation sim(options);
	host::LoadScenario(sim, host::ParseScenario(text, "big.scn"));
	ASSERT_EQ(sim.vessels().size(), static_cast<size_t>(n));
	EXPECT_EQ(sim.focus()->name, "V99999");
	EXPECT_DOUBLE_EQ(sim.FindVessel("V12345")->state.surf_lng, (12345 % 360) * RAD);
	std::string saved = root.scenario("big.scn").string();
	host::SaveScenario(sim, saved);
	EXPECT_EQ(host::ReadScenarioFile(saved).vessels.size(), static_cast<size_t>(n));
	// A duplicate is found at once, not by walking every vessel.
	EXPECT_NE(ErrorOf([&] { host::LoadScenario(sim, host::ParseScenario(Ships(Marker("V5")), "dup.scn")); }), "");
	double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
	RecordProperty("seconds", std::to_string(seconds));
}

}  // namespace
