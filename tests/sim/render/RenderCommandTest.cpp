// sendra-sim render end to end: the pictures it writes, that it pictures the state a run
// reaches at that time, and its errors with their exit statuses, never leaving a partial or
// damaged picture behind.
#include <cairo.h>
#include <gtest/gtest.h>
#include <sys/resource.h>

#include <csignal>

#include "Drives.h"
#include "Xml.h"
#include "output/OutputFiles.h"
#include "run/Run.h"
#include "sendra_host/Simulation.h"
#include "sendra_host/VesselView.h"

using namespace render_testing;
using namespace sim_testing;

namespace {

struct PngSize {
	int width = 0, height = 0;
	bool readable = false;
};
PngSize ReadPngSize(const std::filesystem::path &path) {
	cairo_surface_t *s = cairo_image_surface_create_from_png(path.c_str());
	PngSize size;
	size.readable = cairo_surface_status(s) == CAIRO_STATUS_SUCCESS;
	if (size.readable) {
		size.width = cairo_image_surface_get_width(s);
		size.height = cairo_image_surface_get_height(s);
	}
	cairo_surface_destroy(s);
	return size;
}

std::string LastLine(const std::string &text) {
	std::vector<std::string> lines = Lines(text);
	return lines.empty() ? std::string() : lines.back();
}

}  // namespace

TEST(RenderCommand, WritesThePictureInTheFormatAndSizeAsked) {
	Scratch s;
	ProgramResult r = s.Run({"render", "--size", "320x240", "--out", "rover.png"});
	ASSERT_EQ(r.status, 0) << r.err;
	EXPECT_EQ(r.out, "wrote rover.png " + sim::SizeText(std::filesystem::file_size(s / "rover.png")) +
	                     " (a picture to open)\n");
	EXPECT_EQ(r.err, "");
	// --quiet: nothing but errors and warnings, as for run.
	r = s.Run({"render", "--size", "320x240", "--out", "rover.png", "--quiet"});
	ASSERT_EQ(r.status, 0) << r.err;
	EXPECT_EQ(r.out, "");
	PngSize png = ReadPngSize(s / "rover.png");
	ASSERT_TRUE(png.readable);
	EXPECT_EQ(png.width, 320);
	EXPECT_EQ(png.height, 240);
	// A render writes none of a run's outputs.
	EXPECT_EQ(s.Files(""), (std::vector<std::string>{"rover.png"}));

	// Nor the script's saves, which it says once.
	s.Write("saves.txt", "0.5 save a.scn\n1 save b.scn\n");
	r = s.Run({"render", "--view", "top", "--at", "2", "--script", "saves.txt", "--out", "Rover.SVG"});
	ASSERT_EQ(r.status, 0) << r.err;
	EXPECT_EQ(r.err, "sendra-sim: warning: saves.txt:1: render writes only the picture: the script's 2 saves are skipped\n");
	EXPECT_EQ(s.Files(""), (std::vector<std::string>{"Rover.SVG", "rover.png", "saves.txt"}));
	Document svg = ParseXml(s.Read("Rover.SVG"));
	ASSERT_TRUE(svg.wellFormed) << svg.error;
	EXPECT_EQ(svg.elements.front().name, "svg");
	EXPECT_EQ(svg.elements.front().Attribute("width"), "800px");

	// The run's own picture: the focus rover at the end, iso view.
	ASSERT_EQ(s.Run({"--duration", "1", "--quiet"}).status, 0);
	png = ReadPngSize(s / "sendra-out" / "pose.png");
	EXPECT_TRUE(png.readable);
	EXPECT_EQ(png.width, 800);
	EXPECT_EQ(png.height, 600);
}

TEST(RenderCommand, PicturesTheStateARunReachesAtThatTime) {
	Scratch s;
	s.Write("drive.txt", "0.5 tap 1\n1 tap NUMPAD8\n1 key ADD down\n2 key ADD up\n3 rudder 1\n5 tap J\n9 tap 2\n");
	sim::RunOptions o;
	o.drive.script = (s / "drive.txt").string();
	o.drive.session.root = sim::DefaultRoot();
	o.drive.duration = 7.3;
	o.drive.dts = {0.02, 0.03};
	o.out = (s / "run").string();
	o.quiet = true;
	std::ostringstream out, err;
	sim::RunReport run = sim::RunDrive(o, sim::RunConsole{out, err});
	std::vector<std::string> fields = CsvFields(Lines(s.Read("run/trajectory.csv")).back());

	// The same drive as render makes it.
	sim::Session session(o.drive.session, err);
	sim::Drive drive(session, sim::LoadDriveScript(o.drive), o.drive);
	drive.ToEnd();
	host::Simulation &sim = session.simulation();
	uint64_t frames = sim.frameCount();
	std::vector<double> anims;
	bool posed = true;
	const host::VesselView v(sim.focus());
	const double lng = v.place().lng, lat = v.place().lat, hdg = v.place().hdg;
	for (size_t i = 0; i < v.animationCount(); ++i) {
		anims.push_back(v.animationStates()[i]);
		posed = posed && (v.animation(i).components.empty() || v.shownStates().at(i) == v.animationStates()[i]);
	}
	EXPECT_EQ(frames, run.frames);
	EXPECT_EQ(lng, run.lng);
	EXPECT_EQ(lat, run.lat);
	EXPECT_EQ(hdg, run.hdg);
	ASSERT_EQ(fields.size(), 14 + anims.size() + 5);
	for (size_t i = 0; i < anims.size(); ++i)
		EXPECT_EQ(std::stod(fields[14 + i]), anims[i]) << "animation " << i;
	EXPECT_TRUE(posed);
}

