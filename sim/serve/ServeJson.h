// The JSON pieces of serve's documents that more than one of them uses: a vessel's HUD, camera,
// lights, beacons and mesh slots as the page reads them, and a plain writer for the messages
// sent every frame, which must cost little.
#pragma once

#include <charconv>
#include <cmath>
#include <nlohmann/json.hpp>
#include <string>

#include "sendra_host/Simulation.h"
#include "sendra_host/VesselView.h"

namespace sim {

// Names and texts come from scenario files and modules and need not be UTF-8: bytes that are
// not become U+FFFD rather than an exception.
std::string Dump(const nlohmann::json &j);

nlohmann::json HudTexts(const host::VesselView &v);
nlohmann::json Camera(const host::VesselView &v);
nlohmann::json Lights(const host::VesselView &v);
nlohmann::json Beacons(const host::VesselView &v);
nlohmann::json MeshSlots(const host::VesselView &v);
// The vessel whose keys, HUD and camera the page shows; null without one.
nlohmann::json Focus(const Vessel *v);
// Where the page draws the vessels around a focus in flight: centred on the focus, y up away
// from the centre of its reference body, z forward along the part of its velocity across that,
// x to the right (a left-handed frame, as a vessel's own). In flight, as a vessel's place is.
struct FlightFrame {
	bool flight = false;            // the focus is in flight: landed, the page draws on the horizon
	VECTOR3 origin{};               // [m] the focus's place from its body, in the ecliptic frame
	MATRIX3 axes = identity();      // rows: the frame's axes in the ecliptic frame
	double height = 0;              // [m] of the focus from its body's centre
	VECTOR3 Point(const VECTOR3 &pos) const { return mul(axes, pos - origin); }
};
// The frame of the focus f; not in flight for none, or one landed.
FlightFrame FlightFrameOf(const Vessel *f);

// The Sun over v, for the page's light: towards it in the horizon's (east, up, north) to a
// thousandth (so that it changes some minutes apart, not every frame), whether it is above the
// horizon, and what the status line says of it; null where the host does not know it. In
// flight, towards it in frame, and whether v's body hides it.
nlohmann::json Sun(const host::Simulation &sim, const Vessel *v, const FlightFrame &frame = FlightFrame());
// In flight, the body below the focus as the page may draw it: its name, radius, and the
// height of the focus above its surface to a kilometre; null landed.
nlohmann::json Below(const Vessel *f, const FlightFrame &frame);

// Appends JSON text to a string: numbers in their shortest exact form (null when not finite),
// or with a fixed number of decimals where the page needs no more.
class JsonText {
public:
	explicit JsonText(std::string &out) : out_(out) {}
	JsonText &raw(std::string_view s) {
		out_ += s;
		return *this;
	}
	JsonText &number(double x) { return put(x, std::chars_format::general, -1); }
	JsonText &number(float x) {
		if (!std::isfinite(x))
			return raw("null");
		char buf[32];
		auto r = std::to_chars(buf, buf + sizeof buf, x);
		out_.append(buf, r.ptr);
		return *this;
	}
	JsonText &fixed(double x, int decimals) { return put(x, std::chars_format::fixed, decimals); }
	JsonText &integer(long long x) {
		char buf[24];
		auto r = std::to_chars(buf, buf + sizeof buf, x);
		out_.append(buf, r.ptr);
		return *this;
	}

private:
	JsonText &put(double x, std::chars_format f, int decimals) {
		if (!std::isfinite(x))
			return raw("null");
		char buf[400];  // the longest fixed form of a double
		auto r = decimals < 0 ? std::to_chars(buf, buf + sizeof buf, x) : std::to_chars(buf, buf + sizeof buf, x, f, decimals);
		out_.append(buf, r.ptr);
		return *this;
	}
	std::string &out_;
};

}  // namespace sim
