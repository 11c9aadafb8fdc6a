// The MSHX1 mesh reader on real Orbiter meshes and on malformed files: what it reads, and the
// file:line error it gives instead of crashing.
#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <sstream>

#include "sendra_host/HostError.h"
#include "sendra_host/Mesh.h"

namespace {

using namespace std::string_literals;
using host::Mesh;
using host::MeshGroup;

std::string Fixture(const std::string &name) { return std::string(SENDRA_FIXTURES) + "/orbiter/" + name; }

Mesh Read(const std::string &text) {
	std::istringstream in(text);
	return host::ReadMesh(in, "t.msh");
}

// The reader's error for text, or "" if it read the text.
std::string ErrorOf(const std::string &text) {
	try {
		Read(text);
	} catch (const host::HostError &e) {
		return e.what();
	}
	return "";
}

VECTOR3 Pos(const NTVERTEX &v) { return _V(v.x, v.y, v.z); }
VECTOR3 Normal(const NTVERTEX &v) { return _V(v.nx, v.ny, v.nz); }

TEST(MeshReader, ReadsTheSmallRealMeshes) {
	Mesh dummy = host::ReadMeshFile(Fixture("dummy.msh"));
	ASSERT_EQ(dummy.groups.size(), 1u);
	const MeshGroup &g = dummy.groups[0];
	EXPECT_EQ(g.material, 1u);
	EXPECT_EQ(g.texture, 1u);
	ASSERT_EQ(g.vertices.size(), 4u);
	EXPECT_EQ(g.indices, (std::vector<uint16_t>{0, 1, 2, 1, 3, 2}));
	EXPECT_EQ(g.vertices[3].x, 396.0f);
	EXPECT_EQ(g.vertices[3].z, -160.0f);
	EXPECT_EQ(g.vertices[3].ny, 1.0f);
	EXPECT_EQ(g.vertices[3].tu, 1.0f);
	EXPECT_EQ(g.vertices[3].tv, 1.0f);
	ASSERT_EQ(dummy.materials.size(), 1u);
	EXPECT_EQ(dummy.materials[0].name, "Hull");
	EXPECT_EQ(dummy.materials[0].diffuse.a, 0.5f);
	EXPECT_EQ(dummy.materials[0].specular.r, 0.0f);
	EXPECT_EQ(dummy.materials[0].power, 0.0f);
	EXPECT_EQ(dummy.textures, (std::vector<std::string>{"tmp.dds"}));

	// No TEXTURE tag: no texture; the list's "0" entry stands for none.
	Mesh ksc = host::ReadMeshFile(Fixture("KSC_10.msh"));
	ASSERT_EQ(ksc.groups.size(), 1u);
	EXPECT_EQ(ksc.groups[0].texture, 0u);
	EXPECT_EQ(ksc.groups[0].material, 0u);
	EXPECT_EQ(ksc.textures, (std::vector<std::string>{"0"}));
	EXPECT_FLOAT_EQ(ksc.groups[0].vertices[2].tu, 0.992f);

	Mesh cyl = host::ReadMeshFile(Fixture("Cyl.msh"));
	ASSERT_EQ(cyl.groups.size(), 1u);
	EXPECT_EQ(cyl.groups[0].vertices.size(), 36u);
	EXPECT_EQ(cyl.groups[0].indices.size(), 34u * 3);
	EXPECT_FLOAT_EQ(cyl.groups[0].vertices[2].x, 0.866025f);
	EXPECT_FLOAT_EQ(cyl.groups[0].vertices[2].nz, -0.5f);
}

TEST(MeshReader, ReadsShuttlePBWithInheritedTagsAndComputedNormals) {
	Mesh m = host::ReadMeshFile(Fixture("ShuttlePB.msh"));
	ASSERT_EQ(m.groups.size(), 7u);
	const size_t nv[7] = {56, 16, 6, 6, 8, 24, 24}, nt[7] = {52, 28, 6, 6, 10, 24, 34};
	// MATERIAL and TEXTURE carry over to the following groups until set again.
	const uint32_t material[7] = {1, 1, 1, 1, 2, 2, 2}, texture[7] = {0, 1, 2, 2, 0, 0, 0};
	for (size_t i = 0; i < 7; ++i) {
		SCOPED_TRACE("group " + std::to_string(i));
		EXPECT_EQ(m.groups[i].vertices.size(), nv[i]);
		EXPECT_EQ(m.groups[i].indices.size(), nt[i] * 3);
		EXPECT_EQ(m.groups[i].material, material[i]);
		EXPECT_EQ(m.groups[i].texture, texture[i]);
		EXPECT_EQ(m.groups[i].texwrap, i == 1 ? 2u : 0u);  // TEXWRAP V on group 2 only
	}
	// Six numbers: the file's normal, unnormalised as written; no texture coordinates.
	const NTVERTEX &v0 = m.groups[0].vertices[0];
	EXPECT_EQ(v0.nz, 1.0f);
	EXPECT_EQ(v0.ny, 1.0f);
	EXPECT_EQ(v0.tu, 0.0f);
	// Eight numbers, and six with a trailing blank, in one group.
	EXPECT_EQ(m.groups[2].vertices[0].tv, 0.8f);
	EXPECT_EQ(m.groups[2].vertices[2].ny, -1.0f);
	EXPECT_EQ(m.groups[2].vertices[2].tu, 0.0f);

	// Three numbers: normals from the faces, unit length, and, on this convex tail piece
	// whose faces are wound clockwise seen from outside, pointing away from its centre.
	const MeshGroup &tail = m.groups[4];
	VECTOR3 centre = _V(0, 0, 0);
	for (const NTVERTEX &v : tail.vertices)
		centre += Pos(v) / static_cast<double>(tail.vertices.size());
	for (const NTVERTEX &v : tail.vertices) {
		EXPECT_NEAR(length(Normal(v)), 1.0, 1e-6);
		EXPECT_GT(dotp(Normal(v), Pos(v) - centre), 0.0);
	}

	ASSERT_EQ(m.materials.size(), 2u);
	EXPECT_EQ(m.materials[1].name, "Engine");
	EXPECT_EQ(m.materials[0].specular.g, 1.0f);
	EXPECT_FLOAT_EQ(m.materials[1].diffuse.r, 0.3f);
	// The last line has no line end.
	EXPECT_EQ(m.textures, (std::vector<std::string>{"shuttlepb.dds", "shuttlepbwing.dds"}));
}

TEST(MeshReader, ComputesMissingNormalsFromTheClockwiseSide) {
	// A ridge of two faces seen from above, clockwise: the shared vertices get the mean of
	// the two face normals, the others their own face's; a face of no area adds nothing, and
	// a vertex on no face keeps a zero normal.
	Mesh m = Read("MSHX1\nGROUPS 1\nGEOM 5 3\n"
	              "0 1 0\n0 1 1\n1 0 0\n-1 0 0\n2 2 2\n"
	              "0 1 2\n0 3 1\n0 1 0\n");
	const MeshGroup &g = m.groups[0];
	double r = 1 / std::sqrt(2.0);
	EXPECT_NEAR(g.vertices[2].nx, r, 1e-6);
	EXPECT_NEAR(g.vertices[2].ny, r, 1e-6);
	EXPECT_NEAR(g.vertices[3].nx, -r, 1e-6);
	EXPECT_NEAR(g.vertices[0].nx, 0, 1e-6);
	EXPECT_NEAR(g.vertices[0].ny, 1, 1e-6);
	EXPECT_NEAR(g.vertices[1].nz, 0, 1e-6);
	EXPECT_EQ(length(Normal(g.vertices[4])), 0.0);
}

TEST(MeshReader, ToleratesTheVariationsOfRealFiles) {
	Mesh m = Read("MSHX1\r\n"
	              "STATICMESH\r\n"
	              "GROUPS 3  \r\n"
	              "\r\n"
	              "label Hull\r\n"
	              "material 2\r\n"
	              "Flag 0x1F\r\n"
	              "ZBIAS 3\r\n"
	              "STATIC\r\n"
	              "GEOM 3 1 ; the hull\r\n"
	              "0 0 0 0 1 0 0.5 0.25  \r\n"
	              "1 0 0 0 1 0\r\n"
	              "\r\n"
	              "0 0 1 0 1 0\r\n"
	              "0 1 2\r\n"
	              "FLIP\r\n"
	              "NONORMAL\r\n"
	              "TEXTURE 1\r\n"
	              "GEOM 3 1\r\n"
	              "0 0 0 0.5 0.5\r\n"
	              "1 0 0\r\n"
	              "0 0 1 1 1\r\n"
	              "0 1 2\r\n"
	              "DYNAMIC\r\n"
	              "GEOM 0 0\r\n"
	              "MATERIALS 2\r\n"
	              "a\r\nb\r\n"
	              "MATERIAL a\r\n1 0 0 1\r\n1 0 0 1\r\n1 1 1 1 20\r\n0 0 0 1\r\n"
	              "MATERIAL b\r\n0 1 0 1\r\n0 1 0 1\r\n0 0 0 1\r\n0 0 0 1\r\n"
	              "TEXTURES 2\r\n"
	              "rover\\hull.dds D\r\n"
	              "0\r\n");
	EXPECT_TRUE(m.isStatic);
	ASSERT_EQ(m.groups.size(), 3u);
	const MeshGroup &a = m.groups[0], &b = m.groups[1], &c = m.groups[2];
	EXPECT_EQ(a.label, "Hull");
	EXPECT_EQ(a.material, 2u);
	EXPECT_EQ(a.flags, 0x1Fu);
	EXPECT_EQ(a.zbias, 3u);
	EXPECT_EQ(a.usage, MeshGroup::Usage::Static);
	EXPECT_EQ(a.vertices[0].tv, 0.25f);
	EXPECT_EQ(a.vertices[2].z, 1.0f);  // the blank line is not a vertex
	EXPECT_EQ(a.indices, (std::vector<uint16_t>{0, 1, 2}));
	// FLIP swaps the last two indices; tags other than MATERIAL and TEXTURE do not carry over.
	EXPECT_TRUE(b.flipped);
	EXPECT_EQ(b.indices, (std::vector<uint16_t>{0, 2, 1}));
	EXPECT_EQ(b.material, 2u);
	EXPECT_EQ(b.texture, 1u);
	EXPECT_EQ(b.flags, 0u);
	EXPECT_EQ(b.usage, MeshGroup::Usage::Default);
	// NONORMAL: x y z [u v], normals left at 0.
	EXPECT_TRUE(b.noNormals);
	EXPECT_EQ(b.vertices[0].tu, 0.5f);
	EXPECT_EQ(b.vertices[2].tv, 1.0f);
	EXPECT_EQ(length(Normal(b.vertices[0])), 0.0);
	EXPECT_TRUE(c.vertices.empty());
	EXPECT_EQ(c.usage, MeshGroup::Usage::Dynamic);
	EXPECT_EQ(m.materials[0].power, 20.0f);
	EXPECT_EQ(m.materials[1].diffuse.g, 1.0f);
	EXPECT_EQ(m.textures, (std::vector<std::string>{"rover\\hull.dds", "0"}));
	EXPECT_EQ(m.texturesDynamic, (std::vector<bool>{true, false}));

	// The simulator's longest line, 255 characters before the CR LF, still reads.
	std::string label(249, 'x');
	EXPECT_EQ(Read("MSHX1\nGROUPS 1\nLABEL " + label + "\r\nGEOM 0 0\n").groups[0].label, label);

	// Without lists a mesh has no materials and no textures, which groups using neither need.
	Mesh bare = Read("MSHX1\nGROUPS 1\nGEOM 3 1\n0 0 0\n1 0 0\n0 0 1\n0 1 2\n");
	EXPECT_TRUE(bare.materials.empty());
	EXPECT_TRUE(bare.textures.empty());
}

// What the real host's reader loads although the file bends the format loads here too, as it
// loads there, with a warning at the line: the release's own meshes do each of these.
TEST(MeshReader, LoadsWhatTheRealHostsReaderLoadsWithAWarning) {
	const std::string tri = "GEOM 3 1\n0 0 0\n1 0 0\n0 0 1\n0 1 2\n";
	const std::string material = "MATERIALS 1\nm\nMATERIAL m\n1 0 0 1\n1 1 1 1\n0 0 0 1\n0 0 0 1\n";
	const std::string textures = "TEXTURES 1\na.dds\n";
	struct Case {
		std::string text;
		std::vector<uint32_t> materials, textures;  // per group
		size_t listed;                               // materials kept
		std::vector<std::string> warnings;
	};
	const Case cases[] = {
		{"MSHX1\nGROUPS1\n" + tri, {0}, {0}, 0, {"t.msh:2: 'GROUPS1' read as 'GROUPS 1', as Orbiter reads it"}},
		{"MSHX1\nGROUPS 1\nMATERIAL 1 // Material.001\nTEXTURE 1 x\nZBIAS 2 y\n" + tri + material + textures,
		 {1},
		 {1},
		 1,
		 {"t.msh:3: MATERIAL 1: the text after the number, '// Material.001', is ignored, as Orbiter ignores it",
		  "t.msh:4: TEXTURE 1: the text after the number, 'x', is ignored, as Orbiter ignores it",
		  "t.msh:5: ZBIAS 2: the text after the number, 'y', is ignored, as Orbiter ignores it"}},
		{"MSHX1\nGROUPS 2\nMATERIAL 3\nTEXTURE 2\n" + tri + "MATERIAL 1\n" + tri + material + textures,
		 {0, 1},
		 {0, 0},  // the second group's texture is the first's, beyond the list as well
		 1,
		 {"t.msh:3: MATERIAL 3 (group 1): the file lists 1 materials; the group takes the default material, as in Orbiter",
		  "t.msh:4: TEXTURE 2 (group 1): the file lists 1 textures; the group has none, as in Orbiter",
		  "t.msh:4: TEXTURE 2 (group 2): the file lists 1 textures; the group has none, as in Orbiter"}},
		{"MSHX1\nGROUPS 3\nMATERIAL 1\n" + tri + material,
		 {0},
		 {0},
		 0,
		 {"t.msh:9: GROUPS at line 2 says 3 groups, but the file holds only 1; those are read without materials or "
		  "textures, as Orbiter reads them"}},
		{"MSHX1\nGROUPS 2\n" + tri + "LABEL cut\n",
		 {0},
		 {0},
		 0,
		 {"t.msh:8: GROUPS at line 2 says 2 groups, but the file holds only 1; those are read without materials or "
		  "textures, as Orbiter reads them"}},
	};
	for (const Case &c : cases) {
		SCOPED_TRACE(c.text.substr(0, 80));
		Mesh m = Read(c.text);
		std::vector<uint32_t> mats, texs;
		for (const host::MeshGroup &g : m.groups) {
			mats.push_back(g.material);
			texs.push_back(g.texture);
			EXPECT_EQ(g.indices.size(), 3u);
		}
		EXPECT_EQ(mats, c.materials);
		EXPECT_EQ(texs, c.textures);
		EXPECT_EQ(m.materials.size(), c.listed);
		EXPECT_EQ(m.warnings, c.warnings);
	}
}

TEST(MeshReader, ReportsEachMalformedFileAtItsLine) {
	const std::string head = "MSHX1\nGROUPS 1\n";
	const std::string tri = "GEOM 3 1\n0 0 0\n1 0 0\n0 0 1\n0 1 2\n";
	const std::string material = "MATERIALS 1\nm\nMATERIAL m\n1 1 1 1\n1 1 1 1\n0 0 0 1\n0 0 0 1\n";
	struct Case {
		std::string text, error;
	};
	const Case cases[] = {
		{"", "t.msh:1: the file is empty"},
		{"MSHX2\nGROUPS 0\n", "t.msh:1: not a mesh file"},
		{"MSHX1\n", "t.msh:1: the file ends before 'GROUPS <count>'"},
		{"MSHX1\nGEOM 3 1\n", "t.msh:2: expected 'GROUPS <count>'"},
		{"MSHX1\nGROUPSx\n", "t.msh:2: expected 'GROUPS <count>'"},
		{"MSHX1\nGROUPS1x\n", "t.msh:2: GROUPS: '1x' is not a whole number"},
		{head + "MATERIAL one 1\n" + tri, "t.msh:3: MATERIAL: 'one 1' is not a whole number"},
		{"MSHX1\nGROUPS -1\n", "t.msh:2: GROUPS: '-1' is not a whole number from 0 to 65536"},
		{"MSHX1\nGROUPS 99999999999999999999\n", "t.msh:2: GROUPS: '99999999999999999999' is not"},
		{head + tri + tri, "t.msh:8: expected 'MATERIALS <count>' or 'TEXTURES <count>' after the last of the 1 groups"},
		{head + "MATERAIL 1\n" + tri, "t.msh:3: unknown group tag 'MATERAIL 1'"},
		{head + "GEOM 3\n", "t.msh:3: expected 'GEOM <vertices> <triangles>'"},
		{head + "GEOM 70000 0\n", "t.msh:3: GEOM vertex count: '70000' is not a whole number from 0 to 65536"},
		// A huge count in a short file fails at its end, without storage for the count.
		{head + "GEOM 65536 2000000\n", "t.msh:3: GEOM triangle count"},
		{head + "GEOM 65536 1\n0 0 0\n", "t.msh:3: GEOM says 65536 vertices, but the file ends after 1"},
		{head + "GEOM 3 5\n0 0 0\n1 0 0\n0 0 1\n0 1 2\n", "t.msh:3: GEOM says 5 triangles, but the file ends after 1"},
		{head + "GEOM 3 1\n0 0\n", "t.msh:4: expected vertex 1 of 3 (GEOM at line 3) (3 to 8 numbers), found '0 0'"},
		{head + "GEOM 3 1\n0 0 0 0 1 0 0 0 9\n", "t.msh:4: expected vertex 1 of 3"},
		{head + "NONORMAL\nGEOM 3 1\n0 0 0 0 1 0\n", "t.msh:5: expected vertex 1 of 3 (GEOM at line 4) (3 to 5 numbers)"},
		{head + "GEOM 3 1\n0 0 0\n1 nan 0\n", "t.msh:5: vertex 2 of 3 (GEOM at line 3): 'nan' is not a finite number"},
		{head + "GEOM 3 1\n0 0 1e39\n", "t.msh:4: vertex 1 of 3 (GEOM at line 3): '1e39' is not a finite number"},
		{head + "GEOM 3 1\n0 0 0\n1 0 0\n0 0 1\n0 1 3\n", "t.msh:7: triangle 1 of 1 (GEOM at line 3): vertex index 3 is outside"},
		{head + "GEOM 3 1\n0 0 0\n1 0 0\n0 0 1\n0 -1 2\n", "t.msh:7: triangle 1 of 1 (GEOM at line 3): vertex index -1"},
		{head + "GEOM 3 1\n0 0 0\n1 0 0\n0 0 1\n0 1 2.5\n", "t.msh:7: triangle 1 of 1 (GEOM at line 3): '2.5' is not a vertex index"},
		{head + "GEOM 3 1\n0 0 0\n1 0 0\n0 0 1\n0 1\n", "t.msh:7: expected triangle 1 of 1 (GEOM at line 3) as three"},
		{head + tri + "MATERIALS 2\nm\n", "t.msh:8: MATERIALS says 2, but the file ends after 1 names"},
		{head + tri + "MATERIALS 1\nm\nMATERIAL m\n1 1 1 1\n", "t.msh:8: MATERIALS says 1, but the file ends after 0 complete"},
		{head + tri + "MATERIALS 1\nm\nm\n", "t.msh:10: expected 'MATERIAL <name>' to begin material 1 (m)"},
		{head + tri + "MATERIALS 1\nm\nMATERIAL m\n1 1 1\n", "t.msh:11: expected the diffuse colour r g b a of material 1 (m)"},
		{head + tri + "TEXTURES 1\na.dds X\n", "t.msh:9: expected a texture line '<file> [D]', found 'a.dds X'"},
		{head + tri + "TEXTURES 1\na.dds\nmore\n", "t.msh:10: unexpected line after the texture list: 'more'"},
		{head + "FLAG zz\n" + tri, "t.msh:3: FLAG: 'zz' is not a 32-bit hexadecimal number"},
		{head + "FLAG 1FFFFFFFF\n" + tri, "t.msh:3: FLAG: '1FFFFFFFF' is not"},
		{head + "TEXWRAP W\n" + tri, "t.msh:3: TEXWRAP: expected U, V or UV, found 'W'"},
		{head + "ZBIAS -1\n" + tri, "t.msh:3: ZBIAS: '-1' is not a whole number from 0 to 65535"},
		{head + "GEOM 3 1\n0 0\r0\n", "t.msh:4: a carriage return inside a line"},
		{head + "GEOM 3 1\n0 0 0\n1 0 0\0\n"s, "t.msh:5: binary data in a mesh file"},
		{head + "LABEL " + std::string(250, 'x') + "\r\n" + tri, "t.msh:3: line longer than 255 characters"},
		{head + "LABEL " + std::string(100000, 'x'), "t.msh:3: line longer than 255 characters"},
	};
	for (const Case &c : cases) {
		SCOPED_TRACE(c.text.substr(0, 120));
		std::string error = ErrorOf(c.text);
		EXPECT_EQ(error.substr(0, c.error.size()), c.error) << error;
	}

	try {
		host::ReadMeshFile(Fixture("no-such.msh"));
		ADD_FAILURE() << "read a missing file";
	} catch (const host::HostError &e) {
		EXPECT_NE(std::string(e.what()).find("no-such.msh: cannot open the mesh file"), std::string::npos);
	}
}

TEST(MeshReader, NeverCrashesOnTruncatedOrDamagedFiles) {
	std::ifstream in(Fixture("ShuttlePB.msh"), std::ios::binary);
	std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
	ASSERT_GT(text.size(), 4000u);
	// Every prefix either reads or fails with a located error; no other outcome.
	size_t read = 0;
	for (size_t n = 0; n < text.size(); ++n) {
		std::string error = ErrorOf(text.substr(0, n));
		if (error.empty()) {
			++read;
		} else {
			EXPECT_EQ(error.rfind("t.msh:", 0), 0u) << error;
		}
	}
	EXPECT_GT(read, 0u);  // cut inside the texture list: still a mesh
	// Bytes overwritten with characters that turn numbers into words or control codes.
	for (size_t n = 0; n < text.size(); n += 7) {
		for (char c : {'\0', 'x', '-', '9', ' '}) {
			std::string damaged = text;
			damaged[n] = c;
			std::string error = ErrorOf(damaged);
			if (!error.empty()) {
				EXPECT_EQ(error.rfind("t.msh:", 0), 0u) << error;
			}
		}
	}
}

}  // namespace
