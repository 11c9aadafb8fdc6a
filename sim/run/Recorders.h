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

// Appends v as printf's %.17g writes it, which reads back as the same double.
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

class TrajectoryRecorder {
public:
	// Writes the header with anim_0 to anim_<animColumns-1>.
	TrajectoryRecorder(std::ostream &out, size_t animColumns);
	// One row per vessel of sim, in scenario order, for frame k.
	void Record(uint64_t frame, const host::Simulation &sim);

private:
	std::ostream &out_;
	size_t animColumns_;
	std::string row_;  // reused: no allocation per row once grown
	HudField hud_;
};

class HudRecorder {
public:
	explicit HudRecorder(std::ostream &out);
	// The Text calls of focus's HUD paint this frame; nothing for a null focus.
	void Record(uint64_t frame, const Vessel *focus);

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
};

}  // namespace sim
