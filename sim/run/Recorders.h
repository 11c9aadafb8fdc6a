// The run's recorders: trajectory.csv (one row per vessel per recorded frame) and hud.csv
// (every text of the focus vessel's HUD paint in the recorded frames), streamed row by row.
#pragma once

#include <charconv>
#include <cstdint>
#include <optional>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

#include "sendra_host/VesselView.h"

namespace host {
class Simulation;
}

namespace sim {

// Appends v in the shortest form that reads back as the same double (0.04, not
// 0.040000000000000001).
void AppendReal(std::string &row, double v);
// Appends a CSV field, quoted as RFC 4180 requires when it holds a comma, quote, CR or LF, and
// when it begins with = + - or @, which spreadsheets would take for a formula.
void AppendCsvField(std::string &row, std::string_view field);
// Appends n in decimal, as std::to_string writes it.
template <typename Int>
void AppendNumber(std::string &row, Int n) {
	char buf[24];
	row.append(buf, std::to_chars(buf, buf + sizeof buf, n).ptr);
}

// The HUD's texts joined with " | " as a CSV field, made again only when the texts changed.
class HudField {
public:
	const std::string &Field(const std::vector<host::HudText> &texts);

private:
	std::vector<std::string> texts_;    // the texts the field was made of
	std::optional<std::string> field_;  // none until made
};

// Each vessel's motion, followed frame by frame from where it stood when the run began: the
// ground it covered, its speed over the last frame, where it is from its start.
class MotionRecorder {
public:
	struct Motion {
		const Vessel *vessel = nullptr;
		double lng0 = 0, lat0 = 0, cosLat0 = 1;  // [rad] where it started
		double lng = 0, lat = 0, cosLat = 1;     // [rad] where the last frame left it
		double distance = 0;                     // [m] covered since the start
		double speed = 0;                        // [m/s] over the last frame
		bool landed = false;                     // on a body: the motion has a meaning
	};

	explicit MotionRecorder(const host::Simulation &sim);
	// After each frame, recorded or not.
	void Follow(const host::Simulation &sim);
	// Of the i-th vessel of the simulation, as it stood at the last Follow.
	const Motion &operator[](size_t i) const { return motions_[i]; }

private:
	static Motion Start(const Vessel *v);
	std::vector<Motion> motions_;
};

class TrajectoryRecorder {
public:
	// Writes the header with anim_0 to anim_<animColumns-1>, then the motion's columns, and the
	// flight's when a vessel of sim is in flight now.
	TrajectoryRecorder(std::ostream &out, size_t animColumns, const host::Simulation &sim);
	// After each frame: the vessels' motion.
	void Follow(const host::Simulation &sim) { motion_.Follow(sim); }
	// One row per vessel of sim, in scenario order, for frame k.
	void Record(uint64_t frame, const host::Simulation &sim);
	// [bytes] of the rows written so far, the header's included.
	uint64_t bytes() const { return bytes_; }

private:
	std::ostream &out_;
	size_t animColumns_;
	bool flightColumns_ = false;  // ref_body and the position and velocity in flight
	std::string row_;  // reused: no allocation per row once grown
	HudField hud_;
	MotionRecorder motion_;
	uint64_t bytes_ = 0;
};

class HudRecorder {
public:
	explicit HudRecorder(std::ostream &out);
	// The Text calls of focus's HUD paint this frame; nothing for a null focus.
	void Record(uint64_t frame, const Vessel *focus);
	// [bytes] of the rows written so far, the header's included.
	uint64_t bytes() const { return bytes_; }

private:
	// A text's row after the frame number, formatted again only when the text, its place or
	// its colour changed.
	struct Line {
		int x = 0, y = 0;
		DWORD colour = 0;
		std::string text;
		std::string tail;  // empty until formatted
	};
	std::ostream &out_;
	std::string row_;
	std::vector<Line> lines_;  // by the text's place in the paint
	uint64_t bytes_ = 0;
};

}  // namespace sim
