// The run's recorders: trajectory.csv (one row per vessel per recorded frame) and hud.csv
// (every text of the focus vessel's HUD paint in the recorded frames), streamed row by row.
#pragma once

#include <cstdint>
#include <ostream>
#include <string>
#include <string_view>

class Vessel;

namespace host {
class Simulation;
}

namespace sim {

// Appends v as printf's %.17g writes it, which reads back as the same double.
void AppendReal(std::string &row, double v);
// Appends a CSV field, quoted as RFC 4180 requires when it holds a comma, quote, CR or LF, and
// when it begins with = + - or @, which spreadsheets would take for a formula.
void AppendCsvField(std::string &row, std::string_view field);
// The texts of a vessel's last HUD paint joined with " | ".
std::string JoinedHudTexts(const Vessel &v);

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
};

class HudRecorder {
public:
	explicit HudRecorder(std::ostream &out);
	// The Text calls of focus's HUD paint this frame; nothing for a null focus.
	void Record(uint64_t frame, const Vessel *focus);

private:
	std::ostream &out_;
	std::string row_;
};

}  // namespace sim
