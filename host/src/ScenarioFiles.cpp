// The host's side of a vessel's scenario block.
#include "ScenarioFiles.h"

#include <cmath>
#include <cstring>

#include "HostVessel.h"
#include "Simulation.h"
#include "Text.h"

namespace host {

bool ScenarioBlockReader::Next(char *&line) {
	if (next_ >= lines_.size())
		return false;
	const ScenarioLine &l = lines_[next_++];
	current_ = l.number;
	std::string_view text = Trim(StripComment(l.text));
	if (EqualsNoCase(text, "END")) {
		next_ = lines_.size();
		return false;
	}
	buffer_.assign(text.begin(), text.end());
	buffer_.push_back('\0');
	line = buffer_.data();
	return true;
}

void ApplyStatus(Vessel &v, const VESSELSTATUS2 *vs) {
	if (!vs || vs->version != 2)
		return;
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

double ToRadians(double deg) { return deg * RAD; }

void Problem(Vessel &v, const std::string &what) { v.sim.ReportProblem(v.name + ": " + what); }

}  // namespace

void ParseVesselLine(Vessel &v, const char *line, VESSELSTATUS2 *vs) {
	if (!line || !vs || vs->version != 2)
		return;
	std::string_view text = Trim(std::string_view(line, strnlen(line, 1 << 20)));
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
		if (words.size() >= 2 && EqualsNoCase(words[1], "Landed")) {
			std::string bodyName = words.size() >= 3 ? std::string(words[2]) : std::string();
			Body *body = v.sim.FindBody(bodyName);
			if (!body) {
				Problem(v, "unknown body '" + bodyName + "'");
				return;
			}
			vs->status = 1;
			vs->rbody = body;
			vs->surf_hdg = 0;
			vs->arot.x = 10;  // attitude not given yet
		} else {
			Problem(v, "only landed vessels are supported, not '" + std::string(rest) + "'");
		}
	} else if (EqualsNoCase(key, "POS")) {
		if (auto n = numbers(2)) {
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
	}
}

void WriteDefaultVesselLines(Vessel &v, FILEHANDLE scn) {
	auto *file = static_cast<HostFile *>(scn);
	if (!file || file->kind != HostFile::Kind::ScenarioOut)
		return;
	std::ostream &out = static_cast<ScenarioSink *>(file)->out();
	const VESSELSTATUS2 &s = v.state;
	out << "  STATUS Landed " << (v.surfaceRef ? v.surfaceRef->name : std::string("Moon")) << '\n';
	out << "  POS " << Format("%.10f %.10f", s.surf_lng * DEG, s.surf_lat * DEG) << '\n';
	out << "  HEADING " << Format("%.6f", s.surf_hdg * DEG) << '\n';
	out << "  ALT " << Format("%.3f", s.vrot.x) << '\n';
	out << "  AROT " << Format("%.6f %.6f %.6f", s.arot.x * DEG, s.arot.y * DEG, s.arot.z * DEG) << '\n';
}

}  // namespace host
