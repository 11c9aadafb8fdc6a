// Bodies of the stand-in's solar system and its terrain models.
#include "sendra_host/Body.h"

#include <cmath>

#include "sendra_host/HostError.h"
#include "src/TwoBody.h"

namespace host {

std::vector<std::unique_ptr<Body>> MakeSolarSystem() {
	struct Row {
		const char *name, *orbit;
		double radius, mass, period, offset, obliquity, lan;  // [m, kg, s, rad, rad, rad]
		double precessionPeriod, precessionLan, precessionObliquity;  // [days, rad, rad]
	};
	static const Row kBodies[] = {
		{"Earth", "Earth", 6.37101e6, 5.973698968e24, 86164.10132, 4.88948754, 0.4090928023, 0, -9413040.4, 0, 0},
		{"Moon", "Earth", 1.738e6, 7.347673176382784e22, 2360588.15, 4.769465382, 0.02692416821, 1.71817749,
		 -6793.219721, 0.4643456618, 7.259562816e-5},
		{"Mars", "Mars", 3.39e6, 6.418542e23, 88642.66435, 5.469523488, 0.4397415938, 0.6210531483, -63346652.48,
		 4.005081124, 0.03224369545},
	};
	std::vector<std::unique_ptr<Body>> bodies;
	for (const Row &r : kBodies) {
		auto b = std::make_unique<Body>(r.name, r.radius);
		b->mass = r.mass;
		b->gm = kGravitationalConstant * r.mass;
		b->rotationPeriod = r.period;
		b->rotationOffset = r.offset;
		b->obliquity = r.obliquity;
		b->lan = r.lan;
		b->precessionPeriod = r.precessionPeriod;
		b->precessionLan = r.precessionLan;
		b->precessionObliquity = r.precessionObliquity;
		b->orbit = r.orbit;
		b->baseFolders.push_back(b->name + "/Base");
		bodies.push_back(std::move(b));
	}
	return bodies;
}

Terrain Terrain::ByName(const std::string &name) {
	for (Terrain t : {Flat(), Hills()})
		if (name == t.name())
			return t;
	throw HostError("unknown terrain '" + name + "' (expected flat or hills)");
}

std::vector<std::string> Terrain::Names() { return {Flat().name(), Hills().name()}; }

const char *Terrain::name() const {
	switch (kind_) {
	case Kind::Flat: return "flat";
	case Kind::Hills: return "hills";
	case Kind::Custom: return "custom";
	}
	return "?";
}

double Terrain::Elevation(const Body &body, double lng, double lat) const {
	switch (kind_) {
	case Kind::Flat:
		return 0.0;
	case Kind::Hills: {
		double r = body.radius;
		return 20.0 * std::sin(lng * r / 150.0) * std::cos(lat * r / 230.0);
	}
	case Kind::Custom:
		return fn_ ? fn_(body, lng, lat) : 0.0;
	}
	return 0.0;
}

}  // namespace host
