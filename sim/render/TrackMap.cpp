// Recording the vessels' paths during a run and drawing them as track.svg. The map is written
// as SVG text, so that each path is one polyline with exactly the points kept, names and
// numbers stay text and the parts carry ids; cairo encodes the terrain's shading as a PNG that
// the map embeds.
#include "render/TrackMap.h"

#include <cairo.h>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <memory>
#include <new>
#include <optional>
#include <stdexcept>

#include "render/RenderScene.h"
#include "sendra_host/Simulation.h"
#include "sendra_host/Text.h"
#include "sendra_host/VesselView.h"

namespace sim {

// --- Recording -------------------------------------------------------------------------------

TrackLog::TrackLog(size_t capacity) : capacity_(std::max<size_t>(capacity, 1)) {}

void TrackLog::Add(const TrackPoint &p) {
	uint64_t i = added_++;
	last_ = p;
	if (i % stride_ != 0)
		return;
	kept_.push_back(p);
	if (kept_.size() <= capacity_)
		return;
	// Every other kept position is a multiple of the doubled stride.
	size_t n = 0;
	for (size_t k = 0; k < kept_.size(); k += 2)
		kept_[n++] = kept_[k];
	kept_.resize(n);
	stride_ *= 2;
}

std::vector<TrackPoint> TrackLog::Points() const {
	std::vector<TrackPoint> points = kept_;
	if (added_ > 0 && (added_ - 1) % stride_ != 0)
		points.push_back(last_);
	return points;
}

namespace {

TrackPoint PointOf(const host::VesselPlace &p, double simt) { return TrackPoint{simt, p.lng, p.lat, p.hdg}; }

}  // namespace

TrackRecorder::TrackRecorder(const host::Simulation &sim) {
	size_t n = sim.vessels().size();
	size_t capacity = std::clamp(kMaxTrackPointsInAll / std::max<size_t>(n, 1), kMinTrackPoints, kMaxTrackPoints);
	tracks_.reserve(n);
	std::optional<size_t> focus, first;  // landed
	for (size_t i = 0; i < n; ++i) {
		const Vessel *v = sim.vessels()[i].get();
		const host::VesselView view(v);
		const host::VesselPlace p = view.place();
		const bool landed = p.body && p.landed;
		tracks_.push_back(Track{v, view.name(), p.body, landed, PointOf(p, sim.simt()), TrackLog(capacity)});
		if (landed && !first)
			first = i;
		if (landed && v == sim.focus())
			focus = i;
	}
	origin_ = focus.value_or(first.value_or(0));
}

void TrackRecorder::Record(const host::Simulation &sim) {
	const auto &vessels = sim.vessels();
	for (size_t i = 0; i < tracks_.size() && i < vessels.size(); ++i) {
		// A run keeps its vessels; a vessel that is not where it was is not recorded into
		// another's path.
		// Nor is a place in flight, which has no longitude and latitude.
		if (vessels[i].get() != tracks_[i].vessel || !tracks_[i].landed)
			continue;
		const host::VesselPlace p = host::VesselView(vessels[i]).place();
		if (p.landed && p.body == tracks_[i].body)
			tracks_[i].log.Add(PointOf(p, sim.simt()));
	}
}

// --- The map ---------------------------------------------------------------------------------

namespace {

const double kWidth = 800, kHeight = 600;  // [pixels] of the map
const double kMargin = 48;                 // [pixels] around the paths
const double kMinSpan = 20;                // [m] the least the map shows across
const double kTerrainCell = 4;             // [pixels] per elevation sample
const double kReliefExaggeration = 3;      // of the slopes, for the shading only
const int kMaxArrows = 40;                 // per path
// [pixels] The legend's box and 12-pixel text; the width of a character is a fair guess for
// the sans-serif fonts viewers choose.
const double kLegendTop = 8, kLegendPadding = 8, kLegendLine = 16, kLegendCharWidth = 6.6;
const double kArrowSeconds[] = {5, 10, 15, 30, 60, 120, 300, 600, 900, 1800, 3600, 7200, 14400, 43200, 86400};
const char *const kTrackColours[] = {"#ff8c1a", "#27d3f5", "#f54ea2", "#9be22d", "#ffd31a", "#b38cff", "#ff5e4d", "#4dffb8"};

std::string Number(double v, int decimals = 1) {
	char buf[64];
	auto r = std::to_chars(buf, buf + sizeof buf, std::isfinite(v) ? v : 0.0, std::chars_format::fixed, decimals);
	std::string s(buf, r.ptr);
	// No "-0.0" for a value that rounds to zero.
	return s[0] == '-' && s.find_first_not_of("-0.") == std::string::npos ? s.substr(1) : s;
}

// Text for an XML document: printable, with the markup characters escaped.
std::string Xml(const std::string &s) {
	std::string out;
	for (char c : PrintableText(s)) {
		switch (c) {
		case '&': out += "&amp;"; break;
		case '<': out += "&lt;"; break;
		case '>': out += "&gt;"; break;
		case '"': out += "&quot;"; break;
		case '\'': out += "&apos;"; break;
		default: out += c; break;
		}
	}
	return out;
}

std::string Base64(const std::string &data) {
	static const char digits[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
	std::string out;
	out.reserve((data.size() + 2) / 3 * 4);
	for (size_t i = 0; i < data.size(); i += 3) {
		uint32_t n = static_cast<unsigned char>(data[i]) << 16;
		if (i + 1 < data.size())
			n |= static_cast<unsigned char>(data[i + 1]) << 8;
		if (i + 2 < data.size())
			n |= static_cast<unsigned char>(data[i + 2]);
		out += digits[n >> 18 & 63];
		out += digits[n >> 12 & 63];
		out += i + 1 < data.size() ? digits[n >> 6 & 63] : '=';
		out += i + 2 < data.size() ? digits[n & 63] : '=';
	}
	return out;
}

// A round length near x: 1, 2 or 5 times a power of ten.
double RoundLength(double x) {
	double p = std::pow(10.0, std::floor(std::log10(x)));
	for (double m : {1.0, 2.0, 5.0, 10.0})
		if (m * p >= x * 0.999)
			return m * p;
	return 10 * p;
}

// Positions on the surface in metres east and north of an origin, on a plane touching the body
// there: fine for the few kilometres a rover drives.
class MapFrame {
public:
	MapFrame(const TrackPoint &origin, double radius)
		: lng0_(origin.lng), lat0_(origin.lat), radius_(radius), cosLat_(std::max(std::cos(origin.lat), 1e-6)) {}
	void EastNorth(double lng, double lat, double &east, double &north) const {
		double dlng = std::remainder(lng - lng0_, 2 * PI);
		east = radius_ * cosLat_ * dlng;
		north = radius_ * (lat - lat0_);
	}
	void LngLat(double east, double north, double &lng, double &lat) const {
		lng = lng0_ + east / (radius_ * cosLat_);
		lat = lat0_ + north / radius_;
	}

private:
	double lng0_, lat0_, radius_, cosLat_;
};

// Where metres east and north land on the map: (centreE, centreN) at pixel (x0, y0).
struct MapView {
	double centreE, centreN, scale;  // [m], [pixels per m]
	double x0, y0;                   // [pixels]
	double X(double east) const { return x0 + (east - centreE) * scale; }
	double Y(double north) const { return y0 - (north - centreN) * scale; }
	double East(double x) const { return centreE + (x - x0) / scale; }
	double North(double y) const { return centreN - (y - y0) / scale; }
};

struct Elevations {
	int columns = 0, rows = 0;  // nodes across and down, kTerrainCell pixels apart
	std::vector<double> e;      // [m] row by row from the top left
	double lo = 0, hi = 0;
	double At(int c, int r) const { return e[static_cast<size_t>(r) * static_cast<size_t>(columns) + static_cast<size_t>(c)]; }
};

Elevations SampleTerrain(const host::Simulation &sim, const host::Body &body, const MapFrame &frame, const MapView &view) {
	Elevations el;
	el.columns = static_cast<int>(kWidth / kTerrainCell) + 1;
	el.rows = static_cast<int>(kHeight / kTerrainCell) + 1;
	el.e.reserve(static_cast<size_t>(el.columns) * static_cast<size_t>(el.rows));
	el.lo = INFINITY;
	el.hi = -INFINITY;
	for (int r = 0; r < el.rows; ++r)
		for (int c = 0; c < el.columns; ++c) {
			double lng, lat;
			frame.LngLat(view.East(c * kTerrainCell), view.North(r * kTerrainCell), lng, lat);
			double e = sim.terrain().Elevation(body, lng, lat);
			if (!std::isfinite(e))
				e = 0;
			el.e.push_back(e);
			el.lo = std::min(el.lo, e);
			el.hi = std::max(el.hi, e);
		}
	return el;
}

cairo_status_t AppendToString(void *closure, const unsigned char *data, unsigned int length) {
	// No exception may pass through the encoder's C code.
	try {
		static_cast<std::string *>(closure)->append(reinterpret_cast<const char *>(data), length);
	} catch (const std::bad_alloc &) {
		return CAIRO_STATUS_NO_MEMORY;
	}
	return CAIRO_STATUS_SUCCESS;
}

// The elevation as colour, low dark and high light, with the relief lit from the north-west.
// cell is the distance between elevation samples [m].
std::string ShadingPng(const Elevations &el, double cell) {
	int w = el.columns - 1, h = el.rows - 1;
	std::unique_ptr<cairo_surface_t, void (*)(cairo_surface_t *)> s(cairo_image_surface_create(CAIRO_FORMAT_RGB24, w, h),
	                                                                 cairo_surface_destroy);
	if (cairo_surface_status(s.get()) == CAIRO_STATUS_NO_MEMORY)
		throw std::bad_alloc();
	if (cairo_surface_status(s.get()) != CAIRO_STATUS_SUCCESS)
		throw std::runtime_error("cannot draw the terrain of the track map");
	cairo_surface_flush(s.get());
	unsigned char *data = cairo_image_surface_get_data(s.get());
	int stride = cairo_image_surface_get_stride(s.get());
	double range = el.hi - el.lo;
	for (int r = 0; r < h; ++r) {
		auto *row = reinterpret_cast<uint32_t *>(data + static_cast<size_t>(r) * static_cast<size_t>(stride));
		for (int c = 0; c < w; ++c) {
			double a = el.At(c, r), b = el.At(c + 1, r), cc = el.At(c + 1, r + 1), d = el.At(c, r + 1);
			double mean = (a + b + cc + d) / 4;
			double t = range > 1e-9 ? (mean - el.lo) / range : 0.5;
			// The slope eastwards and northwards (rows run south), three times as steep as it
			// is, under a light from the north-west and above; level ground keeps its colour.
			double east = ((b + cc) - (a + d)) / 2 / cell * kReliefExaggeration;
			double north = -((d + cc) - (a + b)) / 2 / cell * kReliefExaggeration;
			double lit = (east - north + 1) / std::sqrt(3 * (east * east + north * north + 1));
			double relief = std::clamp(lit * std::sqrt(3.0), 0.6, 1.3);
			double grey = (0.30 + 0.35 * t) * relief;
			auto byte = [](double x) { return static_cast<uint32_t>(std::lround(std::clamp(x, 0.0, 1.0) * 255)); };
			row[c] = byte(grey * 1.00) << 16 | byte(grey * 0.98) << 8 | byte(grey * 0.92);
		}
	}
	cairo_surface_mark_dirty(s.get());
	std::string png;
	cairo_status_t encoded = cairo_surface_write_to_png_stream(s.get(), AppendToString, &png);
	if (encoded == CAIRO_STATUS_NO_MEMORY)
		throw std::bad_alloc();
	if (encoded != CAIRO_STATUS_SUCCESS)
		throw std::runtime_error("cannot encode the terrain of the track map");
	return png;
}

// Contour lines by marching squares, one path of separate segments per level.
void WriteContours(std::ostream &out, const Elevations &el, double interval) {
	out << "<g id=\"contours\" fill=\"none\" stroke=\"#10141a\" stroke-opacity=\"0.45\" stroke-width=\"0.8\">\n";
	for (double k = std::ceil(el.lo / interval); k * interval <= el.hi; ++k) {
		double level = k * interval;
		std::string d;
		auto point = [&](double c, double r) {
			d += Number(c * kTerrainCell) + ' ' + Number(r * kTerrainCell);
		};
		for (int r = 0; r + 1 < el.rows; ++r)
			for (int c = 0; c + 1 < el.columns; ++c) {
				// Corners clockwise from the top left, and where the level crosses each edge.
				double v[4] = {el.At(c, r), el.At(c + 1, r), el.At(c + 1, r + 1), el.At(c, r + 1)};
				const double cx[4] = {0, 1, 1, 0}, cy[4] = {0, 0, 1, 1};
				double ex[4], ey[4];
				bool cross[4];
				for (int k = 0; k < 4; ++k) {
					double a = v[k], b = v[(k + 1) % 4];
					cross[k] = (a < level) != (b < level);
					double f = cross[k] ? (level - a) / (b - a) : 0;
					ex[k] = c + cx[k] + f * (cx[(k + 1) % 4] - cx[k]);
					ey[k] = r + cy[k] + f * (cy[(k + 1) % 4] - cy[k]);
				}
				int crossing[4], n = 0;
				for (int k = 0; k < 4; ++k)
					if (cross[k])
						crossing[n++] = k;
				// Two or four crossings; with four (a saddle), edges pair up in order.
				for (int k = 0; k + 1 < n; k += 2) {
					d += 'M';
					point(ex[crossing[k]], ey[crossing[k]]);
					d += 'L';
					point(ex[crossing[k + 1]], ey[crossing[k + 1]]);
				}
			}
		if (!d.empty())
			out << "<path data-elevation=\"" << Number(level, 2) << "\" d=\"" << d << "\"/>\n";
	}
	out << "</g>\n";
}

void WriteArrow(std::ostream &out, double x, double y, double hdg, const char *colour) {
	// The heading is clockwise from north; on the map north is up and y grows downwards.
	double dx = std::sin(hdg), dy = -std::cos(hdg);
	const double len = 11, half = 4;
	double tipX = x + dx * len * 0.6, tipY = y + dy * len * 0.6;
	double baseX = x - dx * len * 0.4, baseY = y - dy * len * 0.4;
	out << "<path class=\"heading\" fill=\"" << colour << "\" stroke=\"#10141a\" stroke-width=\"0.6\" d=\"M"
	    << Number(tipX) << ' ' << Number(tipY) << 'L' << Number(baseX - dy * half) << ' ' << Number(baseY + dx * half)
	    << 'L' << Number(baseX + dy * half) << ' ' << Number(baseY - dx * half) << "Z\"/>\n";
}

// Each vessel's path in metres east and north of the map's origin.
struct Path {
	const TrackRecorder::Track *track;
	std::vector<TrackPoint> points;  // the start, then the kept positions
	std::vector<double> east, north;
};

struct Paths {
	std::vector<Path> paths;             // of the vessels landed on the map's body
	std::vector<std::string> elsewhere;  // the names of those landed on other bodies
	std::vector<std::string> inFlight;   // and of those in flight
	double loE = INFINITY, hiE = -INFINITY, loN = INFINITY, hiN = -INFINITY;  // [m] their extent
};

Paths CollectPaths(const TrackRecorder &recorder, const host::Body &body, const MapFrame &frame) {
	Paths all;
	for (const TrackRecorder::Track &t : recorder.tracks()) {
		if (!t.landed || t.body != &body) {
			(t.landed ? all.elsewhere : all.inFlight).push_back(t.name);
			continue;
		}
		Path p{&t, {t.start}, {}, {}};
		std::vector<TrackPoint> kept = t.log.Points();
		p.points.insert(p.points.end(), kept.begin(), kept.end());
		for (const TrackPoint &q : p.points) {
			double e, n;
			frame.EastNorth(q.lng, q.lat, e, n);
			if (!std::isfinite(e) || !std::isfinite(n))
				e = n = 0;
			p.east.push_back(e);
			p.north.push_back(n);
			all.loE = std::min(all.loE, e), all.hiE = std::max(all.hiE, e);
			all.loN = std::min(all.loN, n), all.hiN = std::max(all.hiN, n);
		}
		all.paths.push_back(std::move(p));
	}
	return all;
}

// The view that fits all paths below the legend.
MapView FitView(const Paths &all) {
	size_t legendLines = 3 + !all.elsewhere.empty() + !all.inFlight.empty();
	double legendBottom = kLegendTop + kLegendPadding + kLegendLine * static_cast<double>(legendLines);
	double top = legendBottom + kMargin / 2;
	MapView view;
	view.centreE = (all.loE + all.hiE) / 2;
	view.centreN = (all.loN + all.hiN) / 2;
	view.scale = std::min((kWidth - 2 * kMargin) / std::max(all.hiE - all.loE, kMinSpan),
	                      (kHeight - top - kMargin) / std::max(all.hiN - all.loN, kMinSpan));
	view.x0 = kWidth / 2;
	view.y0 = (top + kHeight - kMargin) / 2;
	return view;
}

// The shaded terrain under the whole map and its contour lines; returns the contour
// interval [m], 0 for level ground.
double WriteTerrain(std::ostream &out, const Elevations &el, const MapView &view) {
	out << "<image id=\"terrain\" x=\"0\" y=\"0\" width=\"" << kWidth << "\" height=\"" << kHeight
	    << "\" preserveAspectRatio=\"none\" xlink:href=\"data:image/png;base64,"
	    << Base64(ShadingPng(el, kTerrainCell / view.scale)) << "\"/>\n";
	if (!(el.hi - el.lo > 1e-6))
		return 0;
	double interval = RoundLength((el.hi - el.lo) / 10);
	WriteContours(out, el, interval);
	return interval;
}

// [s] The interval of the heading arrows, one for all paths: the shortest that keeps the
// longest path's arrows within their number.
double ArrowInterval(const Paths &all) {
	double span = 0;
	for (const Path &p : all.paths)
		span = std::max(span, p.points.back().simt - p.points.front().simt);
	double every = kArrowSeconds[0];
	for (double s : kArrowSeconds)
		if ((every = s) * kMaxArrows >= span)
			break;
	return every;
}

// A vessel's path, with its heading arrows every `every` seconds, start, end and name.
void WritePath(std::ostream &out, const Path &p, const MapView &view, const char *colour, double every) {
	out << "<g class=\"vessel\" data-vessel=\"" << Xml(p.track->name) << "\">\n";
	out << "<polyline class=\"path\" fill=\"none\" stroke=\"" << colour
	    << "\" stroke-width=\"2\" stroke-linejoin=\"round\" points=\"";
	for (size_t k = 0; k < p.points.size(); ++k)
		out << (k ? " " : "") << Number(view.X(p.east[k]), 2) << ',' << Number(view.Y(p.north[k]), 2);
	out << "\"/>\n";

	// At the first position at or after each multiple of the interval from the start.
	double start = p.points.front().simt, next = start;
	for (size_t k = 0; k < p.points.size(); ++k)
		if (p.points[k].simt >= next - 1e-9) {
			WriteArrow(out, view.X(p.east[k]), view.Y(p.north[k]), p.points[k].hdg, colour);
			next = start + every * (std::floor((p.points[k].simt - start) / every + 1e-9) + 1);
		}
	double sx = view.X(p.east.front()), sy = view.Y(p.north.front());
	double ex = view.X(p.east.back()), ey = view.Y(p.north.back());
	out << "<circle class=\"start\" cx=\"" << Number(sx) << "\" cy=\"" << Number(sy)
	    << "\" r=\"6\" fill=\"none\" stroke=\"" << colour << "\" stroke-width=\"2.5\"/>\n"
	    << "<rect class=\"end\" x=\"" << Number(ex - 5) << "\" y=\"" << Number(ey - 5)
	    << "\" width=\"10\" height=\"10\" fill=\"" << colour << "\" stroke=\"#10141a\"/>\n"
	    << "<text class=\"name\" x=\"" << Number(ex + 9) << "\" y=\"" << Number(ey - 8) << "\" fill=\"#ffffff\">"
	    << Xml(p.track->name) << "</text>\n"
	    << "</g>\n";
}

// A scale bar of a round length about a fifth of the map's width, and the north arrow.
void WriteScaleBar(std::ostream &out, const MapView &view) {
	double barMetres = RoundLength(kWidth / 5 / view.scale), bar = barMetres * view.scale;
	double bx = 16, by = kHeight - 20;
	out << "<g id=\"scale-bar\" data-metres=\"" << host::FormatShortest(barMetres) << "\" data-pixels=\""
	    << host::FormatShortest(bar) << "\">\n"
	    << "<rect x=\"" << bx - 6 << "\" y=\"" << by - 22 << "\" width=\"" << Number(bar + 12)
	    << "\" height=\"32\" fill=\"#000\" fill-opacity=\"0.45\"/>\n"
	    << "<path fill=\"none\" stroke=\"#ffffff\" stroke-width=\"2\" d=\"M" << bx << ' ' << by - 5 << 'V' << by << 'H'
	    << Number(bx + bar) << 'V' << by - 5 << "\"/>\n"
	    << "<text x=\"" << bx << "\" y=\"" << by - 9 << "\" fill=\"#ffffff\">" << host::FormatShortest(barMetres)
	    << " m</text>\n</g>\n";
	out << "<g id=\"north\" fill=\"#ffffff\"><path d=\"M" << kWidth - 24 << " 14l6 16h-12z\"/><text x=\""
	    << kWidth - 28 << "\" y=\"44\">N</text></g>\n";
}

// What the map shows: the terrain, the time span and origin, the marks, and the vessels on
// other bodies.
std::vector<std::string> LegendLines(const Paths &all, const TrackRecorder::Track &origin, const host::Body &body,
                                     const char *terrain, const Elevations &el, double interval, double every) {
	std::vector<std::string> lines;
	lines.push_back(Xml(body.name) + ", " + terrain + " terrain" +
	                (interval > 0 ? ": " + Number(el.lo) + " to " + Number(el.hi) + " m, contour lines every " +
	                                    host::FormatShortest(interval) + " m"
	                              : ": level"));
	if (!all.paths.empty())
		lines.push_back("from t = " + Number(all.paths.front().points.front().simt, 2) + " s to " +
		                Number(all.paths.front().points.back().simt, 2) + " s; metres east and north of " +
		                Xml(origin.name) + "'s start");
	lines.push_back("circle: start, square: end, arrows: heading every " + host::FormatShortest(every) + " s");
	auto names = [](const std::vector<std::string> &list) {
		std::string text;
		for (const std::string &n : list)
			text += (text.empty() ? "" : ", ") + Xml(n);
		return text;
	};
	if (!all.elsewhere.empty())
		lines.push_back("not on " + Xml(body.name) + ": " + names(all.elsewhere));
	if (!all.inFlight.empty())
		lines.push_back("in flight, not drawn: " + names(all.inFlight));
	return lines;
}

void WriteLegend(std::ostream &out, const std::vector<std::string> &lines) {
	size_t longest = 0;
	for (const std::string &l : lines)
		longest = std::max(longest, l.size());
	double legendWidth = std::min(kWidth - 60, 2 * kLegendPadding + kLegendCharWidth * static_cast<double>(longest));
	out << "<g id=\"legend\">\n<rect x=\"8\" y=\"" << kLegendTop << "\" width=\"" << Number(legendWidth)
	    << "\" height=\"" << kLegendPadding + kLegendLine * static_cast<double>(lines.size())
	    << "\" fill=\"#000\" fill-opacity=\"0.45\"/>\n";
	for (size_t i = 0; i < lines.size(); ++i)
		out << "<text x=\"16\" y=\"" << kLegendTop + kLegendLine * static_cast<double>(i + 1) << "\" fill=\"#e0e0e0\">"
		    << lines[i] << "</text>\n";
	out << "</g>\n";
}

}  // namespace

void WriteTrackMap(const TrackRecorder &recorder, const host::Simulation &sim, std::ostream &out) {
	const auto &tracks = recorder.tracks();
	out << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
	    << "<svg xmlns=\"http://www.w3.org/2000/svg\" xmlns:xlink=\"http://www.w3.org/1999/xlink\" width=\""
	    << kWidth << "\" height=\"" << kHeight << "\" viewBox=\"0 0 " << kWidth << ' ' << kHeight
	    << "\" font-family=\"sans-serif\" font-size=\"12\">\n"
	    << "<title>Track map</title>\n"
	    << "<rect id=\"background\" width=\"" << kWidth << "\" height=\"" << kHeight << "\" fill=\"#3a3d42\"/>\n";

	const TrackRecorder::Track *origin = tracks.empty() ? nullptr : &tracks[recorder.origin()];
	if (!origin || !origin->body || !origin->landed) {
		out << "<text x=\"16\" y=\"28\" fill=\"#e0e0e0\">" << (origin ? "No vessel is landed: nothing to map." : "No vessel to map.")
		    << "</text>\n</svg>\n";
		return;
	}
	const host::Body &body = *origin->body;
	MapFrame frame(origin->start, body.radius);
	Paths all = CollectPaths(recorder, body, frame);
	MapView view = FitView(all);
	Elevations el = SampleTerrain(sim, body, frame, view);
	double interval = WriteTerrain(out, el, view);
	double every = ArrowInterval(all);
	out << "<g id=\"tracks\">\n";
	for (size_t i = 0; i < all.paths.size(); ++i)
		WritePath(out, all.paths[i], view, kTrackColours[i % (sizeof kTrackColours / sizeof *kTrackColours)], every);
	out << "</g>\n";
	WriteScaleBar(out, view);
	WriteLegend(out, LegendLines(all, *origin, body, sim.terrain().name(), el, interval, every));
	out << "</svg>\n";
}

}  // namespace sim
