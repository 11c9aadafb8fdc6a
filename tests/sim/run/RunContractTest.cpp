// `sendra-sim run` end to end through the built program: the built-in drive's outputs and
// summary, a scripted drive against the rover's own rules, frame timing with --dt lists,
// recording, save and focus events, warnings and quiet runs.
#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <sstream>
#include <thread>

#include "SimProgram.h"
#include "output/OutputFiles.h"
#include "run/Run.h"

using namespace sim_testing;

namespace {

const double kMoonRadius = 1.738e6;  // [m]
const double kRad = 3.14159265358979323846 / 180;

struct Row {
	std::vector<std::string> f;
	long frame() const { return std::stol(f[0]); }
	double num(size_t i) const { return std::stod(f[i]); }
	double simt() const { return num(1); }
	const std::string &vessel() const { return f[2]; }
	double lng() const { return num(3); }
	double lat() const { return num(4); }
	double hdg() const { return num(5); }
	double rudder() const { return num(10); }
	const std::string &hud() const { return f[11]; }
	const std::string &lights() const { return f[12]; }
	const std::string &beacons() const { return f[13]; }
	double anim(size_t i) const { return num(14 + i); }
	// After the 46 animations: ground speed [m/s], distance [m], east and north of the start
	// [m], heading [deg].
	double motion(size_t i) const { return num(14 + 46 + i); }
};

// The rows of trajectory.csv after its header.
std::vector<Row> Trajectory(const Scratch &s, const std::string &file = "sendra-out/trajectory.csv",
                            std::string *header = nullptr) {
	std::vector<std::string> lines = Lines(s.Read(file));
	std::vector<Row> rows;
	for (size_t i = 1; i < lines.size(); ++i)
		rows.push_back(Row{CsvFields(lines[i])});
	if (header && !lines.empty())
		*header = lines[0];
	return rows;
}

double CentralAngle(double lng1, double lat1, double lng2, double lat2) {
	double a = std::sin((lat2 - lat1) / 2), b = std::sin((lng2 - lng1) / 2);
	return 2 * std::asin(std::sqrt(a * a + std::cos(lat1) * std::cos(lat2) * b * b));
}

std::string Fixed(const char *fmt, double v) {
	char buf[64];
	std::snprintf(buf, sizeof buf, fmt, v);
	return buf;
}

}  // namespace

