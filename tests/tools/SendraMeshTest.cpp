// The rover's mesh: the generator reproduces the committed file, every group the rig moves sits
// at its pivot, and faces are wound clockwise seen from outside with normals to match.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <sstream>

#include "animation/AnimationTables.h"
#include "sendra_host/HostError.h"
#include "sendra_host/Mesh.h"

namespace {

using host::Mesh;
using host::MeshGroup;

VECTOR3 V(const double (&p)[3]) { return _V(p[0], p[1], p[2]); }
VECTOR3 Pos(const NTVERTEX &v) { return _V(v.x, v.y, v.z); }
VECTOR3 Normal(const NTVERTEX &v) { return _V(v.nx, v.ny, v.nz); }

struct Box {
	VECTOR3 lo = _V(1e9, 1e9, 1e9), hi = _V(-1e9, -1e9, -1e9);
	VECTOR3 Centre() const { return (lo + hi) * 0.5; }
};
Box Bounds(const MeshGroup &g) {
	Box b;
	for (const NTVERTEX &v : g.vertices)
		for (int i = 0; i < 3; ++i) {
			b.lo.data[i] = std::min(b.lo.data[i], Pos(v).data[i]);
			b.hi.data[i] = std::max(b.hi.data[i], Pos(v).data[i]);
		}
	return b;
}

const Mesh &RoverMesh() {
	static const Mesh mesh = host::ReadMeshFile(SENDRA_MESH_ASSET);
	return mesh;
}

void ExpectNear(const VECTOR3 &a, const VECTOR3 &b, double tol, const std::string &what) {
	EXPECT_LT(length(a - b), tol) << what << ": (" << a.x << ", " << a.y << ", " << a.z << ") vs (" << b.x << ", "
	                              << b.y << ", " << b.z << ")";
}

TEST(SendraMesh, GeneratorReproducesTheCommittedFile) {
	FILE *pipe = popen(SENDRA_MESH_GENERATOR, "r");
	ASSERT_NE(pipe, nullptr);
	std::string generated;
	char buf[65536];
	size_t n;
	while ((n = std::fread(buf, 1, sizeof buf, pipe)) > 0)
		generated.append(buf, n);
	ASSERT_EQ(pclose(pipe), 0);
	std::ifstream in(SENDRA_MESH_ASSET, std::ios::binary);
	std::string committed((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
	ASSERT_FALSE(committed.empty());
	if (generated != committed) {
		size_t at = 0;
		while (at < generated.size() && at < committed.size() && generated[at] == committed[at])
			++at;
		long line = 1 + std::count(committed.begin(), committed.begin() + static_cast<long>(at), '\n');
		FAIL() << "the generator's output differs from the committed mesh at line " << line
		       << "; rebuild the target update_sendra_mesh and commit the result";
	}

	// One group per index up to the highest the rig names, each with geometry of its own.
	const Mesh &mesh = RoverMesh();
	ASSERT_GE(mesh.groups.size(), 172u);
	for (size_t i = 0; i < mesh.groups.size(); ++i) {
		EXPECT_FALSE(mesh.groups[i].vertices.empty()) << "group " << i;
		EXPECT_FALSE(mesh.groups[i].indices.empty()) << "group " << i;
	}
}

TEST(SendraMesh, RigGroupsSitAtTheirPivots) {
	const Mesh &mesh = RoverMesh();
	auto group = [&](UINT i) -> const MeshGroup & { return mesh.groups.at(i); };
	for (const rig::WheelRow &w : rig::WHEELS) {
		std::string name = "wheel with swivel group " + std::to_string(w.swivelGroup);
		// Tyre and hub are round about the axle through the roll point: turned half a turn
		// about it, each vertex lands on another.
		for (UINT g : w.rollGroups) {
			const MeshGroup &part = group(g);
			ExpectNear(Bounds(part).Centre(), V(w.rollPoint), 1e-4, name + ", roll group " + std::to_string(g));
			for (const NTVERTEX &v : part.vertices) {
				VECTOR3 turned = V(w.rollPoint) + mul(rotm(V(rig::WHEEL_ROLL_AXIS), PI), Pos(v) - V(w.rollPoint));
				bool found = false;
				for (const NTVERTEX &u : part.vertices)
					found = found || length(Pos(u) - turned) < 2e-4;
				ASSERT_TRUE(found) << name << ", roll group " << g;
			}
		}
		// The fork stands around the vertical through the swivel point.
		Box fork = Bounds(group(w.swivelGroup));
		EXPECT_NEAR(fork.Centre().x, w.swivelPoint[0], 1e-4) << name;
		EXPECT_NEAR(fork.Centre().z, w.swivelPoint[2], 1e-4) << name;
		EXPECT_GT(fork.hi.y, w.swivelPoint[1]) << name;
	}
	for (const rig::DoorRow &d : rig::DOORS) {
		// Panel and window meet at the vertical plane through the hinge, reaching from the
		// hinge along the side.
		for (UINT i = 0; i < d.rotation.ngroups; ++i) {
			Box b = Bounds(group(d.rotation.groups[i]));
			double hingeX = d.rotation.ref[0], hingeZ = d.rotation.ref[2];
			EXPECT_LT(std::min(std::fabs(b.lo.x - hingeX), std::fabs(b.hi.x - hingeX)), 1e-4)
			    << "door group " << d.rotation.groups[i];
			EXPECT_LT(std::min(std::fabs(b.lo.z - hingeZ), std::fabs(b.hi.z - hingeZ)), 0.3);
		}
	}
	for (const rig::RotationRow &r : rig::SUNSCREEN_SLATS) {
		// Closed, a slat lies flat just above its hinge and reaches forward from it.
		Box b = Bounds(group(r.groups[0]));
		EXPECT_LT(b.hi.y - b.lo.y, 0.02) << "slat " << r.groups[0];
		EXPECT_GT(b.lo.y, r.ref[1]);
		EXPECT_LT(b.hi.y, r.ref[1] + 0.3);
		EXPECT_NEAR(b.lo.z, r.ref[2], 0.1);
		EXPECT_GT(b.hi.z, r.ref[2] + 1.0);
	}
	for (const rig::PartRow &p : rig::DIALS) {
		// The centre of the dial's face is its reference point.
		const MeshGroup &g = group(p.rotation.groups[0]);
		bool centre = false;
		for (const NTVERTEX &v : g.vertices)
			centre = centre || length(Pos(v) - V(p.rotation.ref)) < 1e-4;
		EXPECT_TRUE(centre) << "dial " << p.rotation.groups[0];
	}
	for (const rig::PartRow &p : rig::STICKS) {
		// A stick rises from its pivot.
		Box b = Bounds(group(p.rotation.groups[0]));
		EXPECT_NEAR(b.Centre().x, p.rotation.ref[0], 1e-4);
		EXPECT_NEAR(b.Centre().z, p.rotation.ref[2], 1e-4);
		EXPECT_NEAR(b.lo.y, p.rotation.ref[1], 0.05);
		EXPECT_GT(b.hi.y, p.rotation.ref[1] + 0.2);
	}

	// A six-wheeled rover about 3.7 m wide and 6.3 m long, standing on its wheels.
	Box all;
	for (const MeshGroup &g : mesh.groups) {
		Box b = Bounds(g);
		for (int i = 0; i < 3; ++i) {
			all.lo.data[i] = std::min(all.lo.data[i], b.lo.data[i]);
			all.hi.data[i] = std::max(all.hi.data[i], b.hi.data[i]);
		}
	}
	EXPECT_NEAR(all.hi.x - all.lo.x, 3.7, 0.15);
	EXPECT_NEAR(all.hi.z - all.lo.z, 6.3, 0.3);
	EXPECT_NEAR(all.lo.y, rig::WHEELS[0].rollPoint[1] - 0.4, 1e-4);  // the tyres' lowest point
}

TEST(SendraMesh, FacesAreClockwiseFromOutsideWithMatchingNormals) {
	const Mesh &mesh = RoverMesh();
	size_t triangles = 0;
	for (size_t gi = 0; gi < mesh.groups.size(); ++gi) {
		const MeshGroup &g = mesh.groups[gi];
		VECTOR3 centre = _V(0, 0, 0);
		for (const NTVERTEX &v : g.vertices)
			centre += Pos(v) / static_cast<double>(g.vertices.size());
		for (const NTVERTEX &v : g.vertices) {
			ASSERT_NEAR(length(Normal(v)), 1.0, 1e-3) << "group " << gi;
		}
		// Tyres, hubs and slats are single closed convex parts: every face must look away
		// from the part's centre.
		bool convex = g.label.find("tyre") != std::string::npos || g.label.find("hub") != std::string::npos ||
		              g.label.find("slat") != std::string::npos;
		for (size_t t = 0; t + 2 < g.indices.size(); t += 3, ++triangles) {
			const NTVERTEX &a = g.vertices[g.indices[t]], &b = g.vertices[g.indices[t + 1]],
			               &c = g.vertices[g.indices[t + 2]];
			// Clockwise seen from the visible side: in the left-handed frame that side's normal.
			VECTOR3 face = crossp(Pos(b) - Pos(a), Pos(c) - Pos(a));
			ASSERT_GT(length(face), 0.0) << "degenerate triangle in group " << gi;
			for (const NTVERTEX *v : {&a, &b, &c}) {
				ASSERT_GT(dotp(face, Normal(*v)), 0.0) << "group " << gi << " (" << g.label << "), triangle " << t / 3;
			}
			if (convex) {
				ASSERT_GT(dotp(face, Pos(a) - centre), 0.0) << "group " << gi << " (" << g.label << "), triangle " << t / 3;
			}
		}
	}
	EXPECT_GT(triangles, 1000u);
}

}  // namespace
