// Visuals of vessels without a module, on meshes written for the test: what a visual keeps of
// its mesh, and how groups moved alike share one transform without changing a bit of any pose.
#include <gtest/gtest.h>
#include <malloc.h>

#include <cmath>
#include <cstring>
#include <list>
#include <memory>
#include <sstream>

#include "Scratch.h"
#include "sendra_host/Simulation.h"
#include "src/HostVessel.h"
#include "src/Visual.h"

namespace {

// A mesh of four one-triangle groups, each with verticesPerGroup vertices.
std::string BoxMesh(int verticesPerGroup) {
	std::ostringstream s;
	s << "MSHX1\nGROUPS 4\n";
	for (int g = 0; g < 4; ++g) {
		s << "GEOM " << verticesPerGroup << " 1\n";
		for (int i = 0; i < verticesPerGroup; ++i)
			s << g + 0.25 * i << ' ' << 0.5 * i << ' ' << -g << "  0 1 0\n";
		s << "0 1 2\n";
	}
	return s.str();
}

// An Orbiter folder with the classes Box and BigBox: the same four groups, of 3 and of 3000
// vertices each.
class Root : public scenes::ScratchRoot {
public:
	Root() : ScratchRoot("visual-test") {
		WriteClass("Box", "MeshName = Box\n");
		WriteClass("BigBox", "MeshName = BigBox\n");
		Write("Meshes/Box.msh", BoxMesh(3));
		Write("Meshes/BigBox.msh", BoxMesh(3000));
	}
	host::SimOptions Options() const {
		host::SimOptions o;
		o.root = path();
		return o;
	}
};

Vessel *Make(host::Simulation &sim, const std::string &name, const std::string &className, double lngDeg) {
	host::LandedPosition pos;
	pos.body = sim.FindBody("Moon");
	pos.lng = lngDeg * RAD;
	return sim.CreateVessel(name, className, pos);
}

bool SameBits(const host::Affine &a, const host::Affine &b) {
	return std::memcmp(&a.m, &b.m, sizeof a.m) == 0 && std::memcmp(&a.t, &b.t, sizeof a.t) == 0 &&
	       std::memcmp(&a.normals, &b.normals, sizeof a.normals) == 0;
}

#if defined(__SANITIZE_ADDRESS__)
#define SENDRA_SANITIZED 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define SENDRA_SANITIZED 1
#endif
#endif

TEST(Visual, KeepsNoVerticesOfItsOwn) {
#ifdef SENDRA_SANITIZED
	GTEST_SKIP() << "the sanitizer's allocator is not the one mallinfo2 reports on";
#endif
	Root root;
	host::Simulation sim(root.Options());
	Vessel *focus = Make(sim, "Focus", "Box", 0);
	Vessel *small = Make(sim, "Small", "Box", 10);
	Vessel *big = Make(sim, "Big", "BigBox", 10);
	ASSERT_TRUE(focus->visual);
	ASSERT_FALSE(small->visual || big->visual);
	ASSERT_EQ(big->meshes.at(0).tmpl->groups.at(0).vertices.size(), 3000u);

	// Heap bytes of a visual made for v, which comes to stand beside the focus.
	auto visualBytes = [&](Vessel *v) {
		size_t before = mallinfo2().uordblks;
		v->state.surf_lng = 0;
		sim.UpdateVisuals();
		EXPECT_TRUE(v->visual);
		return mallinfo2().uordblks - before;
	};
	// The allocator's per-thread caches blur the count by some hundred bytes; a copy of the
	// vertices would add 12,000 of 32 bytes.
	double smallBytes = static_cast<double>(visualBytes(small)), bigBytes = static_cast<double>(visualBytes(big));
	EXPECT_NEAR(bigBytes, smallBytes, 2048) << "a visual of 12,000 vertices against one of 12";

	// What is read is the template, vertex for vertex.
	std::vector<host::Mesh> posed = big->visual->PosedMeshes();
	ASSERT_EQ(posed.size(), 1u);
	for (size_t g = 0; g < 4; ++g)
		EXPECT_EQ(std::memcmp(posed[0].groups[g].vertices.data(), big->meshes[0].tmpl->groups[g].vertices.data(),
		                      3000 * sizeof(NTVERTEX)),
		          0);
}

// Two vessels animated alike, one through transforms that list several groups (whose groups
// then share a transform until a move parts them), the other through one transform per group
// listed: every pose, and every posed vertex, the same to the bit after every frame.
TEST(Visual, GroupsMovedAlikeShareTheirTransformWithoutChangingAPose) {
	Root root;
	// Owned by the test as a module owns them: they outlive the vessels.
	std::vector<std::unique_ptr<UINT[]>> groupArrays;
	// The SDK's transforms have virtual functions but no virtual destructor: kept as final
	// types, so that the lists destroy them as what they are.
	struct Rotate final : MGROUP_ROTATE {
		using MGROUP_ROTATE::MGROUP_ROTATE;
	};
	struct Translate final : MGROUP_TRANSLATE {
		using MGROUP_TRANSLATE::MGROUP_TRANSLATE;
	};
	struct Scale final : MGROUP_SCALE {
		using MGROUP_SCALE::MGROUP_SCALE;
	};
	std::list<Rotate> rotations;
	std::list<Translate> translations;
	std::list<Scale> scales;
	host::Simulation sim(root.Options());
	Vessel *shared = Make(sim, "Shared", "Box", 0);
	Vessel *single = Make(sim, "Single", "Box", 0);
	ASSERT_TRUE(shared->visual && single->visual);

	// Per vessel, per animation, the group lists of its components; a component after the
	// first of animation 0 is a child of its first.
	using Lists = std::vector<std::vector<std::vector<UINT>>>;
	const Lists sharedLists = {{{0, 1}, {3}}, {{1}}, {{0, 1, 2}}, {{}}, {{2, 2}}, {{0, 1, 2}}, {{0, 1}}};
	const Lists singleLists = {{{0}, {1}, {3}}, {{1}},      {{0}, {1}, {2}}, {{0}, {1}, {2}, {3}},
	                           {{2}, {2}},      {{0}, {1}, {2}}, {{0}, {1}}};
	auto make = [&](Vessel *v, const Lists &lists) {
		for (size_t anim = 0; anim < lists.size(); ++anim) {
			UINT a = v->iface->CreateAnimation(0.0);
			ANIMATIONCOMPONENT_HANDLE parent = nullptr;
			for (size_t c = 0; c < lists[anim].size(); ++c) {
				const std::vector<UINT> &l = lists[anim][c];
				UINT *grp = nullptr;
				if (!l.empty()) {
					groupArrays.emplace_back(new UINT[l.size()]);
					std::copy(l.begin(), l.end(), groupArrays.back().get());
					grp = groupArrays.back().get();
				}
				UINT n = grp ? static_cast<UINT>(l.size()) : 4;
				bool child = anim == 0 && l == std::vector<UINT>{3};
				MGROUP_TRANSFORM *t;
				switch (anim) {
				case 0:
					t = child ? static_cast<MGROUP_TRANSFORM *>(&translations.emplace_back(0, grp, n, _V(0, 0, 0.5)))
					          : &rotations.emplace_back(0, grp, n, _V(1, 0, 0), _V(0, 0, 1), static_cast<float>(PI05));
					break;
				case 1: t = &translations.emplace_back(0, grp, n, _V(0, 1, 0)); break;
				case 2: t = &scales.emplace_back(0, grp, n, _V(0.5, 0, 0), _V(2, 1, 3)); break;
				case 3: t = &rotations.emplace_back(0, grp, n, _V(0, 1, 0), _V(1, 0, 0), static_cast<float>(PI / 6)); break;
				case 5: t = &rotations.emplace_back(0, grp, n, _V(0, 0, 1), _V(0, 1, 0), static_cast<float>(PI / 4)); break;
				default: t = &translations.emplace_back(0, grp, n, _V(0.1, 0, 0)); break;
				}
				ANIMATIONCOMPONENT_HANDLE h = v->iface->AddAnimationComponent(a, 0, 1, t, child ? parent : nullptr);
				if (c == 0)
					parent = h;
			}
		}
	};
	make(shared, sharedLists);
	make(single, singleLists);

	// First three groups moved alike from where the file has them, then two of the three.
	const std::vector<std::vector<std::pair<UINT, double>>> frames = {
	    {{5, 1.0}}, {{6, 1.0}}, {{0, 0.5}}, {{1, 1.0}}, {{0, 0.2}, {2, 0.3}}, {{3, 1.0}, {4, 0.7}}, {{2, 0.9}, {0, 1.0}}, {{1, 0.0}, {4, 0.0}},
	    {{0, 0.0}, {2, 0.0}, {3, 0.4}}};
	for (size_t f = 0; f < frames.size(); ++f) {
		for (auto [anim, state] : frames[f]) {
			shared->iface->SetAnimation(anim, state);
			single->iface->SetAnimation(anim, state);
		}
		sim.Frame(0.02);
		for (UINT g = 0; g < 4; ++g)
			EXPECT_TRUE(SameBits(shared->visual->GroupPose(0, g), single->visual->GroupPose(0, g)))
			    << "frame " << f << ", group " << g;
		std::vector<host::Mesh> a = shared->visual->PosedMeshes(), b = single->visual->PosedMeshes();
		for (UINT g = 0; g < 4; ++g)
			EXPECT_EQ(std::memcmp(a[0].groups[g].vertices.data(), b[0].groups[g].vertices.data(), 3 * sizeof(NTVERTEX)), 0)
			    << "frame " << f << ", group " << g;
	}
	// The last frame left groups 0 and 1 where they were not: they were moved.
	EXPECT_FALSE(SameBits(shared->visual->GroupPose(0, 0), host::Affine::Identity()));

	// A visual's mesh handle stands for its template, and stays valid as meshes are added.
	MESHHANDLE handle = shared->visual->MeshHandle(0);
	EXPECT_EQ(oapiMeshGroupCount(handle), 4u);
	UINT added = shared->iface->AddMesh(handle);
	EXPECT_EQ(shared->meshes.at(added).tmpl, shared->meshes.at(0).tmpl);
	EXPECT_EQ(shared->visual->MeshHandle(0), handle);
	EXPECT_EQ(shared->visual->PosedMeshes().size(), 2u);
}

// Vessels just within and just beyond the 5 km visual range, north, east and diagonally of
// the focus at 30 degrees east: the bounds that spare the trigonometry decide as the
// distance does.
TEST(Visual, TheVisualRangeEndsAtItsDistance) {
	Root root;
	host::Simulation sim(root.Options());
	Make(sim, "Focus", "Box", 30);
	const double r = sim.FindBody("Moon")->radius, d = 1 / std::sqrt(2.0);
	struct Place {
		double north, east;  // [m]
		bool in;
	};
	const Place places[] = {{4999, 0, true},     {5001, 0, false},       {0, 4999, true},
	                        {0, 5001, false},    {4999 * d, 4999 * d, true}, {5001 * d, 5001 * d, false},
	                        {-4999, 0, true},    {0, -5001, false}};
	for (const Place &p : places) {
		host::LandedPosition pos;
		pos.body = sim.FindBody("Moon");
		pos.lat = p.north / r;
		pos.lng = 30 * RAD + p.east / r;
		std::string name = std::to_string(p.north) + "," + std::to_string(p.east);
		Vessel *v = sim.CreateVessel(name, "Box", pos);
		EXPECT_EQ(v->visual != nullptr, p.in) << name;
	}
}

// Animations changed in one frame are applied in index order, as a full catch-up applies them
// (turns about two axes do not commute), and an animation whose component comes after its
// state was set shows that state once it has the component.
TEST(Visual, ChangedAnimationsCatchUpInIndexOrder) {
	Root root;
	UINT group0[] = {0}, group1[] = {1};
	MGROUP_ROTATE aboutX(0, group0, 1, _V(0, 0, 0), _V(1, 0, 0), static_cast<float>(PI05));
	MGROUP_ROTATE aboutY(0, group0, 1, _V(0, 0, 0), _V(0, 1, 0), static_cast<float>(PI05));
	MGROUP_TRANSLATE late(0, group1, 1, _V(0, 0, 2));
	host::Simulation sim(root.Options());
	Vessel *v = Make(sim, "V", "Box", 0);
	UINT x = v->iface->CreateAnimation(0), y = v->iface->CreateAnimation(0), z = v->iface->CreateAnimation(0);
	v->iface->AddAnimationComponent(y, 0, 1, &aboutY);
	v->iface->AddAnimationComponent(x, 0, 1, &aboutX);
	v->iface->SetAnimation(y, 1);
	v->iface->SetAnimation(x, 1);
	v->iface->SetAnimation(z, 1);
	sim.Frame(0.02);
	MATRIX3 expected = mul(rotm(_V(0, 1, 0), PI05), rotm(_V(1, 0, 0), PI05));  // x's turn, then y's
	host::Affine pose = v->visual->GroupPose(0, 0);
	for (int i = 0; i < 9; ++i)
		EXPECT_NEAR(pose.m.data[i], expected.data[i], 1e-6) << i;

	EXPECT_EQ(v->visual->GroupPose(0, 1).t.z, 0.0);
	v->iface->AddAnimationComponent(z, 0, 1, &late);
	sim.Frame(0.02);
	EXPECT_NEAR(v->visual->GroupPose(0, 1).t.z, 2.0, 1e-12);
}

// A rotation of two groups whose pose a third shares moves the two alone, and an animation's
// components, turned back, come off in reverse order (a turn and a shift do not commute).
TEST(Visual, ARotationMovesOnlyItsGroupsAndAFallingStateUndoesInReverse) {
	Root root;
	UINT three[] = {0, 1, 2}, two[] = {0, 1}, last[] = {3};
	MGROUP_TRANSLATE up(0, three, 3, _V(0, 1, 0));
	MGROUP_ROTATE turn(0, two, 2, _V(0, 0, 0), _V(0, 1, 0), static_cast<float>(PI05));
	MGROUP_ROTATE roll(0, last, 1, _V(0, 0, 0), _V(1, 0, 0), static_cast<float>(PI05));
	MGROUP_TRANSLATE shift(0, last, 1, _V(0, 0, 2));
	host::Simulation sim(root.Options());
	Vessel *v = Make(sim, "V", "Box", 0);
	UINT a = v->iface->CreateAnimation(0), b = v->iface->CreateAnimation(0), c = v->iface->CreateAnimation(0);
	v->iface->AddAnimationComponent(a, 0, 1, &up);
	v->iface->AddAnimationComponent(b, 0, 1, &turn);
	v->iface->AddAnimationComponent(c, 0, 1, &roll);
	v->iface->AddAnimationComponent(c, 0, 1, &shift);
	for (auto [anim, state] : std::vector<std::pair<UINT, double>>{{a, 1}, {b, 1}, {c, 1}, {c, 0}}) {
		v->iface->SetAnimation(anim, state);
		sim.Frame(0.02);
	}
	host::Affine shifted = host::Affine::Identity(), back = v->visual->GroupPose(0, 3);
	shifted.t = _V(0, 1, 0);
	EXPECT_TRUE(SameBits(v->visual->GroupPose(0, 2), shifted));
	EXPECT_NEAR(v->visual->GroupPose(0, 0).m.m13, 1.0, 1e-12);  // turned
	for (int i = 0; i < 9; ++i)
		EXPECT_NEAR(back.m.data[i], identity().data[i], 1e-12) << i;
	EXPECT_NEAR(length(back.t), 0.0, 1e-12);
}

}  // namespace