TEST(SimRun, BuiltInDriveWritesItsOutputsAndSummarisesTheDrive) {
	Scratch s;
	ProgramResult r = s.Run({});
	ASSERT_EQ(r.status, 0) << r.err;
	EXPECT_EQ(s.Files("sendra-out"),
	          (std::vector<std::string>{"final.scn", "hud.csv", "pose.png", "track.svg", "trajectory.csv"}));

	// 120 s at 0.02 s a frame: 6000 rows of one rover, numbered from 1, the last one at 120 s.
	std::string header;
	std::vector<Row> rows = Trajectory(s, "sendra-out/trajectory.csv", &header);
	std::string expectedHeader = "frame,simt,vessel,lng,lat,hdg,arot_x,arot_y,arot_z,alt,rudder,hud,lights,beacons";
	for (int i = 0; i < 46; ++i)
		expectedHeader += ",anim_" + std::to_string(i);
	EXPECT_EQ(header, expectedHeader + ",ground_speed_m_s,distance_m,east_m,north_m,heading_deg");
	ASSERT_EQ(rows.size(), 6000u);
	double simt = 0;
	for (size_t i = 0; i < rows.size(); ++i) {
		simt += 0.02;
		ASSERT_EQ(rows[i].frame(), static_cast<long>(i + 1));
		ASSERT_EQ(rows[i].simt(), simt) << "frame " << i + 1;  // the shortest form reads back exactly
		ASSERT_EQ(rows[i].vessel(), "Sendra-1");
		ASSERT_EQ(rows[i].f.size(), 14u + 46u + 5u);
	}

	// Every control was used: all gears, both rudder extremes, the swivel, doors, sunscreen
	// and lights opened or switched on and back again by the end.
	bool gears[3] = {}, swivelled = false, lightsOn = false;
	double rudderMin = 0, rudderMax = 0, doorMax = 0, screenMax = 0;
	for (const Row &row : rows) {
		gears[0] |= row.hud().find("Forward Gear") != std::string::npos;
		gears[1] |= row.hud().find("Reverse Gear") != std::string::npos;
		gears[2] |= row.hud().find("Neutral Gear") != std::string::npos;
		swivelled |= row.hud().find("Turn Angle: 0") == std::string::npos;
		lightsOn |= row.lights() == "1111" && row.beacons() == "11111111";
		rudderMin = std::min(rudderMin, row.rudder());
		rudderMax = std::max(rudderMax, row.rudder());
		doorMax = std::max({doorMax, row.anim(15), row.anim(16)});
		screenMax = std::max(screenMax, row.anim(0));
	}
	EXPECT_TRUE(gears[0] && gears[1] && gears[2]);
	EXPECT_TRUE(swivelled);
	EXPECT_TRUE(lightsOn);
	EXPECT_EQ(rudderMin, -1.0);
	EXPECT_EQ(rudderMax, 1.0);
	EXPECT_EQ(doorMax, 1.0);
	EXPECT_EQ(screenMax, 1.0);
	const Row &last = rows.back();
	EXPECT_EQ(last.lights(), "0000");
	EXPECT_EQ(last.anim(15), 0.0);
	EXPECT_EQ(last.anim(0), 0.0);

	// hud.csv: the three texts of every frame's HUD paint, the same the trajectory joins.
	std::vector<std::string> hud = Lines(s.Read("sendra-out/hud.csv"));
	ASSERT_EQ(hud.size(), 1 + 3 * 6000u);
	EXPECT_EQ(hud[0], "frame,x,y,color,text");
	EXPECT_EQ(hud[1], "1,10,327,0x66FF66,Current Ground Speed 0.00");
	EXPECT_EQ(hud[2], "1,10,311,0x66FF66,Neutral Gear");
	EXPECT_EQ(hud[3], "1,10,343,0x66FF66,Turn Angle: 0");
	// Every frame's three rows carry its number and the texts its trajectory row joins.
	for (size_t f = 0; f < rows.size(); ++f) {
		std::string joined;
		for (size_t i = 1 + 3 * f; i < 4 + 3 * f; ++i) {
			std::vector<std::string> fields = CsvFields(hud[i]);
			EXPECT_EQ(fields[0], std::to_string(f + 1)) << i;
			joined += (i > 1 + 3 * f ? " | " : "") + fields[4];
		}
		ASSERT_EQ(rows[f].hud(), joined) << "frame " << f + 1;
	}

	// Standard output (a file, not a terminal): one line per simulated second with the HUD,
	// then the summary, whose distance is the sum of the frames' arcs and whose position is the
	// last row's, then the outputs and their sizes. The motion's columns follow the frames' arcs
	// and the start's surroundings.
	std::vector<std::string> out = Lines(r.out);
	ASSERT_EQ(out.size(), 123u);
	for (int sec = 1; sec <= 120; ++sec)
		EXPECT_EQ(out[static_cast<size_t>(sec - 1)], "t=" + std::to_string(sec) + ".00 s | " + rows[sec * 50 - 1].hud());
	const double lng0 = 23.47 * kRad, lat0 = 0.67 * kRad;
	double distance = 0, lng = lng0, lat = lat0, fastest = 0;
	for (const Row &row : rows) {
		const double arc = kMoonRadius * CentralAngle(lng, lat, row.lng(), row.lat());
		distance += arc;
		lng = row.lng();
		lat = row.lat();
		ASSERT_NEAR(row.motion(0), arc / 0.02, 1e-9) << "frame " << row.frame();
		ASSERT_NEAR(row.motion(1), distance, 1e-9) << "frame " << row.frame();
		ASSERT_NEAR(row.motion(2), kMoonRadius * std::cos(lat0) * (lng - lng0), 1e-6) << "frame " << row.frame();
		ASSERT_NEAR(row.motion(3), kMoonRadius * (lat - lat0), 1e-6) << "frame " << row.frame();
		ASSERT_NEAR(row.motion(4), row.hdg() / kRad, 1e-9) << "frame " << row.frame();
		fastest = std::max(fastest, row.motion(0));
	}
	EXPECT_GT(distance, 100.0);
	EXPECT_NEAR(fastest, 2.78, 0.01) << "the top speed, as the HUD shows it";
	EXPECT_EQ(out[120], "distance driven: " + Fixed("%.2f", distance) + " m");
	EXPECT_EQ(out[121], "final position: " + Fixed("%.6f", last.lng() / kRad) + " " + Fixed("%.6f", last.lat() / kRad) +
	                        " deg, heading " + Fixed("%.2f", last.hdg() / kRad) + " deg");
	auto size = [&](const char *name) { return sim::SizeText(std::filesystem::file_size(s / "sendra-out" / name)); };
	EXPECT_EQ(out[122], "wrote ./sendra-out/: trajectory.csv " + size("trajectory.csv") + ", hud.csv " + size("hud.csv") +
	                        ", final.scn " + size("final.scn") + ", track.svg " + size("track.svg") + " and pose.png " +
	                        size("pose.png") + " (track.svg and pose.png are pictures to open)");

	// final.scn: the scenario at the end, 120 s after MJD 60003, where the last row is.
	std::string scn = s.Read("sendra-out/final.scn");
	EXPECT_NE(scn.find("Sendra-1:Sendra2016"), std::string::npos);
	EXPECT_NE(scn.find("Date MJD 60003.00138888"), std::string::npos) << scn;
	EXPECT_NE(scn.find("POS " + Fixed("%.10f", last.lng() / kRad) + " " + Fixed("%.10f", last.lat() / kRad)),
	          std::string::npos)
	    << scn;
}

