// The solar system of the build's staged Orbiter folder (Config/Sol.cfg and the bodies' files)
// for a test's scratch Orbiter folder, which without it would run on the host's own three
// bodies and say so.
#pragma once

#include <filesystem>

inline void LinkSolarSystem(const std::filesystem::path &root) {
	namespace fs = std::filesystem;
	fs::create_directories(root / "Config");
	for (const auto &e : fs::directory_iterator(fs::path(SENDRA_ORBITER_ROOT) / "Config"))
		if (e.is_regular_file())
			fs::create_symlink(e.path(), root / "Config" / e.path().filename());
}
