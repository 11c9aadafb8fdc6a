// A vessel's visual: mesh instances copied from the templates and posed from the vessel's
// animation states the way the real host's visual layer poses them.
#pragma once

#include <vector>

#include "HostVessel.h"
#include "Mesh.h"

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

class Visual {
public:
	explicit Visual(Vessel &v);
	Visual(const Visual &) = delete;
	Visual &operator=(const Visual &) = delete;

	VISHANDLE handle() { return this; }
	// Adds instances for meshes the vessel added since the visual was made.
	void SyncMeshes();
	// Applies to the instances every change of the vessel's animation states since the last
	// call: per changed animation, the delta of each component, children carried along.
	void CatchUp();
	// Drives every animation back to its default state, as the host does before a visual goes.
	void ResetToDefault();

	// The posed mesh instances, one per mesh slot of the vessel, same index. Each group keeps
	// the composition of every transform applied to it, in double precision, and its vertices
	// are brought up to date from the template when they are read here.
	const std::vector<Mesh> &meshes();
	// The instance handed to the module as a MESHHANDLE.
	MESHHANDLE MeshHandle(UINT idx);
	// The transform that takes group g of mesh idx from the mesh file's pose to the current one.
	const Affine &GroupPose(UINT idx, UINT g) const { return poses_[idx][g]; }

	Vessel &vessel;
	std::vector<double> applied;  // per animation, the state the instances show

	// Applies the delta of one component from state s0 to s1 (both already clamped to its
	// range) to its target groups and, with the same transform, to all its descendants'
	// targets, whose reference points and axes are carried along in place.
	void ApplyComponentDelta(AnimComponent &comp, double s0, double s1);

private:
	void Animate(UINT anim, double target);
	void TransformTarget(const MGROUP_TRANSFORM &t, const Affine &a);
	void ApplyToDescendants(AnimComponent &comp, const Affine &a);
	void Materialise(UINT idx);

	std::vector<Mesh> meshes_;
	std::vector<std::vector<Affine>> poses_;       // per mesh, per group
	std::vector<std::vector<char>> stale_;         // per mesh, per group: pose newer than vertices
	std::vector<char> meshStale_;                  // per mesh: some group is stale
};

}  // namespace host