TEST(SimRun, ScriptedDriveFollowsTheRoversRules) {
	Scratch s;
	s.Write("flat.scn", RoverScenario({{"R", 0, 0, 0}}));
	s.Write("drive.txt",
	        "0    tap NUMPAD8   # frame 1: forward gear\n"
	        "0.1  key ADD down  # frame 5 on: 0.01 m/s more every frame, up to 2.78\n"
	        "8    rudder 1      # frame 400's keyboard step; the rudder then takes 1 s\n");
	ProgramResult r = s.Run({"flat.scn", "--script", "drive.txt", "--terrain", "flat", "--duration", "12"});
	ASSERT_EQ(r.status, 0) << r.err;
	std::vector<Row> rows = Trajectory(s);
	ASSERT_EQ(rows.size(), 600u);

	// Speed: shown after the keyboard step of the same frame; it moves the rover from the next
	// frame's pre-step on, straight north.
	double lat = 0;
	for (long k = 1; k <= 400; ++k) {
		const Row &row = rows[static_cast<size_t>(k - 1)];
		double speed = std::min(0.01 * std::max(0L, k - 4), 2.78);
		ASSERT_NE(row.hud().find(Fixed("Current Ground Speed %0.2f", speed)), std::string::npos) << "frame " << k;
		ASSERT_NE(row.hud().find("Forward Gear"), std::string::npos);
		double previousSpeed = std::min(0.01 * std::max(0L, k - 5), 2.78);
		lat += 0.02 * previousSpeed / kMoonRadius;
		ASSERT_NEAR(row.lat(), lat, 1e-9 * lat + 1e-15) << "frame " << k;
		ASSERT_EQ(row.lng(), 0.0);
		ASSERT_EQ(row.hdg(), 0.0);
		ASSERT_EQ(row.rudder(), 0.0);
	}
	EXPECT_NEAR(rows[282].lat() * kMoonRadius, 0.0002 * 278 * 279 / 2, 1e-6);  // 278 frames of acceleration

	// The rudder follows its target at 1 unit a second from the next frame on; only full
	// deflection steers, from the pre-step after the post-step that read it, by 1e-5 n(n+1)/2.
	EXPECT_NEAR(rows[400].rudder(), 0.02, 1e-12);
	EXPECT_NEAR(rows[424].rudder(), 0.5, 1e-12);
	size_t full = 0;
	while (full < rows.size() && rows[full].rudder() != 1.0)
		++full;
	ASSERT_TRUE(full == 448 || full == 449) << "full deflection at frame " << full + 1;
	EXPECT_EQ(rows[full].hdg(), 0.0);
	for (size_t i = full + 1; i < rows.size(); ++i) {
		double n = static_cast<double>(i - full);
		ASSERT_NEAR(rows[i].hdg(), 1e-5 * n * (n + 1) / 2, 1e-12) << "frame " << i + 1;
	}
}

