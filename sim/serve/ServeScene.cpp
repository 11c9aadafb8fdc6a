// The JSON documents of `sendra-sim serve`, made from the host's records.
#include "serve/ServeScene.h"

#include <cmath>
#include <nlohmann/json.hpp>

#include "sendra_host/Sun.h"
#include "serve/ServeJson.h"
#include "session/Daylight.h"
#include "session/KeyNames.h"

namespace sim {

using nlohmann::json;

namespace {

json Vec(const VECTOR3 &v) { return json::array({v.x, v.y, v.z}); }
json Colour(const COLOUR4 &c) { return json::array({c.r, c.g, c.b, c.a}); }

}  // namespace

std::string Dump(const json &j) { return j.dump(-1, ' ', false, json::error_handler_t::replace); }

json HudTexts(const host::VesselView &v) {
	json a = json::array();
	for (const host::HudText &t : v.hud().texts)
		a.push_back(json::array({t.x, t.y, t.colour, t.text}));
	return a;
}

json Lights(const host::VesselView &v) {
	json a = json::array();
	for (size_t i = 0; i < v.lightCount(); ++i) {
		const host::Light l = v.light(i);
		a.push_back({{"type", static_cast<int>(l.type)},
		             {"pos", Vec(l.pos)},
		             {"dir", Vec(l.dir)},
		             {"range", l.range},
		             {"att", json::array({l.att[0], l.att[1], l.att[2]})},
		             {"umbra", l.umbra},
		             {"penumbra", l.penumbra},
		             {"diffuse", Colour(l.diffuse)},
		             {"active", l.on}});
	}
	return a;
}

json Beacons(const host::VesselView &v) {
	json a = json::array();
	for (size_t i = 0; i < v.beaconCount(); ++i) {
		const host::Beacon b = v.beacon(i);
		a.push_back({{"shape", b.shape},
		             {"pos", b.pos ? Vec(*b.pos) : json(nullptr)},
		             {"col", b.col ? Vec(*b.col) : json(nullptr)},
		             {"size", b.size},
		             {"falloff", b.falloff},
		             {"period", b.period},
		             {"duration", b.duration},
		             {"tofs", b.tofs},
		             {"active", b.on}});
	}
	return a;
}

json Camera(const host::VesselView &v) {
	const host::Camera c = v.camera();
	return {{"offset", Vec(c.offset)},
	        {"dir", Vec(c.direction)},
	        {"polar", c.cockpit.polar},
	        {"azimuth", c.cockpit.azimuth},
	        {"resets", c.cockpit.resets}};
}

// The vessel whose keys, HUD and camera the page shows, and what the page's controls show of it.
json Focus(const Vessel *f) {
	if (!f)
		return nullptr;
	const host::VesselView v(f);
	const host::VesselPlace p = v.place();
	const host::Body *body = p.body;
	json focus = {{"name", v.name()},
	              {"class", v.className()},
	              {"body", body ? json(body->name) : json(nullptr)},
	              {"radius", body ? json(body->radius) : json(nullptr)},
	              {"rudder", v.rudder().level},
	              {"afc", v.controlSurfaceMode()}};
	if (!p.landed)
		focus["flight"] = true;  // its neighbours come in its frame, without terrain
	return focus;
}

FlightFrame FlightFrameOf(const Vessel *f) {
	FlightFrame frame;
	if (!f)
		return frame;
	const host::VesselPlace p = host::VesselView(f).place();
	if (p.landed)
		return frame;
	frame.flight = true;
	frame.origin = p.pos;
	frame.height = length(p.pos);
	// Up away from the body; at its centre (or nowhere), the ecliptic's north.
	VECTOR3 up = frame.height > 0 && std::isfinite(frame.height) ? p.pos / frame.height : _V(0, 1, 0);
	// Forward along the velocity across up; without one, along the ecliptic axis furthest from up.
	VECTOR3 forward = p.vel - up * dotp(p.vel, up);
	if (!(length(forward) > 1e-9 * length(p.vel)) || !std::isfinite(length(forward))) {
		VECTOR3 axis = std::fabs(up.x) < 0.5 ? _V(1, 0, 0) : _V(0, 0, 1);
		forward = axis - up * dotp(axis, up);
	}
	forward = unit(forward);
	const VECTOR3 right = crossp(up, forward);
	frame.axes = _M(right.x, right.y, right.z, up.x, up.y, up.z, forward.x, forward.y, forward.z);
	return frame;
}

json Sun(const host::Simulation &sim, const Vessel *v, const FlightFrame &frame) {
	auto thousandth = [](double x) { return std::round(x * 1000) / 1000; };
	if (frame.flight) {
		const host::Body *body = v ? host::VesselView(v).place().body : nullptr;
		std::optional<host::BodyDirection> sun = body ? host::SunDirectionInEcliptic(*body, sim.mjd()) : std::nullopt;
		if (!sun)
			return nullptr;
		const VECTOR3 s = _V(sun->x, sun->y, sun->z), dir = mul(frame.axes, s);
		// In the body's shadow: the Sun behind it, and the line towards the Sun through it.
		const double along = dotp(frame.origin, s);
		const bool hidden = along < 0 && length(frame.origin - s * along) < body->radius;
		return {{"dir", {thousandth(dir.x), thousandth(dir.y), thousandth(dir.z)}},
		        {"up", !hidden},
		        {"text", hidden ? "in the shadow of " + body->name : std::string("in sunlight")}};
	}
	std::optional<Daylight> d = DaylightOver(sim, v);
	if (!d)
		return nullptr;
	return {{"dir", {thousandth(d->local.x), thousandth(d->local.y), thousandth(d->local.z)}},
	        {"up", d->sky.elevation > 0},
	        {"text", DaylightText(d->sky)}};
}

json Below(const Vessel *f, const FlightFrame &frame) {
	const host::Body *body = f && frame.flight ? host::VesselView(f).place().body : nullptr;
	if (!body)
		return nullptr;
	return {{"body", body->name}, {"radius", body->radius}, {"height", std::round((frame.height - body->radius) / 1000) * 1000}};
}

// Which mesh each of the vessel's slots shows, from where, and in which views.
json MeshSlots(const host::VesselView &v) {
	json a = json::array();
	for (const host::MeshSlot &slot : v.meshes())
		a.push_back({{"mesh", slot.name},
		             {"offset", slot.offset ? Vec(*slot.offset) : json(nullptr)},
		             {"visibility", slot.visibility}});
	return a;
}

namespace {

// The first template of each mesh name among the vessels' slots; null where it could not be read.
std::map<std::string, const host::Mesh *> MeshTemplates(const host::Simulation &sim) {
	std::map<std::string, const host::Mesh *> templates;
	for (const auto &v : sim.vessels())
		for (const host::MeshSlot &slot : host::VesselView(v).meshes())
			templates.emplace(slot.name, slot.tmpl);
	return templates;
}

json MeshOf(const std::string &name, const host::Mesh *mesh) {
	json m = {{"name", name}};
	if (!mesh) {
		m["groups"] = nullptr;
		return m;
	}
	json materials = json::array();
	for (const host::MeshMaterial &mat : mesh->materials)
		materials.push_back({{"name", mat.name},
		                     {"diffuse", Colour(mat.diffuse)},
		                     {"ambient", Colour(mat.ambient)},
		                     {"specular", Colour(mat.specular)},
		                     {"emissive", Colour(mat.emissive)},
		                     {"power", mat.power}});
	json groups = json::array();
	for (const host::MeshGroup &g : mesh->groups) {
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
	return m;
}

}  // namespace

std::string MeshDocument(const host::Simulation &sim) {
	json meshes = json::array();
	for (const auto &[name, mesh] : MeshTemplates(sim))
		meshes.push_back(MeshOf(name, mesh));
	return Dump(json{{"meshes", std::move(meshes)}});
}

std::set<std::string> MeshNames(const host::Simulation &sim) {
	std::set<std::string> names;
	for (const auto &v : sim.vessels())
		for (const host::MeshSlot &slot : host::VesselView(v).meshes())
			names.insert(slot.name);
	return names;
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

namespace {

// The state document with the vessels' list put in place of its null.
std::string Spliced(std::string doc, const std::string &vessels) {
	static const std::string kSlot = "\"vessels\":null";
	size_t at = doc.find(kSlot);
	if (at != std::string::npos)
		doc.replace(at + kSlot.size() - 4, 4, vessels);
	return doc;
}

}  // namespace

std::string StateDocument(const host::Simulation &sim, size_t watching, const std::string *vesselsJson) {
	json held = json::array();
	for (const KeyName *k = KeyNamesBegin(); k != KeyNamesEnd(); ++k)
		if (sim.KeyHeld(k->code))
			held.push_back(k->name);
	json doc = {{"frame", sim.frameCount()}, {"simt", sim.simt()},   {"mjd", sim.mjd()},
	            {"watching", watching},         {"held", std::move(held)}, {"vessels", nullptr},
	            {"debug", sim.DebugLine()}};
	const std::string list = vesselsJson ? *vesselsJson : StateVessels(sim);
	const Vessel *f = sim.focus();
	if (!f) {
		doc["vessel"] = nullptr;
		return Spliced(Dump(doc), list);
	}
	const host::VesselView v(f);
	json anims = json::array();
	for (double state : v.animationStates())
		anims.push_back(state);
	json hud = json::array();
	for (const host::HudText &t : v.hud().texts)
		hud.push_back({{"x", t.x}, {"y", t.y}, {"colour", t.colour}, {"text", t.text}});
	json lights = json::array();
	for (size_t i = 0; i < v.lightCount(); ++i)
		lights.push_back(v.lightOn(i));
	json beacons = json::array();
	for (size_t i = 0; i < v.beaconCount(); ++i)
		beacons.push_back(v.beaconOn(i));
	const host::VesselPlace p = v.place();
	const host::Rudder rudder = v.rudder();
	// Its place on the ground, null in flight, where it is where "flight" says.
	const bool landed = p.landed && p.body;
	auto ground = [landed](double x) { return landed ? json(x) : json(nullptr); };
	doc["vessel"] = {{"name", v.name()},
	                 {"class", v.className()},
	                 {"lng", ground(p.lng)},
	                 {"lat", ground(p.lat)},
	                 {"hdg", ground(p.hdg)},
	                 {"alt", ground(p.alt)},
	                 {"animations", std::move(anims)},
	                 {"hud", std::move(hud)},
	                 {"lights", std::move(lights)},
	                 {"beacons", std::move(beacons)},
	                 {"rudder", {{"target", rudder.goal}, {"level", rudder.level}}},
	                 {"afc", v.controlSurfaceMode()}};
	if (!landed)  // [m], [m/s] about its reference body in the ecliptic frame of J2000
		doc["vessel"]["flight"] = {{"body", p.body ? json(p.body->name) : json(nullptr)},
		                           {"pos", {p.pos.x, p.pos.y, p.pos.z}},
		                           {"vel", {p.vel.x, p.vel.y, p.vel.z}}};
	return Spliced(Dump(doc), list);
}

std::string StateVessels(const host::Simulation &sim) {
	std::string out = "[";
	for (const auto &p : sim.vessels()) {
		const host::VesselView v(p.get());
		if (out.size() > 1)
			out += ',';
		out += Dump(json{{"name", v.name()}, {"class", v.className()}, {"visual", v.visual() != nullptr}});
	}
	return out + "]";
}

}  // namespace sim