TEST(RenderCommand, UsageErrorsExitWithTwoAndWriteNothing) {
	Scratch s;
	const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
		{{"--view", "sideways", "--out", "p.png"}, "--view: 'sideways' is not iso, front, rear, left, right or top"},
		{{"--size", "31x100", "--out", "p.png"}, "--size: '31x100' is not WxH with each side from 32 to 4096 pixels"},
		{{"--size", "100x4097", "--out", "p.png"}, "--size: '100x4097'"},
		{{"--size", "big", "--out", "p.png"}, "--size: 'big'"},
		{{"--at", "-1", "--out", "p.png"}, "--at: '-1' is not a finite number of seconds >= 0"},
		{{"--at", "nan", "--out", "p.png"}, "--at: 'nan'"},
		{{"--at", "1e300", "--out", "p.png"}, "--at: 1e+300 s is too late for a step of 0.02 s"},
		{{}, "--out: the picture file is required"},
		{{"--out", "p.jpg"}, "--out: 'p.jpg' is not a file name ending in .png or .svg"},
		{{"--out", ""}, "--out: the picture file needs a name"},
		{{"--duration", "5", "--out", "p.png"}, "--duration"},
		{{"--record-every", "2", "--out", "p.png"}, "--record-every"},
	};
	for (const auto &[args, message] : cases) {
		std::vector<std::string> full{"render"};
		full.insert(full.end(), args.begin(), args.end());
		ProgramResult r = s.Run(full);
		EXPECT_EQ(r.status, 2) << message << '\n' << r.err;
		EXPECT_EQ(r.err.rfind("sendra-sim: ", 0), 0u) << r.err;
		EXPECT_NE(r.err.find(message), std::string::npos) << r.err;
		EXPECT_NE(r.err.find("Run 'sendra-sim help render' for the usage."), std::string::npos) << r.err;
		EXPECT_EQ(r.out, "");
		EXPECT_TRUE(s.Files("").empty()) << message;
	}
}

TEST(RenderCommand, InvalidInputExitsWithThreeNamingTheFileAndKeepsAnOlderPicture) {
	Scratch s;
	s.Write("p.png", "an older picture");
	s.Write("drive.txt", "1 tap V\n2 jump\n");
	s.Write("empty.scn", "BEGIN_SHIPS\nEND_SHIPS\n");
	const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
		{{"--script", "drive.txt", "--out", "p.png"}, "sendra-sim: drive.txt:2: unknown event 'jump'"},
		{{"missing.scn", "--out", "p.png"}, "sendra-sim: missing.scn"},
		{{"empty.scn", "--out", "p.png"}, "sendra-sim: empty.scn: no vessel has the focus: there is nothing to picture"},
		{{"--root", "nowhere", "--out", "p.png"}, "sendra-sim: (built-in scenario):15: vessel 'Sendra-1'"},
		{{"--out", "no/such/folder/p.png"}, "sendra-sim: no/such/folder/p.png: cannot create the file"},
	};
	for (const auto &[args, message] : cases) {
		std::vector<std::string> full{"render"};
		full.insert(full.end(), args.begin(), args.end());
		ProgramResult r = s.Run(full);
		EXPECT_EQ(r.status, 3) << message << '\n' << r.err;
		EXPECT_EQ(LastLine(r.err).rfind(message, 0), 0u) << r.err;
		EXPECT_EQ(r.out, "");
		EXPECT_EQ(s.Read("p.png"), "an older picture");
		EXPECT_EQ(s.Files(""), (std::vector<std::string>{"drive.txt", "empty.scn", "p.png"})) << message;
	}
	// A disk that fills up while the picture is written.
	for (const char *name : {"p.png", "p.svg"}) {
		ProgramResult full = s.Run({"render", "--out", name}, 4096);
		EXPECT_EQ(full.status, 3) << full.err;
		EXPECT_EQ(LastLine(full.err), std::string("sendra-sim: ") + name + ": cannot write the file: File too large");
	}
	EXPECT_EQ(s.Read("p.png"), "an older picture");
	EXPECT_EQ(s.Files(""), (std::vector<std::string>{"drive.txt", "empty.scn", "p.png"}));

	// A folder where the picture should go.
	std::filesystem::create_directory(s / "taken.png");
	ProgramResult r = s.Run({"render", "--out", "taken.png"});
	EXPECT_EQ(r.status, 3);
	EXPECT_EQ(LastLine(r.err).rfind("sendra-sim: taken.png: cannot write the file", 0), 0u) << r.err;
	EXPECT_TRUE(std::filesystem::is_directory(s / "taken.png"));
}