TEST(SimRun, YawKeysMoveTheRudderWhileTheControlSurfacesHaveItAndAProgramsSettingAlways) {
	Scratch s;
	s.Write("flat.scn", RoverScenario({{"R", 0, 0, 0}}));  // no AFCMODE: the surfaces are off
	s.Write("drive.txt",
	        "0  key NUMPAD3 down  # yaw right, held throughout: nothing yet\n"
	        "1  afc 7             # frame 50: the key moves the rudder from frame 51 on\n"
	        "3  afc 5             # elevator and ailerons only: the rudder goes back\n"
	        "5  rudder -0.5       # a program's setting, whatever the mode\n"
	        "7  afc 2             # the rudder alone: the key adds to the setting\n");
	ProgramResult r = s.Run({"flat.scn", "--script", "drive.txt", "--terrain", "flat", "--duration", "9"});
	ASSERT_EQ(r.status, 0) << r.err;
	std::vector<Row> rows = Trajectory(s);
	ASSERT_EQ(rows.size(), 450u);
	auto at = [&](double t) { return rows[static_cast<size_t>(std::lround(t / 0.02)) - 1].rudder(); };
	EXPECT_EQ(at(1.0), 0.0);
	EXPECT_NEAR(at(1.02), 0.02, 1e-12);
	EXPECT_EQ(at(3.0), 1.0);
	EXPECT_EQ(at(4.0), 0.0);
	EXPECT_EQ(at(6.0), -0.5);
	EXPECT_EQ(at(9.0), 0.5);
	EXPECT_NE(s.Read("sendra-out/final.scn").find("\n  AFCMODE 2\n  NAVFREQ 0 0\n  DOORL 0 0.0000\n"),
	          std::string::npos);
}

TEST(SimRun, FramesFollowTheDtListAndEventsLandInTheFrameThatReachesThem) {
	Scratch s;
	s.Write("empty.txt", "");
	s.Write("gear.txt", "0.045 tap NUMPAD8\n");
	// Steps in turn, the last frame not shortened: ends at 0.01 0.04 0.05 0.08 0.09 0.12.
	ProgramResult r = s.Run({"--script", "gear.txt", "--dt", "0.01,0.03", "--duration", "0.1"});
	ASSERT_EQ(r.status, 0) << r.err;
	std::vector<Row> rows = Trajectory(s);
	ASSERT_EQ(rows.size(), 6u);
	double simt = 0;
	for (size_t i = 0; i < rows.size(); ++i) {
		simt += i % 2 == 0 ? 0.01 : 0.03;
		EXPECT_EQ(rows[i].simt(), simt);
		// The tap at 0.045 s falls in the third frame, the first to end at or after it.
		EXPECT_NE(rows[i].hud().find(i < 2 ? "Neutral Gear" : "Forward Gear"), std::string::npos) << i;
	}

	// A run that ends within the tolerance of the duration takes no extra frame, and the last
	// frame is recorded whatever --record-every says.
	r = s.Run({"--script", "empty.txt", "--dt", "0.02", "--duration", "0.1", "--record-every", "3"});
	ASSERT_EQ(r.status, 0) << r.err;
	rows = Trajectory(s);
	ASSERT_EQ(rows.size(), 2u);
	EXPECT_EQ(rows[0].frame(), 3);
	EXPECT_EQ(rows[1].frame(), 5);
	std::vector<std::string> hud = Lines(s.Read("sendra-out/hud.csv"));
	ASSERT_EQ(hud.size(), 7u);
	EXPECT_EQ(hud[1].substr(0, 2), "3,");
	EXPECT_EQ(hud[6].substr(0, 2), "5,");

	// No frames at all for a zero duration: a header, and the scenario as loaded.
	r = s.Run({"--script", "empty.txt", "--duration", "0"});
	ASSERT_EQ(r.status, 0) << r.err;
	EXPECT_TRUE(Trajectory(s).empty());
	EXPECT_NE(s.Read("sendra-out/final.scn").find("POS 23.4700000000 0.6700000000"), std::string::npos);
	EXPECT_EQ(Lines(r.out)[0] + "\n" + Lines(r.out)[1], "distance driven: 0.00 m\nfinal position: 23.470000 0.670000 deg, heading 0.00 deg");
}

