// Scenes that tests, benchmarks and the probes share (the probes through scene_writer): rovers
// in a grid on the Moon, and the scenario file of a set of rovers.
#pragma once

#include <string>
#include <vector>

#include "sendra_host/Text.h"

namespace scenes {

constexpr double kMoonRadius = 1.738e6;  // [m], as the host's Moon
constexpr double kPi = 3.14159265358979323846;

// [deg] of latitude (or of longitude on the equator) that metres span on the Moon.
constexpr double MoonDegrees(double metres) { return metres / kMoonRadius * (180 / kPi); }

// A rover (class Sendra2016) landed on the Moon.
struct Rover {
	std::string name;
	double lng = 0, lat = 0, hdg = 0;  // [deg]
	std::vector<std::string> lines = {};  // its block's further lines, after STATUS, POS and HEADING
};

// The rover grid: n rovers spacing [m] apart, a hundred to a row eastwards from (lng, lat)
// [deg] and the rows northwards, all heading north, named R0, R1, ...
inline std::vector<Rover> RoverGrid(int n, double spacing, double lng = 23.47, double lat = 0.67) {
	const double step = MoonDegrees(spacing);
	std::vector<Rover> rovers;
	rovers.reserve(static_cast<size_t>(n > 0 ? n : 0));
	for (int i = 0; i < n; ++i)
		rovers.push_back({"R" + std::to_string(i), lng + (i % 100) * step, lat + (i / 100) * step, 0});
	return rovers;
}

// The scenario of rovers at mjd, one block each in their order, with a description when one
// is given. Places are written as the shortest text that reads back to the same bits, so that
// a rover loads exactly where it was put.
inline std::string RoverScenario(const std::vector<Rover> &rovers, double mjd = 60000,
                                 const std::string &description = "Test rovers") {
	std::string s;
	if (!description.empty())
		s += "BEGIN_DESC\n" + description + "\nEND_DESC\n\n";
	using host::FormatShortest;
	s += "BEGIN_ENVIRONMENT\n  System Sol\n  Date MJD " + FormatShortest(mjd) + "\nEND_ENVIRONMENT\n\nBEGIN_SHIPS\n";
	for (const Rover &r : rovers) {
		s += r.name + ":Sendra2016\n  STATUS Landed Moon\n  POS " + FormatShortest(r.lng) + ' ' + FormatShortest(r.lat) +
		     "\n  HEADING " + FormatShortest(r.hdg) + '\n';
		for (const std::string &line : r.lines)
			s += "  " + line + '\n';
		s += "END\n";
	}
	return s + "END_SHIPS\n";
}

}  // namespace scenes
