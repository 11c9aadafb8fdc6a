// scene_writer: the shared scenes as files, for the probes that cannot link them
// (tools/serve-many-rovers.mjs).
//   scene_writer grid N SPACING   the rover grid of N rovers SPACING metres apart, as a
//                                 scenario on standard output
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <string>

#include "Scenes.h"

namespace {

int Usage(const std::string &problem) {
	std::cerr << "scene_writer: " << problem << "\nusage: scene_writer grid N SPACING\n";
	return 2;
}

}  // namespace

int main(int argc, char **argv) {
	if (argc != 4 || std::string(argv[1]) != "grid")
		return Usage("expected the scene 'grid' and its two numbers");
	char *end = nullptr;
	long n = std::strtol(argv[2], &end, 10);
	if (*argv[2] == '\0' || *end != '\0' || n < 1 || n > 1000000)
		return Usage(std::string("N: expected a whole number of rovers from 1 to 1000000, not '") + argv[2] + "'");
	double spacing = std::strtod(argv[3], &end);
	if (*argv[3] == '\0' || *end != '\0' || !std::isfinite(spacing) || spacing <= 0)
		return Usage(std::string("SPACING: expected metres > 0, not '") + argv[3] + "'");
	std::cout << scenes::RoverScenario(scenes::RoverGrid(static_cast<int>(n), spacing), 60000, "") << std::flush;
	if (!std::cout) {
		std::perror("scene_writer: cannot write the scenario");
		return 1;
	}
	return 0;
}
