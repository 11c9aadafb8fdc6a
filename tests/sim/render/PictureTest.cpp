// Pictures checked by what they show: the visible side and the mirror sense of the views on
// hand-made scenes, hidden surfaces and beacons; then the rover itself filling its pictures,
// its left door, swivelled wheels and lights changing what they should and nothing else.
#include <gtest/gtest.h>

#include <cmath>
#include <regex>

#include "Drives.h"
#include "Xml.h"
#include "sendra_host/ScenarioIO.h"
#include "sendra_host/Simulation.h"
#include "sendra_host/VesselView.h"

using namespace render_testing;

namespace {

sim::SceneTriangle Tri(VECTOR3 a, VECTOR3 b, VECTOR3 c, COLOUR4 colour) {
	sim::SceneTriangle t;
	t.p[0] = a, t.p[1] = b, t.p[2] = c;
	t.colour = colour;
	return t;
}

const COLOUR4 kRed{1, 0, 0, 1}, kGreen{0, 1, 0, 1}, kBlue{0, 0, 1, 1}, kYellow{1, 1, 0, 1};

// The colour of the picture at the centre of a triangle.
Rgb ColourAt(const sim::Image &image, const sim::Viewpoint &view, const sim::SceneTriangle &t) {
	sim::Viewpoint::Point p = view.Project((t.p[0] + t.p[1] + t.p[2]) / 3.0);
	return Colour(image.At(static_cast<int>(p.x), static_cast<int>(p.y)));
}

// Pixels of the rover: those that differ from the same picture without it.
Box RoverPixels(const sim::Scene &scene, sim::View view, size_t *count) {
	sim::Scene empty = scene;
	empty.triangles.clear();
	empty.cones.clear();
	empty.beacons.clear();
	sim::Image with = sim::RenderImage(scene, view, kWidth, kHeight);
	sim::Image without = sim::RenderImage(empty, view, kWidth, kHeight);
	Box box;
	*count = 0;
	for (int y = 0; y < kHeight; ++y)
		for (int x = 0; x < kWidth; ++x)
			if (with.At(x, y) != without.At(x, y)) {
				box.Include(x, y);
				++*count;
			}
	return box;
}

// Where the given groups of mesh 0 lie on the picture, in either scene.
Box GroupsOnPicture(const std::vector<UINT> &groups, sim::View view, const sim::Scene &a, const sim::Scene &b) {
	Box box;
	for (const sim::Scene *scene : {&a, &b}) {
		sim::Viewpoint v = sim::ViewFor(*scene, view, kWidth, kHeight);
		for (const sim::SceneTriangle &t : scene->triangles)
			if (t.mesh == 0 && std::find(groups.begin(), groups.end(), t.group) != groups.end())
				for (const VECTOR3 &p : t.p) {
					sim::Viewpoint::Point q = v.Project(p);
					box.Include(q.x, q.y);
				}
	}
	return box;
}

// The groups moved by the animations whose states differ between two drives.
std::vector<UINT> MovedGroups(const Animations &a, const Animations &b) {
	std::set<UINT> moved;
	for (size_t i = 0; i < a.states.size() && i < b.states.size(); ++i)
		if (a.states[i] != b.states[i])
			moved.insert(a.groups[i].begin(), a.groups[i].end());
	return {moved.begin(), moved.end()};
}

struct Changes {
	size_t inside = 0, outside = 0;
};
Changes ChangedPixels(const sim::Image &a, const sim::Image &b, const Box &region) {
	Changes c;
	for (int y = 0; y < a.height; ++y)
		for (int x = 0; x < a.width; ++x)
			if (a.At(x, y) != b.At(x, y))
				++(region.Contains(x, y) ? c.inside : c.outside);
	return c;
}

// Two moments of the rover seen the same way: the same frame, and the same legend so that
// only the parts can differ.
void ExpectSameFrame(sim::Scene &a, sim::Scene &b, sim::View view) {
	b.legend = a.legend;
	sim::Viewpoint va = sim::ViewFor(a, view, kWidth, kHeight), vb = sim::ViewFor(b, view, kWidth, kHeight);
	ASSERT_EQ(va.pixelsPerMetre(), vb.pixelsPerMetre());
	ASSERT_EQ(va.Project(_V(0, 0, 0)).x, vb.Project(_V(0, 0, 0)).x);
	ASSERT_EQ(va.Project(_V(0, 0, 0)).y, vb.Project(_V(0, 0, 0)).y);
}

}  // namespace

