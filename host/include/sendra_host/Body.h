// Celestial bodies and terrain: what a landed vessel stands on.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace host {

// Common head of every object an OBJHANDLE can point to (bodies and vessels), so the
// host can tell which kind a handle it is given refers to.
struct HostObject {
	enum class Kind : uint32_t { Body = 0x424f4459, Vessel = 0x56534c20 };
	explicit HostObject(Kind k) : kind(k) {}
	Kind kind;
};

struct Body : HostObject {
	Body(std::string n, double r) : HostObject(Kind::Body), name(std::move(n)), radius(r) {}
	std::string name;
	double radius;      // mean radius [m]
	double mass = 0;    // [kg]
	double gm = 0;      // its gravitational parameter, the real host's G times its mass [m^3/s^2]
	// Its rotation: about its own +y axis by rotationOffset + 2 pi (seconds since J2000) /
	// rotationPeriod (a negative period turns it backwards, 0 not at all), that axis tilted by
	// obliquity about a node at longitude lan in the ecliptic [s, rad].
	double rotationPeriod = 0, rotationOffset = 0, obliquity = 0, lan = 0;
	// The node's precession: lan is the node's longitude at lanMjd, and it turns a full turn in
	// precessionPeriod days (0: it stays), in the plane tilted by precessionObliquity about a node
	// at precessionLan in the ecliptic [MJD, days, rad]. The meridian turns at its sidereal rate
	// in space whatever the node does.
	double lanMjd = 51544.5, precessionPeriod = 0, precessionLan = 0, precessionObliquity = 0;
	// The planet whose place it sees the Sun from: its own name for a planet, its planet's for a
	// moon; empty for a star.
	std::string orbit;
	// Where its surface bases' files lie, relative to Config/: its file's BEGIN_SURFBASE DIR
	// lines, else <Name>/Base.
	std::vector<std::string> baseFolders;
};

// A surface base as its file under Config/<Body>/Base/ gives it: its Name, its Location and
// its landing pads (the LPAD1, LPAD2 and LPAD2A objects, numbered from 1 in file order).
struct SurfaceBase {
	std::string name;
	std::string file;
	double lng = 0, lat = 0;  // [rad]
	struct Pad {
		double lng, lat;  // [rad] its centre
	};
	std::vector<Pad> pads;
};

// The bodies the stand-in knows without an Orbiter folder's solar system: Earth, the Moon and
// Mars with the radii, masses and rotations of their configurations.
std::vector<std::unique_ptr<Body>> MakeSolarSystem();

// Terrain elevation [m] above the mean radius at a point given in radians.
class Terrain {
public:
	enum class Kind { Flat, Hills, Custom };
	using Function = std::function<double(const Body &, double lng, double lat)>;

	static Terrain Flat() { return Terrain(Kind::Flat, nullptr); }
	// elevation = 20 sin(lng R / 150) cos(lat R / 230) [m], R the body's radius
	static Terrain Hills() { return Terrain(Kind::Hills, nullptr); }
	static Terrain Custom(Function f) { return Terrain(Kind::Custom, std::move(f)); }
	// One of Names(); anything else throws HostError.
	static Terrain ByName(const std::string &name);
	// The terrains that have a name: "flat", "hills".
	static std::vector<std::string> Names();

	Kind kind() const { return kind_; }
	const char *name() const;
	double Elevation(const Body &body, double lng, double lat) const;

private:
	Terrain(Kind k, Function f) : kind_(k), fn_(std::move(f)) {}
	Kind kind_;
	Function fn_;
};

}  // namespace host
