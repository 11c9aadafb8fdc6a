// track.svg: the thinning rule that bounds each path, and the map a run writes: one path per
// vessel from its start through every recorded frame, in metres of the body's surface, with
// start, end, heading arrows, contour lines over hills and a scale bar; names kept as text.
#include <gtest/gtest.h>

#include <cairo.h>

#include <algorithm>
#include <cmath>
#include <map>

#include "Drives.h"
#include "SimProgram.h"
#include "render/TrackMap.h"
#include "Xml.h"

using namespace render_testing;
using namespace sim_testing;

namespace {

struct MapPoint {
	double x, y;
};

std::vector<MapPoint> PolylinePoints(const Element &polyline) {
	std::vector<MapPoint> points;
	std::istringstream in(polyline.Attribute("points"));
	for (std::string pair; in >> pair;) {
		size_t comma = pair.find(',');
		points.push_back({std::stod(pair.substr(0, comma)), std::stod(pair.substr(comma + 1))});
	}
	return points;
}

std::vector<double> Times(const sim::TrackLog &log) {
	std::vector<double> t;
	for (const sim::TrackPoint &p : log.Points())
		t.push_back(p.simt);
	return t;
}

sim::TrackLog LogOf(size_t capacity, int n) {
	sim::TrackLog log(capacity);
	for (int i = 0; i < n; ++i)
		log.Add(sim::TrackPoint{static_cast<double>(i), 0, 0, 0});
	return log;
}

// The rows of trajectory.csv for one vessel.
size_t RowsOf(const Scratch &s, const std::string &folder, const std::string &vessel) {
	size_t rows = 0;
	for (const std::string &line : Lines(s.Read(folder + "/trajectory.csv")))
		rows += CsvFields(line).at(2) == vessel;
	return rows;
}

Document Map(const Scratch &s, const std::string &folder = "sendra-out") {
	Document doc = ParseXml(s.Read(folder + "/track.svg"));
	EXPECT_TRUE(doc.wellFormed) << doc.error;
	return doc;
}

// The terrain's shading under the map, decoded from the PNG it embeds: 0xRRGGBB per pixel.
std::vector<uint32_t> Shading(const Document &doc) {
	static const std::string digits = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
	std::string uri = doc.All("image", "id", "terrain").at(0)->Attribute("xlink:href"), png;
	uint32_t bits = 0, count = 0;
	for (size_t i = uri.find(',') + 1; i < uri.size() && digits.find(uri[i]) != std::string::npos; ++i) {
		bits = bits << 6 | static_cast<uint32_t>(digits.find(uri[i]));
		if ((count += 6) >= 8)
			png += static_cast<char>(bits >> (count -= 8) & 0xFF);
	}
	std::istringstream in(png);
	auto read = [](void *from, unsigned char *data, unsigned int n) {
		return static_cast<std::istream *>(from)->read(reinterpret_cast<char *>(data), n) ? CAIRO_STATUS_SUCCESS
		                                                                                 : CAIRO_STATUS_READ_ERROR;
	};
	cairo_surface_t *image = cairo_image_surface_create_from_png_stream(read, &in);
	std::vector<uint32_t> pixels;
	for (int y = 0; cairo_surface_status(image) == CAIRO_STATUS_SUCCESS && y < cairo_image_surface_get_height(image); ++y) {
		auto *row = cairo_image_surface_get_data(image) + y * cairo_image_surface_get_stride(image);
		for (int x = 0; x < cairo_image_surface_get_width(image); ++x)
			pixels.push_back(reinterpret_cast<const uint32_t *>(row)[x] & 0xFFFFFF);
	}
	cairo_surface_destroy(image);
	return pixels;
}

}  // namespace