TEST(Pictures, TheClockwiseSideIsSeenAndTheVesselsRightIsOnTheLeftFromTheFront) {
	// Red and green face forward (clockwise seen from ahead), on the vessel's right and left;
	// blue and yellow face backward, half a metre further forward, over the same places.
	sim::Scene scene;
	scene.triangles = {
		Tri(_V(0.5, 0, 0), _V(1.5, 0, 0), _V(1, 1, 0), kRed),
		Tri(_V(-1.5, 0, 0), _V(-0.5, 0, 0), _V(-1, 1, 0), kGreen),
		Tri(_V(0.5, 0, 0.5), _V(1, 1, 0.5), _V(1.5, 0, 0.5), kBlue),
		Tri(_V(-1.5, 0, 0.5), _V(-1, 1, 0.5), _V(-0.5, 0, 0.5), kYellow),
	};
	sim::Viewpoint front = sim::ViewFor(scene, sim::View::Front, kWidth, kHeight);
	sim::Image seen = sim::RenderImage(scene, sim::View::Front, kWidth, kHeight);
	// The backward faces are nearer to this viewer but not drawn.
	Rgb right = ColourAt(seen, front, scene.triangles[0]), left = ColourAt(seen, front, scene.triangles[1]);
	EXPECT_GT(right.r, 60);
	EXPECT_EQ(right.b, 0);
	EXPECT_GT(left.g, 60);
	EXPECT_EQ(left.b, 0);
	EXPECT_LT(front.Project(_V(1, 0.5, 0)).x, front.Project(_V(-1, 0.5, 0)).x);

	sim::Viewpoint rear = sim::ViewFor(scene, sim::View::Rear, kWidth, kHeight);
	seen = sim::RenderImage(scene, sim::View::Rear, kWidth, kHeight);
	right = ColourAt(seen, rear, scene.triangles[2]);
	left = ColourAt(seen, rear, scene.triangles[3]);
	EXPECT_GT(right.b, 60);
	EXPECT_EQ(right.r, 0);
	EXPECT_GT(left.r, 60);
	EXPECT_GT(left.g, 60);
	EXPECT_GT(rear.Project(_V(1, 0.5, 0)).x, rear.Project(_V(-1, 0.5, 0)).x);

	// Seen from its left the vessel's front is on the left; from above, its front is up.
	sim::Viewpoint side = sim::ViewFor(scene, sim::View::Left, kWidth, kHeight);
	EXPECT_LT(side.Project(_V(0, 0, 1)).x, side.Project(_V(0, 0, -1)).x);
	sim::Viewpoint top = sim::ViewFor(scene, sim::View::Top, kWidth, kHeight);
	EXPECT_LT(top.Project(_V(0, 0, 1)).y, top.Project(_V(0, 0, -1)).y);
	EXPECT_LT(top.Project(_V(-1, 0, 0)).x, top.Project(_V(1, 0, 0)).x);
}

TEST(Pictures, TheNearerSurfaceHidesTheFartherWhicheverComesFirst) {
	// Seen from behind: red is nearer.
	sim::SceneTriangle nearRed = Tri(_V(-1, -1, 0), _V(-1, 1, 0), _V(1, -1, 0), kRed);
	sim::SceneTriangle farBlue = Tri(_V(-2, -2, 1), _V(-2, 2, 1), _V(2, -2, 1), kBlue);
	sim::Scene a, b;
	a.triangles = {nearRed, farBlue};
	b.triangles = {farBlue, nearRed};
	sim::Image ia = sim::RenderImage(a, sim::View::Rear, kWidth, kHeight);
	EXPECT_EQ(ia.pixels, sim::RenderImage(b, sim::View::Rear, kWidth, kHeight).pixels);
	sim::Viewpoint v = sim::ViewFor(a, sim::View::Rear, kWidth, kHeight);
	Rgb overlap = ColourAt(ia, v, nearRed);
	EXPECT_GT(overlap.r, 60);
	EXPECT_EQ(overlap.b, 0);
	// An SVG draws the farther surface first, judged by its middle: a small picture, whose
	// triangles need no cutting, of a surface leaning back beside a nearer upright one.
	sim::Scene apart;
	apart.triangles = {Tri(_V(-1, -1, 1), _V(-1, 1, 1), _V(1, -1, 1), kRed),
	                   Tri(_V(2, -1, 1.1), _V(2, 1, 4), _V(4, -1, 1.1), kBlue)};
	std::ostringstream svg;
	sim::WritePicture(apart, sim::View::Rear, 48, 36, sim::PictureFormat::Svg, svg);
	std::string order;  // B for blue, R for red
	Document drawing = ParseXml(svg.str());
	for (const Element *path : drawing.All("path")) {
		std::string style = path->Attribute("style");
		order += style.find("fill:rgb(0%,0%,") != std::string::npos ? "B" : style.find(",0%,0%)") != std::string::npos ? "R" : "";
	}
	EXPECT_EQ(order, "BR");

	// Glass lets what is behind it show through: 40 % of the glass's own colour over 60 % of
	// what is behind, in every channel.
	a.triangles[0].colour = COLOUR4{0.2f, 1, 0.5f, 1};
	Rgb solid = ColourAt(sim::RenderImage(a, sim::View::Rear, kWidth, kHeight), v, nearRed);
	a.triangles[0].colour.a = 0.4f;
	Rgb glass = ColourAt(sim::RenderImage(a, sim::View::Rear, kWidth, kHeight), v, nearRed);
	b.triangles = {farBlue};
	Rgb behind = ColourAt(sim::RenderImage(b, sim::View::Rear, kWidth, kHeight), v, nearRed);
	EXPECT_NEAR(glass.r, 0.4 * solid.r + 0.6 * behind.r, 1.5);
	EXPECT_NEAR(glass.g, 0.4 * solid.g + 0.6 * behind.g, 1.5);
	EXPECT_NEAR(glass.b, 0.4 * solid.b + 0.6 * behind.b, 1.5);
	EXPECT_GT(glass.g, 40);
	EXPECT_GT(glass.b, 40);
}

