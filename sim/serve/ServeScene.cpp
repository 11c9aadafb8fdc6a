// The JSON documents of `sendra-sim serve`, made from the host's records.
#include "serve/ServeScene.h"

#include <cmath>
#include <nlohmann/json.hpp>

#include "HostVessel.h"
#include "session/KeyNames.h"
#include "Lights.h"
#include "Visual.h"

namespace sim {

using nlohmann::json;

namespace {

MATRIX3 Rx(double a) { return _M(1, 0, 0, 0, std::cos(a), -std::sin(a), 0, std::sin(a), std::cos(a)); }
MATRIX3 Ry(double a) { return _M(std::cos(a), 0, std::sin(a), 0, 1, 0, -std::sin(a), 0, std::cos(a)); }
MATRIX3 Rz(double a) { return _M(std::cos(a), -std::sin(a), 0, std::sin(a), std::cos(a), 0, 0, 0, 1); }

// Names and texts come from scenario files and modules and need not be UTF-8: bytes that are
// not become U+FFFD rather than an exception.
std::string Dump(const json &j) { return j.dump(-1, ' ', false, json::error_handler_t::replace); }

json Vec(const VECTOR3 &v) { return json::array({v.x, v.y, v.z}); }
json Colour(const COLOUR4 &c) { return json::array({c.r, c.g, c.b, c.a}); }

json Matrix(const MATRIX3 &m) {
	json a = json::array();
	for (double x : m.data)
		a.push_back(x);
	return a;
}

json HudTexts(const Vessel &v) {
	json a = json::array();
	for (const host::HudText &t : v.hud.texts)
		a.push_back(json::array({t.x, t.y, t.colour, t.text}));
	return a;
}

json Lights(const Vessel &v) {
	json a = json::array();
	for (const host::LightEmitterPtr &le : v.lights) {
		host::LightInfo l = host::DescribeLight(*le);
		a.push_back({{"type", static_cast<int>(l.type)},
		             {"pos", Vec(l.pos)},
		             {"dir", Vec(l.dir)},
		             {"range", l.range},
		             {"att", json::array({l.att[0], l.att[1], l.att[2]})},
		             {"umbra", l.umbra},
		             {"penumbra", l.penumbra},
		             {"diffuse", Colour(l.diffuse)},
		             {"active", l.active}});
	}
	return a;
}

// Read through the module's pointers every time: the module may change them whenever it likes.
json Beacons(const Vessel &v) {
	json a = json::array();
	for (const BEACONLIGHTSPEC *b : v.beacons) {
		if (!b) {
			a.push_back(nullptr);
			continue;
		}
		a.push_back({{"shape", b->shape},
		             {"pos", b->pos ? Vec(*b->pos) : json(nullptr)},
		             {"col", b->col ? Vec(*b->col) : json(nullptr)},
		             {"size", b->size},
		             {"falloff", b->falloff},
		             {"period", b->period},
		             {"duration", b->duration},
		             {"tofs", b->tofs},
		             {"active", b->active}});
	}
	return a;
}

json Camera(const Vessel &v) {
	return {{"offset", Vec(v.cameraOffset.value_or(_V(0, 0, 0)))},
	        {"dir", Vec(v.cameraDefaultDirection.value_or(_V(0, 0, 1)))},
	        {"polar", v.cockpitDir.polar},
	        {"azimuth", v.cockpitDir.azimuth},
	        {"resets", v.cockpitDir.resets}};
}

// The place of the vessel: surface position, the ground under it and its attitude.
json Place(const host::Simulation &sim, const Vessel &v) {
	const VESSELSTATUS2 &s = v.state;
	double ground = v.surfaceRef ? sim.terrain().Elevation(*v.surfaceRef, s.surf_lng, s.surf_lat) : 0.0;
	return {{"name", v.name},
	        {"body", v.surfaceRef ? v.surfaceRef->name : std::string()},
	        {"lng", s.surf_lng},
	        {"lat", s.surf_lat},
	        {"hdg", s.surf_hdg},
	        {"alt", s.vrot.x},
	        {"ground", ground},
	        {"attitude", Matrix(HorizonFromVessel(s.arot, s.surf_lng, s.surf_lat))},
	        {"rudder", v.rudderLevel},
	        {"afc", v.adcMode}};
}

json Header(const host::Simulation &sim, double rate) {
	return {{"frame", sim.frameCount()}, {"simt", sim.simt()}, {"rate", rate}};
}

template <typename Pose>
Pose PoseOf(const host::Affine &a) {
	Pose p;
	for (size_t i = 0; i < 9; ++i)
		p[i] = static_cast<float>(a.m.data[i]);
	p[9] = static_cast<float>(a.t.x);
	p[10] = static_cast<float>(a.t.y);
	p[11] = static_cast<float>(a.t.z);
	return p;
}

template <typename Pose>
bool IsIdentity(const Pose &p) {
	static const Pose identity{1, 0, 0, 0, 1, 0, 0, 0, 1, 0, 0, 0};
	return p == identity;
}

template <typename Pose>
json PoseEntry(size_t mesh, size_t group, const Pose &p) {
	json e = json::array({mesh, group});
	for (float x : p)
		e.push_back(x);
	return e;
}

size_t GroupCount(const Vessel &v, size_t mesh) {
	const host::Mesh *t = v.meshes[mesh].tmpl;
	return t ? t->groups.size() : 0;
}

}  // namespace

MATRIX3 PlanetFromVessel(const VECTOR3 &arot) { return mul(mul(Rx(-arot.x), Ry(-arot.y)), Rz(-arot.z)); }

MATRIX3 HorizonFromVessel(const VECTOR3 &arot, double lng, double lat) {
	// The horizon's axes in the planet frame, where a point at lng, lat lies along
	// (cos lat cos lng, sin lat, cos lat sin lng).
	VECTOR3 east = _V(-std::sin(lng), 0, std::cos(lng));
	VECTOR3 up = _V(std::cos(lat) * std::cos(lng), std::sin(lat), std::cos(lat) * std::sin(lng));
	VECTOR3 north = _V(-std::sin(lat) * std::cos(lng), std::cos(lat), -std::sin(lat) * std::sin(lng));
	MATRIX3 toHorizon = _M(east.x, east.y, east.z, up.x, up.y, up.z, north.x, north.y, north.z);
	return mul(toHorizon, PlanetFromVessel(arot));
}

std::string MeshDocument(const host::Simulation &sim) {
	json meshes = json::array();
	if (const Vessel *v = sim.focus()) {
		for (const host::MeshSlot &slot : v->meshes) {
			json m = {{"name", slot.name},
			          {"offset", slot.offset ? Vec(*slot.offset) : json(nullptr)},
			          {"visibility", slot.visibility}};
			if (!slot.tmpl) {
				m["groups"] = nullptr;
				meshes.push_back(std::move(m));
				continue;
			}
			json materials = json::array();
			for (const host::MeshMaterial &mat : slot.tmpl->materials)
				materials.push_back({{"name", mat.name},
				                     {"diffuse", Colour(mat.diffuse)},
				                     {"ambient", Colour(mat.ambient)},
				                     {"specular", Colour(mat.specular)},
				                     {"emissive", Colour(mat.emissive)},
				                     {"power", mat.power}});
			json groups = json::array();
			for (const host::MeshGroup &g : slot.tmpl->groups) {
				std::vector<float> pos, nml;
				pos.reserve(g.vertices.size() * 3);
				nml.reserve(g.vertices.size() * 3);
				for (const NTVERTEX &vx : g.vertices) {
					pos.insert(pos.end(), {vx.x, vx.y, vx.z});
					nml.insert(nml.end(), {vx.nx, vx.ny, vx.nz});
				}
				groups.push_back({{"label", g.label},
				                  {"material", g.material},
				                  {"flags", g.flags},
				                  {"positions", pos},
				                  {"normals", nml},
				                  {"indices", g.indices}});
			}
			m["materials"] = std::move(materials);
			m["groups"] = std::move(groups);
			meshes.push_back(std::move(m));
		}
	}
	return Dump(json{{"vessel", sim.focus() ? json(sim.focus()->name) : json(nullptr)}, {"meshes", std::move(meshes)}});
}

std::string TerrainDocument(const host::Terrain &terrain, const host::Body &body, double lng, double lat, int n,
                            double spacing) {
	std::vector<float> heights;
	heights.reserve(static_cast<size_t>(n) * static_cast<size_t>(n));
	double half = (n - 1) / 2.0;
	double r = body.radius, rCosLat = body.radius * std::cos(lat);
	for (int j = 0; j < n; ++j) {
		double pointLat = lat + (j - half) * spacing / r;
		for (int i = 0; i < n; ++i) {
			double pointLng = lng + (i - half) * spacing / rCosLat;
			heights.push_back(static_cast<float>(terrain.Elevation(body, pointLng, pointLat)));
		}
	}
	return Dump(json{{"body", body.name},
	                 {"radius", body.radius},
	                 {"lng", lng},
	                 {"lat", lat},
	                 {"n", n},
	                 {"spacing", spacing},
	                 {"heights", heights}});
}

std::string FrameEncoder::Delta(const host::Simulation &sim, double rate) {
	json msg = Header(sim, rate);
	const Vessel *v = sim.focus();
	if (v != vessel_) {
		// Another vessel (or none): everything about it is new.
		vessel_ = v;
		poses_.clear();
		lights_.clear();
		beacons_.clear();
		camera_.clear();
	}
	if (!v) {
		msg["vessel"] = nullptr;
		return Dump(msg);
	}
	msg["vessel"] = Place(sim, *v);
	msg["hud"] = HudTexts(*v);

	json poses = json::array();
	if (v->visual) {
		poses_.resize(v->meshes.size());
		for (size_t m = 0; m < v->meshes.size(); ++m) {
			size_t groups = GroupCount(*v, m);
			poses_[m].resize(groups, Pose{1, 0, 0, 0, 1, 0, 0, 0, 1, 0, 0, 0});
			for (size_t g = 0; g < groups; ++g) {
				Pose p = PoseOf<Pose>(v->visual->GroupPose(static_cast<UINT>(m), static_cast<UINT>(g)));
				if (p != poses_[m][g]) {
					poses_[m][g] = p;
					poses.push_back(PoseEntry(m, g, p));
				}
			}
		}
	}
	msg["poses"] = std::move(poses);

	auto changed = [&](const char *key, const json &now, std::string &last) {
		std::string text = Dump(now);
		if (text != last) {
			last = std::move(text);
			msg[key] = now;
		}
	};
	changed("lights", Lights(*v), lights_);
	changed("beacons", Beacons(*v), beacons_);
	changed("camera", Camera(*v), camera_);
	return Dump(msg);
}

std::string FrameEncoder::Keyframe(const host::Simulation &sim, double rate) const {
	json msg = Header(sim, rate);
	msg["keyframe"] = true;
	const Vessel *v = sim.focus();
	if (!v) {
		msg["vessel"] = nullptr;
		return Dump(msg);
	}
	msg["vessel"] = Place(sim, *v);
	msg["hud"] = HudTexts(*v);
	json poses = json::array();
	if (v->visual)
		for (size_t m = 0; m < v->meshes.size(); ++m)
			for (size_t g = 0; g < GroupCount(*v, m); ++g) {
				Pose p = PoseOf<Pose>(v->visual->GroupPose(static_cast<UINT>(m), static_cast<UINT>(g)));
				if (!IsIdentity(p))
					poses.push_back(PoseEntry(m, g, p));
			}
	msg["poses"] = std::move(poses);
	msg["lights"] = Lights(*v);
	msg["beacons"] = Beacons(*v);
	msg["camera"] = Camera(*v);
	return Dump(msg);
}

std::string FrameEncoder::State(const host::Simulation &sim, size_t watching) {
	json held = json::array();
	for (const KeyName *k = KeyNamesBegin(); k != KeyNamesEnd(); ++k)
		if (sim.KeyHeld(k->code))
			held.push_back(k->name);
	json doc = {{"frame", sim.frameCount()}, {"simt", sim.simt()}, {"mjd", sim.mjd()},
	            {"watching", watching}, {"held", std::move(held)}};
	const Vessel *v = sim.focus();
	if (!v) {
		doc["vessel"] = nullptr;
		return Dump(doc);
	}
	json anims = json::array();
	for (double state : v->animationStates)
		anims.push_back(state);
	json hud = json::array();
	for (const host::HudText &t : v->hud.texts)
		hud.push_back({{"x", t.x}, {"y", t.y}, {"colour", t.colour}, {"text", t.text}});
	json lights = json::array();
	for (const host::LightEmitterPtr &le : v->lights)
		lights.push_back(le->IsActive());
	json beacons = json::array();
	for (const BEACONLIGHTSPEC *b : v->beacons)
		beacons.push_back(b && b->active);
	doc["vessel"] = {{"name", v->name},
	                 {"class", v->className},
	                 {"lng", v->state.surf_lng},
	                 {"lat", v->state.surf_lat},
	                 {"hdg", v->state.surf_hdg},
	                 {"alt", v->state.vrot.x},
	                 {"animations", std::move(anims)},
	                 {"hud", std::move(hud)},
	                 {"lights", std::move(lights)},
	                 {"beacons", std::move(beacons)},
	                 {"rudder", {{"target", v->RudderGoal()}, {"level", v->rudderLevel}}},
	                 {"afc", v->adcMode}};
	return Dump(doc);
}

}  // namespace sim
