// Writing trajectory.csv and hud.csv.
#include "run/Recorders.h"

#include <charconv>
#include <cstdio>

#include "sendra_host/HostVessel.h"
#include "sendra_host/Lights.h"
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

std::string JoinedHudTexts(const Vessel &v) {
	std::string joined;
	for (size_t i = 0; i < v.hud.texts.size(); ++i) {
		if (i > 0)
			joined += " | ";
		joined += v.hud.texts[i].text;
	}
	return joined;
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
		const Vessel &v = *p;
		const VESSELSTATUS2 &s = v.state;
		row_.clear();
		row_ += std::to_string(frame);
		row_ += ',';
		AppendReal(row_, sim.simt());
		row_ += ',';
		AppendCsvField(row_, v.name);
		for (double x : {s.surf_lng, s.surf_lat, s.surf_hdg, s.arot.x, s.arot.y, s.arot.z, s.vrot.x, v.rudderLevel}) {
			row_ += ',';
			AppendReal(row_, x);
		}
		row_ += ',';
		if (&v == sim.focus() && v.hud.painted)
			AppendCsvField(row_, JoinedHudTexts(v));
		row_ += ',';
		for (const auto &le : v.lights)
			row_ += host::DescribeLight(*le).active ? '1' : '0';
		row_ += ',';
		for (const BEACONLIGHTSPEC *b : v.beacons)
			row_ += b && b->active ? '1' : '0';
		for (size_t i = 0; i < animColumns_; ++i) {
			row_ += ',';
			if (i < v.animationStates.size())
				AppendReal(row_, v.animationStates[i]);
		}
		row_ += '\n';
		out_.write(row_.data(), static_cast<std::streamsize>(row_.size()));
	}
}

HudRecorder::HudRecorder(std::ostream &out) : out_(out) { out_ << "frame,x,y,color,text\n"; }

void HudRecorder::Record(uint64_t frame, const Vessel *focus) {
	if (!focus || !focus->hud.painted)
		return;
	for (const host::HudText &t : focus->hud.texts) {
		char colour[16];
		std::snprintf(colour, sizeof colour, "0x%06X", static_cast<unsigned>(t.colour & 0xFFFFFF));
		row_.clear();
		row_ += std::to_string(frame);
		row_ += ',';
		row_ += std::to_string(t.x);
		row_ += ',';
		row_ += std::to_string(t.y);
		row_ += ',';
		row_ += colour;
		row_ += ',';
		AppendCsvField(row_, t.text);
		row_ += '\n';
		out_.write(row_.data(), static_cast<std::streamsize>(row_.size()));
	}
}

}  // namespace sim