// A white ball of radius 1 at the origin, of small faces each wound both ways so that its
// outer side is seen whichever way it turns.
sim::Scene WhiteBall() {
	auto at = [](int i, int j) {
		double lat = PI * i / 48, lng = PI * j / 48;
		return _V(std::sin(lat) * std::cos(lng), std::cos(lat), std::sin(lat) * std::sin(lng));
	};
	const COLOUR4 white{1, 1, 1, 1};
	sim::Scene ball;
	for (int i = 0; i < 48; ++i)
		for (int j = 0; j < 96; ++j) {
			VECTOR3 a = at(i, j), b = at(i + 1, j), c = at(i + 1, j + 1), d = at(i, j + 1);
			ball.triangles.insert(ball.triangles.end(), {Tri(a, b, c, white), Tri(a, c, b, white)});
			if (i > 0)
				ball.triangles.insert(ball.triangles.end(), {Tri(a, c, d, white), Tri(a, d, c, white)});
		}
	return ball;
}

TEST(Pictures, AWhiteBallIsWhiteWhereItFacesTheLightAndNowhereDarkerThanItsShade) {
	sim::Scene ball = WhiteBall();
	sim::Image image = sim::RenderImage(ball, sim::View::Iso, kWidth, kHeight);
	sim::Viewpoint v = sim::ViewFor(ball, sim::View::Iso, kWidth, kHeight);
	sim::Viewpoint::Point centre = v.Project(_V(0, 0, 0));
	int darkest = 3 * 255, brightest = 0;
	for (int y = 0; y < kHeight; ++y)
		for (int x = 0; x < kWidth; ++x)
			if (std::hypot(x - centre.x, y - centre.y) < 0.9 * v.pixelsPerMetre()) {
				darkest = std::min(darkest, Brightness(image.At(x, y)));
				brightest = std::max(brightest, Brightness(image.At(x, y)));
			}
	EXPECT_EQ(brightest, 3 * 255);
	EXPECT_GT(darkest, 3 * 255 / 4);
}

// Under the Sun, in vacuum: the side facing it in full light, the side away from it in the
// little light the ground throws back, and by night all of it dim.
TEST(Pictures, TheSunLightsTheBallWhereItFacesItAndTheNightLeavesItDim) {
	sim::Scene ball = WhiteBall();
	const sim::Viewpoint fixed = sim::ViewFor(ball, sim::View::Iso, kWidth, kHeight);
	// Towards the viewer and up, and its opposite in the viewer's half of the ball.
	const VECTOR3 lit = unit(fixed.up() * 0.8 - fixed.forward() * 0.6);
	const VECTOR3 away = unit(fixed.right() * 0.1 - fixed.up() * 0.8 - fixed.forward() * 0.6);
	ball.sun = lit;
	for (bool up : {true, false}) {
		ball.sunUp = up;
		sim::Image image = sim::RenderImage(ball, sim::View::Iso, kWidth, kHeight);
		sim::Viewpoint v = sim::ViewFor(ball, sim::View::Iso, kWidth, kHeight);
		auto brightness = [&](const VECTOR3 &p) {
			sim::Viewpoint::Point q = v.Project(p * 0.98);
			return Brightness(image.At(static_cast<int>(q.x), static_cast<int>(q.y)));
		};
		EXPECT_NEAR(brightness(lit), up ? 3 * 255 : 54, 6) << (up ? "by day" : "by night");
		EXPECT_NEAR(brightness(away), up ? 168 : 54, 6) << (up ? "by day" : "by night");
	}
}

