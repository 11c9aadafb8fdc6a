// The key table of `sendra-sim serve`: the keys the rover module reads in Orbiter, and the
// yaw keys that move the rudder, as a browser names them.
#include "serve/ServeKeys.h"

#include <iterator>

#include "OrbiterAPI.h"

namespace sim {

namespace {

// Numeric keypad keys are named by position (Numpad8, NumpadAdd) whether NumLock is on or
// not. The yaw keys, keypad 1 and 3, reach the module as keys too, as in Orbiter; the arrows
// only move the rudder.
const BrowserKey KEYS[] = {
	{"Numpad8", OAPI_KEY_NUMPAD8, 0, "forward gear"},
	{"Numpad5", OAPI_KEY_NUMPAD5, 0, "neutral"},
	{"Numpad2", OAPI_KEY_NUMPAD2, 0, "reverse gear"},
	{"NumpadAdd", OAPI_KEY_ADD, 0, "faster (held)"},
	{"NumpadSubtract", OAPI_KEY_SUBTRACT, 0, "slower (held)"},
	{"Numpad1", OAPI_KEY_NUMPAD1, -1, "steer left (held)"},
	{"Numpad3", OAPI_KEY_NUMPAD3, +1, "steer right (held)"},
	{"ArrowLeft", -1, -1, "steer left (held)"},
	{"ArrowRight", -1, +1, "steer right (held)"},
	{"Digit5", OAPI_KEY_5, 0, "swivel wheels left (held)"},
	{"Digit6", OAPI_KEY_6, 0, "swivel wheels right (held)"},
	{"Digit4", OAPI_KEY_4, 0, "swivel back to straight"},
	{"Digit1", OAPI_KEY_1, 0, "left door"},
	{"Digit2", OAPI_KEY_2, 0, "right door"},
	{"KeyJ", OAPI_KEY_J, 0, "sunscreen"},
	{"Digit7", OAPI_KEY_7, 0, "lights and beacons"},
	{"KeyV", OAPI_KEY_V, 0, "next cockpit camera station"},
};

}  // namespace

const BrowserKey *BrowserKeysBegin() { return std::begin(KEYS); }
const BrowserKey *BrowserKeysEnd() { return std::end(KEYS); }
size_t BrowserKeyCount() { return std::size(KEYS); }

int BrowserKeyIndex(std::string_view code) {
	for (size_t i = 0; i < std::size(KEYS); ++i)
		if (code == KEYS[i].code)
			return static_cast<int>(i);
	return -1;
}

}  // namespace sim