TEST(TrackMap, APathKeepsEveryStrideThPositionAndTheLast) {
	// Up to the capacity, every position.
	EXPECT_EQ(Times(LogOf(8, 8)), (std::vector<double>{0, 1, 2, 3, 4, 5, 6, 7}));
	EXPECT_EQ(LogOf(8, 8).stride(), 1u);
	// One more: every second, the last among them.
	EXPECT_EQ(Times(LogOf(8, 9)), (std::vector<double>{0, 2, 4, 6, 8}));
	// 100 positions: the smallest power of two keeping at most 8 multiples is 16; 99 is last.
	sim::TrackLog log = LogOf(8, 100);
	EXPECT_EQ(log.stride(), 16u);
	EXPECT_EQ(Times(log), (std::vector<double>{0, 16, 32, 48, 64, 80, 96, 99}));
	EXPECT_EQ(log.added(), 100u);
	EXPECT_TRUE(LogOf(8, 0).Points().empty());

	// An hour at 60 frames a second stays within the capacity, however many frames come.
	sim::TrackLog hour = LogOf(sim::kMaxTrackPoints, 216000);
	EXPECT_LE(hour.Points().size(), sim::kMaxTrackPoints + 1);
	EXPECT_EQ(hour.Points().front().simt, 0);
	EXPECT_EQ(hour.Points().back().simt, 215999);
}

TEST(TrackMap, EachVesselsPathRunsFromItsStartThroughEveryRecordedFrame) {
	Scratch s;
	s.Write("two.scn", RoverScenario({{"Near", 10, 20, 0}, {"Far", 10.001, 20, 90}}));
	s.Write("drive.txt", "0 tap NUMPAD8\n0 key ADD down\n1 key ADD up\n");
	ProgramResult r = s.Run({"two.scn", "--script", "drive.txt", "--duration", "2", "--terrain", "flat", "--quiet"});
	ASSERT_EQ(r.status, 0) << r.err;
	Document doc = Map(s);
	std::vector<const Element *> vessels = doc.All("g", "class", "vessel");
	ASSERT_EQ(vessels.size(), 2u);
	EXPECT_EQ(vessels[0]->Attribute("data-vessel"), "Near");
	EXPECT_EQ(vessels[1]->Attribute("data-vessel"), "Far");
	std::vector<const Element *> paths = doc.All("polyline", "class", "path");
	ASSERT_EQ(paths.size(), 2u);
	EXPECT_EQ(PolylinePoints(*paths[0]).size(), 1 + RowsOf(s, "sendra-out", "Near"));
	EXPECT_EQ(PolylinePoints(*paths[1]).size(), 1 + RowsOf(s, "sendra-out", "Far"));
	EXPECT_EQ(RowsOf(s, "sendra-out", "Near"), 100u);
	EXPECT_EQ(doc.All("circle", "class", "start").size(), 2u);
	EXPECT_EQ(doc.All("rect", "class", "end").size(), 2u);
	EXPECT_EQ(doc.All("g", "id", "contours").size(), 0u);  // level ground
	EXPECT_EQ(doc.All("g", "id", "scale-bar").size(), 1u);

	// Recording every 7th frame: frames 7 to 98, then the last one.
	r = s.Run({"two.scn", "--script", "drive.txt", "--duration", "2", "--record-every", "7", "--out", "sparse", "--quiet"});
	ASSERT_EQ(r.status, 0) << r.err;
	Document sparse = Map(s, "sparse");
	paths = sparse.All("polyline", "class", "path");
	ASSERT_EQ(paths.size(), 2u);
	EXPECT_EQ(PolylinePoints(*paths[0]).size(), 1u + 14u + 1u);
}

TEST(TrackMap, TheBuiltInDrivesPathIsThinnedByTheRuleOverContouredHills) {
	Scratch s;
	ASSERT_EQ(s.Run({"--quiet"}).status, 0);
	Document doc = Map(s);
	std::vector<const Element *> paths = doc.All("polyline", "class", "path");
	ASSERT_EQ(paths.size(), 1u);
	// 6000 recorded frames: stride 2 keeps 3000 of them (frames 1, 3, ... 5999), then frame 6000.
	EXPECT_EQ(PolylinePoints(*paths[0]).size(), 1u + 3000u + 1u);
	size_t contours = 0;
	for (const Element &e : doc.elements)
		contours += e.name == "path" && !e.Attribute("data-elevation").empty();
	EXPECT_GE(contours, 2u);
	// An arrow every 5 s from the start to the end at 120 s.
	EXPECT_EQ(doc.All("path", "class", "heading").size(), 25u);
}

