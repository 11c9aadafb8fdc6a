// A vessel's visual: its meshes as the templates hold them, and the transforms its animation
// states have applied to their groups, composed the way the real host's visual layer poses them.
#pragma once

#include <cstdint>
#include <memory>
#include <utility>
#include <vector>

#include "sendra_host/Mesh.h"
#include "src/HostVessel.h"

namespace host {

// A component's move from one state to another: p' = m p + t for points, m d for directions;
// normals turn by m under a rotation and stay as they are under the other transforms (a
// scale moves them otherwise than points, see VisualMesh::Move). m points to a matrix the
// visual keeps, so that components turning alike share one.
struct Delta {
	const MATRIX3 *m;
	VECTOR3 t;
	bool rotation;

	VECTOR3 Point(const VECTOR3 &p) const { return mul(*m, p) + t; }
	VECTOR3 Direction(const VECTOR3 &d) const { return mul(*m, d); }
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
	// Applies d after what moved the groups so far: the n listed (each time it is listed), or
	// all when groups is null. Scaled when d is a scale, which moves normals otherwise than
	// points. Groups beyond the mesh's are passed over.
	void Move(const UINT *groups, UINT n, const Delta &d, bool scaled);
	// The pose (its index + 1) that the groups listed have alone: one group with a pose of its
	// own, or two that share a pose no other group has. What a move of them composes directly,
	// as Move would; 0 otherwise.
	uint32_t SolePose(const UINT *groups, UINT n) const {
		const size_t size = poseOf_.size();
		if (!groups || n - 1 > 1 || groups[0] >= size)  // n is 1 or 2
			return 0;
		const UINT g0 = groups[0];
		const uint32_t pose = poseOf_[g0];
		if (pose == 0)
			return 0;
		const uint32_t users = poses_[pose - 1].users;
		if (n == 1)
			return users == 1 ? pose : 0;
		const UINT g1 = groups[1];
		return users == 2 && g1 != g0 && g1 < size && poseOf_[g1] == pose ? pose : 0;
	}
	// Moves the groups of a pose SolePose gave by the rotation about the unit axis through the
	// point ref whose angle has the cosine cs and sine sn, as Move does with the rotation's
	// delta. Inlined into the catch-up's fast path, which keeps the rotation in registers.
	HOST_ALWAYS_INLINE void Rotate(uint32_t pose, const VECTOR3 &axis, double cs, double sn, const VECTOR3 &ref);

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
	void Compose(Pose_ &p, const Delta &d, bool scaled);
	void MoveEach(const UINT *groups, UINT n, const Delta &d, bool scaled);
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
	HOST_ALWAYS_INLINE void CatchUpAnimation(UINT i);
	HOST_ALWAYS_INLINE void Animate(UINT anim, double target);
	// The fast path of ApplyComponentDelta, the common case of a frame (a wheel rolling): a
	// lone rotation (see AnimComponent) of groups with a pose of their own, composed at once;
	// false, having done nothing, when the groups have none.
	// ds is the fraction of the component's state range the move spans.
	HOST_ALWAYS_INLINE bool RotateSolePose(const AnimComponent &comp, double ds);
	// The slow path: the delta made, applied to the targets and carried to the descendants.
	void ApplyDelta(AnimComponent &comp, double s0, double s1);
	// ApplyComponentDelta for states s0 != s1 spanning the fraction ds of the component's
	// range, inlined into a catch-up.
	HOST_ALWAYS_INLINE void Apply(AnimComponent &comp, double s0, double s1, double ds);
	// The delta of component c, a transform of the given type, from state s0 to s1; false if
	// it moves nothing.
	bool MakeDelta(const AnimComponent &c, MGROUP_TRANSFORM::TYPE type, double s0, double s1, Delta &out);
	// The rotation by angle [rad] about the axis of r into m; false when r's axis has no
	// direction.
	bool Rotation(const MGROUP_ROTATE &r, double angle, MATRIX3 &m);
	// r's axis made a unit vector; false when it has no direction.
	HOST_ALWAYS_INLINE static bool UnitAxis(const MGROUP_ROTATE &r, VECTOR3 &axis);
	// The cosine and sine of angle [rad] into lastCos_ and lastSin_.
	HOST_ALWAYS_INLINE void Turn(double angle);
	void TransformTarget(const MGROUP_TRANSFORM &t, const Delta &d, bool scaled);
	void ApplyToDescendants(AnimComponent &comp, const Delta &d, bool scaled);

	// By pointer: the module keeps a mesh's handle while later meshes are added.
	std::vector<std::unique_ptr<VisualMesh>> meshes_;
	// The last rotation angle [rad] with its cosine and sine: the components of one animation
	// often turn by the same angle (all wheels of a side roll alike), and those of a rover's
	// two sides by the same angle too.
	// The angle by its bits: +0 to begin with, whose cosine and sine are 1 and 0.
	uint64_t lastAngleBits_ = 0;
	double lastCos_ = 1, lastSin_ = 0;
	// The matrix of the delta MakeDelta made last.
	MATRIX3 deltaMatrix_{};
};

// The template a MESHHANDLE stands for: the mesh itself, or a visual's mesh's template.
const Mesh *MeshTemplateOf(MESHHANDLE h);

}  // namespace host
