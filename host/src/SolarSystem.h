// The bodies of an Orbiter folder's solar system, read from its configuration: the system
// file Config/<System>.cfg and each body's file beside it.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "sendra_host/Body.h"

namespace host {

struct SolarSystem {
	std::vector<std::unique_ptr<Body>> bodies;  // stars, then each planet followed by its moons
	std::vector<std::string> warnings;          // each "file:line: what"
};

// The system file lists Star1, Star2, ..., Planet1, Planet2, ... and each planet's moons as
// <Planet>:Moon1, ..., each list up to its first missing number; each value names the body's
// file Config/<value>.cfg, whose Name (the value without one), Size, Mass, SidRotPeriod,
// SidRotOffset, Obliquity, LAN, LAN_MJD, PrecessionPeriod, PrecessionLAN and PrecessionObliquity
// give the body, and BEGIN_SURFBASE's DIR lines the folders of its bases. Files are found as Windows finds them. A
// folder without the system file gives the built-in bodies (MakeSolarSystem) and a warning.
// Throws HostError "file:line: what" for a system file that cannot be read or a body it lists
// whose file is missing or cannot be read, as the real host ends then.
SolarSystem ReadSolarSystem(const std::string &root, const std::string &system);

}  // namespace host