TEST(TrackMap, PathsAreMetresOfTheSurfaceNorthUpAndEastRight) {
	// Heading north-east on level ground at 1 m/s.
	Scratch s;
	s.Write("one.scn", RoverScenario({{"R", 30, 0, 45}}));  // on the equator, where the rover's step is true east
	s.Write("drive.txt", "0 tap NUMPAD8\n0 key ADD down\n2 key ADD up\n");
	ProgramResult r = s.Run({"one.scn", "--script", "drive.txt", "--duration", "20", "--terrain", "flat"});
	ASSERT_EQ(r.status, 0) << r.err;
	size_t at = r.out.find("distance driven: ");
	ASSERT_NE(at, std::string::npos);
	double driven = std::stod(r.out.substr(at + 17));
	ASSERT_GT(driven, 10);

	Document doc = Map(s);
	const Element *bar = doc.All("g", "id", "scale-bar").at(0);
	double pixelsPerMetre = std::stod(bar->Attribute("data-pixels")) / std::stod(bar->Attribute("data-metres"));
	std::vector<MapPoint> p = PolylinePoints(*doc.All("polyline", "class", "path").at(0));
	double dx = p.back().x - p.front().x, dy = p.back().y - p.front().y;
	EXPECT_GT(dx, 0);  // east is right
	EXPECT_LT(dy, 0);  // north is up
	EXPECT_NEAR(dx, -dy, 0.02);
	EXPECT_NEAR(std::hypot(dx, dy) / pixelsPerMetre, driven, driven * 0.002);
	const Element &svg = doc.elements.front();
	for (const MapPoint &q : p)
		ASSERT_TRUE(q.x > 0 && q.x < std::stod(svg.Attribute("width")) && q.y > 0 && q.y < std::stod(svg.Attribute("height")))
		    << q.x << "," << q.y;
	// Level ground is one mid grey, a little warm.
	std::vector<uint32_t> shading = Shading(doc);
	ASSERT_FALSE(shading.empty());
	EXPECT_EQ(std::count(shading.begin(), shading.end(), shading[0]), static_cast<long>(shading.size()));
	Rgb grey = Colour(shading[0]);
	EXPECT_TRUE(grey.r > 100 && grey.r < 140 && grey.r > grey.g && grey.g > grey.b) << std::hex << shading[0];
}

TEST(TrackMap, NamesOfAnyBytesStayTextInAWellFormedMap) {
	Scratch s;
	s.Write("names.scn", "BEGIN_SHIPS\nR&D <1> \"x\":Sendra2016\n  STATUS Landed Moon\n  POS 10 20\nEND\n"
	                     "Bad\xff name:Sendra2016\n  STATUS Landed Moon\n  POS 10.001 20\nEND\nEND_SHIPS\n");
	ProgramResult r = s.Run({"names.scn", "--duration", "0.1", "--quiet"});
	ASSERT_EQ(r.status, 0) << r.err;
	Document doc = Map(s);
	std::vector<const Element *> vessels = doc.All("g", "class", "vessel");
	ASSERT_EQ(vessels.size(), 2u);
	EXPECT_EQ(vessels[0]->Attribute("data-vessel"), "R&D <1> \"x\"");
	EXPECT_EQ(vessels[1]->Attribute("data-vessel"), "Bad? name");
	std::vector<const Element *> names = doc.All("text", "class", "name");
	ASSERT_EQ(names.size(), 2u);
	EXPECT_EQ(names[0]->text, "R&D <1> \"x\"");
}