TEST(Pictures, ATriangleWithANearlyLevelEdgeIsDrawnWhereItLies) {
	// The bottom edge rises by 1e-13 m: its bound on each row lies far beyond the picture.
	sim::Scene scene;
	scene.triangles = {Tri(_V(-1, 0, 0), _V(0, 1, 0), _V(1, 1e-13, 0), kRed)};
	for (sim::PictureFormat format : {sim::PictureFormat::Png, sim::PictureFormat::Svg}) {
		std::ostringstream file;
		sim::WritePicture(scene, sim::View::Rear, kWidth, kHeight, format, file);
		EXPECT_GT(file.str().size(), 100u);
	}
	sim::Image image = sim::RenderImage(scene, sim::View::Rear, kWidth, kHeight);
	sim::Viewpoint v = sim::ViewFor(scene, sim::View::Rear, kWidth, kHeight);
	EXPECT_GT(ColourAt(image, v, scene.triangles[0]).r, 60);
	sim::Viewpoint::Point below = v.Project(_V(0, -0.2, 0));
	EXPECT_LT(Colour(image.At(static_cast<int>(below.x), static_cast<int>(below.y))).r, 60);
	// Its slanted edges are smoothed at four samples a pixel: an edge's pixel holds the
	// triangle's colour over a quarter, a half or three quarters of it.
	int red = ColourAt(image, v, scene.triangles[0]).r, mixed = 0, otherwise = 0;
	for (int y = static_cast<int>(v.Project(_V(0, 0.9, 0)).y); y < v.Project(_V(0, 0.1, 0)).y; ++y)
		for (int x = 0; x < kWidth; ++x) {
			int sky = Colour(image.At(0, y)).r;
			double quarters = 4.0 * (Colour(image.At(x, y)).r - sky) / (red - sky);
			otherwise += std::fabs(quarters - std::round(quarters)) > 0.1;
			mixed += std::round(quarters) > 0 && std::round(quarters) < 4;
		}
	EXPECT_GT(mixed, 100);
	EXPECT_EQ(otherwise, 0);

	// Whichever corner comes first, a triangle is filled down to its lowest one.
	scene.triangles = {Tri(_V(0, -1, 0), _V(-1, 1, 0), _V(1, 1, 0), kRed)};
	image = sim::RenderImage(scene, sim::View::Rear, kWidth, kHeight);
	v = sim::ViewFor(scene, sim::View::Rear, kWidth, kHeight);
	sim::Viewpoint::Point tip = v.Project(_V(0, -0.8, 0));
	EXPECT_GT(Colour(image.At(static_cast<int>(tip.x), static_cast<int>(tip.y))).r, 60);
}

// A picture whose triangles would cost more than it may is drawn at one sample a pixel, or,
// when that costs too much too, with its legend alone and a word of why.
TEST(Pictures, APictureTooCostlyToDrawIsDrawnCoarserOrAsItsLegendAlone) {
	sim::Scene scene, moved;
	scene.triangles = {Tri(_V(-1, -1, 0), _V(-1, 1, 0), _V(1, -1, 0), kRed), Tri(_V(1, 1, 0), _V(1, -1, 0), _V(-1, 1, 0), kBlue)};
	scene.legend = {{"Rover", 0xFFFFFF}};
	moved = scene;
	moved.triangles[1] = Tri(_V(0, 0, 0), _V(0, 1, 0), _V(1, 0, 0), kGreen);
	const double cost = sim::DrawCost(scene, sim::View::Rear, kWidth, kHeight);
	// Two triangles filling most of the picture, and a visit per band.
	EXPECT_GT(cost, 0.8 * kWidth * kHeight);
	EXPECT_LT(cost, 1.1 * kWidth * kHeight);
	auto draw = [&](const sim::Scene &sc, double maxCost, sim::PictureFormat format, std::string *leftOut = nullptr) {
		std::ostringstream file;
		std::string left = sim::WritePicture(sc, sim::View::Rear, kWidth, kHeight, format, file, maxCost);
		if (leftOut)
			*leftOut = left;
		else
			EXPECT_EQ(left, "");
		return file.str();
	};
	const sim::PictureFormat png = sim::PictureFormat::Png, svg = sim::PictureFormat::Svg;
	const std::string whole = draw(scene, INFINITY, png);
	EXPECT_EQ(draw(scene, 4 * cost, png), whole);
	const std::string coarse = draw(scene, 3.9 * cost, png);
	EXPECT_NE(coarse, whole);
	EXPECT_EQ(draw(scene, cost, png), coarse);
	std::string why, whyMoved;
	const std::string bare = draw(scene, 0.9 * cost, png, &why);
	EXPECT_EQ(why, "the vessel's 2 triangles would take too long to draw, even at one sample a pixel; the picture "
	               "shows its legend only");
	EXPECT_EQ(draw(moved, 0.5 * cost, png, &whyMoved), bare) << "the triangles are not drawn";
	EXPECT_NE(bare, coarse);
	// Drawings compared without the number cairo gives each surface it makes.
	auto drawing = [&](const sim::Scene &sc, double maxCost) {
		std::string left;
		return std::regex_replace(draw(sc, maxCost, svg, &left), std::regex("surface[0-9]+"), "surface");
	};
	EXPECT_TRUE(drawing(scene, 0.9 * cost) != drawing(scene, INFINITY));
	EXPECT_TRUE(drawing(scene, 0.9 * cost) == drawing(moved, 0.5 * cost));
}

