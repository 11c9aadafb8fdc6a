// Writing trajectory.csv and hud.csv.
#include "run/Recorders.h"

#include <charconv>
#include <cstdio>

#include "sendra_host/Simulation.h"

namespace sim {

void AppendReal(std::string &row, double v) {
	char buf[32];
	// to_chars with a precision behaves as printf's %.17g, without the locale and faster.
	auto r = std::to_chars(buf, buf + sizeof buf, v, std::chars_format::general, 17);
	row.append(buf, r.ptr);
}

void AppendCsvField(std::string &row, std::string_view field) {
	// A leading = + - or @ makes a spreadsheet read the field as a formula; quoted, it is text,
	// and a CSV reader still gets the exact name.
	bool formula = !field.empty() && std::string_view("=+-@").find(field.front()) != std::string_view::npos;
	if (!formula && field.find_first_of(",\"\r\n") == std::string_view::npos) {
		row.append(field);
		return;
	}
	row.push_back('"');
	for (char c : field) {
		if (c == '"')
			row.push_back('"');
		row.push_back(c);
	}
	row.push_back('"');
}

const std::string &HudField::Field(const std::vector<host::HudText> &texts) {
	bool same = field_.has_value() && texts_.size() == texts.size();
	for (size_t i = 0; same && i < texts.size(); ++i)
		same = texts_[i] == texts[i].text;
	if (same)
		return *field_;
	texts_.resize(texts.size());
	std::string joined;
	for (size_t i = 0; i < texts.size(); ++i) {
		texts_[i] = texts[i].text;
		if (i > 0)
			joined += " | ";
		joined += texts[i].text;
	}
	field_.emplace();
	AppendCsvField(*field_, joined);
	return *field_;
}

TrajectoryRecorder::TrajectoryRecorder(std::ostream &out, size_t animColumns) : out_(out), animColumns_(animColumns) {
	row_ = "frame,simt,vessel,lng,lat,hdg,arot_x,arot_y,arot_z,alt,rudder,hud,lights,beacons";
	for (size_t i = 0; i < animColumns_; ++i)
		row_ += ",anim_" + std::to_string(i);
	row_ += '\n';
	out_.write(row_.data(), static_cast<std::streamsize>(row_.size()));
}

void TrajectoryRecorder::Record(uint64_t frame, const host::Simulation &sim) {
	for (const auto &p : sim.vessels()) {
		const host::VesselView v(p.get());
		const host::VesselPlace s = v.place();
		row_.clear();
		AppendNumber(row_, frame);
		row_ += ',';
		AppendReal(row_, sim.simt());
		row_ += ',';
		AppendCsvField(row_, v.name());
		for (double x : {s.lng, s.lat, s.hdg, s.arot.x, s.arot.y, s.arot.z, s.alt, v.rudder().level}) {
			row_ += ',';
			AppendReal(row_, x);
		}
		row_ += ',';
		if (p.get() == sim.focus() && v.hud().painted)
			row_ += hud_.Field(v.hud().texts);
		row_ += ',';
		for (size_t i = 0; i < v.lightCount(); ++i)
			row_ += v.light(i).on ? '1' : '0';
		row_ += ',';
		for (size_t i = 0; i < v.beaconCount(); ++i)
			row_ += v.beacon(i).on ? '1' : '0';
		const host::Range<double> states = v.animationStates();
		for (size_t i = 0; i < animColumns_; ++i) {
			row_ += ',';
			if (i < states.size())
				AppendReal(row_, states[i]);
		}
		row_ += '\n';
		out_.write(row_.data(), static_cast<std::streamsize>(row_.size()));
	}
}

HudRecorder::HudRecorder(std::ostream &out) : out_(out) { out_ << "frame,x,y,color,text\n"; }

void HudRecorder::Record(uint64_t frame, const Vessel *focus) {
	const host::HudPaint *hud = focus ? &host::VesselView(focus).hud() : nullptr;
	if (!hud || !hud->painted)
		return;
	const std::vector<host::HudText> &texts = hud->texts;
	if (lines_.size() < texts.size())
		lines_.resize(texts.size());
	for (size_t i = 0; i < texts.size(); ++i) {
		const host::HudText &t = texts[i];
		Line &line = lines_[i];
		if (line.tail.empty() || line.x != t.x || line.y != t.y || line.colour != t.colour || line.text != t.text) {
			line.x = t.x;
			line.y = t.y;
			line.colour = t.colour;
			line.text = t.text;
			char colour[16];
			std::snprintf(colour, sizeof colour, "0x%06X", static_cast<unsigned>(t.colour & 0xFFFFFF));
			line.tail = ',';
			AppendNumber(line.tail, t.x);
			line.tail += ',';
			AppendNumber(line.tail, t.y);
			line.tail += ',';
			line.tail += colour;
			line.tail += ',';
			AppendCsvField(line.tail, t.text);
			line.tail += '\n';
		}
		row_.clear();
		AppendNumber(row_, frame);
		row_ += line.tail;
		out_.write(row_.data(), static_cast<std::streamsize>(row_.size()));
	}
}

}  // namespace sim
