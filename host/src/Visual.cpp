// Posing a visual's mesh instances from animation states, as the real host's visual layer
// does: per changed animation the delta from the shown state to the new state, component by
// component (reverse order when the state falls), children carried along with their parent.
#include "Visual.h"

#include <algorithm>
#include <cmath>
#include <iostream>

namespace host {

namespace {

// v' = M v + t for points; M d for directions.
struct Affine {
	MATRIX3 m;
	VECTOR3 t;
	bool rotation;  // M is a rotation: normals turn with it

	VECTOR3 Point(const VECTOR3 &p) const { return mul(m, p) + t; }
	VECTOR3 Direction(const VECTOR3 &d) const { return mul(m, d); }
};

bool MakeDelta(const AnimComponent &c, double s0, double s1, Affine &out) {
	double range = c.state1 - c.state0;
	double ds = (s1 - s0) / range;
	out.m = identity();
	out.t = _V(0, 0, 0);
	out.rotation = true;
	switch (c.trans->Type()) {
	case MGROUP_TRANSFORM::ROTATE: {
		auto *r = static_cast<MGROUP_ROTATE *>(c.trans);
		double len = length(r->axis);
		if (!(len > 0) || !std::isfinite(len))
			return false;
		out.m = rotm(r->axis / len, ds * static_cast<double>(r->angle));
		out.t = r->ref - mul(out.m, r->ref);
		return true;
	}
	case MGROUP_TRANSFORM::TRANSLATE: {
		auto *tr = static_cast<MGROUP_TRANSLATE *>(c.trans);
		out.t = tr->shift * ds;
		return true;
	}
	case MGROUP_TRANSFORM::SCALE: {
		auto *sc = static_cast<MGROUP_SCALE *>(c.trans);
		double u0 = (s0 - c.state0) / range, u1 = (s1 - c.state0) / range;
		double f[3];
		for (int i = 0; i < 3; ++i) {
			double k = sc->scale.data[i] - 1.0;
			double den = u0 * k + 1.0;
			f[i] = den != 0 ? (u1 * k + 1.0) / den : 1.0;
		}
		out.m = _M(f[0], 0, 0, 0, f[1], 0, 0, 0, f[2]);
		out.t = sc->ref - mul(out.m, sc->ref);
		out.rotation = false;
		return true;
	}
	case MGROUP_TRANSFORM::NULLTRANSFORM:
		return true;
	}
	return false;
}

void TransformGroup(MeshGroup &g, const Affine &a) {
	for (NTVERTEX &v : g.vertices) {
		VECTOR3 p = a.Point(_V(v.x, v.y, v.z));
		v.x = static_cast<float>(p.x);
		v.y = static_cast<float>(p.y);
		v.z = static_cast<float>(p.z);
		if (a.rotation) {
			VECTOR3 n = a.Direction(_V(v.nx, v.ny, v.nz));
			v.nx = static_cast<float>(n.x);
			v.ny = static_cast<float>(n.y);
			v.nz = static_cast<float>(n.z);
		}
	}
}

// Applies a to what the transform targets.
void TransformTarget(std::vector<Mesh> &meshes, const MGROUP_TRANSFORM &t, const Affine &a) {
	if (t.mesh == LOCALVERTEXLIST) {
		auto *pts = reinterpret_cast<VECTOR3 *>(t.grp);
		if (pts)
			for (UINT i = 0; i < t.ngrp; ++i)
				pts[i] = a.Point(pts[i]);
		return;
	}
	if (t.mesh >= meshes.size())
		return;
	Mesh &mesh = meshes[t.mesh];
	if (t.grp) {
		for (UINT i = 0; i < t.ngrp; ++i)
			if (t.grp[i] < mesh.groups.size())
				TransformGroup(mesh.groups[t.grp[i]], a);
	} else {
		for (MeshGroup &g : mesh.groups)
			TransformGroup(g, a);
	}
}

// Carries a child's own reference point and axis along with its parent's movement.
void CarryParameters(MGROUP_TRANSFORM &t, const Affine &a) {
	switch (t.Type()) {
	case MGROUP_TRANSFORM::ROTATE: {
		auto &r = static_cast<MGROUP_ROTATE &>(t);
		r.ref = a.Point(r.ref);
		VECTOR3 axis = a.Direction(r.axis);
		double len = length(axis);
		if (len > 0 && std::isfinite(len))
			r.axis = axis / len;
		break;
	}
	case MGROUP_TRANSFORM::TRANSLATE: {
		auto &tr = static_cast<MGROUP_TRANSLATE &>(t);
		tr.shift = a.Direction(tr.shift);
		break;
	}
	case MGROUP_TRANSFORM::SCALE: {
		auto &sc = static_cast<MGROUP_SCALE &>(t);
		sc.ref = a.Point(sc.ref);
		break;
	}
	case MGROUP_TRANSFORM::NULLTRANSFORM:
		break;
	}
}

void ApplyToDescendants(std::vector<Mesh> &meshes, AnimComponent &comp, const Affine &a) {
	for (AnimComponent *child : comp.children) {
		TransformTarget(meshes, *child->trans, a);
		CarryParameters(*child->trans, a);
		ApplyToDescendants(meshes, *child, a);
	}
}

double Clamp(double s, const AnimComponent &c) {
	double lo = std::min(c.state0, c.state1), hi = std::max(c.state0, c.state1);
	return std::clamp(s, lo, hi);
}

}  // namespace

void ApplyComponentDelta(std::vector<Mesh> &meshes, AnimComponent &comp, double s0, double s1) {
	if (!comp.trans || s0 == s1 || comp.state0 == comp.state1)
		return;
	Affine a;
	if (!MakeDelta(comp, s0, s1, a))
		return;
	TransformTarget(meshes, *comp.trans, a);
	ApplyToDescendants(meshes, comp, a);
}

Visual::Visual(Vessel &v) : vessel(v) {
	SyncMeshes();
	applied.reserve(v.animations.size());
	for (const AnimationRecord &a : v.animations)
		applied.push_back(a.defstate);
}

void Visual::SyncMeshes() {
	while (meshes.size() < vessel.meshes.size()) {
		const MeshSlot &slot = vessel.meshes[meshes.size()];
		meshes.push_back(slot.tmpl ? *slot.tmpl : Mesh());
	}
}

void Visual::Animate(UINT anim, double target) {
	double from = applied[anim];
	std::vector<AnimComponent *> &comps = vessel.animations[anim].comps;
	auto apply = [&](AnimComponent *c) { ApplyComponentDelta(meshes, *c, Clamp(from, *c), Clamp(target, *c)); };
	if (target > from)
		std::for_each(comps.begin(), comps.end(), apply);
	else
		std::for_each(comps.rbegin(), comps.rend(), apply);
	applied[anim] = target;
}

void Visual::CatchUp() {
	while (applied.size() < vessel.animations.size())
		applied.push_back(vessel.animations[applied.size()].defstate);
	for (UINT i = 0; i < vessel.animations.size(); ++i) {
		const AnimationRecord &a = vessel.animations[i];
		if (a.comps.empty() || a.state == applied[i])
			continue;
		if (!std::isfinite(a.state)) {
			if (!vessel.warnedNonFinitePose) {
				vessel.warnedNonFinitePose = true;
				std::cerr << "host: vessel " << vessel.name << ": animation " << i
				          << " was given a state that is not a finite number; its pose keeps the last finite state\n";
			}
			continue;
		}
		Animate(i, a.state);
	}
}

void Visual::ResetToDefault() {
	for (UINT i = 0; i < applied.size() && i < vessel.animations.size(); ++i)
		if (!vessel.animations[i].comps.empty() && applied[i] != vessel.animations[i].defstate)
			Animate(i, vessel.animations[i].defstate);
}

}  // namespace host