TEST(TrackMap, VesselsInFlightHaveTheirPlaceInTheTrajectoryAndNoPathOnTheMap) {
	// Docked at ISS: a glider landed at Havana, another docked to the station, stations in orbit
	// of the Earth and the Moon, a shuttle landed on Mars; the focus is the docked glider.
	Scratch s;
	const std::string root = ReleaseRoot(s);
	ProgramResult r = s.Run({"Delta-glider/Docked at ISS", "--root", root, "--duration", "1", "--dt", "0.5", "--quiet"});
	ASSERT_EQ(r.status, 0) << r.err;
	std::vector<std::string> lines = Lines(s.Read("sendra-out/trajectory.csv"));
	std::vector<std::string> header = CsvFields(lines.at(0));
	auto column = [&](const std::string &name) { return std::find(header.begin(), header.end(), name) - header.begin(); };
	const std::vector<std::string> flight{"ref_body", "x_m", "y_m", "z_m", "vx_m_s", "vy_m_s", "vz_m_s"};
	ASSERT_EQ(std::vector<std::string>(header.end() - 8, header.end() - 7), std::vector<std::string>{"heading_deg"});
	EXPECT_EQ(std::vector<std::string>(header.end() - 7, header.end()), flight);
	std::map<std::string, std::vector<std::vector<std::string>>> rows;  // by vessel, frame by frame
	for (size_t i = 1; i < lines.size(); ++i) {
		std::vector<std::string> f = CsvFields(lines[i]);
		ASSERT_EQ(f.size(), header.size()) << lines[i];
		rows[f[2]].push_back(f);
	}
	ASSERT_EQ(rows.size(), 6u);
	auto vec = [&](const std::vector<std::string> &f, const char *x) {
		size_t c = static_cast<size_t>(column(x));
		return _V(std::stod(f[c]), std::stod(f[c + 1]), std::stod(f[c + 2]));
	};
	for (const auto &[name, frames] : rows) {
		SCOPED_TRACE(name);
		ASSERT_EQ(frames.size(), 2u);
		const bool landed = name == "GL-01" || name == "SH-01";
		// Landed: the place on the ground and the motion, no flight; in flight, the reverse,
		// the attitude and the rudder in both.
		for (const char *c : {"lng", "lat", "hdg", "alt", "ground_speed_m_s", "distance_m", "east_m", "north_m", "heading_deg"})
			EXPECT_EQ(frames[0][static_cast<size_t>(column(c))].empty(), !landed) << c;
		for (const std::string &c : flight)
			EXPECT_EQ(frames[0][static_cast<size_t>(column(c))].empty(), landed) << c;
		for (const char *c : {"arot_x", "rudder"})
			EXPECT_FALSE(frames[0][static_cast<size_t>(column(c))].empty()) << c;
		if (landed)
			continue;
		EXPECT_EQ(frames[0][static_cast<size_t>(column("ref_body"))], name == "Luna-OB1" ? "Moon" : "Earth");
		// Metres and metres per second: the step between the frames is the velocity's.
		VECTOR3 p0 = vec(frames[0], "x_m"), p1 = vec(frames[1], "x_m"), v = vec(frames[0], "vx_m_s");
		EXPECT_LT(length(p1 - p0 - (v + vec(frames[1], "vx_m_s")) * 0.25), 0.01);
		if (name == "ISS") {
			EXPECT_NEAR(length(p0), 6734919, 6734919 * 0.001);
			EXPECT_NEAR(length(v), 7690, 20);
		}
	}
	// The docked glider rides with the station.
	EXPECT_LT(length(vec(rows["GL-02"][1], "x_m") - vec(rows["ISS"][1], "x_m")), 100);
	EXPECT_NEAR(std::stod(rows["GL-01"][0][static_cast<size_t>(column("lng"))]), -82.4 * RAD, 0.1 * RAD);

	// The map is the landed glider's, from its start, at the scale of its surroundings; the
	// others are named, not drawn at longitude and latitude 0.
	Document doc = Map(s);
	std::vector<const Element *> vessels = doc.All("g", "class", "vessel");
	ASSERT_EQ(vessels.size(), 1u);
	EXPECT_EQ(vessels[0]->Attribute("data-vessel"), "GL-01");
	EXPECT_LE(std::stod(doc.All("g", "id", "scale-bar").at(0)->Attribute("data-metres")), 10);
	std::string texts;
	for (const Element &e : doc.elements)
		texts += e.name == "text" ? e.text + "\n" : "";
	for (const char *line : {"; metres east and north of GL-01's start\n", "\nnot on Earth: SH-01\n",
	                         "\nin flight, not drawn: ISS, Mir, Luna-OB1, GL-02\n"})
		EXPECT_NE(texts.find(line), std::string::npos) << line << texts;
}
