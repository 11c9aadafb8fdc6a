// Key names as drive scripts write them: the host's OAPI_KEY_ constants without the prefix.
#pragma once

#include <cstddef>
#include <optional>
#include <string_view>

namespace sim {

struct KeyName {
	const char *name;  // e.g. "NUMPAD8", "ADD", "1", "J"
	int code;          // the OAPI_KEY_ value, 0..255
};

// Every OAPI_KEY_ constant of the SDK header, in the header's order.
const KeyName *KeyNamesBegin();
const KeyName *KeyNamesEnd();

// The code of a key name, letter case ignored; empty for a name that is not a key.
std::optional<int> KeyCode(std::string_view name);
// The name of a key code; null for a code without one.
const char *KeyNameOf(int code);

}  // namespace sim
