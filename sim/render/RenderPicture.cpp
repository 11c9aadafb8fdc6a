// Drawing a scene: PNG pictures are rasterised here with a depth buffer at several samples a
// pixel, for hidden surfaces that depth sorting alone gets wrong (parts resting on the large
// faces of the body); SVG pictures draw triangles back to front, cut small enough to sort well.
// Both go through cairo, which encodes the files and draws beacons and the legend.
#include "render/RenderPicture.h"

#include <cairo-svg.h>
#include <cairo.h>
#include <fontconfig/fontconfig.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <stdexcept>

namespace sim {

namespace {

// Colours as 0..1 RGB.
struct Rgb {
	double r, g, b;
};
const Rgb kSkyTop{0.17, 0.20, 0.25}, kSkyBottom{0.08, 0.10, 0.13};
const Rgb kConeTint{1.0, 0.93, 0.70};  // lamplight over the light's own colour

const double kOpaque = 0.999;           // alpha from which a material hides what is behind it
const double kConeAlphaAtLight = 0.45;  // the cone fades along its length to a sixth of this
const double kConeFadeShare = 0.85;
const int kConeSides = 32;
const double kMinBeaconRadius = 3;     // [pixels]
const double kSvgMaxEdge = 40;         // [pixels] SVG triangles are cut until no edge is longer,
const double kSvgMinEdge = 8;          // those partly hidden down to this
const double kSvgDepthTolerance = 0.001;  // [m] a piece this close to the nearest surface is that surface
const size_t kMaxSamplesForSupersampling = 2u << 20;  // beyond this a picture has one sample a pixel
const int kBandRows = 64;              // [pixels] drawn at a time

struct SurfaceDelete {
	void operator()(cairo_surface_t *s) const { cairo_surface_destroy(s); }
};
struct ContextDelete {
	void operator()(cairo_t *c) const { cairo_destroy(c); }
};
struct PatternDelete {
	void operator()(cairo_pattern_t *p) const { cairo_pattern_destroy(p); }
};
using Surface = std::unique_ptr<cairo_surface_t, SurfaceDelete>;
using Context = std::unique_ptr<cairo_t, ContextDelete>;
using Pattern = std::unique_ptr<cairo_pattern_t, PatternDelete>;

void Check(cairo_status_t status, const char *what) {
	if (status == CAIRO_STATUS_NO_MEMORY)
		throw std::bad_alloc();
	if (status != CAIRO_STATUS_SUCCESS)
		throw std::runtime_error(std::string("cannot draw the ") + what + ": " + cairo_status_to_string(status));
}

cairo_status_t WriteToStream(void *closure, const unsigned char *data, unsigned int length) {
	auto *out = static_cast<std::ostream *>(closure);
	out->write(reinterpret_cast<const char *>(data), static_cast<std::streamsize>(length));
	return *out ? CAIRO_STATUS_SUCCESS : CAIRO_STATUS_WRITE_ERROR;
}

Rgb Mix(const Rgb &a, const Rgb &b, double t) { return {a.r + (b.r - a.r) * t, a.g + (b.g - a.g) * t, a.b + (b.b - a.b) * t}; }

uint32_t Pack(const Rgb &c) {
	auto byte = [](double x) { return static_cast<uint32_t>(std::clamp(x, 0.0, 1.0) * 255 + 0.5); };
	return byte(c.r) << 16 | byte(c.g) << 8 | byte(c.b);
}

Rgb Unpack(uint32_t c) { return {(c >> 16 & 0xFF) / 255.0, (c >> 8 & 0xFF) / 255.0, (c & 0xFF) / 255.0}; }

Rgb Shaded(const SceneTriangle &t, const Viewpoint &view) {
	double s = Shade(t, view);
	return {t.colour.r * s, t.colour.g * s, t.colour.b * s};
}

Rgb HudColour(uint32_t bgr) { return {(bgr & 0xFF) / 255.0, (bgr >> 8 & 0xFF) / 255.0, (bgr >> 16 & 0xFF) / 255.0}; }

// --- The legend ------------------------------------------------------------------------------

struct LegendLayout {
	double fontSize, lineHeight, padding, height;
};

LegendLayout Legend(const Scene &scene, int height) {
	LegendLayout l;
	l.fontSize = std::clamp(height / 40.0, 9.0, 16.0);
	l.lineHeight = std::round(l.fontSize * 1.35);
	l.padding = std::round(l.fontSize * 0.6);
	l.height = scene.legend.empty() ? 0 : 2 * l.padding + l.lineHeight * static_cast<double>(scene.legend.size());
	return l;
}

// Text makes cairo load fonts through fontconfig, which keeps them, and some memory it no
// longer points to, until the process ends. Both are released at exit, when no picture is
// being drawn, so that the sanitizer build's leak checker sees a clean end.
void ReleaseFontsAtExit() {
	static std::once_flag once;
	std::call_once(once, [] {
		std::atexit([] {
			cairo_debug_reset_static_data();
			FcFini();
		});
	});
}

void DrawLegend(cairo_t *cr, const Scene &scene, int width, int height) {
	if (scene.legend.empty())
		return;
	ReleaseFontsAtExit();
	LegendLayout l = Legend(scene, height);
	cairo_select_font_face(cr, "sans-serif", CAIRO_FONT_SLANT_NORMAL, CAIRO_FONT_WEIGHT_NORMAL);
	cairo_set_font_size(cr, l.fontSize);
	double textWidth = 0;
	for (const LegendLine &line : scene.legend) {
		cairo_text_extents_t e;
		cairo_text_extents(cr, line.text.c_str(), &e);
		textWidth = std::max(textWidth, e.x_advance);
	}
	cairo_rectangle(cr, 0, 0, std::min<double>(width, textWidth + 2 * l.padding), l.height);
	cairo_set_source_rgba(cr, 0, 0, 0, 0.45);
	cairo_fill(cr);
	double y = l.padding;
	for (const LegendLine &line : scene.legend) {
		Rgb c = HudColour(line.colour);
		cairo_set_source_rgb(cr, c.r, c.g, c.b);
		cairo_move_to(cr, l.padding, y + l.lineHeight * 0.78);
		cairo_show_text(cr, line.text.c_str());
		y += l.lineHeight;
	}
}

void DrawBeacon(cairo_t *cr, double x, double y, double radius, const VECTOR3 &c) {
	Pattern glow(cairo_pattern_create_radial(x, y, 0, x, y, radius));
	cairo_pattern_add_color_stop_rgba(glow.get(), 0, 1, 1, 1, 1);
	cairo_pattern_add_color_stop_rgba(glow.get(), 0.3, c.x, c.y, c.z, 1);
	cairo_pattern_add_color_stop_rgba(glow.get(), 1, c.x, c.y, c.z, 0);
	cairo_set_source(cr, glow.get());
	cairo_arc(cr, x, y, radius, 0, 2 * PI);
	cairo_fill(cr);
	// A dark ring keeps a white beacon visible on the light body.
	cairo_set_source_rgba(cr, 0, 0, 0, 0.6);
	cairo_set_line_width(cr, 1);
	cairo_arc(cr, x, y, std::max(1.5, radius * 0.3), 0, 2 * PI);
	cairo_stroke(cr);
}

double BeaconRadius(const SceneBeacon &b, const Viewpoint &view) {
	return std::max(kMinBeaconRadius, b.size * view.pixelsPerMetre());
}

// The cone as triangles: its side from the light, and the disc that closes it. t at each
// corner is how far along the cone it lies, 0 at the light and 1 at the far end.
struct ConeMesh {
	std::vector<VECTOR3> points;
	std::vector<double> t;
	std::vector<int> triangles;  // three indices each
};

ConeMesh MakeCone(const SceneCone &c) {
	ConeMesh m;
	VECTOR3 side = std::fabs(c.axis.y) < 0.9 ? _V(0, 1, 0) : _V(1, 0, 0);
	VECTOR3 u = unit(crossp(c.axis, side)), v = crossp(c.axis, u);
	VECTOR3 centre = c.apex + c.axis * c.length;
	double radius = c.length * std::tan(c.halfAngle);
	m.points.push_back(c.apex);
	m.t.push_back(0);
	m.points.push_back(centre);
	m.t.push_back(1);
	for (int i = 0; i < kConeSides; ++i) {
		double phi = 2 * PI * i / kConeSides;
		m.points.push_back(centre + (u * std::cos(phi) + v * std::sin(phi)) * radius);
		m.t.push_back(1);
	}
	for (int i = 0; i < kConeSides; ++i) {
		int a = 2 + i, b = 2 + (i + 1) % kConeSides;
		m.triangles.insert(m.triangles.end(), {0, a, b, 1, a, b});
	}
	return m;
}

double ConeAlpha(double t) { return kConeAlphaAtLight * (1 - kConeFadeShare * std::clamp(t, 0.0, 1.0)); }

// --- Rasterising -----------------------------------------------------------------------------

// A triangle as it lands on the picture, shaded.
struct Flat {
	Viewpoint::Point p[3];
	Rgb colour;
	double alpha;
};

// A cone as it lands on the picture: its triangles' corners and how far along the cone each is.
struct ProjectedCone {
	std::vector<Viewpoint::Point> p;
	std::vector<double> t;
	std::vector<int> triangles;
	Rgb light;
};

// A band of rows of the picture at `factor` samples a pixel in each direction: colour and
// depth per sample. The picture is drawn band by band, so that its memory stays small
// whatever its size.
class Band {
public:
	Band(int width, int factor, int firstRow, int rows, int pictureHeight)
		: factor_(factor), w_(width * factor), y0_(firstRow * factor), h_(rows * factor),
		  depth_(static_cast<size_t>(w_) * static_cast<size_t>(h_), INFINITY), colour_(depth_.size()) {
		double pictureSamples = static_cast<double>(pictureHeight) * factor;
		for (int y = 0; y < h_; ++y) {
			uint32_t sky = Pack(Mix(kSkyTop, kSkyBottom, (y0_ + y + 0.5) / pictureSamples));
			std::fill_n(colour_.begin() + static_cast<long>(y) * w_, w_, sky);
		}
	}

