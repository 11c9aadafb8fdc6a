// What a picture of a vessel shows, captured from the stand-in host: the triangles of its visual
// as the host posed them, the cones of its spot lights that are on, its active beacons and the
// words of the legend; and the orthographic views that put them on a picture.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "OrbiterAPI.h"
#include "sendra_host/VesselView.h"

namespace sim {

enum class View { Iso, Front, Rear, Left, Right, Top };

// "iso", "front", "rear", "left", "right", "top"; empty for any other name.
std::optional<View> ViewByName(const std::string &name);
const char *ViewName(View view);
// Every view's name, iso first.
std::vector<std::string> ViewNames();

struct SceneTriangle {
	VECTOR3 p[3];        // [m] vessel frame; clockwise seen from the visible side
	COLOUR4 colour;      // the material's diffuse colour; a < 1 is translucent
	uint32_t mesh = 0;   // the mesh index and group it comes from
	uint32_t group = 0;
};

// The light of a spot light that is on, drawn as a cone of its outer aperture.
struct SceneCone {
	VECTOR3 apex;      // [m] the light's position
	VECTOR3 axis;      // unit direction of the light
	double halfAngle;  // [rad] half the penumbra's aperture, at most 80 degrees
	double length;     // [m] how far the cone is drawn
	COLOUR4 colour;    // the light's diffuse colour
};

struct SceneBeacon {
	VECTOR3 pos;     // [m]
	VECTOR3 colour;  // RGB 0..1
	double size;     // [m] radius
};

struct LegendLine {
	std::string text;
	uint32_t colour;  // 0xBBGGRR as the HUD gives it
};

struct Scene {
	std::vector<SceneTriangle> triangles;
	std::vector<SceneCone> cones;
	std::vector<SceneBeacon> beacons;
	// [m] The meshes' vertices in the pose the mesh files store them in. The view frames these,
	// with some room around them, and the posed parts, so that pictures of one vessel in
	// different poses share their scale unless a part swings out well beyond them.
	std::vector<VECTOR3> rest;
	std::vector<LegendLine> legend;  // vessel, time and view first, then the HUD lines
	// Unit, towards the Sun in the vessel frame, and whether it is above the vessel's horizon;
	// without it the scene is lit by a fixed light over the viewer's shoulder.
	std::optional<VECTOR3> sun;
	bool sunUp = false;
};

// [m] How far a spot light's cone is drawn from the light.
const double kConeLength = 2.5;

// v as the host shows it now (without a visual of its own, out of visual range, as a new
// visual would pose it), in its own frame wherever it is. The legend names v, then caption
// (the moment and the view), then, with hud, the lines of v's last HUD paint, top to bottom.
Scene CaptureScene(const host::VesselView &v, const std::string &caption, bool hud = true);

// A scene with nothing but a legend: why there is nothing to show, and the caption.
Scene EmptyScene(const std::string &why, const std::string &caption);

// Names and HUD lines as pictures can show them: UTF-8 text as given, with every byte that is
// not part of a UTF-8 character, and every control character, replaced by '?'. Scenario files
// and modules may hand over any bytes; cairo and XML take text only.
std::string PrintableText(const std::string &s);

// An orthographic view of a scene onto a picture of width x height pixels, fitted so that the
// scene fills the picture below legendHeight pixels with a margin.
class Viewpoint {
public:
	Viewpoint(View view, const Scene &scene, int width, int height, double legendHeight);

	struct Point {
		double x, y;   // [pixels] from the picture's top left corner
		double depth;  // [m] along the view direction; larger is farther from the viewer
	};
	Point Project(const VECTOR3 &p) const;

	// Unit vectors in the vessel frame: the picture's right and up, and the view direction.
	const VECTOR3 &right() const { return right_; }
	const VECTOR3 &up() const { return up_; }
	const VECTOR3 &forward() const { return forward_; }
	double pixelsPerMetre() const { return scale_; }
	// The scene's Sun, as Scene holds it.
	const std::optional<VECTOR3> &sun() const { return sun_; }
	bool sunUp() const { return sunUp_; }
	int width() const { return width_; }
	int height() const { return height_; }

private:
	VECTOR3 right_, up_, forward_;
	std::optional<VECTOR3> sun_;
	bool sunUp_ = false;
	double scale_ = 1, offsetX_ = 0, offsetY_ = 0;
	int width_, height_;
};

// Whether the front of a triangle faces the viewer: the mesh format's visible side is the one
// from which the corners run clockwise, which in the left-handed vessel frame is the side
// crossp(b - a, c - a) points to.
bool FacesViewer(const SceneTriangle &t, const Viewpoint &view);

// 0..1: how much light a surface of this triangle's orientation receives, ambient light
// included: from the scene's Sun when it has one (none when it is below the horizon, and
// little else in vacuum), else from a fixed light over the viewer's left shoulder.
double Shade(const SceneTriangle &t, const Viewpoint &view);

}  // namespace sim
