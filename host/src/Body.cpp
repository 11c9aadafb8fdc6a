// Bodies of the stand-in's solar system and its terrain models.
#include "sendra_host/Body.h"

#include <cmath>

#include "sendra_host/HostError.h"

namespace host {

std::vector<std::unique_ptr<Body>> MakeSolarSystem() {
	std::vector<std::unique_ptr<Body>> bodies;
	bodies.push_back(std::make_unique<Body>("Earth", 6.37101e6));
	bodies.push_back(std::make_unique<Body>("Moon", 1.738e6));
	bodies.push_back(std::make_unique<Body>("Mars", 3.39e6));
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
