// The host's own lines of a vessel's scenario block: read into a VESSELSTATUS2 and the vessel,
// and written for a landed vessel.
#include "src/VesselLines.h"

#include <climits>
#include <cmath>
#include <cstring>

#include "sendra_host/Body.h"
#include "sendra_host/Simulation.h"
#include "sendra_host/Text.h"
#include "src/HostVessel.h"
#include "src/ScenarioFiles.h"

namespace host {

namespace {

// Longest line the host's parser looks at [characters]; a line handed over by a module is
// read no further even if it has no terminating zero within it.
constexpr size_t kMaxParsedLine = 1 << 20;

double ToRadians(double deg) { return deg * RAD; }

// "STATUS Landed <body>", the one status the stand-in runs.
void ParseStatus(Vessel &v, const std::vector<std::string_view> &words, std::string_view rest, VESSELSTATUS2 *vs) {
	if (words.size() < 2 || !EqualsNoCase(words[1], "Landed")) {
		ReportVesselProblem(v, "the stand-in host runs landed vessels only, not 'STATUS " + std::string(rest) + "'");
		return;
	}
	if (words.size() < 3) {
		ReportVesselProblem(v, "STATUS Landed names no body");
		return;
	}
	std::string bodyName(words[2]);
	Body *body = v.sim.FindBody(bodyName);
	if (!body) {
		std::string known;
		for (const auto &b : v.sim.bodies())
			known += (known.empty() ? "" : ", ") + b->name;
		ReportVesselProblem(v, "unknown body '" + bodyName + "' (the solar system has " + known + ")");
		return;
	}
	vs->status = 1;
	vs->rbody = body;
	vs->surf_hdg = 0;
	vs->arot.x = 10;  // attitude not given yet
}

// How near its base's pad (or place) a landed vessel must stand for its saves to name the base
// [m]: a vessel that has not moved is on it to the rounding of its place.
constexpr double kOnBaseDistance = 10.0;

// "BASE name[:pad]": the place of pad (from 1) of the base called name (letter case as given)
// on the body a STATUS line named, or of the base itself without a pad.
void ParseBase(Vessel &v, std::string_view rest, VESSELSTATUS2 *vs) {
	Body *body = static_cast<Body *>(vs->rbody);
	if (vs->status != 1 || !body) {
		ReportVesselProblem(v, "BASE '" + std::string(rest) + "': a vessel at a base is landed: 'STATUS Landed <body>' "
		                                                       "comes first");
		return;
	}
	size_t colon = rest.rfind(':');
	std::string name(Trim(rest.substr(0, colon)));
	int pad = 0;
	if (colon != std::string_view::npos) {
		std::optional<long long> n = ParseInteger(Trim(rest.substr(colon + 1)));
		if (!n || *n < 1 || *n > 100000) {
			ReportVesselProblem(v, "BASE '" + std::string(rest) + "': the pad after ':' is a whole number from 1");
			return;
		}
		pad = static_cast<int>(*n);
	}
	std::vector<std::string> notes;
	const std::vector<SurfaceBase> &bases = v.sim.SurfaceBases(*body, notes);
	for (const std::string &n : notes)
		NoteVessel(v, n);
	const SurfaceBase *base = nullptr;
	std::string known;
	for (const SurfaceBase &b : bases) {
		if (b.name == name)
			base = &b;
		known += (known.empty() ? "" : ", ") + b.name;
	}
	if (!base) {
		ReportVesselProblem(v, "unknown surface base '" + name + "' on " + body->name +
		                           (known.empty() ? " (it has no bases in this Orbiter folder)" : " (its bases: " + known + ")"));
		return;
	}
	if (pad > static_cast<int>(base->pads.size())) {
		ReportVesselProblem(v, "base '" + name + "' has no pad " + std::to_string(pad) +
		                           (base->pads.empty() ? " (it has none)"
		                                               : " (its pads are 1 to " + std::to_string(base->pads.size()) + ")"));
		return;
	}
	double lng = pad ? base->pads[pad - 1].lng : base->lng, lat = pad ? base->pads[pad - 1].lat : base->lat;
	vs->surf_lng = lng;
	vs->surf_lat = lat;
	v.onBase = Vessel::OnBase{name, pad, lng, lat};
}

// Whether a landed vessel still stands where its BASE line put it.
bool StillOnBase(const Vessel &v) {
	if (!v.onBase || !v.surfaceRef)
		return false;
	const VESSELSTATUS2 &s = v.state;
	double dlat = s.surf_lat - v.onBase->lat, dlng = std::remainder(s.surf_lng - v.onBase->lng, 2 * PI);
	double r = v.surfaceRef->radius;
	return std::hypot(r * dlat, r * std::cos(s.surf_lat) * dlng) <= kOnBaseDistance;
}

// "RCSMODE n" and "AFCMODE n": not part of VESSELSTATUS2; the real host sets them on the
// vessel as it reads them.
void ParseMode(Vessel &v, std::string_view key, std::string_view rest) {
	bool rcs = EqualsNoCase(key, "RCSMODE");
	long long highest = rcs ? RCS_LIN : 7;
	std::optional<long long> mode = ParseInteger(rest);
	if (!mode || *mode < 0 || *mode > highest) {
		ReportVesselProblem(v, std::string(key) + ": expected a whole number from 0 to " + std::to_string(highest) +
		                           ", got '" + std::string(rest) + "'");
		return;
	}
	if (rcs)
		v.rcsMode = static_cast<int>(*mode);
	else
		v.adcMode = static_cast<DWORD>(*mode);
}

// "NAVFREQ s s ...": the tuned step of each nav receiver, as many as the line gives. The
// real host reads a step as an int.
void ParseNavSteps(Vessel &v, std::string_view rest) {
	std::string steps;
	for (std::string_view w : SplitWords(rest)) {
		std::optional<long long> step = ParseInteger(w);
		if (!step || *step < INT_MIN || *step > INT_MAX) {
			ReportVesselProblem(v, "NAVFREQ: expected a whole number per nav receiver, got '" + std::string(rest) + "'");
			return;
		}
		steps += (steps.empty() ? "" : " ") + std::to_string(*step);
	}
	v.navSteps = std::move(steps);
}

}  // namespace

void ParseVesselLine(Vessel &v, const char *line, VESSELSTATUS2 *vs) {
	if (!line || !vs || vs->version != 2)
		return;
	std::string_view text = Trim(std::string_view(line, strnlen(line, kMaxParsedLine)));
	std::vector<std::string_view> words = SplitWords(text);
	if (words.empty())
		return;
	std::string_view key = words[0];
	std::string_view rest = Trim(text.substr(key.size()));
	auto numbers = [&](size_t n) -> std::optional<std::vector<double>> {
		auto values = ParseNumbers(rest, n);
		if (!values)
			ReportVesselProblem(v, std::string(key) + ": expected " + std::to_string(n) + " finite number" +
			                           (n > 1 ? "s" : "") + ", got '" + std::string(rest) + "'");
		return values;
	};
	if (EqualsNoCase(key, "STATUS")) {
		ParseStatus(v, words, rest, vs);
	} else if (EqualsNoCase(key, "BASE")) {
		ParseBase(v, rest, vs);
	} else if (EqualsNoCase(key, "POS")) {
		if (auto n = numbers(2)) {
			if (std::fabs((*n)[1]) > 90.0) {
				ReportVesselProblem(v, "POS: latitude " + FormatShortest((*n)[1]) + " is outside -90..90 degrees");
				return;
			}
			vs->surf_lng = ToRadians((*n)[0]);
			vs->surf_lat = ToRadians((*n)[1]);
		}
	} else if (EqualsNoCase(key, "HEADING")) {
		if (auto n = numbers(1))
			vs->surf_hdg = ToRadians((*n)[0]);
	} else if (EqualsNoCase(key, "ALT")) {
		if (auto n = numbers(1))
			vs->vrot.x = (*n)[0];
	} else if (EqualsNoCase(key, "AROT")) {
		if (auto n = numbers(3))
			vs->arot = _V(ToRadians((*n)[0]), ToRadians((*n)[1]), ToRadians((*n)[2]));
	} else if (EqualsNoCase(key, "RCSMODE") || EqualsNoCase(key, "AFCMODE")) {
		ParseMode(v, key, rest);
	} else if (EqualsNoCase(key, "NAVFREQ")) {
		ParseNavSteps(v, rest);
	}
}

void WriteDefaultVesselLines(Vessel &v, FILEHANDLE scn) {
	auto *file = static_cast<HostFile *>(scn);
	if (!file || file->kind != HostFile::Kind::ScenarioOut)
		return;
	std::ostream &out = static_cast<ScenarioSink *>(file)->out();
	const VESSELSTATUS2 &s = v.state;
	for (double x : {s.surf_lng, s.surf_lat, s.surf_hdg, s.vrot.x, s.arot.x, s.arot.y, s.arot.z})
		if (!std::isfinite(x)) {
			v.sim.ReportProblem(v.name + ": the landed state is not finite and cannot be saved");
			break;
		}
	if (!v.surfaceRef)
		v.sim.ReportProblem(v.name + ": the vessel stands on no body and cannot be saved");
	SavedPlace p = PlaceToSave(s.surf_lng, s.surf_lat, s.surf_hdg);
	out << "  STATUS Landed " << (v.surfaceRef ? v.surfaceRef->name : std::string("?")) << '\n';
	// As the real writer names the pad a vessel stands on; the place after it, which a reader
	// takes as the last word.
	if (StillOnBase(v))
		out << "  BASE " << v.onBase->name << (v.onBase->pad ? ":" + std::to_string(v.onBase->pad) : "") << '\n';
	out << "  POS " << Format("%.10f %.10f", p.lng, p.lat) << '\n';
	out << "  HEADING " << Format("%.6f", p.hdg) << '\n';
	out << "  ALT " << Format("%.3f", s.vrot.x) << '\n';
	// The attitude is the vessel's whatever names its place: it stays as it is.
	out << "  AROT " << Format("%.6f %.6f %.6f", s.arot.x * DEG, s.arot.y * DEG, s.arot.z * DEG) << '\n';
	if (v.rcsMode != RCS_ROT)
		out << "  RCSMODE " << v.rcsMode << '\n';
	if (v.adcMode != 0)
		out << "  AFCMODE " << v.adcMode << '\n';
	if (!v.navSteps.empty())
		out << "  NAVFREQ " << v.navSteps << '\n';
	else if (v.enableFocus)
		out << "  NAVFREQ 0 0\n";
}

SavedPlace PlaceToSave(double lng, double lat, double hdg) {
	SavedPlace p{lng * DEG, lat * DEG, hdg * DEG};
	if (std::isfinite(p.lat) && std::fabs(p.lat) > 90.0) {
		// Past a pole: the same point seen from the other side of it. Latitude 90 + x is
		// 90 - x on the meridian half a turn away, where north and south have swapped.
		p.lat = std::remainder(p.lat, 360.0);  // -180..180
		if (std::fabs(p.lat) > 90.0) {
			p.lat = std::copysign(180.0, p.lat) - p.lat;
			p.lng = std::remainder(p.lng + 180.0, 360.0);
			if (p.lng <= -180.0)
				p.lng = 180.0;
			p.hdg = std::fmod(p.hdg + 180.0, 360.0);
			if (p.hdg < 0)
				p.hdg += 360.0;
			if (p.hdg >= 360.0)
				p.hdg = 0;
			return p;
		}
	}
	// The real writer gives the compass heading in 0..360.
	if (!(p.hdg >= 0.0 && p.hdg <= 360.0))
		p.hdg = posangle(hdg) * DEG;
	return p;
}

}  // namespace host
