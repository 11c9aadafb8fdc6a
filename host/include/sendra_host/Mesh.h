// Meshes in the host: the contents of an Orbiter .msh file (MSHX1 text format), kept once per
// file as a template that every visual showing it shares.
#pragma once

#include <cstdint>
#include <istream>
#include <string>
#include <vector>

#include "OrbiterAPI.h"

namespace host {

struct MeshMaterial {
	std::string name;
	COLOUR4 diffuse{1, 1, 1, 1};
	COLOUR4 ambient{1, 1, 1, 1};
	COLOUR4 specular{0, 0, 0, 1};
	float power = 0.0f;  // specular power; 0 when the file gives none
	COLOUR4 emissive{0, 0, 0, 1};
};

struct MeshGroup {
	std::string label;           // LABEL tag, empty if none
	uint32_t material = 0;       // 1-based index into Mesh::materials; 0 = default white
	uint32_t texture = 0;        // 1-based index into Mesh::textures; 0 = none
	uint32_t flags = 0;          // FLAG tag
	uint32_t texwrap = 0;        // TEXWRAP: bit 0 = U, bit 1 = V
	bool noNormals = false;      // NONORMAL tag: normals stay 0
	uint32_t zbias = 0;          // ZBIAS tag, 0..65535
	bool flipped = false;        // FLIP tag: j and k of every triangle were swapped on reading
	enum class Usage { Default, Static, Dynamic } usage = Usage::Default;  // STATIC / DYNAMIC tag
	// Normals as the file gives them (not renormalised); computed as the normalised mean of
	// the adjacent faces' unit normals when any vertex line of the group omits them.
	std::vector<NTVERTEX> vertices;
	std::vector<uint16_t> indices;  // three per triangle; clockwise is the visible side
};

// Common head of what a MESHHANDLE can point to (a template, or a visual's mesh), so the host
// can tell which kind a handle it is given refers to.
struct MeshObject {
	enum class Kind : uint32_t { Template = 0x544d504c, Instance = 0x494e5354 };
	Kind meshKind = Kind::Template;
};

struct Mesh : MeshObject {
	std::string name;  // as loaded, e.g. "Sendra9"
	std::vector<MeshGroup> groups;
	std::vector<MeshMaterial> materials;
	std::vector<std::string> textures;  // file names; "0" means no texture
	std::vector<bool> texturesDynamic;  // per texture: the D flag (load uncompressed)
	bool isStatic = false;              // STATICMESH header line
	// What the reader took as the real host's reader takes it although the file bends the
	// format, each "file:line: what" (a material beyond the list, text after a tag's number).
	std::vector<std::string> warnings;
};

// Reads a mesh in the MSHX1 text format. fileLabel names the source in errors, which are
// thrown as HostError "fileLabel:line: what is wrong"; a malformed file never crashes the
// reader, and no count in the file makes it allocate more than the file's contents need.
// What the real host's reader loads it loads too, with a warning each: "GROUPS1" (the count
// right after the word), text after a tag's number, a material or texture index beyond its
// list (the default material, no texture), and a file that ends, or lists its materials, before
// its last declared group (the groups read, without materials or textures).
Mesh ReadMesh(std::istream &in, const std::string &fileLabel);
Mesh ReadMeshFile(const std::string &path);

}  // namespace host