TEST(SimRun, SaveEventsWriteTheScenarioAfterTheirFrameAndLoadBack) {
	Scratch s;
	s.Write("drive.txt",
	        "0    tap NUMPAD8\n"
	        "0    key ADD down\n"
	        "0.5  save at/halfway.scn   # after frame 25, in a folder it makes\n"
	        "1.0  tap 7\n");
	ProgramResult r = s.Run({"--script", "drive.txt", "--duration", "2", "--out", "run1"});
	ASSERT_EQ(r.status, 0) << r.err;
	std::vector<Row> rows = Trajectory(s, "run1/trajectory.csv");
	std::string saved = s.Read("run1/at/halfway.scn");
	EXPECT_NE(saved.find("Date MJD 60003.0000057870"), std::string::npos) << saved;  // 0.5 s later
	EXPECT_NE(saved.find("POS " + Fixed("%.10f", rows[24].lng() / kRad) + " " + Fixed("%.10f", rows[24].lat() / kRad)),
	          std::string::npos)
	    << saved;
	EXPECT_NE(saved.find("LIGHT 0"), std::string::npos);  // the lights came on later

	// The saved scenario is one the program reads: it starts where the save left off.
	r = s.Run({"run1/at/halfway.scn", "--duration", "0", "--out", "run2"});
	ASSERT_EQ(r.status, 0) << r.err;
	EXPECT_NE(r.out.find("final position: " + Fixed("%.6f", rows[24].lng() / kRad)), std::string::npos) << r.out;
}

TEST(SimRun, FocusEventsMoveTheKeysTheHudAndTheSavedCameraToAnotherVessel) {
	Scratch s;
	const std::string hyper = "BEGIN_HYPERDESC\n<p>Two</p>\nEND_HYPERDESC\n", url = "BEGIN_URLDESC\nexample.org\nEND_URLDESC\n";
	s.Write("two.scn", hyper + url + "BEGIN_CAMERA\n\tTARGET Moon\n  MODE Cockpit\nEND_CAMERA\n" +
	                       RoverScenario({{"A", 0, 0, 0}, {"B,2", 0.01, 0, 90}}));
	s.Write("drive.txt",
	        "0.05 save before.scn\n"
	        "0.1 focus B,2\n"
	        "0.1 tap NUMPAD8\n");
	ProgramResult r = s.Run({"two.scn", "--script", "drive.txt", "--duration", "0.2", "--terrain", "flat"});
	ASSERT_EQ(r.status, 0) << r.err;
	std::vector<Row> rows = Trajectory(s);
	ASSERT_EQ(rows.size(), 20u);  // two vessels, ten frames
	// The first vessel has the focus until frame 5, whose keys then go to the second one.
	for (size_t i = 0; i < rows.size(); ++i) {
		long frame = rows[i].frame();
		bool isA = rows[i].vessel() == "A";
		EXPECT_EQ(rows[i].vessel(), i % 2 == 0 ? "A" : "B,2");
		bool hasHud = !rows[i].hud().empty();
		EXPECT_EQ(hasHud, isA ? frame < 5 : frame >= 5) << "frame " << frame;
		if (!isA && frame >= 5) {
			EXPECT_NE(rows[i].hud().find("Forward Gear"), std::string::npos);
		}
	}
	// The name with a comma is quoted in the file.
	EXPECT_NE(s.Read("sendra-out/trajectory.csv").find("\n1,0.02,\"B,2\","), std::string::npos);
	// The camera stays as read until it goes with the focus; the descriptions are saved as read.
	for (const char *file : {"before.scn", "final.scn"}) {
		std::string saved = s.Read(std::string("sendra-out/") + file);
		EXPECT_EQ(saved.rfind(hyper + "\n" + url + "\nBEGIN_DESC\nTest rovers\nEND_DESC\n", 0), 0u) << saved;
		std::string target = file == std::string("final.scn") ? "B,2" : "Moon";
		EXPECT_NE(saved.find("BEGIN_CAMERA\n\tTARGET " + target + "\n  MODE Cockpit\n"), std::string::npos) << saved;
	}
}

