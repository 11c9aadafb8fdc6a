// Reading Orbiter mesh files (MSHX1).
#include <fstream>

#include "HostError.h"
#include "Mesh.h"

namespace host {

Mesh ReadMesh(std::istream &, const std::string &fileLabel) { throw HostError(fileLabel, 0, "mesh reading is not available"); }

Mesh ReadMeshFile(const std::string &path) {
	std::ifstream in(path);
	if (!in)
		throw HostError(path, 0, "cannot open the mesh file");
	return ReadMesh(in, path);
}

}  // namespace host
