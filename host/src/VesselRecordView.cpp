// What programs see of a vessel (sendra_host/VesselView.h), read from the host's record: the
// one place that turns the record's lists, pointers and matrices into values, beside the
// landed attitude the host gives a vessel at rest, whose rotation the view's attitude undoes.
// Apart from the view's header, which the record includes for the parts they share.
#include "sendra_host/VesselView.h"

#include <algorithm>
#include <cmath>

#include "sendra_host/Simulation.h"
#include "src/Flight.h"
#include "src/HostVessel.h"
#include "src/Lights.h"
#include "src/Visual.h"

namespace host {

namespace {

bool Finite(const VECTOR3 &v) { return std::isfinite(v.x) && std::isfinite(v.y) && std::isfinite(v.z); }

}  // namespace

VECTOR3 LandedAttitude(double lng, double lat, double hdg) {
	// Planet frame -> local horizon (east, up, north) -> vessel frame, level on the ground.
	MATRIX3 r = mul(mul(mul(Ry(lng - PI05), Rx(lat)), Rz(-PI - hdg)), Rx(-PI05));
	return EulerFromAttitude(r);
}

const std::string &VesselView::name() const { return v_->name; }
const std::string &VesselView::className() const { return v_->className; }
int VesselView::flightModel() const { return v_->flightModel; }
const Module *VesselView::module() const { return v_->module; }
VESSEL *VesselView::Interface() const { return v_->iface; }
VESSEL2 *VesselView::callbacks() const { return v_->callbacks(); }
VESSEL3 *VesselView::callbacks3() const { return v_->callbacks3(); }
bool VesselView::focus() const { return v_->sim.focus() == v_; }

bool VesselView::canTakeFocus() const { return v_->enableFocus; }

VesselPlace VesselView::place() const {
	const VESSELSTATUS2 &s = v_->state;
	VesselPlace p;
	p.body = v_->surfaceRef;
	p.landed = s.status == 1;
	if (p.landed) {
		p.lng = s.surf_lng;
		p.lat = s.surf_lat;
		p.hdg = s.surf_hdg;
		p.alt = s.vrot.x;
	} else {
		p.pos = s.rpos;
		p.vel = s.rvel;
		p.spin = s.vrot;
	}
	p.arot = s.arot;
	return p;
}

const Vessel *VesselView::ridesOn() const { return v_->flight && v_->flight->ride ? v_->flight->ride->base : nullptr; }
const std::string &VesselView::absentModule() const { return v_->absentModule; }
const ClassItems &VesselView::classItems() const { return v_->classItems; }

// The inverse of how the host and the modules derive arot from the vessel's rotation.
MATRIX3 VesselView::Attitude() const { return AttitudeFromEuler(v_->state.arot); }

MATRIX3 VesselView::HorizonAttitude() const {
	// The horizon's axes in the body's frame, where a point at lng, lat lies along
	// (cos lat cos lng, sin lat, cos lat sin lng).
	const double lng = v_->state.surf_lng, lat = v_->state.surf_lat;
	VECTOR3 east = _V(-std::sin(lng), 0, std::cos(lng));
	VECTOR3 up = _V(std::cos(lat) * std::cos(lng), std::sin(lat), std::cos(lat) * std::sin(lng));
	VECTOR3 north = _V(-std::sin(lat) * std::cos(lng), std::cos(lat), -std::sin(lat) * std::sin(lng));
	MATRIX3 toHorizon = _M(east.x, east.y, east.z, up.x, up.y, up.z, north.x, north.y, north.z);
	return mul(toHorizon, Attitude());
}

Rudder VesselView::rudder() const { return {v_->rudderTarget, v_->RudderGoal(), v_->rudderLevel}; }
DWORD VesselView::controlSurfaceMode() const { return v_->adcMode; }

const VesselDeclarations &VesselView::declared() const { return *v_; }

Camera VesselView::camera() const {
	return {v_->cameraOffset.value_or(_V(0, 0, 0)), v_->cameraDefaultDirection.value_or(_V(0, 0, 1)), v_->cockpitDir};
}

const std::vector<MeshSlot> &VesselView::meshes() const { return v_->meshes; }

Range<double> VesselView::animationStates() const { return {v_->animationStates.data(), v_->animationStates.size()}; }
size_t VesselView::animationCount() const { return v_->animations.size(); }

Animation VesselView::animation(size_t i) const {
	const AnimationRecord &rec = v_->animations.at(i);
	Animation a;
	a.defaultState = rec.defstate;
	for (const AnimComponent *c : rec.comps)
		a.components.push_back({c->state0, c->state1, c->trans, c->parent ? static_cast<int>(c->parent->anim) : -1,
		                        c->parent ? c->parent->index : 0});
	return a;
}

size_t VesselView::lightCount() const { return v_->lights.size(); }

Light VesselView::light(size_t i) const {
	const LightEmitter *le = v_->lights.at(i).get();
	const LightInfo info = DescribeLight(*le);
	Light l;
	l.emitter = le;
	l.type = info.type;
	l.pos = info.pos;
	l.dir = info.dir;
	l.range = info.range;
	std::copy(info.att, info.att + 3, l.att);
	l.umbra = info.umbra;
	l.penumbra = info.penumbra;
	l.diffuse = info.diffuse;
	l.specular = info.specular;
	l.ambient = info.ambient;
	l.on = info.active;
	return l;
}

bool VesselView::lightOn(size_t i) const { return LightActive(*v_->lights.at(i)); }

bool VesselView::beaconOn(size_t i) const { return v_->beacons.at(i)->active; }

size_t VesselView::beaconCount() const { return v_->beacons.size(); }

// Read through the module's pointers every time: the module may change them whenever it likes.
Beacon VesselView::beacon(size_t i) const {
	const BEACONLIGHTSPEC *b = v_->beacons.at(i);
	Beacon out;
	out.spec = b;
	out.shape = b->shape;
	if (b->pos)
		out.pos = *b->pos;
	if (b->col)
		out.col = *b->col;
	out.size = b->size;
	out.falloff = b->falloff;
	out.period = b->period;
	out.duration = b->duration;
	out.tofs = b->tofs;
	out.on = b->active;
	if (b->col && Finite(*b->col))
		out.colour = *b->col;
	for (double &c : out.colour.data)
		c = std::clamp(c, 0.0, 1.0);
	return out;
}

const HudPaint &VesselView::hud() const { return v_->hud; }

VISHANDLE VesselView::visual() const { return v_->visual.get(); }

Range<double> VesselView::shownStates() const {
	return v_->visual ? Range<double>{v_->visual->applied.data(), v_->visual->applied.size()} : Range<double>{};
}

MESHHANDLE VesselView::visualMesh(UINT idx) const { return v_->visual ? v_->visual->MeshHandle(idx) : nullptr; }

std::vector<Affine> VesselView::GroupPoses(UINT idx) const {
	std::vector<Affine> poses;
	const Mesh *t = idx < v_->meshes.size() ? v_->meshes[idx].tmpl : nullptr;
	for (size_t g = 0; v_->visual && t && g < t->groups.size(); ++g)
		poses.push_back(v_->visual->GroupPose(idx, static_cast<UINT>(g)));
	return poses;
}

std::vector<Mesh> VesselView::PosedMeshes() const {
	if (v_->visual)
		return v_->visual->PosedMeshes();
	// Posed as the host poses a new visual, and driven back to the default states after,
	// because posing carries the module's own child transforms along.
	Visual visual(const_cast<Vessel &>(*v_));
	visual.CatchUp();
	std::vector<Mesh> meshes = visual.PosedMeshes();
	visual.ResetToDefault();
	return meshes;
}

std::vector<std::string> VesselView::journal() const { return v_->journal.Names(); }
uint64_t VesselView::calls() const { return v_->journal.Total(); }

}  // namespace host
