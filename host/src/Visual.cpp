// Posing a visual's meshes from animation states, as the real host's visual layer does: per
// changed animation the delta from the shown state to the new state, component by component
// (reverse order when the state falls), children carried along with their parent. Each moved
// group keeps the composed transform of its deltas (as a per-group transform matrix of a
// graphics client does) and its vertices are computed from the shared template when read, so
// a long drive neither costs a pass over the vertices every frame nor accumulates rounding in
// them, and a visual holds no vertices of its own.
#include "src/Visual.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <iostream>

#include "sendra_host/Text.h"

namespace host {

Affine Affine::Identity() {
	Affine a;
	a.m = identity();
	a.t = _V(0, 0, 0);
	a.normals = a.m;
	return a;
}

namespace {

// Carries a child's own reference point and axis along with its parent's movement.
void CarryParameters(MGROUP_TRANSFORM &t, MGROUP_TRANSFORM::TYPE type, const Delta &a) {
	switch (type) {
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

bool Visual::UnitAxis(const MGROUP_ROTATE &r, VECTOR3 &axis) {
	// r.axis / length(r.axis); a square length of exactly 1 (most unit vectors have one) gives
	// the axis itself, bit for bit, without the root and the divisions.
	double square = dotp(r.axis, r.axis);
	if (square == 1.0) {
		axis = r.axis;
		return true;
	}
	double len = std::sqrt(square);
	if (!(len > 0) || !std::isfinite(len))
		return false;
	axis = r.axis / len;
	return true;
}

void Visual::Turn(double angle) {
	// The same bits as the last angle (so the same sign of a zero) have its cosine and sine.
	uint64_t bits;
	std::memcpy(&bits, &angle, sizeof bits);
	if (bits != lastAngleBits_) {
		lastAngleBits_ = bits;
		lastCos_ = std::cos(angle);
		lastSin_ = std::sin(angle);
	}
}

bool Visual::Rotation(const MGROUP_ROTATE &r, double angle, MATRIX3 &m) {
	VECTOR3 axis;
	if (!UnitAxis(r, axis))
		return false;
	Turn(angle);
	// rotm(axis, angle), term for term.
	double cs = lastCos_, sn = lastSin_, t = 1.0 - cs;
	double x = axis.x, y = axis.y, z = axis.z;
	m = _M(t * x * x + cs, t * x * y - z * sn, t * x * z + y * sn, t * x * y + z * sn, t * y * y + cs,
	       t * y * z - x * sn, t * x * z - y * sn, t * y * z + x * sn, t * z * z + cs);
	return true;
}

bool Visual::MakeDelta(const AnimComponent &c, MGROUP_TRANSFORM::TYPE type, double s0, double s1, Delta &out) {
	double range = c.state1 - c.state0;
	double ds = (s1 - s0) / range;
	// A range or state that is not a number moves nothing, rather than every vertex to NaN.
	if (!std::isfinite(ds))
		return false;
	out.rotation = false;
	switch (type) {
	case MGROUP_TRANSFORM::ROTATE: {
		auto *r = static_cast<const MGROUP_ROTATE *>(c.trans);
		if (!Rotation(*r, ds * static_cast<double>(r->angle), deltaMatrix_))
			return false;
		out.m = &deltaMatrix_;
		out.t = r->ref - mul(deltaMatrix_, r->ref);
		out.rotation = true;
		return true;
	}
	case MGROUP_TRANSFORM::TRANSLATE: {
		auto *tr = static_cast<const MGROUP_TRANSLATE *>(c.trans);
		deltaMatrix_ = identity();
		out.m = &deltaMatrix_;
		out.t = tr->shift * ds;
		return true;
	}
	case MGROUP_TRANSFORM::SCALE: {
		auto *sc = static_cast<const MGROUP_SCALE *>(c.trans);
		double u0 = (s0 - c.state0) / range, u1 = (s1 - c.state0) / range;
		double f[3];
		for (int i = 0; i < 3; ++i) {
			double k = sc->scale.data[i] - 1.0;
			double den = u0 * k + 1.0;
			f[i] = den != 0 ? (u1 * k + 1.0) / den : 1.0;
		}
		deltaMatrix_ = _M(f[0], 0, 0, 0, f[1], 0, 0, 0, f[2]);
		out.m = &deltaMatrix_;
		out.t = sc->ref - mul(deltaMatrix_, sc->ref);
		return true;
	}
	case MGROUP_TRANSFORM::NULLTRANSFORM:
		deltaMatrix_ = identity();
		out.m = &deltaMatrix_;
		out.t = _V(0, 0, 0);
		return true;
	}
	return false;
}

// --- A visual's mesh ----------------------------------------------------------------------

VisualMesh::VisualMesh(const Mesh *tmpl) : tmpl_(tmpl), poseOf_(tmpl ? tmpl->groups.size() : 0, 0) {
	meshKind = Kind::Instance;
}

Affine VisualMesh::Pose(size_t g) const {
	if (g >= poseOf_.size() || poseOf_[g] == 0)
		return Affine::Identity();
	const Pose_ &p = poses_[poseOf_[g] - 1];
	Affine a;
	a.m = p.m;
	a.t = p.t;
	a.normals = p.normals ? normals_[p.normals - 1] : p.m;
	return a;
}

// Composes d after the pose: m' = d.m m, t' = d.m t + d.t, and the normals' matrix the same way
// once a scale has given the pose one of its own (before, it would be the points' matrix again,
// bit for bit).
void VisualMesh::Compose(Pose_ &p, const Delta &d, bool scaled) {
	if (scaled && p.normals == 0) {
		normals_.push_back(p.m);
		p.normals = static_cast<uint32_t>(normals_.size());
	}
	if (p.normals)
		normals_[p.normals - 1] = mul(d.rotation ? *d.m : identity(), normals_[p.normals - 1]);
	// Into locals first: the compiler need not fear that p and d overlap.
	const MATRIX3 m = *d.m;
	const VECTOR3 t = mul(m, p.t) + d.t;
	const MATRIX3 composed = mul(m, p.m);
	p.t = t;
	p.m = composed;
}

namespace {
// Two doubles side by side, each operated on as a double alone (one instruction for both
// where the machine has one).
using Pair = double __attribute__((vector_size(16)));
}  // namespace

void VisualMesh::Rotate(uint32_t pose, const VECTOR3 &axis, double cs, double sn, const VECTOR3 &ref) {
	Pose_ &p = poses_[pose - 1];
	double *m = p.m.data;
	// rotm(axis, angle) term for term, as Visual::Rotation builds it: the first two rows in
	// pairs, a column of them to a pair ((r11, r21), (r12, r22), (r13, r23)), the third row
	// alone. A pair's lanes are operated on each as a double alone, so the bits are those of
	// the scalar terms; a - b is written a + (-b), which is the same number.
	const double t = 1.0 - cs, x = axis.x, y = axis.y, z = axis.z;
	const double tx = t * x, ty = t * y, tz = t * z, xs = x * sn, ys = y * sn, zs = z * sn;
	const Pair txty = {tx, ty};
	const Pair k1 = Pair{tx, tx} * Pair{x, y} + Pair{cs, zs};
	const Pair k2 = txty * y + Pair{-zs, cs};
	const Pair k3 = txty * z + Pair{ys, -xs};
	const double r31 = tx * z - ys, r32 = ty * z + xs, r33 = tz * z + cs;
	// m v: the first two rows as a pair, and the third.
	auto pair = [&](double v1, double v2, double v3) { return k1 * v1 + k2 * v2 + k3 * v3; };
	auto third = [&](double v1, double v2, double v3) { return r31 * v1 + r32 * v2 + r33 * v3; };
	// The delta's translation as MakeDelta makes it (ref - m ref), and Compose's: m t + that.
	const Pair shift = Pair{ref.x, ref.y} - pair(ref.x, ref.y, ref.z);
	const double shiftZ = ref.z - third(ref.x, ref.y, ref.z);
	const Pair moved = pair(p.t.x, p.t.y, p.t.z) + shift;
	p.t.z = third(p.t.x, p.t.y, p.t.z) + shiftZ;
	p.t.x = moved[0];
	p.t.y = moved[1];
	// Compose's matrix product column by column, a column read whole before it is written.
	for (int j = 0; j < 3; ++j) {
		const double b1 = m[j], b2 = m[3 + j], b3 = m[6 + j];
		const Pair top = pair(b1, b2, b3);
		m[6 + j] = third(b1, b2, b3);
		m[j] = top[0];
		m[3 + j] = top[1];
	}
	if (p.normals)
		normals_[p.normals - 1] = mul(_M(k1[0], k2[0], k3[0], k1[1], k2[1], k3[1], r31, r32, r33), normals_[p.normals - 1]);
}

uint32_t VisualMesh::Own(size_t g) {
	uint32_t shared = poseOf_[g];
	if (shared && poses_[shared - 1].users == 1)
		return shared;
	Pose_ copy;
	if (shared) {
		copy = poses_[shared - 1];
		poses_[shared - 1].users--;
		if (copy.normals) {
			normals_.push_back(normals_[copy.normals - 1]);
			copy.normals = static_cast<uint32_t>(normals_.size());
		}
	} else {
		copy.m = identity();
		copy.t = _V(0, 0, 0);
	}
	copy.users = 1;
	poses_.push_back(copy);
	return poseOf_[g] = static_cast<uint32_t>(poses_.size());
}

bool VisualMesh::Repeats(const UINT *groups, UINT n) {
	if (n <= 8) {
		for (UINT i = 1; i < n; ++i)
			for (UINT j = 0; j < i; ++j)
				if (groups[i] == groups[j])
					return true;
		return false;
	}
	sorted_.assign(groups, groups + n);
	std::sort(sorted_.begin(), sorted_.end());
	return std::adjacent_find(sorted_.begin(), sorted_.end()) != sorted_.end();
}

// A group listed twice is moved twice: one group at a time, each with a pose of its own.
void VisualMesh::MoveEach(const UINT *groups, UINT n, const Delta &d, bool scaled) {
	for (UINT i = 0; i < n; ++i)
		if (groups[i] < poseOf_.size())
			Compose(poses_[Own(groups[i]) - 1], d, scaled);
}

void VisualMesh::Move(const UINT *groups, UINT n, const Delta &d, bool scaled) {
	// The fast paths: one group, and two that share a pose no other group has.
	if (groups && n == 1) {
		if (groups[0] < poseOf_.size())
			Compose(poses_[Own(groups[0]) - 1], d, scaled);
		return;
	}
	if (groups && n == 2 && groups[0] != groups[1] && groups[0] < poseOf_.size() && groups[1] < poseOf_.size()) {
		uint32_t pose = poseOf_[groups[0]];
		if (pose && pose == poseOf_[groups[1]] && poses_[pose - 1].users == 2)
			return Compose(poses_[pose - 1], d, scaled);
	}
	size_t count = groups ? n : poseOf_.size();
	auto group = [&](size_t i) -> size_t { return groups ? groups[i] : i; };
	// The poses the listed groups have, and how many of them have each.
	if (groups && Repeats(groups, n))
		return MoveEach(groups, n, d, scaled);
	scratch_.clear();
	for (size_t i = 0; i < count; ++i) {
		size_t g = group(i);
		if (g >= poseOf_.size())
			continue;
		auto met = std::find_if(scratch_.begin(), scratch_.end(), [&](const auto &e) { return e.first == poseOf_[g]; });
		if (met == scratch_.end())
			scratch_.emplace_back(poseOf_[g], 1);
		else
			met->second++;
	}
	// A pose all of whose groups move is composed in place; one that others keep is copied
	// first, once for all the moving groups that share it.
	for (auto &[pose, moving] : scratch_) {
		uint32_t target = pose;
		if (pose == 0 || poses_[pose - 1].users != moving) {
			size_t first = 0;
			while (group(first) >= poseOf_.size() || poseOf_[group(first)] != pose)
				++first;
			size_t g = group(first);
			target = Own(g);
			poses_[target - 1].users = moving;
			if (pose)
				poses_[pose - 1].users -= moving - 1;
			for (size_t i = first + 1; i < count; ++i)
				if (group(i) < poseOf_.size() && poseOf_[group(i)] == pose)
					poseOf_[group(i)] = target;
		}
		Compose(poses_[target - 1], d, scaled);
	}
}

Mesh VisualMesh::Posed() const {
	if (!tmpl_)
		return Mesh();
	Mesh mesh = *tmpl_;
	for (size_t g = 0; g < poseOf_.size(); ++g) {
		if (poseOf_[g] == 0)
			continue;
		Affine a = Pose(g);
		for (NTVERTEX &v : mesh.groups[g].vertices) {
			VECTOR3 p = a.Point(_V(v.x, v.y, v.z));
			v.x = static_cast<float>(p.x);
			v.y = static_cast<float>(p.y);
			v.z = static_cast<float>(p.z);
			VECTOR3 n = a.Normal(_V(v.nx, v.ny, v.nz));
			v.nx = static_cast<float>(n.x);
			v.ny = static_cast<float>(n.y);
			v.nz = static_cast<float>(n.z);
		}
	}
	return mesh;
}

const Mesh *MeshTemplateOf(MESHHANDLE h) {
	auto *object = static_cast<const MeshObject *>(h);
	if (object && object->meshKind == MeshObject::Kind::Instance)
		return static_cast<const VisualMesh *>(object)->tmpl();
	return static_cast<const Mesh *>(object);
}

// --- Posing -------------------------------------------------------------------------------

// Applies d to what the transform targets: module-owned points at once, mesh groups by
// composing their pose.
void Visual::TransformTarget(const MGROUP_TRANSFORM &t, const Delta &d, bool scaled) {
	if (t.mesh == LOCALVERTEXLIST) {
		auto *pts = reinterpret_cast<VECTOR3 *>(t.grp);
		if (pts)
			for (UINT i = 0; i < t.ngrp; ++i)
				pts[i] = d.Point(pts[i]);
		return;
	}
	if (t.mesh < meshes_.size())
		meshes_[t.mesh]->Move(t.grp, t.ngrp, d, scaled);
}

void Visual::ApplyToDescendants(AnimComponent &comp, const Delta &d, bool scaled) {
	for (AnimComponent *child : comp.children) {
		TransformTarget(*child->trans, d, scaled);
		CarryParameters(*child->trans, child->type, d);
		if (!child->children.empty())
			ApplyToDescendants(*child, d, scaled);
	}
}

bool Visual::RotateSolePose(const AnimComponent &comp, double ds) {
	const MGROUP_TRANSFORM &trans = *comp.trans;
	if (trans.mesh >= meshes_.size())
		return false;
	VisualMesh &mesh = *meshes_[trans.mesh];
	uint32_t pose = mesh.SolePose(trans.grp, trans.ngrp);
	if (!pose)
		return false;
	// As MakeDelta and Move would do.
	const auto &r = static_cast<const MGROUP_ROTATE &>(trans);
	VECTOR3 axis;
	if (!std::isfinite(ds) || !UnitAxis(r, axis))
		return true;
	Turn(ds * static_cast<double>(r.angle));
	mesh.Rotate(pose, axis, lastCos_, lastSin_, r.ref);
	return true;
}

#if defined(__GNUC__)
__attribute__((noinline))
#endif
void Visual::ApplyDelta(AnimComponent &comp, double s0, double s1) {
	Delta d;
	if (!MakeDelta(comp, comp.type, s0, s1, d))
		return;
	// Only a scale moves normals otherwise than points.
	bool scaled = comp.type == MGROUP_TRANSFORM::SCALE;
	TransformTarget(*comp.trans, d, scaled);
	if (!comp.children.empty())
		ApplyToDescendants(comp, d, scaled);
}

void Visual::Apply(AnimComponent &comp, double s0, double s1, double ds) {
	if (comp.lone ? !RotateSolePose(comp, ds) : comp.trans && comp.state0 != comp.state1)
		ApplyDelta(comp, s0, s1);
}

void Visual::ApplyComponentDelta(AnimComponent &comp, double s0, double s1) {
	if (s0 != s1)
		Apply(comp, s0, s1, (s1 - s0) / (comp.state1 - comp.state0));
}

void VisualDelete::operator()(Visual *visual) const { delete visual; }

Visual::Visual(Vessel &v) : vessel(v) {
	SyncMeshes();
	applied.reserve(v.animations.size());
	for (const AnimationRecord &a : v.animations)
		applied.push_back(a.defstate);
}

void Visual::SyncMeshes() {
	while (meshes_.size() < vessel.meshes.size())
		meshes_.push_back(std::make_unique<VisualMesh>(vessel.meshes[meshes_.size()].tmpl));
}

std::vector<Mesh> Visual::PosedMeshes() const {
	std::vector<Mesh> out;
	out.reserve(meshes_.size());
	for (const auto &m : meshes_)
		out.push_back(m->Posed());
	return out;
}

MESHHANDLE Visual::MeshHandle(UINT idx) { return idx < meshes_.size() ? meshes_[idx].get() : nullptr; }

Affine Visual::GroupPose(UINT idx, UINT g) const {
	return idx < meshes_.size() ? meshes_[idx]->Pose(g) : Affine::Identity();
}

void Visual::Animate(UINT anim, double target) {
	double from = applied[anim];
	const AnimationRecord &a = vessel.animations[anim];
	// In order of addition when the state rises, in reverse when it falls.
	const size_t n = a.comps.size();
	const bool rising = target > from;
	AnimComponent *const *comps = a.comps.data();
	if (a.oneRange && n > 0) {
		// The states clamped, and the fraction of the range they span, once for all.
		const AnimComponent &first = *comps[0];
		const double s0 = Clamp(from, first), s1 = Clamp(target, first);
		if (s0 != s1) {
			const double ds = (s1 - s0) / (first.state1 - first.state0);
			if (rising)
				for (size_t k = 0; k < n; ++k)
					Apply(*comps[k], s0, s1, ds);
			else
				for (size_t k = n; k-- > 0;)
					Apply(*comps[k], s0, s1, ds);
		}
	} else {
		for (size_t k = 0; k < n; ++k) {
			AnimComponent &c = *comps[rising ? k : n - 1 - k];
			ApplyComponentDelta(c, Clamp(from, c), Clamp(target, c));
		}
	}
	applied[anim] = target;
}

void Visual::CatchUpAnimation(UINT i) {
	const AnimationRecord &a = vessel.animations[i];
	double state = vessel.animationStates[i];
	if (a.comps.empty() || state == applied[i])
		return;
	if (!std::isfinite(state)) {
		if (!vessel.warnedNonFinitePose) {
			vessel.warnedNonFinitePose = true;
			std::cerr << "host: vessel " << Printable(vessel.name) << ": animation " << i
			          << " was given a state that is not a finite number; its pose keeps the last finite state\n";
		}
		return;
	}
	Animate(i, state);
}

void Visual::CatchUp() {
	while (applied.size() < vessel.animations.size())
		applied.push_back(vessel.animations[applied.size()].defstate);
	for (UINT i = 0; i < vessel.animations.size(); ++i)
		CatchUpAnimation(i);
	// The vessel's own visual now shows every change; another (a picture's) leaves them marked.
	if (vessel.visual.get() == this)
		std::fill(vessel.animationsChanged.begin(), vessel.animationsChanged.end(), 0);
}

void Visual::CatchUpChanged() {
	while (applied.size() < vessel.animations.size())
		applied.push_back(vessel.animations[applied.size()].defstate);
	// In index order, as a full catch-up goes: animations that move the same groups compose
	// in that order. Nothing marks an animation while the catch-up runs.
	uint64_t *changed = vessel.animationsChanged.data();
	const size_t words = vessel.animationsChanged.size(), animations = vessel.animations.size();
	for (size_t w = 0; w < words; ++w) {
		uint64_t bits = changed[w];
		changed[w] = 0;
		for (; bits; bits &= bits - 1) {
			UINT i = static_cast<UINT>(w * 64 + static_cast<size_t>(__builtin_ctzll(bits)));
			if (i < animations)
				CatchUpAnimation(i);
		}
	}
}

void Visual::ResetToDefault() {
	for (UINT i = 0; i < applied.size() && i < vessel.animations.size(); ++i)
		if (!vessel.animations[i].comps.empty() && applied[i] != vessel.animations[i].defstate)
			Animate(i, vessel.animations[i].defstate);
}

}  // namespace host
