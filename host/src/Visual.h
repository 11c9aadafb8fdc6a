// A vessel's visual: mesh instances copied from the templates and posed from the vessel's
// animation states the way the real host's visual layer poses them.
#pragma once

#include <vector>

#include "HostVessel.h"
#include "Mesh.h"

namespace host {

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

	Vessel &vessel;
	std::vector<Mesh> meshes;     // one instance per mesh slot of the vessel, same index
	std::vector<double> applied;  // per animation, the state the instances show

private:
	void Animate(UINT anim, double target);
};

// Applies the delta of one component from state s0 to s1 (both already clamped to its range)
// to its target groups and, with the same transform, to all its descendants' targets, whose
// reference points and axes are carried along in place.
void ApplyComponentDelta(std::vector<Mesh> &meshes, AnimComponent &comp, double s0, double s1);

}  // namespace host
