// Fuzzes sendra-sim's drive-script reader; a script it accepts must hold events at finite,
// non-negative, non-decreasing times, each of which can be described.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <sstream>
#include <string>

#include "sendra_host/HostError.h"
#include "session/DriveScript.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
	std::istringstream in(std::string(reinterpret_cast<const char *>(data), size));
	try {
		sim::DriveScript script = sim::ParseDriveScript(in, "fuzz.txt");
		double previous = 0;
		for (const sim::ScriptEvent &e : script.events) {
			if (!std::isfinite(e.t) || e.t < previous || !(e.level >= -1 && e.level <= 1))
				__builtin_trap();
			previous = e.t;
			if (sim::DescribeEvent(e).empty())
				__builtin_trap();
		}
	} catch (const host::HostError &) {
	}
	return 0;
}
