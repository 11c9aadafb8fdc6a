// The host's own lines of a vessel's scenario block: read into a VESSELSTATUS2 and the vessel,
// and written for a landed vessel.
#include "src/VesselLines.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstring>

#include "sendra_host/Body.h"
#include "sendra_host/Simulation.h"
#include "sendra_host/Text.h"
#include "src/HostVessel.h"
#include "src/ScenarioFiles.h"
#include "src/TwoBody.h"

namespace host {

namespace {

// Longest line the host's parser looks at [characters]; a line handed over by a module is
// read no further even if it has no terminating zero within it.
constexpr size_t kMaxParsedLine = 1 << 20;

double ToRadians(double deg) { return deg * RAD; }

// The lines the real host writes after a vessel's state, in its writer's order: the modes,
// which the stand-in writes from the vessel's settings, and the lines it keeps as they were
// read (the legacy FUEL and ENGINE lines, which the real host takes into its tanks and
// thrusters, beside the lines of the tanks and thrusters they stand for).
struct AfterState {
	const char *key;
	bool mode;
};
constexpr AfterState kAfterState[] = {
	{"ATTACHED", false}, {"RCSMODE", true},      {"AFCMODE", true},      {"PRPLEVEL", false}, {"FUEL", false},
	{"THLEVEL", false},  {"ENGINE_MAIN", false}, {"ENGINE_HOVR", false}, {"DOCKINFO", false}, {"IDS", false},
	{"NAVFREQ", true},   {"XPDR", false},        {"FLIGHTDATA", false},
};

// "STATUS Landed <body>" or "STATUS Orbiting <body>".
void ParseStatus(Vessel &v, const std::vector<std::string_view> &words, std::string_view rest, VESSELSTATUS2 *vs) {
	bool landed = words.size() >= 2 && EqualsNoCase(words[1], "Landed");
	if (!landed && !(words.size() >= 2 && EqualsNoCase(words[1], "Orbiting"))) {
		ReportVesselProblem(v, "STATUS: expected 'Landed <body>' or 'Orbiting <body>', got '" + std::string(rest) + "'");
		return;
	}
	if (words.size() < 3) {
		ReportVesselProblem(v, "STATUS " + std::string(words[1]) + " names no body");
		return;
	}
	// A body's name may hold blanks ("STATUS Orbiting Halley's Comet").
	std::string bodyName(Trim(rest.substr(words[1].size())));
	Body *body = v.sim.FindBody(bodyName);
	if (!body) {
		std::string known;
		for (const auto &b : v.sim.bodies())
			known += (known.empty() ? "" : ", ") + b->name;
		ReportVesselProblem(v, "unknown body '" + bodyName + "' (the solar system has " + known + ")");
		return;
	}
	vs->rbody = body;
	if (landed) {
		vs->status = 1;
		vs->surf_hdg = 0;
		vs->arot.x = 10;  // attitude not given yet
	} else {
		vs->status = 0;
	}
}

// "ELEMENTS a e i LAN LPE L epoch" about the body STATUS Orbiting named: the state it stands
// for at the simulation's date, with mu = G (M_body + m_vessel) as the real host takes it.
void ParseElements(Vessel &v, std::string_view rest, VESSELSTATUS2 *vs) {
	std::optional<std::vector<double>> n = ParseNumbers(rest, 7);
	if (!n) {
		ReportVesselProblem(v, "ELEMENTS: expected 7 finite numbers (a e i LAN LPE L epoch), got '" + std::string(rest) + "'");
		return;
	}
	const Body *body = static_cast<const Body *>(vs->rbody);
	if (vs->status != 0 || !body) {
		ReportVesselProblem(v, "ELEMENTS: an orbit is about the body of a 'STATUS Orbiting <body>' line before it");
		return;
	}
	const std::vector<double> &e = *n;
	OrbitElements el{e[0], e[1], e[2] * RAD, e[3] * RAD, e[4] * RAD, e[5] * RAD, e[6]};
	double mu = kGravitationalConstant * (body->mass + v.emptyMass.value_or(0));
	std::string why;
	std::optional<OrbitState> state = body->mass > 0 ? StateFromElements(mu, el, v.sim.mjd(), why) : std::nullopt;
	if (!state) {
		ReportVesselProblem(v, "ELEMENTS '" + std::string(rest) + "': " +
		                           (body->mass > 0 ? why : MasslessBody(body->name, body->mass)));
		return;
	}
	vs->rpos = state->pos;
	vs->rvel = state->vel;
	v.ownPosition = true;
}

// "DOCKINFO i:j,Name ...": own port i docked to port j of Name; "ATTACHED c:p,Parent": the
// child's point c on the parent's point p. An entry that does not read is passed over with a
// warning, as the real host passes it over; the line is kept.
void ParseMoorings(Vessel &v, bool attached, std::string_view rest) {
	std::vector<std::string_view> entries = attached ? std::vector<std::string_view>{rest} : SplitWords(rest);
	ScenarioBlockReader *reader = ScenarioBlockReader::Active();
	for (std::string_view entry : entries) {
		size_t colon = entry.find(':'), comma = entry.find(',');
		std::optional<long long> own, other;
		if (colon != std::string_view::npos && comma != std::string_view::npos && colon < comma) {
			own = ParseInteger(entry.substr(0, colon));
			other = ParseInteger(entry.substr(colon + 1, comma - colon - 1));
		}
		std::string mate(comma == std::string_view::npos ? std::string_view() : Trim(entry.substr(comma + 1)));
		if (!own || !other || *own < 0 || *other < 0 || *own > 100000 || *other > 100000 || mate.empty()) {
			WarnVessel(v, std::string(attached ? "ATTACHED" : "DOCKINFO") + ": '" + std::string(entry) +
			                  "' is not " + (attached ? "c:p,Parent" : "i:j,Vessel") + "; it is passed over and kept");
			continue;
		}
		v.moorings.push_back({attached, static_cast<int>(*own), static_cast<int>(*other), mate,
		                      reader ? reader->file() : std::string(), reader ? reader->currentLine() : 0});
	}
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
	v.onBase = Vessel::OnBase{name, pad, lng, lat, body};
}

// Whether a landed vessel still stands where its BASE line put it, on the base's body.
bool StillOnBase(const Vessel &v) {
	if (!v.onBase || !v.surfaceRef || v.surfaceRef != v.onBase->body)
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

LineUse ParseVesselLine(Vessel &v, const char *line, VESSELSTATUS2 *vs) {
	if (!line || !vs || vs->version != 2)
		return LineUse::Other;
	std::string_view text = Trim(std::string_view(line, strnlen(line, kMaxParsedLine)));
	std::vector<std::string_view> words = SplitWords(text);
	if (words.empty())
		return LineUse::Other;
	std::string_view key = words[0];
	std::string_view rest = Trim(text.substr(key.size()));
	auto numbers = [&](size_t n) -> std::optional<std::vector<double>> {
		auto values = ParseNumbers(rest, n);
		if (!values)
			ReportVesselProblem(v, std::string(key) + ": expected " + std::to_string(n) + " finite number" +
			                           (n > 1 ? "s" : "") + ", got '" + std::string(rest) + "'");
		return values;
	};
	auto is = [&](const char *k) { return EqualsNoCase(key, k); };
	if (is("STATUS")) {
		ParseStatus(v, words, rest, vs);
	} else if (is("BASE")) {
		ParseBase(v, rest, vs);
	} else if (is("POS")) {
		if (auto n = numbers(2)) {
			if (std::fabs((*n)[1]) > 90.0) {
				ReportVesselProblem(v, "POS: latitude " + FormatShortest((*n)[1]) + " is outside -90..90 degrees");
				return LineUse::State;
			}
			vs->surf_lng = ToRadians((*n)[0]);
			vs->surf_lat = ToRadians((*n)[1]);
		}
	} else if (is("HEADING")) {
		if (auto n = numbers(1))
			vs->surf_hdg = ToRadians((*n)[0]);
	} else if (is("ALT")) {
		if (auto n = numbers(1))
			vs->vrot.x = (*n)[0];
	} else if (is("AROT")) {
		if (auto n = numbers(3))
			vs->arot = _V(ToRadians((*n)[0]), ToRadians((*n)[1]), ToRadians((*n)[2]));
	} else if (is("RPOS") || is("RVEL")) {
		if (auto n = numbers(3)) {
			(is("RPOS") ? vs->rpos : vs->rvel) = _V((*n)[0], (*n)[1], (*n)[2]);
			v.ownPosition = v.ownPosition || is("RPOS");
		}
	} else if (is("VROT")) {
		if (auto n = numbers(3))
			vs->vrot = _V(ToRadians((*n)[0]), ToRadians((*n)[1]), ToRadians((*n)[2]));
	} else if (is("ELEMENTS")) {
		ParseElements(v, rest, vs);
	} else if (is("RCSMODE") || is("AFCMODE")) {
		ParseMode(v, key, rest);
		return LineUse::Mode;
	} else if (is("NAVFREQ")) {
		ParseNavSteps(v, rest);
		return LineUse::Mode;
	} else if (is("DOCKINFO") || is("ATTACHED")) {
		ParseMoorings(v, is("ATTACHED"), rest);
		return LineUse::Held;
	} else {
		for (const AfterState &a : kAfterState)
			if (is(a.key))
				return LineUse::Held;
		return LineUse::Other;
	}
	return LineUse::State;
}

namespace {

std::ostream *ScenarioStream(FILEHANDLE scn) {
	auto *file = static_cast<HostFile *>(scn);
	if (!file || file->kind != HostFile::Kind::ScenarioOut)
		return nullptr;
	return &static_cast<ScenarioSink *>(file)->out();
}

bool Finite(const VECTOR3 &x) { return std::isfinite(x.x) && std::isfinite(x.y) && std::isfinite(x.z); }

// RPOS and RVEL to the real writer's decimals; to every digit where those would lose the orbit
// (a speed that rounds to 0.0000 on an orbit far out), so that the save loads again.
std::pair<std::string, std::string> FlightLines(const Vessel &v) {
	const VESSELSTATUS2 &s = v.state;
	std::pair<std::string, std::string> lines{Format("%.3f %.3f %.3f", s.rpos.x, s.rpos.y, s.rpos.z),
	                                          Format("%.4f %.4f %.4f", s.rvel.x, s.rvel.y, s.rvel.z)};
	std::optional<std::vector<double>> pos = ParseNumbers(lines.first, 3), vel = ParseNumbers(lines.second, 3);
	if (!v.surfaceRef || !v.flight || !v.flight->free || !pos || !vel)
		return lines;
	std::string why;
	const OrbitState written{_V((*pos)[0], (*pos)[1], (*pos)[2]), _V((*vel)[0], (*vel)[1], (*vel)[2])};
	if (!Conic::Make(v.surfaceRef->gm, written, why) && Conic::Make(v.surfaceRef->gm, {s.rpos, s.rvel}, why)) {
		auto all = [](const VECTOR3 &x) {
			return FormatShortest(x.x) + ' ' + FormatShortest(x.y) + ' ' + FormatShortest(x.z);
		};
		lines = {all(s.rpos), all(s.rvel)};
	}
	return lines;
}

// The state's lines, each after indent: landed, STATUS, BASE while on it, POS, HEADING, ALT and
// AROT; in flight as the real host writes them, STATUS, RPOS (3 decimals), RVEL (4; see
// FlightLines), AROT (3) and VROT (4 decimals of degrees per second) while it turns faster than
// 1e-4 rad/s.
void WriteState(Vessel &v, std::ostream &out, std::string_view indent) {
	const VESSELSTATUS2 &s = v.state;
	if (!v.surfaceRef)
		v.sim.ReportProblem(v.name + ": the vessel has no body and cannot be saved");
	const std::string body = v.surfaceRef ? v.surfaceRef->name : std::string("?");
	if (s.status != 1) {
		if (!Finite(s.rpos) || !Finite(s.rvel) || !Finite(s.arot) || !Finite(s.vrot))
			v.sim.ReportProblem(v.name + ": the state in flight is not finite and cannot be saved");
		const auto [rpos, rvel] = FlightLines(v);
		out << indent << "STATUS Orbiting " << body << '\n';
		out << indent << "RPOS " << rpos << '\n';
		out << indent << "RVEL " << rvel << '\n';
		out << indent << "AROT " << Format("%.3f %.3f %.3f", s.arot.x * DEG, s.arot.y * DEG, s.arot.z * DEG) << '\n';
		if (length(s.vrot) > 1e-4)
			out << indent << "VROT " << Format("%.4f %.4f %.4f", s.vrot.x * DEG, s.vrot.y * DEG, s.vrot.z * DEG) << '\n';
		return;
	}
	for (double x : {s.surf_lng, s.surf_lat, s.surf_hdg, s.vrot.x, s.arot.x, s.arot.y, s.arot.z})
		if (!std::isfinite(x)) {
			v.sim.ReportProblem(v.name + ": the landed state is not finite and cannot be saved");
			break;
		}
	SavedPlace p = PlaceToSave(s.surf_lng, s.surf_lat, s.surf_hdg);
	out << indent << "STATUS Landed " << body << '\n';
	// As the real writer names the pad a vessel stands on; the place after it, which a reader
	// takes as the last word.
	if (StillOnBase(v))
		out << indent << "BASE " << v.onBase->name << (v.onBase->pad ? ":" + std::to_string(v.onBase->pad) : "") << '\n';
	out << indent << "POS " << Format("%.10f %.10f", p.lng, p.lat) << '\n';
	out << indent << "HEADING " << Format("%.6f", p.hdg) << '\n';
	out << indent << "ALT " << Format("%.3f", s.vrot.x) << '\n';
	// The attitude is the vessel's whatever names its place: it stays as it is.
	out << indent << "AROT " << Format("%.6f %.6f %.6f", s.arot.x * DEG, s.arot.y * DEG, s.arot.z * DEG) << '\n';
}

// A mode line's value, or nullopt where the real writer writes none and the block had none:
// RCSMODE unless 1, AFCMODE unless 0, NAVFREQ for a vessel with receivers (two, "0 0", for a
// vessel that can take the focus and was given none).
std::optional<std::string> ModeValue(const Vessel &v, std::string_view key, bool inBlock) {
	if (EqualsNoCase(key, "RCSMODE"))
		return inBlock || v.rcsMode != RCS_ROT ? std::optional<std::string>(std::to_string(v.rcsMode)) : std::nullopt;
	if (EqualsNoCase(key, "AFCMODE"))
		return inBlock || v.adcMode != 0 ? std::optional<std::string>(std::to_string(v.adcMode)) : std::nullopt;
	if (!v.navSteps.empty())
		return v.navSteps;
	if (v.enableFocus)
		return std::string("0 0");
	return inBlock ? std::optional<std::string>("") : std::nullopt;
}

void WriteMode(const Vessel &v, std::ostream &out, std::string_view indent, std::string_view key, bool inBlock) {
	if (std::optional<std::string> value = ModeValue(v, key, inBlock))
		out << indent << key << (value->empty() ? "" : " ") << *value << '\n';
}

std::string_view Indentation(std::string_view line) { return line.substr(0, line.find_first_not_of(" \t")); }

std::string_view FirstWord(std::string_view line) {
	std::vector<std::string_view> w = SplitWords(Trim(line));
	return w.empty() ? std::string_view() : w[0];
}

}  // namespace

void WriteDefaultVesselLines(Vessel &v, FILEHANDLE scn) {
	std::ostream *out = ScenarioStream(scn);
	if (!out)
		return;
	WriteState(v, *out, "  ");
	for (const AfterState &a : kAfterState) {
		if (a.mode) {
			WriteMode(v, *out, "  ", a.key, false);
			continue;
		}
		for (const std::string &held : v.heldLines)
			if (EqualsNoCase(FirstWord(held), a.key))
				*out << "  " << held << '\n';
	}
}

void WritePlainVesselLines(Vessel &v, FILEHANDLE scn) {
	std::ostream *out = ScenarioStream(scn);
	if (!out)
		return;
	if (v.blockLines.empty()) {
		WriteDefaultVesselLines(v, scn);
		return;
	}
	auto inBlock = [&](const char *key) {
		return std::any_of(v.blockLines.begin(), v.blockLines.end(), [&](const BlockLine &l) { return l.key == key; });
	};
	bool stateWritten = false;
	std::vector<std::string> modesWritten;
	for (const BlockLine &l : v.blockLines) {
		std::string_view indent = Indentation(l.text);
		if (l.use == LineUse::State) {
			if (stateWritten)
				continue;
			stateWritten = true;
			WriteState(v, *out, indent);
			// The modes the real writer would add, which the block did not have, after the state.
			for (const AfterState &a : kAfterState)
				if (a.mode && !inBlock(a.key))
					WriteMode(v, *out, indent, a.key, false);
		} else if (l.use == LineUse::Mode) {
			if (std::find(modesWritten.begin(), modesWritten.end(), l.key) != modesWritten.end())
				continue;
			modesWritten.push_back(l.key);
			WriteMode(v, *out, indent, l.key, true);
		} else {
			*out << l.text << '\n';
		}
	}
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
