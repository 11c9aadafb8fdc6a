// The key table of `sendra-sim serve`: the keys the rover module reads in Orbiter, and the
// host's yaw keys that move the rudder, as a browser names them.
#include "serve/ServeKeys.h"

#include <iterator>

#include "OrbiterAPI.h"

namespace sim {

namespace {

// Numeric keypad keys are named by position (Numpad8, NumpadAdd) whether NumLock is on or
// not. Each keypad key has a second one that a laptop has too, sent to the host as the keypad
// key, so that the module sees what Orbiter would give it: the arrows up and down stand where
// keypad 8 and 2 do with NumLock off, N is neutral, and = and - are the main keyboard's plus
// and minus. The yaw keys, keypad 1 and 3, go to the host as in Orbiter, which moves the rudder
// with them while the vessel's control-surface mode has it; the arrows left and right are the
// same keys.
const BrowserKey KEYS[] = {
	{"Numpad8", OAPI_KEY_NUMPAD8, "forward gear"},
	{"ArrowUp", OAPI_KEY_NUMPAD8, "forward gear"},
	{"Numpad5", OAPI_KEY_NUMPAD5, "neutral"},
	{"KeyN", OAPI_KEY_NUMPAD5, "neutral"},
	{"Numpad2", OAPI_KEY_NUMPAD2, "reverse gear"},
	{"ArrowDown", OAPI_KEY_NUMPAD2, "reverse gear"},
	{"NumpadAdd", OAPI_KEY_ADD, "faster (held)"},
	{"Equal", OAPI_KEY_ADD, "faster (held)"},
	{"NumpadSubtract", OAPI_KEY_SUBTRACT, "slower (held)"},
	{"Minus", OAPI_KEY_SUBTRACT, "slower (held)"},
	{"Numpad1", OAPI_KEY_NUMPAD1, "steer left (held; rudder on)"},
	{"ArrowLeft", OAPI_KEY_NUMPAD1, "steer left (held; rudder on)"},
	{"Numpad3", OAPI_KEY_NUMPAD3, "steer right (held; rudder on)"},
	{"ArrowRight", OAPI_KEY_NUMPAD3, "steer right (held; rudder on)"},
	{"Digit5", OAPI_KEY_5, "swivel wheels left (held)"},
	{"Digit6", OAPI_KEY_6, "swivel wheels right (held)"},
	{"Digit4", OAPI_KEY_4, "swivel back to straight"},
	{"Digit1", OAPI_KEY_1, "left door"},
	{"Digit2", OAPI_KEY_2, "right door"},
	{"KeyJ", OAPI_KEY_J, "sunscreen"},
	{"Digit7", OAPI_KEY_7, "lights and beacons"},
	{"KeyV", OAPI_KEY_V, "next cockpit camera station"},
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
