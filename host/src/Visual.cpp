// Posing a visual's mesh instances from animation states, as the real host's visual layer
// does: per changed animation the delta from the shown state to the new state, component by
// component (reverse order when the state falls), children carried along with their parent.
// Each group keeps the composed transform of its deltas (as a per-group transform matrix of a
// graphics client does) and its vertices are recomputed from the template when read, so a
// long drive neither costs a pass over the vertices every frame nor accumulates rounding in
// them.
#include "Visual.h"

#include <algorithm>
#include <cmath>
#include <iostream>

#include "Text.h"

namespace host {

Affine Affine::Identity() {
	Affine a;
	a.m = identity();
	a.t = _V(0, 0, 0);
	a.normals = a.m;
	return a;
}

Affine Affine::After(const Affine &before) const {
	Affine r;
	r.m = mul(m, before.m);
	r.t = mul(m, before.t) + t;
	r.normals = mul(normals, before.normals);
	return r;
}

namespace {

bool MakeDelta(const AnimComponent &c, double s0, double s1, Affine &out) {
	double range = c.state1 - c.state0;
	double ds = (s1 - s0) / range;
	out = Affine::Identity();
	// A range or state that is not a number moves nothing, rather than every vertex to NaN.
	if (!std::isfinite(ds))
		return false;
	switch (c.trans->Type()) {
	case MGROUP_TRANSFORM::ROTATE: {
		auto *r = static_cast<MGROUP_ROTATE *>(c.trans);
		double len = length(r->axis);
		if (!(len > 0) || !std::isfinite(len))
			return false;
		out.m = rotm(r->axis / len, ds * static_cast<double>(r->angle));
		out.t = r->ref - mul(out.m, r->ref);
		out.normals = out.m;
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
		return true;
	}
	case MGROUP_TRANSFORM::NULLTRANSFORM:
		return true;
	}
	return false;
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

double Clamp(double s, const AnimComponent &c) {
	double lo = std::min(c.state0, c.state1), hi = std::max(c.state0, c.state1);
	return std::clamp(s, lo, hi);
}

}  // namespace

// Applies a to what the transform targets: module-owned points at once, mesh groups by
// composing their pose.
void Visual::TransformTarget(const MGROUP_TRANSFORM &t, const Affine &a) {
	if (t.mesh == LOCALVERTEXLIST) {
		auto *pts = reinterpret_cast<VECTOR3 *>(t.grp);
		if (pts)
			for (UINT i = 0; i < t.ngrp; ++i)
				pts[i] = a.Point(pts[i]);
		return;
	}
	if (t.mesh >= poses_.size())
		return;
	std::vector<Affine> &groups = poses_[t.mesh];
	auto move = [&](size_t g) {
		groups[g] = a.After(groups[g]);
		stale_[t.mesh][g] = 1;
	};
	if (t.grp) {
		for (UINT i = 0; i < t.ngrp; ++i)
			if (t.grp[i] < groups.size())
				move(t.grp[i]);
	} else {
		for (size_t g = 0; g < groups.size(); ++g)
			move(g);
	}
	meshStale_[t.mesh] = 1;
}

void Visual::ApplyToDescendants(AnimComponent &comp, const Affine &a) {
	for (AnimComponent *child : comp.children) {
		TransformTarget(*child->trans, a);
		CarryParameters(*child->trans, a);
		ApplyToDescendants(*child, a);
	}
}

void Visual::ApplyComponentDelta(AnimComponent &comp, double s0, double s1) {
	if (!comp.trans || s0 == s1 || comp.state0 == comp.state1)
		return;
	Affine a;
	if (!MakeDelta(comp, s0, s1, a))
		return;
	TransformTarget(*comp.trans, a);
	ApplyToDescendants(comp, a);
}

Visual::Visual(Vessel &v) : vessel(v) {
	SyncMeshes();
	applied.reserve(v.animations.size());
	for (const AnimationRecord &a : v.animations)
		applied.push_back(a.defstate);
}

void Visual::SyncMeshes() {
	while (meshes_.size() < vessel.meshes.size()) {
		const MeshSlot &slot = vessel.meshes[meshes_.size()];
		meshes_.push_back(slot.tmpl ? *slot.tmpl : Mesh());
		size_t groups = meshes_.back().groups.size();
		poses_.emplace_back(groups, Affine::Identity());
		stale_.emplace_back(groups, 0);
		meshStale_.push_back(0);
	}
}

void Visual::Materialise(UINT idx) {
	if (!meshStale_[idx])
		return;
	const MeshSlot &slot = vessel.meshes[idx];
	Mesh &mesh = meshes_[idx];
	for (size_t g = 0; g < mesh.groups.size(); ++g) {
		if (!stale_[idx][g])
			continue;
		stale_[idx][g] = 0;
		if (!slot.tmpl || g >= slot.tmpl->groups.size())
			continue;
		const std::vector<NTVERTEX> &from = slot.tmpl->groups[g].vertices;
		std::vector<NTVERTEX> &to = mesh.groups[g].vertices;
		const Affine &a = poses_[idx][g];
		for (size_t i = 0; i < from.size() && i < to.size(); ++i) {
			const NTVERTEX &f = from[i];
			VECTOR3 p = a.Point(_V(f.x, f.y, f.z));
			to[i].x = static_cast<float>(p.x);
			to[i].y = static_cast<float>(p.y);
			to[i].z = static_cast<float>(p.z);
			VECTOR3 n = a.Normal(_V(f.nx, f.ny, f.nz));
			to[i].nx = static_cast<float>(n.x);
			to[i].ny = static_cast<float>(n.y);
			to[i].nz = static_cast<float>(n.z);
		}
	}
	meshStale_[idx] = 0;
}

const std::vector<Mesh> &Visual::meshes() {
	for (UINT i = 0; i < meshes_.size(); ++i)
		Materialise(i);
	return meshes_;
}

MESHHANDLE Visual::MeshHandle(UINT idx) {
	if (idx >= meshes_.size())
		return nullptr;
	Materialise(idx);
	return &meshes_[idx];
}

void Visual::Animate(UINT anim, double target) {
	double from = applied[anim];
	std::vector<AnimComponent *> &comps = vessel.animations[anim].comps;
	auto apply = [&](AnimComponent *c) { ApplyComponentDelta(*c, Clamp(from, *c), Clamp(target, *c)); };
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
				std::cerr << "host: vessel " << Printable(vessel.name) << ": animation " << i
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
