// Fuzzes the vessel configuration reader and the oapiReadItem functions over what it read.
#include <cstddef>
#include <cstdint>
#include <string>

#include "Orbitersdk.h"
#include "sendra_host/ConfigFile.h"
#include "sendra_host/HostError.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
	std::string text(reinterpret_cast<const char *>(data), size);
	try {
		host::ConfigFile cfg = host::ConfigFile::Parse(text, "fuzz.cfg");
		char item[] = "Size";
		double d;
		oapiReadItem_float(&cfg, item, d);
		char mesh[] = "MeshName";
		char value[256];
		oapiReadItem_string(&cfg, mesh, value);
		VECTOR3 v;
		char inertia[] = "Inertia";
		oapiReadItem_vec(&cfg, inertia, v);
		try {
			cfg.Number("Mass");
			cfg.Vector("CameraOffset");
			cfg.Bool("EnableFocus");
		} catch (const host::HostError &) {
		}
	} catch (const host::HostError &) {
	}
	return 0;
}