TEST(Pictures, BeaconsShineInTheirColoursUnlessSomethingHidesThem) {
	sim::Scene scene;
	scene.triangles = {Tri(_V(-2, -2, 0), _V(-2, 2, 0), _V(2, -2, 0), COLOUR4{0.5f, 0.5f, 0.5f, 1})};
	// Seen from behind: the red beacon is in front of the wall, the green one behind it.
	scene.beacons = {{_V(-1, -1, -0.3), _V(1, 0, 0), 0.1}, {_V(-1, -0.5, 0.4), _V(0, 1, 0), 0.1},
	                 {_V(1, 1, -0.3), _V(1, 0, 0), 0.5}};
	sim::Scene bare = scene;
	bare.beacons.clear();
	sim::Image lit = sim::RenderImage(scene, sim::View::Rear, kWidth, kHeight);
	sim::Image dark = sim::RenderImage(bare, sim::View::Rear, kWidth, kHeight);
	sim::Viewpoint v = sim::ViewFor(scene, sim::View::Rear, kWidth, kHeight);
	double r = std::max(3.0, 0.1 * v.pixelsPerMetre());

	sim::Viewpoint::Point red = v.Project(scene.beacons[0].pos);
	EXPECT_GT(Brightness(lit.At(static_cast<int>(red.x), static_cast<int>(red.y))), 600);  // a white core
	Rgb glow = Colour(lit.At(static_cast<int>(red.x + 0.6 * r), static_cast<int>(red.y)));
	EXPECT_GT(glow.r, glow.g + 40);
	int ring = 255;  // the dark ring around the core, where the glow is still its full red
	for (double dx = 0.3 * r - 1.5; dx <= 0.3 * r + 1.5; dx += 0.5)
		ring = std::min(ring, Colour(lit.At(static_cast<int>(red.x + dx), static_cast<int>(red.y))).r);
	EXPECT_LT(ring, glow.r - 40);
	sim::Viewpoint::Point green = v.Project(scene.beacons[1].pos);
	for (int dx = -2; dx <= 2; ++dx)
		EXPECT_EQ(lit.At(static_cast<int>(green.x) + dx, static_cast<int>(green.y)),
		          dark.At(static_cast<int>(green.x) + dx, static_cast<int>(green.y)));
	// A large one over the sky: its glow is round, still tinting the sky near its rim all round.
	sim::Viewpoint::Point big = v.Project(scene.beacons[2].pos);
	double rim = 0.95 * 0.5 * v.pixelsPerMetre();
	for (int k = 0; k < 16; ++k) {
		int x = static_cast<int>(big.x + rim * std::cos((k + 0.5) * PI / 8));
		int y = static_cast<int>(big.y + rim * std::sin((k + 0.5) * PI / 8));
		EXPECT_NE(lit.At(x, y), dark.At(x, y)) << "direction " << k;
	}
	// Nor does a light's cone behind the wall show through it.
	sim::Scene cone = bare;
	cone.cones = {{_V(-1.5, -1.5, 0.5), _V(1, 0, 0), 0.3, 1, COLOUR4{1, 1, 1, 1}}};
	EXPECT_TRUE(sim::RenderImage(cone, sim::View::Rear, kWidth, kHeight).pixels == dark.pixels);
}

