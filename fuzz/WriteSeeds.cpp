// Writes sendra-sim's built-in scenario and drive script to the files given, as fuzz seeds.
#include <cstdio>
#include <filesystem>
#include <fstream>

#include "session/Defaults.h"

int main(int argc, char **argv) {
	if (argc != 3) {
		std::fprintf(stderr, "usage: fuzz_write_seeds SCENARIO-FILE SCRIPT-FILE\n");
		return 2;
	}
	const char *texts[] = {sim::kDefaultScenario, sim::kDefaultScript};
	for (int i = 0; i < 2; ++i) {
		std::filesystem::path path(argv[i + 1]);
		std::filesystem::create_directories(path.parent_path());
		std::ofstream out(path, std::ios::binary);
		out << texts[i];
		if (!out.flush()) {
			std::fprintf(stderr, "%s: cannot write\n", argv[i + 1]);
			return 1;
		}
	}
	return 0;
}