TEST(SimRun, ARealHostsSaveRunForNoTimeIsSavedWithNothingLost) {
	Scratch s;
	ProgramResult r = s.Run({SENDRA_FIXTURES "/orbiter/real-host-quicksave.scn", "--duration", "0"});
	ASSERT_EQ(r.status, 0) << r.err;
	EXPECT_EQ(s.Read("sendra-out/final.scn"), ReadFile(SENDRA_FIXTURES "/saved/real-host-quicksave.scn"));
}

TEST(SimRun, LateEventsAreNamedInAWarningAndQuietPrintsNothingElse) {
	Scratch s;
	s.Write("drive.txt",
	        "0.5 tap V\n"
	        "# later than the run\n"
	        "3 tap J\n"
	        "3 rudder -1\n");
	ProgramResult r = s.Run({"--script", "drive.txt", "--duration", "1", "--quiet"});
	ASSERT_EQ(r.status, 0) << r.err;
	EXPECT_EQ(r.out, "");
	EXPECT_NE(r.err.find("sendra-sim: warning: drive.txt:3: 'tap J' at 3 s comes after the end of the run"),
	          std::string::npos)
	    << r.err;
	EXPECT_NE(r.err.find("drive.txt:4: 'rudder -1' at 3 s"), std::string::npos) << r.err;
	EXPECT_EQ(r.err.find("tap V"), std::string::npos) << r.err;
}

// A mesh far too costly to draw (40,000 triangles each filling much of the picture) does not
// hold the run up: its pose picture shows the legend alone, and a warning says why.
TEST(SimRun, APosePictureTooCostlyToDrawIsItsLegendAloneWithAWarning) {
	namespace fs = std::filesystem;
	Scratch s;
	fs::copy(SENDRA_ORBITER_ROOT, s / "root", fs::copy_options::recursive);
	std::string mesh = ReadFile(s / "root/Meshes/Sendra9.msh");
	std::string costly = "MSHX1\nGROUPS 40000\n";
	for (int i = 0; i < 40000; ++i)
		costly += "MATERIAL 1\nGEOM 3 1\n-2 -1 -3 0 1 0\n2 1 -3 0 1 0\n0 0 3 0 1 0\n0 2 1\n";
	s.Write("root/Meshes/Sendra9.msh", costly + mesh.substr(mesh.find("MATERIALS")));
	ProgramResult r = s.Run({"--root", "root", "--duration", "0.1", "--quiet"});
	ASSERT_EQ(r.status, 0) << r.err;
	EXPECT_NE(r.err.find("sendra-sim: warning: ./sendra-out/pose.png: the vessel's 40000 triangles would take too long "
	                     "to draw"),
	          std::string::npos)
		<< r.err;
	EXPECT_EQ(s.Read("sendra-out/pose.png").substr(1, 3), "PNG");
}

TEST(SimRun, HelpAndVersionDescribeTheProgramAndItsModule) {
	Scratch s;
	ProgramResult help = s.Run({"--help"});
	EXPECT_EQ(help.status, 0);
	EXPECT_NE(help.out.find("usage: sendra-sim [run] [SCENARIO.scn]"), std::string::npos);
	EXPECT_NE(help.out.find("--record-every N"), std::string::npos);
	ProgramResult version = s.Run({"--version"});
	EXPECT_EQ(version.status, 0);
	EXPECT_NE(version.out.find("sendra-sim 1.0.0\n"), std::string::npos) << version.out;
	EXPECT_NE(version.out.find("module Sendra2016 version 160828, Jul  2 2018"), std::string::npos) << version.out;
}