TEST(Pictures, TheRoverFillsEveryViewWithoutTouchingTheEdges) {
	sim::Scene scene = SceneAfter("", 0, sim::View::Iso);
	ASSERT_GT(scene.triangles.size(), 1000u);
	EXPECT_EQ(scene.legend.front().text, "Sendra-1 (Sendra2016)");
	EXPECT_EQ(scene.legend[1].text, "t = 0.00 s, iso view");
	// Lit by the Sun over the rover, which the legend says: up in the east of a rover facing north.
	EXPECT_EQ(scene.legend[2].text, "the Sun 25° up in the east, local solar time 07:41");
	ASSERT_TRUE(scene.sun && scene.sunUp);
	EXPECT_GT(scene.sun->x, 0.8);
	for (sim::View view : {sim::View::Iso, sim::View::Front, sim::View::Rear, sim::View::Left, sim::View::Right,
	                       sim::View::Top}) {
		size_t count = 0;
		Box box = RoverPixels(scene, view, &count);
		const char *name = sim::ViewName(view);
		// It reaches across most of the picture one way or the other ...
		EXPECT_TRUE(box.x1 - box.x0 > 0.75 * kWidth || box.y1 - box.y0 > 0.6 * kHeight) << name;
		// ... stays clear of its edges ...
		EXPECT_GT(box.x0, 4) << name;
		EXPECT_GT(box.y0, 4) << name;
		EXPECT_LT(box.x1, kWidth - 5) << name;
		EXPECT_LT(box.y1, kHeight - 5) << name;
		// ... and covers a fair share of it.
		double share = static_cast<double>(count) / (kWidth * kHeight);
		EXPECT_GT(share, 0.15) << name;
		EXPECT_LT(share, 0.8) << name;
		// True to scale: the axes' metres, as seen across the picture's plane, square to twice
		// the scale's square whichever way the view looks.
		sim::Viewpoint v = sim::ViewFor(scene, view, kWidth, kHeight);
		sim::Viewpoint::Point o = v.Project(_V(0, 0, 0));
		double squares = 0;
		for (const VECTOR3 &axis : {_V(1, 0, 0), _V(0, 1, 0), _V(0, 0, 1)}) {
			sim::Viewpoint::Point a = v.Project(axis);
			squares += (a.x - o.x) * (a.x - o.x) + (a.y - o.y) * (a.y - o.y);
		}
		EXPECT_NEAR(squares / (v.pixelsPerMetre() * v.pixelsPerMetre()), 2, 1e-9) << name;
		// A scene far from the origin is in the middle across all the same.
		sim::Scene far;
		far.triangles = {Tri(_V(40, 30, 20), _V(43, 30, 20), _V(40, 32, 23), kRed)};
		sim::Viewpoint f = sim::ViewFor(far, view, kWidth, kHeight);
		double lo = kWidth, hi = 0;
		for (const VECTOR3 &p : far.triangles[0].p) {
			lo = std::min(lo, f.Project(p).x);
			hi = std::max(hi, f.Project(p).x);
		}
		EXPECT_NEAR((lo + hi) / 2, kWidth / 2.0, 1e-6) << name;
	}
}

TEST(Pictures, TheLeftDoorOpeningChangesTheSideViewOnlyWhereTheDoorIs) {
	Animations shut, opened;
	sim::Scene closed = SceneAfter("", 12, sim::View::Left, &shut);
	sim::Scene open = SceneAfter("0.1 tap 1\n", 12, sim::View::Left, &opened);  // 10 s to open
	ExpectSameFrame(closed, open, sim::View::Left);
	std::vector<UINT> door = MovedGroups(shut, opened);
	ASSERT_FALSE(door.empty());
	Box region = GroupsOnPicture(door, sim::View::Left, closed, open).Grown(2);
	Changes c = ChangedPixels(sim::RenderImage(closed, sim::View::Left, kWidth, kHeight),
	                          sim::RenderImage(open, sim::View::Left, kWidth, kHeight), region);
	EXPECT_GT(c.inside, 2000u);
	EXPECT_EQ(c.outside, 0u);
}

TEST(Pictures, SwivelledWheelsChangeTheTopViewAtTheWheelsAndDials) {
	Animations ahead, swivelled;
	sim::Scene straight = SceneAfter("", 6, sim::View::Top, &ahead);
	sim::Scene turned = SceneAfter("0.1 key 6 down\n5.1 key 6 up\n", 6, sim::View::Top, &swivelled);  // 90 degrees
	ExpectSameFrame(straight, turned, sim::View::Top);
	// The wheels, their swivel and roll, and the dials that turn with the swivel.
	std::vector<UINT> moved = MovedGroups(ahead, swivelled);
	sim::Image a = sim::RenderImage(straight, sim::View::Top, kWidth, kHeight);
	sim::Image b = sim::RenderImage(turned, sim::View::Top, kWidth, kHeight);
	Box movedRegion = GroupsOnPicture(moved, sim::View::Top, straight, turned).Grown(2);
	EXPECT_GT(ChangedPixels(a, b, movedRegion).inside, 300u);
	// Nothing else changes.
	std::vector<Box> parts;
	for (UINT g : moved)
		parts.push_back(GroupsOnPicture({g}, sim::View::Top, straight, turned).Grown(2));
	size_t elsewhere = 0;
	for (int y = 0; y < kHeight; ++y)
		for (int x = 0; x < kWidth; ++x)
			if (a.At(x, y) != b.At(x, y) &&
			    std::none_of(parts.begin(), parts.end(), [&](const Box &p) { return p.Contains(x, y); }))
				++elsewhere;
	EXPECT_EQ(elsewhere, 0u);
}

