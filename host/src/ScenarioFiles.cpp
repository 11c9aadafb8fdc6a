// The host's side of a vessel's scenario block.
#include "ScenarioFiles.h"

#include <climits>
#include <cmath>
#include <cstring>

#include "HostError.h"
#include "HostVessel.h"
#include "Simulation.h"
#include "Text.h"

namespace host {

namespace {

// The block being loaded; the host runs on one thread, like the real one.
ScenarioBlockReader *g_active = nullptr;

// A block with more problems than this has its later ones dropped: the first say enough.
constexpr size_t kMaxProblems = 32;

// Longest line the host's parser looks at [characters]; a line handed over by a module is
// read no further even if it has no terminating zero within it.
constexpr size_t kMaxParsedLine = 1 << 20;

}  // namespace

ScenarioLines::ScenarioLines(long first, const std::vector<std::string> &lines) : first_(first) {
	for (const std::string &l : lines)
		Add(l);
}

void ScenarioLines::Add(std::string_view line) {
	text_.append(line);
	text_ += '\n';
	++count_;
}

ScenarioLines::Line ScenarioLines::Iterator::operator*() const {
	size_t end = text_->find('\n', pos_);
	return Line{number_, std::string_view(*text_).substr(pos_, end - pos_)};
}

ScenarioLines::Iterator &ScenarioLines::Iterator::operator++() {
	pos_ = text_->find('\n', pos_) + 1;
	++number_;
	return *this;
}

ScenarioLines::Line ScenarioLines::back() const {
	size_t start = 0;
	if (text_.size() >= 2) {
		size_t previousEnd = text_.rfind('\n', text_.size() - 2);
		if (previousEnd != std::string::npos)
			start = previousEnd + 1;
	}
	return *Iterator(text_, start, first_ + static_cast<long>(count_) - 1);
}

bool ScenarioBlockReader::Next(char *&line) {
	if (!(next_ != lines_.end()))
		return false;
	ScenarioLines::Line l = *next_;
	++next_;
	current_ = l.number;
	std::string_view text = Trim(StripComment(l.text));
	if (EqualsNoCase(text, "END")) {
		next_ = lines_.end();
		return false;
	}
	buffer_.assign(text.begin(), text.end());
	buffer_.push_back('\0');
	line = buffer_.data();
	return true;
}

void ScenarioBlockReader::Report(const std::string &what) {
	if (problems_.size() < kMaxProblems)
		problems_.push_back(HostError::Format(file_, current_, what));
}

ScenarioBlockReader::Loading::Loading(ScenarioBlockReader &reader) : saved_(g_active) { g_active = &reader; }

ScenarioBlockReader::Loading::~Loading() { g_active = saved_; }

ScenarioBlockReader *ScenarioBlockReader::Active() { return g_active; }

namespace {

double ToRadians(double deg) { return deg * RAD; }

// To the block being loaded, with its file and line; otherwise to the simulation.
void Problem(Vessel &v, const std::string &what) {
	if (ScenarioBlockReader *reader = ScenarioBlockReader::Active())
		reader->Report("vessel '" + v.name + "': " + what);
	else
		v.sim.ReportProblem(v.name + ": " + what);
}

// Whether the place, heading and (when given) attitude and altitude of a landed status are
// finite numbers. An arot.x above 4 or not a number means "no attitude given".
bool LandedPoseFinite(const VESSELSTATUS2 &vs) {
	if (!std::isfinite(vs.surf_lng) || !std::isfinite(vs.surf_lat) || !std::isfinite(vs.surf_hdg))
		return false;
	if (!(vs.arot.x <= 4.0))
		return true;
	return std::isfinite(vs.arot.x) && std::isfinite(vs.arot.y) && std::isfinite(vs.arot.z) && std::isfinite(vs.vrot.x);
}

}  // namespace

void ApplyStatus(Vessel &v, const VESSELSTATUS2 *vs) {
	if (!vs || vs->version != 2)
		return;
	// A pose that is not a number would spread into every later step, the records and the
	// saved scenario: the vessel keeps the last finite one, and the host says so once.
	if (vs->status == 1 && !LandedPoseFinite(*vs)) {
		if (!v.warnedNonFiniteState) {
			v.warnedNonFiniteState = true;
			Problem(v, "was given a landed state that is not finite; it keeps its last finite state");
		}
		return;
	}
	auto *body = static_cast<HostObject *>(vs->rbody);
	if (body && body->kind == HostObject::Kind::Body)
		v.surfaceRef = static_cast<Body *>(body);
	VESSELSTATUS2 &s = v.state;
	s.version = 2;
	s.flag = 0;
	s.rbody = v.surfaceRef;
	s.base = vs->base;
	s.port = vs->port;
	s.status = vs->status;
	s.rpos = vs->rpos;
	s.rvel = vs->rvel;
	s.surf_lng = vs->surf_lng;
	s.surf_lat = vs->surf_lat;
	s.surf_hdg = vs->surf_hdg;
	s.xpdr = vs->xpdr;
	if (vs->status == 1 && !(vs->arot.x <= 4.0)) {
		// No attitude given: rest on level ground on the touchdown points.
		s.arot = LandedAttitude(vs->surf_lng, vs->surf_lat, vs->surf_hdg);
		s.vrot = _V(TouchdownElevation(v.touchdownPoints), 0, 0);
	} else {
		s.arot = vs->arot;
		s.vrot = vs->vrot;
	}
}

namespace {

// "STATUS Landed <body>", the one status the stand-in runs.
void ParseStatus(Vessel &v, const std::vector<std::string_view> &words, std::string_view rest, VESSELSTATUS2 *vs) {
	if (words.size() < 2 || !EqualsNoCase(words[1], "Landed")) {
		Problem(v, "the stand-in host runs landed vessels only, not 'STATUS " + std::string(rest) + "'");
		return;
	}
	if (words.size() < 3) {
		Problem(v, "STATUS Landed names no body");
		return;
	}
	std::string bodyName(words[2]);
	Body *body = v.sim.FindBody(bodyName);
	if (!body) {
		Problem(v, "unknown body '" + bodyName + "' (the stand-in host knows Earth, Moon and Mars)");
		return;
	}
	vs->status = 1;
	vs->rbody = body;
	vs->surf_hdg = 0;
	vs->arot.x = 10;  // attitude not given yet
}

// "RCSMODE n" and "AFCMODE n": not part of VESSELSTATUS2; the real host sets them on the
// vessel as it reads them.
void ParseMode(Vessel &v, std::string_view key, std::string_view rest) {
	bool rcs = EqualsNoCase(key, "RCSMODE");
	long long highest = rcs ? RCS_LIN : 7;
	std::optional<long long> mode = ParseInteger(rest);
	if (!mode || *mode < 0 || *mode > highest) {
		Problem(v, std::string(key) + ": expected a whole number from 0 to " + std::to_string(highest) + ", got '" +
		               std::string(rest) + "'");
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
			Problem(v, "NAVFREQ: expected a whole number per nav receiver, got '" + std::string(rest) + "'");
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
			Problem(v, std::string(key) + ": expected " + std::to_string(n) + " finite number" + (n > 1 ? "s" : "") +
			               ", got '" + std::string(rest) + "'");
		return values;
	};
	if (EqualsNoCase(key, "STATUS")) {
		ParseStatus(v, words, rest, vs);
	} else if (EqualsNoCase(key, "BASE")) {
		// The real host would put the vessel on the base's pad; the stand-in has no bases, and
		// guessing a place would silently move the vessel.
		Problem(v, "unknown surface base '" + std::string(rest) +
		               "' (the stand-in host has no bases; give the place with POS instead)");
	} else if (EqualsNoCase(key, "POS")) {
		if (auto n = numbers(2)) {
			if (std::fabs((*n)[1]) > 90.0) {
				Problem(v, "POS: latitude " + FormatShortest((*n)[1]) + " is outside -90..90 degrees");
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
