// Writing trajectory.csv and hud.csv.
#include "run/Recorders.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <iterator>

#include "sendra_host/Simulation.h"
#include "session/Drive.h"

namespace sim {

void AppendReal(std::string &row, double v) {
	char buf[32];
	// to_chars without a precision writes the shortest text that reads back as v, without the
	// locale.
	auto r = std::to_chars(buf, buf + sizeof buf, v);
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

MotionRecorder::Motion MotionRecorder::Start(const Vessel *v) {
	const host::VesselPlace p = host::VesselView(v).place();
	Motion m;
	m.vessel = v;
	m.landed = p.body && p.landed;
	m.lng0 = m.lng = p.lng;
	m.lat0 = m.lat = p.lat;
	m.cosLat0 = m.cosLat = std::cos(p.lat);
	return m;
}

MotionRecorder::MotionRecorder(const host::Simulation &sim) {
	for (const auto &v : sim.vessels())
		motions_.push_back(Start(v.get()));
}

void MotionRecorder::Follow(const host::Simulation &sim) {
	const auto &vessels = sim.vessels();
	if (motions_.size() > vessels.size())
		motions_.resize(vessels.size());
	for (size_t i = 0; i < vessels.size(); ++i) {
		if (i == motions_.size() || motions_[i].vessel != vessels[i].get()) {
			// A vessel the run did not begin with starts where it is first seen.
			Motion m = Start(vessels[i].get());
			if (i == motions_.size())
				motions_.push_back(m);
			else
				motions_[i] = m;
			continue;
		}
		Motion &m = motions_[i];
		const host::VesselPlace p = host::VesselView(m.vessel).place();
		if ((p.body && p.landed) != m.landed) {
			// Landed or taken off: its motion over the ground starts again where it is now.
			m = Start(m.vessel);
			continue;
		}
		if (p.lng == m.lng && p.lat == m.lat) {  // at rest: the usual case of most vessels
			m.speed = 0;
			continue;
		}
		double cosLat = std::cos(p.lat);
		double step = p.body ? p.body->radius * CentralAngle(m.lng, m.lat, m.cosLat, p.lng, p.lat, cosLat) : 0;
		m.distance += step;
		m.speed = sim.simdt() > 0 ? step / sim.simdt() : 0;
		m.lng = p.lng;
		m.lat = p.lat;
		m.cosLat = cosLat;
	}
}

TrajectoryRecorder::TrajectoryRecorder(std::ostream &out, size_t animColumns, const host::Simulation &sim)
	: out_(out), animColumns_(animColumns), motion_(sim) {
	row_ = "frame,simt,vessel,lng,lat,hdg,arot_x,arot_y,arot_z,alt,rudder,hud,lights,beacons";
	for (size_t i = 0; i < animColumns_; ++i)
		row_ += ",anim_" + std::to_string(i);
	// After today's columns, so that readers of those keep working: the motion, in units.
	row_ += ",ground_speed_m_s,distance_m,east_m,north_m,heading_deg";
	// A scenario with vessels in flight: where each of them is, after the landed columns.
	for (const auto &v : sim.vessels())
		flightColumns_ = flightColumns_ || !host::VesselView(v).place().landed;
	if (flightColumns_)
		row_ += ",ref_body,x_m,y_m,z_m,vx_m_s,vy_m_s,vz_m_s";
	row_ += '\n';
	out_.write(row_.data(), static_cast<std::streamsize>(row_.size()));
	bytes_ += row_.size();
}

void TrajectoryRecorder::Record(uint64_t frame, const host::Simulation &sim) {
	const auto &vessels = sim.vessels();
	for (size_t n = 0; n < vessels.size(); ++n) {
		const auto &p = vessels[n];
		const host::VesselView v(p.get());
		const host::VesselPlace s = v.place();
		row_.clear();
		AppendNumber(row_, frame);
		row_ += ',';
		AppendReal(row_, sim.simt());
		row_ += ',';
		AppendCsvField(row_, v.name());
		// In flight the place on the ground is empty; the attitude and the rudder hold.
		const bool landed = s.landed && s.body;
		const double values[] = {s.lng, s.lat, s.hdg, s.arot.x, s.arot.y, s.arot.z, s.alt, v.rudder().level};
		const bool onGround[] = {true, true, true, false, false, false, true, false};
		for (size_t i = 0; i < std::size(values); ++i) {
			row_ += ',';
			if (landed || !onGround[i])
				AppendReal(row_, values[i]);
		}
		row_ += ',';
		if (p.get() == sim.focus() && v.hud().painted)
			row_ += hud_.Field(v.hud().texts);
		row_ += ',';
		for (size_t i = 0; i < v.lightCount(); ++i)
			row_ += v.lightOn(i) ? '1' : '0';
		row_ += ',';
		for (size_t i = 0; i < v.beaconCount(); ++i)
			row_ += v.beaconOn(i) ? '1' : '0';
		const host::Range<double> states = v.animationStates();
		for (size_t i = 0; i < animColumns_; ++i) {
			row_ += ',';
			if (i < states.size())
				AppendReal(row_, states[i]);
		}
		// East and north [m] of the start on the body's sphere, as a map of the start's
		// surroundings has them; empty for a vessel that is on no body.
		const MotionRecorder::Motion &m = motion_[n];
		if (m.landed && landed) {
			const double r = s.body->radius;
			for (double x : {m.speed, m.distance, r * m.cosLat0 * (s.lng - m.lng0), r * (s.lat - m.lat0), s.hdg * DEG}) {
				row_ += ',';
				AppendReal(row_, x);
			}
		} else {
			row_ += ",,,,,";
		}
		// [m], [m/s] relative to the reference body in the ecliptic frame of J2000.
		if (flightColumns_ && !landed) {
			row_ += ',';
			if (s.body)
				AppendCsvField(row_, s.body->name);
			for (double x : {s.pos.x, s.pos.y, s.pos.z, s.vel.x, s.vel.y, s.vel.z}) {
				row_ += ',';
				AppendReal(row_, x);
			}
		} else if (flightColumns_) {
			row_ += ",,,,,,,";
		}
		row_ += '\n';
		out_.write(row_.data(), static_cast<std::streamsize>(row_.size()));
		bytes_ += row_.size();
	}
}

HudRecorder::HudRecorder(std::ostream &out) : out_(out) {
	const char header[] = "frame,x,y,color,text\n";
	out_ << header;
	bytes_ += sizeof header - 1;
}

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
		bytes_ += row_.size();
	}
}

}  // namespace sim