TEST(Pictures, LightsOnBrightenTheirConesAndAddTheBeacons) {
	sim::Scene off = SceneAfter("", 1, sim::View::Iso);
	sim::Scene on = SceneAfter("0.1 tap 7\n", 1, sim::View::Iso);
	EXPECT_TRUE(off.cones.empty());
	EXPECT_TRUE(off.beacons.empty());
	ASSERT_EQ(on.cones.size(), 4u);
	EXPECT_EQ(on.beacons.size(), 8u);
	ExpectSameFrame(off, on, sim::View::Iso);
	sim::Image dark = sim::RenderImage(off, sim::View::Iso, kWidth, kHeight);
	sim::Image lit = sim::RenderImage(on, sim::View::Iso, kWidth, kHeight);
	size_t brighter = 0, darker = 0;
	for (size_t i = 0; i < lit.pixels.size(); ++i) {
		int d = Brightness(lit.pixels[i]) - Brightness(dark.pixels[i]);
		brighter += d > 30;
		darker += d < -30;
	}
	EXPECT_GT(brighter, lit.pixels.size() / 20);
	EXPECT_LT(darker, brighter / 20);  // the rings that outline the beacons

	// Halfway along each cone that does not point away from the viewer, the picture is lit.
	sim::Viewpoint v = sim::ViewFor(on, sim::View::Iso, kWidth, kHeight);
	int checked = 0;
	for (const sim::SceneCone &c : on.cones) {
		if (dotp(c.axis, v.forward()) > 1e-9)
			continue;
		sim::Viewpoint::Point p = v.Project(c.apex + c.axis * (c.length / 2));
		int x = static_cast<int>(p.x), y = static_cast<int>(p.y);
		ASSERT_TRUE(x >= 0 && y >= 0 && x < kWidth && y < kHeight);
		EXPECT_GT(Brightness(lit.At(x, y)), Brightness(dark.At(x, y)) + 30);
		// Alone before the background, the light fades along the cone, which lets the
		// background show through even near the light: it goes less than half way to white.
		sim::Scene alone = on, none;
		alone.triangles.clear(), alone.beacons.clear(), alone.cones = {c};
		none = alone, none.cones.clear();
		sim::Image glow = sim::RenderImage(alone, sim::View::Iso, kWidth, kHeight);
		sim::Image back = sim::RenderImage(none, sim::View::Iso, kWidth, kHeight);
		std::vector<int> gains, room;
		for (double along : {0.2, 0.5, 0.8}) {
			sim::Viewpoint::Point q = v.Project(c.apex + c.axis * (c.length * along));
			int qx = static_cast<int>(q.x), qy = static_cast<int>(q.y);
			gains.push_back(Brightness(glow.At(qx, qy)) - Brightness(back.At(qx, qy)));
			room.push_back(3 * 255 - Brightness(back.At(qx, qy)));
		}
		EXPECT_TRUE(gains[0] > gains[1] + 10 && gains[1] > gains[2] + 10) << gains[0] << " " << gains[1] << " " << gains[2];
		EXPECT_LT(gains[0], room[0] / 2);
		++checked;
	}
	EXPECT_EQ(checked, 2);  // the front and the left light
}

TEST(Pictures, AVesselWithoutAVisualIsPosedAsItsVisualWouldBe) {
	auto driveWithDoorOpen = [](double visualRange) {
		host::SimOptions o;
		o.root = sim::DefaultRoot();
		o.visualRange = visualRange;
		auto sim = std::make_unique<host::Simulation>(o);
		host::LoadScenario(*sim, host::ParseScenario(sim_testing::RoverScenario({{"R", 10, 20, 30}}), "test.scn"));
		sim->KeyDown(OAPI_KEY_1);
		sim->Frame(0.1);
		sim->KeyUp(OAPI_KEY_1);
		for (int i = 0; i < 40; ++i)
			sim->Frame(0.1);
		return sim;
	};
	auto shown = driveWithDoorOpen(5000), unseen = driveWithDoorOpen(0);
	const host::VesselView a(shown->focus()), b(unseen->focus());
	ASSERT_TRUE(a.visual());
	ASSERT_FALSE(b.visual());
	sim::Scene sa = sim::CaptureScene(a, ""), sb = sim::CaptureScene(b, ""), again = sim::CaptureScene(b, "");
	ASSERT_EQ(sa.triangles.size(), sb.triangles.size());
	for (size_t i = 0; i < sa.triangles.size(); ++i)
		for (int k = 0; k < 3; ++k) {
			ASSERT_LT(length(sa.triangles[i].p[k] - sb.triangles[i].p[k]), 1e-5) << "triangle " << i;
			// The picture's own visual leaves the module's transforms as it found them.
			ASSERT_LT(length(sb.triangles[i].p[k] - again.triangles[i].p[k]), 1e-9) << "triangle " << i;
		}
	EXPECT_FALSE(b.visual());
}