TEST(RenderCommand, PicturesAnyVesselByNameLandedOrInFlightInItsOwnFrame) {
	Scratch s;
	const std::string root = ReleaseRoot(s);
	// The station's class names a mesh the release's copy lacks: a triangle of 10 m.
	s.Write("orbiter/Meshes/Wheel.msh", "MSHX1\nGROUPS 1\nGEOM 3 1\n0 0 0 0 0 -1\n10 0 0 0 0 -1\n0 10 0 0 0 -1\n0 2 1\n");
	const std::string scenario = "Delta-glider/Docked at ISS";
	ProgramResult r = s.Run({"render", scenario, "--root", root, "--vessel", "Luna-OB1", "--out", "wheel.png", "--quiet"});
	ASSERT_EQ(r.status, 0) << r.err;
	EXPECT_TRUE(ReadPngSize(s / "wheel.png").readable);
	ASSERT_EQ(s.Run({"render", scenario, "--root", root, "--out", "focus.png", "--quiet"}).status, 0);
	EXPECT_NE(s.Read("wheel.png"), s.Read("focus.png"));  // not the focus, the docked glider
	// A name the scenario lacks is a usage error that names what it has, and writes nothing.
	const std::pair<const char *, const char *> wrong[] = {
		{"Luna-0B1", "--vessel: the scenario has no vessel 'Luna-0B1'; did you mean 'Luna-OB1'?\n"},
		{"Enterprise", "--vessel: the scenario has no vessel 'Enterprise' (its vessels are 'ISS', 'Mir', 'Luna-OB1', "
		               "'GL-01', 'GL-02' and 'SH-01')\n"},
		{"", "--vessel: the vessel needs a name\n"}};
	for (const auto &[name, message] : wrong) {
		r = s.Run({"render", scenario, "--root", root, "--vessel", name, "--out", "no.png"});
		EXPECT_EQ(r.status, 2) << r.err;
		EXPECT_NE(r.err.find(std::string("sendra-sim: ") + message + "Run 'sendra-sim help render' for the usage.\n"),
		          std::string::npos)
			<< r.err;
		EXPECT_FALSE(std::filesystem::exists(s / "no.png"));
	}

	// The scenes: the plain station's mesh as its file has it, wherever it flies; the Sun over
	// the landed glider alone.
	sim::SessionOptions o;
	o.root = root;
	o.scenario = root + "/Scenarios/" + scenario + ".scn";
	std::ostringstream err;
	sim::Session session(o, err);
	host::Simulation &sim = session.simulation();
	auto scene = [&](const char *name) { return sim::VesselScene(sim, sim.FindVessel(name), sim::View::Iso); };
	sim::Scene wheel = scene("Luna-OB1"), docked = scene("GL-02"), landed = scene("GL-01");
	ASSERT_EQ(wheel.triangles.size(), 1u);
	EXPECT_EQ(wheel.triangles[0].p[1].y, 10);
	EXPECT_EQ(wheel.triangles[0].p[2].x, 10);
	EXPECT_FALSE(wheel.sun || docked.sun);
	ASSERT_TRUE(landed.sun);
	ASSERT_EQ(wheel.legend.size(), 3u);
	EXPECT_EQ(wheel.legend[0].text, "Luna-OB1 (Wheel)");
	EXPECT_EQ(wheel.legend[2].text, "in flight about Moon");
	ASSERT_EQ(docked.legend.size(), 3u);
	EXPECT_EQ(docked.legend[2].text, "in flight about Earth, riding on ISS");
	ASSERT_EQ(landed.legend.size(), 3u);
	EXPECT_NE(landed.legend[2].text.find("local solar time"), std::string::npos);

	// Of two rovers, the one that gave up the focus shows no HUD lines: only the focus paints.
	s.Write("two.scn", RoverScenario({{"A", 0, 0, 0}, {"B", 0.001, 0, 0}}));
	s.Write("drive.txt", "0.5 focus B\n");
	sim::DriveOptions d;
	d.session.root = sim::DefaultRoot();
	d.session.scenario = (s / "two.scn").string();
	d.script = (s / "drive.txt").string();
	d.duration = 1;
	sim::Session rovers(d.session, err);
	sim::Drive(rovers, sim::LoadDriveScript(d), d).ToEnd();
	host::Simulation &two = rovers.simulation();
	EXPECT_EQ(sim::VesselScene(two, two.FindVessel("A"), sim::View::Top).legend.size(), 3u);
	EXPECT_EQ(sim::VesselScene(two, two.FindVessel("B"), sim::View::Top).legend.size(), 6u);
}
