// A vessel's visual: its meshes as the templates hold them, and the transforms its animation
// states have applied to their groups, composed the way the real host's visual layer poses them.
#pragma once

#include <cstdint>
#include <memory>
#include <utility>
#include <vector>

#include "sendra_host/HostVessel.h"
#include "sendra_host/Mesh.h"

namespace host {

// An affine map of mesh coordinates: p' = m p + t for points, m d for directions.
struct Affine {
	MATRIX3 m;
	VECTOR3 t;
	// How normals move: the rotations among the composed maps (the host leaves normals alone
	// under a scale, but a group rotated before or after a scale keeps its turned normals).
	MATRIX3 normals;

	static Affine Identity();
	VECTOR3 Point(const VECTOR3 &p) const { return mul(m, p) + t; }
	VECTOR3 Direction(const VECTOR3 &d) const { return mul(m, d); }
	VECTOR3 Normal(const VECTOR3 &n) const { return mul(normals, n); }
	// This map applied after before.
	Affine After(const Affine &before) const;
};

// One mesh of a visual, and what a MESHHANDLE of the visual points to. The vertices stay the
// template's; the visual keeps the composed transform of each group an animation has moved
// and nothing for the others, so that a visual costs a few kilobytes whatever its mesh's size.
// Groups that have been moved alike (the two halves of a wheel) share one transform until a
// move parts them: composing it once gives each the same bits as composing it for each.
class VisualMesh : public MeshObject {
public:
	explicit VisualMesh(const Mesh *tmpl);

	const Mesh *tmpl() const { return tmpl_; }
	size_t groupCount() const { return poseOf_.size(); }
	// The transform that takes group g from the mesh file's pose to the current one.
	Affine Pose(size_t g) const;
	// The template with every moved group's vertices and normals transformed, computed now.
	Mesh Posed() const;
	// Applies a after what moved the groups so far: the n listed (each time it is listed), or
	// all when groups is null. Scaled when a moves normals otherwise than points (a.normals
	// differs from a.m). Groups beyond the mesh's are passed over.
	void Move(const UINT *groups, UINT n, const Affine &a, bool scaled);

private:
	// A composed transform and how many groups have it. Its normals move as its points do
	// until a scale comes; then they get a matrix of their own (normals > 0: its index + 1 in
	// normals_).
	struct Pose_ {
		MATRIX3 m;
		VECTOR3 t;
		uint32_t normals = 0;
		uint32_t users = 0;
	};
	// A pose of one's own for group g, a copy of the one it shares (or of the identity).
	uint32_t Own(size_t g);
	void Compose(Pose_ &p, const Affine &a, bool scaled);
	void MoveEach(const UINT *groups, UINT n, const Affine &a, bool scaled);
	// Whether a group is listed more than once.
	bool Repeats(const UINT *groups, UINT n);

	const Mesh *tmpl_;
	std::vector<uint32_t> poseOf_;  // per group: 0 if never moved, else its pose's index + 1
	std::vector<Pose_> poses_;
	std::vector<MATRIX3> normals_;
	std::vector<std::pair<uint32_t, uint32_t>> scratch_;  // per pose met in a move: pose, groups
	std::vector<UINT> sorted_;
};

class Visual {
public:
	explicit Visual(Vessel &v);
	Visual(const Visual &) = delete;
	Visual &operator=(const Visual &) = delete;

	VISHANDLE handle() { return this; }
	// Adds meshes the vessel added since the visual was made.
	void SyncMeshes();
	// Applies every change of the vessel's animation states not yet shown: per changed
	// animation, the delta of each component, children carried along.
	void CatchUp();
	// The same for the animations the vessel marked as changed since the last catch-up, which
	// are all that can differ once a visual has caught up fully: what a frame needs.
	void CatchUpChanged();
	// Drives every animation back to its default state, as the host does before a visual goes.
	void ResetToDefault();

	// The posed meshes, one per mesh slot of the vessel, same index: computed from the
	// templates and the groups' transforms when called, and not kept.
	std::vector<Mesh> PosedMeshes() const;
	// The instance handed to the module as a MESHHANDLE.
	MESHHANDLE MeshHandle(UINT idx);
	// The transform that takes group g of mesh idx from the mesh file's pose to the current
	// one; the identity for a group or mesh the visual does not have.
	Affine GroupPose(UINT idx, UINT g) const;

	Vessel &vessel;
	std::vector<double> applied;  // per animation, the state the meshes show

	// Applies the delta of one component from state s0 to s1 (both already clamped to its
	// range) to its target groups and, with the same transform, to all its descendants'
	// targets, whose reference points and axes are carried along in place.
	void ApplyComponentDelta(AnimComponent &comp, double s0, double s1);

private:
	void CatchUpAnimation(UINT i);
	void Animate(UINT anim, double target);
	// The delta of component c from state s0 to s1; false if it moves nothing.
	bool MakeDelta(const AnimComponent &c, double s0, double s1, Affine &out);
	void TransformTarget(const MGROUP_TRANSFORM &t, const Affine &a, bool scaled);
	void ApplyToDescendants(AnimComponent &comp, const Affine &a, bool scaled);

	// By pointer: the module keeps a mesh's handle while later meshes are added.
	std::vector<std::unique_ptr<VisualMesh>> meshes_;
	// The last rotation angle [rad] with its cosine and sine: the components of one animation
	// often turn by the same angle (all wheels of a side roll alike).
	double lastAngle_ = NAN, lastCos_ = 1, lastSin_ = 0;
};

// The template a MESHHANDLE stands for: the mesh itself, or a visual's mesh's template.
const Mesh *MeshTemplateOf(MESHHANDLE h);

}  // namespace host
