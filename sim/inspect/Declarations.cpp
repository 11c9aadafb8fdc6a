// Building the declarations document (what each module declared) from the host's views of its vessels.
#include "inspect/Declarations.h"

#include <cmath>
#include <map>

#include "sendra_host/Body.h"
#include "sendra_host/ModuleLoader.h"
#include "sendra_host/Simulation.h"
#include "sendra_host/VesselView.h"

namespace sim {

namespace {

using Json = nlohmann::ordered_json;

// Every real number goes through here: a non-finite one is null.
Json Real(double v) { return std::isfinite(v) ? Json(v) : Json(nullptr); }

Json Vec(const VECTOR3 &v) { return Json::array({Real(v.x), Real(v.y), Real(v.z)}); }

// Single-precision colours are widened to double, so they print as the float's exact value.
Json Colour(const COLOUR4 &c) {
	return Json::array({Real(double(c.r)), Real(double(c.g)), Real(double(c.b)), Real(double(c.a))});
}

template <typename T, typename F>
Json Optional(const std::optional<T> &v, F convert) {
	return v ? convert(*v) : Json(nullptr);
}

const char *LightType(LightEmitter::TYPE t) {
	switch (t) {
	case LightEmitter::LT_POINT: return "point";
	case LightEmitter::LT_SPOT: return "spot";
	case LightEmitter::LT_DIRECTIONAL: return "directional";
	default: return "none";
	}
}

// Transform objects numbered from 0 in order of first appearance, across all vessels.
class TransformIds {
public:
	size_t Id(const MGROUP_TRANSFORM *t) { return ids_.emplace(t, ids_.size()).first->second; }

private:
	std::map<const MGROUP_TRANSFORM *, size_t> ids_;
};

Json Transform(const MGROUP_TRANSFORM *t, TransformIds &ids) {
	if (!t)
		return nullptr;
	Json j;
	j["id"] = ids.Id(t);
	MGROUP_TRANSFORM::TYPE type = t->Type();
	j["type"] = type == MGROUP_TRANSFORM::ROTATE ? "rotate"
	          : type == MGROUP_TRANSFORM::TRANSLATE ? "translate"
	          : type == MGROUP_TRANSFORM::SCALE ? "scale"
	                                           : "null";
	j["mesh"] = t->mesh;
	// A local vertex list holds points, not group indices.
	if (t->mesh == LOCALVERTEXLIST || (t->ngrp > 0 && !t->grp)) {
		j["groups"] = nullptr;
	} else {
		Json groups = Json::array();
		for (UINT i = 0; i < t->ngrp; ++i)
			groups.push_back(t->grp[i]);
		j["groups"] = std::move(groups);
	}
	j["ref"] = nullptr;
	j["axis"] = nullptr;
	j["angle"] = nullptr;
	if (type == MGROUP_TRANSFORM::ROTATE) {
		auto *r = static_cast<const MGROUP_ROTATE *>(t);
		j["ref"] = Vec(r->ref);
		j["axis"] = Vec(r->axis);
		j["angle"] = Real(double(r->angle));
	} else if (type == MGROUP_TRANSFORM::TRANSLATE) {
		j["shift"] = Vec(static_cast<const MGROUP_TRANSLATE *>(t)->shift);
	} else if (type == MGROUP_TRANSFORM::SCALE) {
		auto *s = static_cast<const MGROUP_SCALE *>(t);
		j["ref"] = Vec(s->ref);
		j["scale"] = Vec(s->scale);
	}
	return j;
}

// What the vessel's class and module declared about its shape, mass and camera.
void DescribeCapabilities(Json &j, const host::VesselDeclarations &d) {
	auto real = [](double x) { return Real(x); };
	auto vec = [](const VECTOR3 &x) { return Vec(x); };
	j["size"] = Optional(d.size, real);
	j["empty_mass"] = Optional(d.emptyMass, real);
	j["pmi"] = Optional(d.pmi, vec);
	j["cross_sections"] = Optional(d.crossSections, vec);
	j["rot_drag"] = Optional(d.rotDrag, vec);
	j["cw"] = Optional(d.cw, [](const std::array<double, 4> &c) {
		return Json::array({Real(c[0]), Real(c[1]), Real(c[2]), Real(c[3])});
	});
	j["wing_aspect"] = Optional(d.wingAspect, real);
	j["wing_effectiveness"] = Optional(d.wingEffectiveness, real);
	j["pitch_moment_scale"] = Optional(d.pitchMomentScale, real);
	j["bank_moment_scale"] = Optional(d.bankMomentScale, real);
	j["trim_scale"] = Optional(d.trimScale, real);
	j["camera_offset"] = Optional(d.cameraOffset, vec);
	j["camera_default_direction"] = Optional(d.cameraDefaultDirection, vec);
}

Json TouchdownPoints(const host::VesselDeclarations &d) {
	Json points = Json::array();
	for (const TOUCHDOWNVTX &p : d.touchdownPoints) {
		Json q;
		q["pos"] = Vec(p.pos);
		q["stiffness"] = Real(p.stiffness);
		q["damping"] = Real(p.damping);
		q["mu"] = Real(p.mu);
		q["mu_lng"] = Real(p.mu_lng);
		points.push_back(std::move(q));
	}
	return points;
}

Json Meshes(const host::VesselView &v) {
	Json meshes = Json::array();
	for (size_t i = 0; i < v.meshes().size(); ++i) {
		const host::MeshSlot &m = v.meshes()[i];
		Json q;
		q["index"] = i;
		q["name"] = m.name;
		q["offset"] = Optional(m.offset, [](const VECTOR3 &x) { return Vec(x); });
		q["visibility"] = m.visibility;
		q["groups"] = m.tmpl ? Json(m.tmpl->groups.size()) : Json(nullptr);
		meshes.push_back(std::move(q));
	}
	return meshes;
}

Json Lights(const host::VesselView &v) {
	Json lights = Json::array();
	for (size_t i = 0; i < v.lightCount(); ++i) {
		const host::Light l = v.light(i);
		bool point = l.type == LightEmitter::LT_POINT || l.type == LightEmitter::LT_SPOT;
		bool spot = l.type == LightEmitter::LT_SPOT;
		Json q;
		q["type"] = LightType(l.type);
		q["pos"] = Vec(l.pos);
		q["dir"] = Vec(l.dir);
		q["range"] = point ? Real(l.range) : Json(nullptr);
		q["att"] = point ? Json::array({Real(l.att[0]), Real(l.att[1]), Real(l.att[2])}) : Json(nullptr);
		q["umbra"] = spot ? Real(l.umbra) : Json(nullptr);
		q["penumbra"] = spot ? Real(l.penumbra) : Json(nullptr);
		q["diffuse"] = Colour(l.diffuse);
		q["specular"] = Colour(l.specular);
		q["ambient"] = Colour(l.ambient);
		q["active"] = l.on;
		lights.push_back(std::move(q));
	}
	return lights;
}

Json Beacons(const host::VesselView &v) {
	Json beacons = Json::array();
	for (size_t i = 0; i < v.beaconCount(); ++i) {
		const host::Beacon b = v.beacon(i);
		Json q;
		q["shape"] = b.shape;
		q["pos"] = Optional(b.pos, [](const VECTOR3 &x) { return Vec(x); });
		q["col"] = Optional(b.col, [](const VECTOR3 &x) { return Vec(x); });
		q["size"] = Real(b.size);
		q["falloff"] = Real(b.falloff);
		q["period"] = Real(b.period);
		q["duration"] = Real(b.duration);
		q["tofs"] = Real(b.tofs);
		q["active"] = b.on;
		beacons.push_back(std::move(q));
	}
	return beacons;
}

Json Animations(const host::VesselView &v, TransformIds &ids) {
	Json animations = Json::array();
	const host::Range<double> states = v.animationStates();
	for (size_t a = 0; a < v.animationCount(); ++a) {
		const host::Animation anim = v.animation(a);
		Json q;
		q["handle"] = a;
		q["default_state"] = Real(anim.defaultState);
		q["state"] = Real(states[a]);
		Json comps = Json::array();
		for (const host::AnimationComponent &c : anim.components) {
			Json cj;
			cj["state0"] = Real(c.state0);
			cj["state1"] = Real(c.state1);
			cj["parent"] = c.parentAnimation >= 0 ? Json::array({c.parentAnimation, c.parentIndex}) : Json(nullptr);
			cj["transform"] = Transform(c.transform, ids);
			comps.push_back(std::move(cj));
		}
		q["components"] = std::move(comps);
		animations.push_back(std::move(q));
	}
	return animations;
}

// What the class file declares for any vessel, module or not: its transponder, tanks, docks and
// attachment points.
void DescribeClassItems(Json &j, const host::ClassItems &items) {
	j["transponder"] = items.transponder ? Json{{"step", items.transponderStep}} : Json(nullptr);
	Json tanks = Json::array();
	for (const host::Tank &t : items.tanks)
		tanks.push_back(Json{{"capacity", Real(t.capacity)}, {"efficiency", Real(t.efficiency)}});
	j["tanks"] = std::move(tanks);
	Json docks = Json::array();
	for (size_t i = 0; i < items.docks.size(); ++i) {
		const host::DockPort &d = items.docks[i];
		docks.push_back(Json{{"index", i}, {"pos", Vec(d.pos)}, {"dir", Vec(d.dir)}, {"rot", Vec(d.rot)},
		                     {"ids", d.ids ? Json(*d.ids) : Json(nullptr)}});
	}
	j["docks"] = std::move(docks);
	Json attachments = Json::array();
	for (const host::AttachmentPoint &a : items.attachments)
		attachments.push_back(Json{{"id", a.id}, {"to_parent", a.toParent}, {"pos", Vec(a.pos)}, {"dir", Vec(a.dir)},
		                           {"rot", Vec(a.rot)}});
	j["attachments"] = std::move(attachments);
}

// Where the vessel is: on a body's ground, or in flight about one (riding on another vessel, or
// on its own); the other state's values are null.
Json Place(const host::VesselView &v) {
	const host::VesselPlace p = v.place();
	const bool landed = p.landed && p.body;
	const Vessel *base = v.ridesOn();
	auto real = [&](bool shown, double x) { return shown ? Real(x) : Json(nullptr); };
	auto vec = [&](bool shown, const VECTOR3 &x) { return shown ? Vec(x) : Json(nullptr); };
	Json j;
	j["status"] = landed ? "landed" : "flight";
	j["body"] = p.body ? Json(p.body->name) : Json(nullptr);
	j["rides_on"] = base ? Json(host::VesselView(base).name()) : Json(nullptr);
	j["lng"] = real(landed, p.lng);
	j["lat"] = real(landed, p.lat);
	j["hdg"] = real(landed, p.hdg);
	j["alt"] = real(landed, p.alt);
	j["pos"] = vec(!landed, p.pos);
	j["vel"] = vec(!landed, p.vel);
	j["arot"] = Vec(p.arot);
	j["spin"] = vec(!landed, p.spin);
	return j;
}

Json DescribeVessel(const host::VesselView &v, TransformIds &ids) {
	Json j;
	j["name"] = v.name();
	j["class"] = v.className();
	j["flight_model"] = v.flightModel();
	DescribeCapabilities(j, v.declared());
	j["touchdown_points"] = TouchdownPoints(v.declared());
	j["meshes"] = Meshes(v);
	j["lights"] = Lights(v);
	j["beacons"] = Beacons(v);
	j["animations"] = Animations(v, ids);
	Json journal = Json::array();
	for (const std::string &name : v.journal())
		journal.push_back(name);
	j["journal"] = std::move(journal);
	// After the module's: what runs the vessel, what its class file gave it, where it is.
	j["module"] = v.module() ? Json(v.module()->name()) : Json(nullptr);
	j["absent_module"] = v.absentModule().empty() ? Json(nullptr) : Json(v.absentModule());
	j["can_take_focus"] = v.canTakeFocus();
	DescribeClassItems(j, v.classItems());
	j["place"] = Place(v);
	return j;
}

}  // namespace

Json DescribeSimulation(const host::Simulation &sim, const host::Module *module) {
	Json doc;
	Json m;
	m["name"] = module ? Json(module->name()) : Json(nullptr);
	m["path"] = module ? Json(module->path()) : Json(nullptr);
	m["version"] = module ? Json(module->version()) : Json(nullptr);
	m["date"] = module && !module->date().empty() ? Json(module->date()) : Json(nullptr);
	doc["module"] = std::move(m);
	TransformIds ids;
	Json vessels = Json::array();
	for (const auto &v : sim.vessels())
		vessels.push_back(DescribeVessel(host::VesselView(v), ids));
	doc["vessels"] = std::move(vessels);
	return doc;
}

Json DeclarationsDocument(const SessionOptions &options, std::ostream &err) {
	SessionOptions o = options;
	o.journal = true;
	Session session(o, err);
	const host::Module *module = nullptr;
	for (const auto &v : session.simulation().vessels())
		if ((module = host::VesselView(v).module()))
			break;
	return DescribeSimulation(session.simulation(), module);
}

}  // namespace sim