TEST(SimRun, ManyLateEventsAreSummarisedInOneWarningWithTheirCount) {
	Scratch s;
	s.Write("drive.txt", "0.5 tap V\n3 tap J\n3 rudder -1\n4 tap 1\n4.5 tap 2\n# the last\n5 tap 7\n");
	ProgramResult r = s.Run({"--script", "drive.txt", "--duration", "1", "--quiet"});
	ASSERT_EQ(r.status, 0) << r.err;
	std::vector<std::string> lines = Lines(r.err);
	ASSERT_EQ(lines.size(), 1u) << r.err;
	// The end is shown as the steps reach it, without the sum's rounding errors (1.0000000000000007).
	EXPECT_EQ(lines[0], "sendra-sim: warning: drive.txt:2: 'tap J' at 3 s and 4 more events up to line 7 (5 s) come "
	                    "after the end of the run at 1 s and were not delivered");
}

TEST(SimRun, OnATerminalTheSecondsLinesComeOnlyWhenAskedForAndTheOutputsAreNamedAtTheEnd) {
	Scratch s;
	s.Write("empty.txt", "");
	sim::RunOptions o;
	o.drive.session.root = SENDRA_ORBITER_ROOT;
	o.drive.script = (s / "empty.txt").string();
	o.drive.duration = 3;
	o.out = (s / "out").string();
	for (bool hudLines : {false, true}) {
		o.hudLines = hudLines;
		std::ostringstream out, err;
		sim::RunDrive(o, sim::RunConsole{out, err, false, true});
		std::vector<std::string> lines = Lines(out.str());
		ASSERT_EQ(lines.size(), hudLines ? 6u : 3u) << out.str();
		EXPECT_EQ(lines[0].rfind(hudLines ? "t=1.00 s | " : "distance driven: ", 0), 0u) << lines[0];
		EXPECT_EQ(lines.back().rfind("wrote " + o.out + "/: trajectory.csv ", 0), 0u) << lines.back();
		EXPECT_EQ(err.str(), "");
	}
}

TEST(SimRun, ARunWhoseOutputsWouldPassAGigabyteIsWarnedOfWithTheOptionThatReducesThem) {
	// 5e8 frames of one rover: hundreds of gigabytes, with the default step and with a list of
	// steps of the same mean. The warning comes after the first frame.
	for (std::vector<std::string> steps : {std::vector<std::string>{}, std::vector<std::string>{"--dt", "0.01,0.03"}}) {
		SCOPED_TRACE(steps.empty() ? "default step" : steps[1]);
		Scratch s;
		std::vector<std::string> args{"--duration", "1e7", "--quiet"};
		args.insert(args.end(), steps.begin(), steps.end());
		pid_t pid = s.Start(args);
		ASSERT_GT(pid, 0);
		for (int i = 0; i < 6000 && ReadFile(s.stderrPath()).find("--record-every") == std::string::npos; ++i)
			std::this_thread::sleep_for(std::chrono::milliseconds(10));
		::kill(pid, SIGINT);
		ProgramResult r = s.Finish(pid);
		std::vector<std::string> err = Lines(r.err);
		ASSERT_FALSE(err.empty());
		double size = 0, reduced = 0;
		unsigned long long every = 0, frames = 0;
		char unit[4] = {}, reducedUnit[4] = {};
		ASSERT_EQ(std::sscanf(err[0].c_str(),
		                      "sendra-sim: warning: this run's trajectory.csv and hud.csv will take about %lf %3s "
		                      "(%llu recorded frames); --record-every %llu makes them about %lf %3s",
		                      &size, unit, &frames, &every, &reduced, reducedUnit),
		          6)
		    << err[0];
		EXPECT_NEAR(static_cast<double>(frames), 5e8, 2);
		// Some 400 bytes a frame at rest: hundreds of gigabytes, and the first of 2, 5, 10, 20, ...
		// times fewer frames that makes them half a gigabyte or less.
		EXPECT_EQ(std::string(unit), "GB");
		EXPECT_GT(size, 100);
		EXPECT_LT(size, 1000);
		EXPECT_EQ(std::string(reducedUnit), "MB");
		const double bytes = size * 1e9 / static_cast<double>(every);
		EXPECT_NEAR(reduced * 1e6, bytes, bytes * 0.01);
		EXPECT_LE(bytes, 5.05e8);
		unsigned long long lead = every;
		while (lead >= 10)
			lead /= 10;
		EXPECT_GT(bytes * (lead == 5 ? 2.5 : 2), 5e8) << every << " is more than needed";
		EXPECT_EQ(r.signal, SIGINT);
	}
}