// A view frames a mesh where the vessel carries it: its rest pose is set off as its faces are.
TEST(Pictures, AMeshSetOffFromTheVesselIsFramedWhereItIs) {
	host::SimOptions o;
	o.root = sim::DefaultRoot();
	host::Simulation sim(o);
	host::LoadScenario(sim, host::ParseScenario(sim_testing::RoverScenario({{"R", 10, 20, 30}}), "test.scn"));
	const host::VesselView rover(sim.focus());
	const VECTOR3 ahead = _V(0, 0, 20);
	rover.Interface()->AddMesh(oapiLoadMeshGlobal("Sendra9"), &ahead);
	sim::Scene scene = sim::CaptureScene(rover, "");
	double rest = -INFINITY, faces = -INFINITY;
	for (const VECTOR3 &p : scene.rest)
		rest = std::max(rest, p.z);
	for (const sim::SceneTriangle &t : scene.triangles)
		for (const VECTOR3 &p : t.p)
			faces = std::max(faces, p.z);
	EXPECT_GT(faces, 20);
	EXPECT_NEAR(rest, faces, 1e-6);
}

// A face whose corners lie on a line has no side to show, and is left out of the scene.
TEST(Pictures, AFaceOfNoAreaIsLeftOut) {
	sim_testing::Scratch s;
	std::filesystem::create_directories(s / "Config/Vessels");
	std::filesystem::create_directories(s / "Meshes");
	s.Write("Config/Vessels/Flat.cfg", "ClassName = Flat\nMeshName = Flat\n");
	s.Write("Meshes/Flat.msh", "MSHX1\nGROUPS 1\nGEOM 5 2\n0 0 0 0 0 1\n1 0 0 0 0 1\n0 1 0 0 0 1\n2 0 0 0 0 1\n"
	                           "3 0 0 0 0 1\n0 2 1\n1 3 4\n");
	host::SimOptions o;
	o.root = s.dir().string();
	host::Simulation sim(o);
	Vessel *v = sim.CreateVessel("F", "Flat", {sim.FindBody("Moon"), 0, 0, 0});
	EXPECT_EQ(sim::CaptureScene(host::VesselView(v), "").triangles.size(), 1u);
}

TEST(Pictures, SvgPicturesAreWellFormedDrawings) {
	sim::Scene scene = SceneAfter("0.1 tap 7\n0.2 tap J\n", 3, sim::View::Iso);
	std::ostringstream svg;
	sim::WritePicture(scene, sim::View::Iso, kWidth, kHeight, sim::PictureFormat::Svg, svg);
	Document doc = ParseXml(svg.str());
	ASSERT_TRUE(doc.wellFormed) << doc.error;
	ASSERT_FALSE(doc.elements.empty());
	EXPECT_EQ(doc.elements.front().name, "svg");
	EXPECT_EQ(doc.elements.front().Attribute("width"), std::to_string(kWidth) + "px");
	EXPECT_EQ(doc.elements.front().Attribute("height"), std::to_string(kHeight) + "px");
	EXPECT_EQ(doc.All("radialGradient").size(), scene.beacons.size());  // each beacon's glow
	// Triangles are cut small for their order: more shapes than the rover has faces in view.
	EXPECT_GT(doc.All("path").size(), scene.triangles.size() / 2);
	// Each light's cone is outlined by a convex polygon, with the light at one of its corners
	// (where its gradient starts).
	size_t cones = 0;
	for (const Element *path : doc.All("path")) {
		std::string style = path->Attribute("style");
		size_t url = style.find("fill:url(#linear");
		if (url == std::string::npos)
			continue;
		++cones;
		const Element *fade = doc.All("linearGradient", "id", style.substr(url + 10, style.find(')', url) - url - 10)).at(0);
		std::istringstream d(path->Attribute("d"));
		std::vector<std::pair<double, double>> corners;
		std::string op;
		for (double x, y; d >> op && op != "Z" && d >> x >> y;)
			corners.emplace_back(x, y);
		ASSERT_GE(corners.size(), 3u);
		double turn = 0;
		bool light = false;
		for (size_t i = 0; i < corners.size(); ++i) {
			auto [x0, y0] = corners[i];
			auto [x1, y1] = corners[(i + 1) % corners.size()];
			auto [x2, y2] = corners[(i + 2) % corners.size()];
			double cross = (x1 - x0) * (y2 - y1) - (y1 - y0) * (x2 - x1);
			EXPECT_GE(cross * turn, 0) << "corner " << i + 1 << " of the cone " << cones;
			turn = cross != 0 ? cross : turn;
			light = light || std::hypot(x0 - std::stod(fade->Attribute("x1")), y0 - std::stod(fade->Attribute("y1"))) < 0.01;
		}
		EXPECT_TRUE(light) << "the cone " << cones;
	}
	EXPECT_EQ(cones, 4u);
}
