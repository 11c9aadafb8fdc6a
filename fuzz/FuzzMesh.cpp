// Fuzzes the mesh reader on whole files; a mesh it accepts must hold only indices that
// refer to what the file lists.
#include <cstddef>
#include <cstdint>
#include <sstream>
#include <string>

#include "sendra_host/HostError.h"
#include "sendra_host/Mesh.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
	std::istringstream in(std::string(reinterpret_cast<const char *>(data), size));
	try {
		host::Mesh mesh = host::ReadMesh(in, "fuzz.msh");
		for (const host::MeshGroup &g : mesh.groups) {
			if (g.indices.size() % 3 != 0 || g.material > mesh.materials.size() || g.texture > mesh.textures.size())
				__builtin_trap();
			for (uint16_t i : g.indices)
				if (i >= g.vertices.size())
					__builtin_trap();
		}
	} catch (const host::HostError &) {
	}
	return 0;
}