	// Calls f(sample index in the band, weights of a, b and c) for every sample centre of the
	// band inside the triangle a b c, given in pixels, whichever way round it runs.
	template <typename F>
	void Rasterise(const Viewpoint::Point &a, const Viewpoint::Point &b, const Viewpoint::Point &c, F &&f) const {
		double x[3] = {a.x * factor_, b.x * factor_, c.x * factor_}, y[3] = {a.y * factor_, b.y * factor_, c.y * factor_};
		double area = (x[1] - x[0]) * (y[2] - y[0]) - (x[2] - x[0]) * (y[1] - y[0]);
		if (!(std::fabs(area) > 1e-12) || !std::isfinite(area))
			return;
		int top = std::max(y0_, static_cast<int>(std::floor(std::min({y[0], y[1], y[2]}))));
		int bottom = std::min(y0_ + h_ - 1, static_cast<int>(std::ceil(std::max({y[0], y[1], y[2]}))));
		if (top > bottom)
			return;
		// Each corner's weight is linear on the picture: w = ax sx + ay sy + c.
		double ax[3], ay[3], c0[3];
		for (int i = 0; i < 3; ++i) {
			int j = (i + 1) % 3, k = (i + 2) % 3;
			ax[i] = (y[j] - y[k]) / area;
			ay[i] = (x[k] - x[j]) / area;
			c0[i] = (x[j] * y[k] - x[k] * y[j]) / area;
		}
		double xl = std::max(0.0, std::floor(std::min({x[0], x[1], x[2]})));
		double xr = std::min(w_ - 1.0, std::ceil(std::max({x[0], x[1], x[2]})));
		for (int py = top; py <= bottom; ++py) {
			double sy = py + 0.5;
			// The row's span inside all three edges, a sample wider for rounding.
			double lo = xl, hi = xr;
			double r[3];
			for (int i = 0; i < 3; ++i) {
				r[i] = ay[i] * sy + c0[i];
				if (ax[i] > 0)
					lo = std::max(lo, std::floor(-r[i] / ax[i] - 0.5) - 1);
				else if (ax[i] < 0)
					hi = std::min(hi, std::ceil(-r[i] / ax[i] - 0.5) + 1);
				else if (r[i] < 0)
					hi = lo - 1;
			}
			// Within the picture's columns, or empty (also when an edge is nearly level and
			// its bound beyond any column).
			if (!(lo <= hi))
				continue;
			size_t row = static_cast<size_t>(py - y0_) * static_cast<size_t>(w_);
			for (int px = static_cast<int>(lo); px <= static_cast<int>(hi); ++px) {
				double sx = px + 0.5;
				double w0 = ax[0] * sx + r[0], w1 = ax[1] * sx + r[1], w2 = ax[2] * sx + r[2];
				if (w0 >= 0 && w1 >= 0 && w2 >= 0)
					f(row + static_cast<size_t>(px), w0, w1, w2);
			}
		}
	}

	void Opaque(const Flat &t) {
		uint32_t colour = Pack(t.colour);
		const Viewpoint::Point *p = t.p;
		Rasterise(p[0], p[1], p[2], [&](size_t i, double w0, double w1, double w2) {
			float d = static_cast<float>(w0 * p[0].depth + w1 * p[1].depth + w2 * p[2].depth);
			if (d < depth_[i]) {
				depth_[i] = d;
				colour_[i] = colour;
			}
		});
	}

	// Blended over what is in front of nothing nearer; hides nothing itself.
	void Translucent(const Flat &t) {
		const Viewpoint::Point *p = t.p;
		Rasterise(p[0], p[1], p[2], [&](size_t i, double w0, double w1, double w2) {
			float d = static_cast<float>(w0 * p[0].depth + w1 * p[1].depth + w2 * p[2].depth);
			if (d < depth_[i])
				colour_[i] = Pack(Mix(Unpack(colour_[i]), t.colour, t.alpha));
		});
	}

	// The cone's light over everything it is in front of, once per sample however many of
	// its faces cover it.
	void Cone(const ProjectedCone &c) {
		alpha_.assign(depth_.size(), 0.0f);
		bool any = false;
		const std::vector<Viewpoint::Point> &p = c.p;
		for (size_t k = 0; k + 2 < c.triangles.size(); k += 3) {
			int a = c.triangles[k], b = c.triangles[k + 1], cc = c.triangles[k + 2];
			Rasterise(p[a], p[b], p[cc], [&](size_t i, double w0, double w1, double w2) {
				double d = w0 * p[a].depth + w1 * p[b].depth + w2 * p[cc].depth;
				if (d < depth_[i]) {
					alpha_[i] = std::max(alpha_[i], static_cast<float>(ConeAlpha(w0 * c.t[a] + w1 * c.t[b] + w2 * c.t[cc])));
					any = true;
				}
			});
		}
		if (any)
			for (size_t i = 0; i < alpha_.size(); ++i)
				if (alpha_[i] > 0)
					colour_[i] = Pack(Mix(Unpack(colour_[i]), c.light, alpha_[i]));
	}

	float Depth(size_t sample) const { return depth_[sample]; }

	// [m] What is drawn nearest at a point of the picture in pixels, if the band holds it;
	// infinite where nothing is.
	std::optional<double> DepthAt(double x, double y) const {
		int sx = static_cast<int>(std::floor(x * factor_)), sy = static_cast<int>(std::floor(y * factor_)) - y0_;
		if (sx < 0 || sy < 0 || sx >= w_ || sy >= h_)
			return std::nullopt;
		return depth_[static_cast<size_t>(sy) * static_cast<size_t>(w_) + static_cast<size_t>(sx)];
	}

	// The mean of each pixel's samples into the band's rows of a cairo RGB24 image.
	void Resolve(cairo_surface_t *s) const {
		unsigned char *data = cairo_image_surface_get_data(s);
		int stride = cairo_image_surface_get_stride(s);
		int n = factor_ * factor_;
		for (int y = 0; y < h_ / factor_; ++y) {
			auto *row = reinterpret_cast<uint32_t *>(data + static_cast<size_t>(y0_ / factor_ + y) * static_cast<size_t>(stride));
			for (int x = 0; x < w_ / factor_; ++x) {
				uint32_t r = 0, g = 0, b = 0;
				for (int sy = 0; sy < factor_; ++sy)
					for (int sx = 0; sx < factor_; ++sx) {
						uint32_t c = colour_[static_cast<size_t>(y * factor_ + sy) * static_cast<size_t>(w_) +
						                     static_cast<size_t>(x * factor_ + sx)];
						r += c >> 16 & 0xFF;
						g += c >> 8 & 0xFF;
						b += c & 0xFF;
					}
				row[x] = 0xFF000000u | (r + n / 2) / n << 16 | (g + n / 2) / n << 8 | (b + n / 2) / n;
			}
		}
	}

private:
	int factor_, w_, y0_, h_;   // samples per pixel across; the band's width, first row and rows in samples
	std::vector<float> depth_;  // [m] along the view; infinite where nothing is drawn
	std::vector<uint32_t> colour_;
	std::vector<float> alpha_;  // a cone's light per sample, kept for the next cone
};

// The scene's triangles as the viewer sees them: opaque ones, and translucent ones back to
// front, so that glass behind glass shows through both.
void Flatten(const Scene &scene, const Viewpoint &view, std::vector<Flat> &opaque, std::vector<Flat> &translucent) {
	for (const SceneTriangle &t : scene.triangles) {
		if (!FacesViewer(t, view) || !(t.colour.a > 0))
			continue;
		Flat f{{view.Project(t.p[0]), view.Project(t.p[1]), view.Project(t.p[2])}, Shaded(t, view), t.colour.a};
		(t.colour.a >= kOpaque ? opaque : translucent).push_back(f);
	}
	auto centreDepth = [](const Flat &f) { return f.p[0].depth + f.p[1].depth + f.p[2].depth; };
	std::stable_sort(translucent.begin(), translucent.end(),
	                 [&](const Flat &a, const Flat &b) { return centreDepth(a) > centreDepth(b); });
}

std::vector<ProjectedCone> ProjectCones(const Scene &scene, const Viewpoint &view) {
	std::vector<ProjectedCone> cones;
	for (const SceneCone &c : scene.cones) {
		ConeMesh m = MakeCone(c);
		ProjectedCone pc{
			{}, m.t, m.triangles, {c.colour.r * kConeTint.r, c.colour.g * kConeTint.g, c.colour.b * kConeTint.b}};
		for (const VECTOR3 &q : m.points)
			pc.p.push_back(view.Project(q));
		cones.push_back(std::move(pc));
	}
	return cones;
}

// Marks in shows the beacons that the band reveals: a beacon shows if a point near its centre
// has nothing in front of it nearer than its own size, as beacons sit on the surfaces that
// carry them.
void FindShownBeacons(const Scene &scene, const Viewpoint &view, const Band &band, std::vector<char> &shows) {
	for (size_t i = 0; i < scene.beacons.size(); ++i) {
		const SceneBeacon &b = scene.beacons[i];
		Viewpoint::Point c = view.Project(b.pos);
		double reach = std::max(b.size, 0.05), r = BeaconRadius(b, view) * 0.5;
		for (auto [dx, dy] : {std::pair{0.0, 0.0}, {r, 0.0}, {-r, 0.0}, {0.0, r}, {0.0, -r}}) {
			std::optional<double> d = band.DepthAt(c.x + dx, c.y + dy);
			if (d && *d >= c.depth - reach)
				shows[i] = 1;
		}
	}
}

// Samples a pixel across that a PNG picture of this size has.
int SamplesAcross(int width, int height) {
	return static_cast<size_t>(width) * static_cast<size_t>(height) * 4 <= kMaxSamplesForSupersampling ? 2 : 1;
}

Surface DrawRaster(const Scene &scene, View viewKind, int width, int height, int factor) {
	Viewpoint view = ViewFor(scene, viewKind, width, height);
	std::vector<Flat> opaque, translucent;
	Flatten(scene, view, opaque, translucent);
	std::vector<ProjectedCone> cones = ProjectCones(scene, view);
	std::vector<char> shows(scene.beacons.size(), 0);

	Surface surface(cairo_image_surface_create(CAIRO_FORMAT_RGB24, width, height));
	Check(cairo_surface_status(surface.get()), "picture");
	cairo_surface_flush(surface.get());
	for (int first = 0; first < height; first += kBandRows) {
		Band band(width, factor, first, std::min(kBandRows, height - first), height);
		for (const Flat &t : opaque)
			band.Opaque(t);
		for (const Flat &t : translucent)
			band.Translucent(t);
		for (const ProjectedCone &c : cones)
			band.Cone(c);
		FindShownBeacons(scene, view, band, shows);
		band.Resolve(surface.get());
	}
	cairo_surface_mark_dirty(surface.get());

	Context cr(cairo_create(surface.get()));
	for (size_t i = 0; i < scene.beacons.size(); ++i)
		if (shows[i]) {
			const SceneBeacon &b = scene.beacons[i];
			Viewpoint::Point c = view.Project(b.pos);
			DrawBeacon(cr.get(), c.x, c.y, BeaconRadius(b, view), b.colour);
		}
	DrawLegend(cr.get(), scene, width, height);
	Check(cairo_status(cr.get()), "picture");
	cairo_surface_flush(surface.get());
	return surface;
}

// --- Vector drawing ------------------------------------------------------------------------

struct Item {
	double depth;  // [m] farther items are drawn first
	enum Kind { Triangle, Cone, Beacon } kind;
	VECTOR3 p[3];  // a triangle's corners
	Rgb colour;
	double alpha;
	size_t index;  // the cone or beacon
};

// Cuts t at the middle of its longest edge until no edge is longer than maxEdge pixels.
enum class Seen { None, Some, All };

// How much of an opaque piece is in front of everything else at the pixels it covers; a
// piece too small to cover a pixel's centre counts as seen.
Seen Visibility(const Band &nearest, const VECTOR3 (&p)[3], const Viewpoint &view) {
	Viewpoint::Point q[3] = {view.Project(p[0]), view.Project(p[1]), view.Project(p[2])};
	size_t covered = 0, seen = 0;
	nearest.Rasterise(q[0], q[1], q[2], [&](size_t i, double w0, double w1, double w2) {
		++covered;
		seen += w0 * q[0].depth + w1 * q[1].depth + w2 * q[2].depth <= nearest.Depth(i) + kSvgDepthTolerance;
	});
	return covered == 0 || seen == covered ? Seen::All : seen == 0 ? Seen::None : Seen::Some;
}

// Cuts a triangle at the middle of its longest edge until no edge is longer than
// kSvgMaxEdge pixels, leaves out the opaque pieces of which nothing shows and cuts those
// partly hidden down to kSvgMinEdge: drawn later in depth order, hidden parts would cover what
// is in front of them.
void Cut(const VECTOR3 (&p)[3], const Viewpoint &view, const Band &nearest, const Rgb &colour, double alpha,
         std::vector<Item> &out, int depth = 0) {
	double longest = 0;
	int at = 0;
	for (int i = 0; i < 3; ++i) {
		double len = length(p[(i + 1) % 3] - p[i]) * view.pixelsPerMetre();
		if (len > longest)
			longest = len, at = i;
	}
	if (longest <= kSvgMaxEdge || depth >= 20) {
		Seen seen = alpha < kOpaque ? Seen::All : Visibility(nearest, p, view);
		if (seen == Seen::None)
			return;
		if (seen == Seen::All || longest <= kSvgMinEdge || depth >= 20) {
			out.push_back(Item{dotp(p[0] + p[1] + p[2], view.forward()) / 3, Item::Triangle, {p[0], p[1], p[2]},
			                   colour, alpha, 0});
			return;
		}
	}
	const VECTOR3 &a = p[at], &b = p[(at + 1) % 3], &c = p[(at + 2) % 3];
	VECTOR3 m = (a + b) * 0.5;
	// Both halves keep the corners' order, and with it the visible side.
	VECTOR3 first[3] = {a, m, c}, second[3] = {m, b, c};
	Cut(first, view, nearest, colour, alpha, out, depth + 1);
	Cut(second, view, nearest, colour, alpha, out, depth + 1);
}

// The outline of points on the picture, as a convex polygon (monotone chain). A corner within
// a twentieth of a pixel of the line through its neighbours is left out: cairo keeps
// coordinates to 1/256 of a pixel, which could turn such a corner inwards.
std::vector<Viewpoint::Point> Hull(std::vector<Viewpoint::Point> p) {
	std::sort(p.begin(), p.end(), [](const auto &a, const auto &b) { return a.x != b.x ? a.x < b.x : a.y < b.y; });
	if (p.size() < 3)
		return p;
	const double kStraight = 0.05;  // [pixels]
	// Positive when b lies left of o -> a by more than kStraight.
	auto cross = [&](const auto &o, const auto &a, const auto &b) {
		return (a.x - o.x) * (b.y - o.y) - (a.y - o.y) * (b.x - o.x) - kStraight * std::hypot(b.x - o.x, b.y - o.y);
	};
	std::vector<Viewpoint::Point> h(2 * p.size());
	size_t k = 0;
	for (size_t i = 0; i < p.size(); ++i) {
		while (k >= 2 && cross(h[k - 2], h[k - 1], p[i]) <= 0)
			--k;
		h[k++] = p[i];
	}
	for (size_t i = p.size() - 1, t = k + 1; i > 0; --i) {
		while (k >= t && cross(h[k - 2], h[k - 1], p[i - 1]) <= 0)
			--k;
		h[k++] = p[i - 1];
	}
	h.resize(k - 1);
	return h;
}

void DrawConeOutline(cairo_t *cr, const SceneCone &c, const Viewpoint &view) {
	ConeMesh m = MakeCone(c);
	std::vector<Viewpoint::Point> p;
	for (const VECTOR3 &q : m.points)
		p.push_back(view.Project(q));
	std::vector<Viewpoint::Point> outline = Hull(p);
	if (outline.size() < 3)
		return;
	for (size_t i = 0; i < outline.size(); ++i)
		(i ? cairo_line_to : cairo_move_to)(cr, outline[i].x, outline[i].y);
	cairo_close_path(cr);
	Rgb light{c.colour.r * kConeTint.r, c.colour.g * kConeTint.g, c.colour.b * kConeTint.b};
	Viewpoint::Point from = p[0], to = p[1];
	Pattern fade(cairo_pattern_create_linear(from.x, from.y, to.x, to.y));
	cairo_pattern_add_color_stop_rgba(fade.get(), 0, light.r, light.g, light.b, ConeAlpha(0));
	cairo_pattern_add_color_stop_rgba(fade.get(), 1, light.r, light.g, light.b, ConeAlpha(1));
	// Seen along its axis the cone has no length on the picture: an even glow then.
	if (std::hypot(to.x - from.x, to.y - from.y) < 1)
		cairo_set_source_rgba(cr, light.r, light.g, light.b, ConeAlpha(0.5));
	else
		cairo_set_source(cr, fade.get());
	cairo_fill(cr);
}

void DrawVector(cairo_t *cr, const Scene &scene, View viewKind, int width, int height) {
	Viewpoint view = ViewFor(scene, viewKind, width, height);
	Pattern sky(cairo_pattern_create_linear(0, 0, 0, height));
	cairo_pattern_add_color_stop_rgb(sky.get(), 0, kSkyTop.r, kSkyTop.g, kSkyTop.b);
	cairo_pattern_add_color_stop_rgb(sky.get(), 1, kSkyBottom.r, kSkyBottom.g, kSkyBottom.b);
	cairo_set_source(cr, sky.get());
	cairo_paint(cr);

	// The nearest opaque surface at each pixel, to leave out what is hidden.
	Band nearest(width, 1, 0, height, height);
	for (const SceneTriangle &t : scene.triangles)
		if (FacesViewer(t, view) && t.colour.a >= kOpaque)
			nearest.Opaque(Flat{{view.Project(t.p[0]), view.Project(t.p[1]), view.Project(t.p[2])}, {}, 1});
	std::vector<Item> items;
	for (const SceneTriangle &t : scene.triangles)
		if (FacesViewer(t, view) && t.colour.a > 0)
			Cut(t.p, view, nearest, Shaded(t, view), t.colour.a, items);
	for (size_t i = 0; i < scene.cones.size(); ++i) {
		const SceneCone &c = scene.cones[i];
		items.push_back(Item{dotp(c.apex + c.axis * (c.length / 2), view.forward()), Item::Cone, {}, {}, 0, i});
	}
	for (size_t i = 0; i < scene.beacons.size(); ++i) {
		const SceneBeacon &b = scene.beacons[i];
		items.push_back(Item{dotp(b.pos, view.forward()) - std::max(b.size, 0.05), Item::Beacon, {}, {}, 0, i});
	}
	std::stable_sort(items.begin(), items.end(), [](const Item &a, const Item &b) { return a.depth > b.depth; });

	cairo_set_line_join(cr, CAIRO_LINE_JOIN_ROUND);
	cairo_set_line_width(cr, 0.6);
	for (const Item &item : items) {
		switch (item.kind) {
		case Item::Triangle:
			for (int k = 0; k < 3; ++k) {
				Viewpoint::Point q = view.Project(item.p[k]);
				(k ? cairo_line_to : cairo_move_to)(cr, q.x, q.y);
			}
			cairo_close_path(cr);
			cairo_set_source_rgba(cr, item.colour.r, item.colour.g, item.colour.b, item.alpha);
			// Opaque triangles are outlined in their own colour: cairo's edge smoothing would
			// otherwise let the background show through the seams between them.
			if (item.alpha >= kOpaque)
				cairo_fill_preserve(cr), cairo_stroke(cr);
			else
				cairo_fill(cr);
			break;
		case Item::Cone: DrawConeOutline(cr, scene.cones[item.index], view); break;
		case Item::Beacon: {
			const SceneBeacon &b = scene.beacons[item.index];
			Viewpoint::Point c = view.Project(b.pos);
			DrawBeacon(cr, c.x, c.y, BeaconRadius(b, view), b.colour);
			break;
		}
		}
	}
	DrawLegend(cr, scene, width, height);
}

}  // namespace

std::optional<PictureFormat> PictureFormatOf(const std::string &path) {
	size_t dot = path.rfind('.');
	if (dot == std::string::npos || path.find('/', dot) != std::string::npos)
		return std::nullopt;
	std::string ext = path.substr(dot + 1);
	for (char &c : ext)
		c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
	if (ext == "png")
		return PictureFormat::Png;
	if (ext == "svg")
		return PictureFormat::Svg;
	return std::nullopt;
}

Viewpoint ViewFor(const Scene &scene, View view, int width, int height) {
	return Viewpoint(view, scene, width, height, Legend(scene, height).height);
}

double DrawCost(const Scene &scene, View viewKind, int width, int height) {
	Viewpoint view = ViewFor(scene, viewKind, width, height);
	const double bands = std::ceil(height / static_cast<double>(kBandRows));
	double cost = 0;
	for (const SceneTriangle &t : scene.triangles) {
		if (!FacesViewer(t, view) || !(t.colour.a > 0))
			continue;
		double x0 = width, x1 = 0, y0 = height, y1 = 0;
		for (const VECTOR3 &p : t.p) {
			Viewpoint::Point q = view.Project(p);
			x0 = std::min(x0, q.x), x1 = std::max(x1, q.x), y0 = std::min(y0, q.y), y1 = std::max(y1, q.y);
		}
		auto span = [](double lo, double hi, int size) { return std::max(0.0, std::min<double>(hi, size) - std::max(lo, 0.0)); };
		cost += (span(x0, x1, width) + 1) * (span(y0, y1, height) + 1) + bands;
	}
	return cost;
}

Image RenderImage(const Scene &scene, View view, int width, int height) {
	Surface s = DrawRaster(scene, view, width, height, SamplesAcross(width, height));
	Image image;
	image.width = width;
	image.height = height;
	image.pixels.resize(static_cast<size_t>(width) * static_cast<size_t>(height));
	const unsigned char *data = cairo_image_surface_get_data(s.get());
	int stride = cairo_image_surface_get_stride(s.get());
	for (int y = 0; y < height; ++y) {
		auto *row = reinterpret_cast<const uint32_t *>(data + static_cast<size_t>(y) * static_cast<size_t>(stride));
		for (int x = 0; x < width; ++x)
			image.pixels[static_cast<size_t>(y) * static_cast<size_t>(width) + static_cast<size_t>(x)] = row[x] & 0xFFFFFF;
	}
	return image;
}

std::string WritePicture(const Scene &scene, View view, int width, int height, PictureFormat format, std::ostream &out,
                         double maxCost) {
	// Within the bound: at fewer samples a pixel if need be, else the legend alone, saying why.
	const double cost = std::isfinite(maxCost) ? DrawCost(scene, view, width, height) : 0;
	int factor = SamplesAcross(width, height);
	while (factor > 1 && cost * factor * factor > maxCost)
		--factor;
	std::string leftOut;
	Scene bare;
	const Scene *shown = &scene;
	if (cost * factor * factor > maxCost) {
		leftOut = "the vessel's " + std::to_string(scene.triangles.size()) +
		          " triangles would take too long to draw, even at one sample a pixel; the picture shows its legend only";
		bare.legend = scene.legend;
		bare.legend.push_back({"not drawn: " + std::to_string(scene.triangles.size()) + " triangles, too many to draw",
		                       0x00FFFFu});
		shown = &bare;
	}
	if (format == PictureFormat::Png) {
		Surface s = DrawRaster(*shown, view, width, height, factor);
		Check(cairo_surface_write_to_png_stream(s.get(), WriteToStream, &out), "PNG file");
		return leftOut;
	}
	Surface s(cairo_svg_surface_create_for_stream(WriteToStream, &out, width, height));
	Check(cairo_surface_status(s.get()), "SVG file");
	cairo_svg_surface_set_document_unit(s.get(), CAIRO_SVG_UNIT_PX);
	{
		Context cr(cairo_create(s.get()));
		DrawVector(cr.get(), *shown, view, width, height);
		Check(cairo_status(cr.get()), "SVG file");
	}
	cairo_surface_finish(s.get());
	Check(cairo_surface_status(s.get()), "SVG file");
	return leftOut;
}

}  // namespace sim
