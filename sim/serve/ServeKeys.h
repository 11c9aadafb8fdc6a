// The browser keys of `sendra-sim serve`: which key of the page stands for which Orbiter key.
// The page and the server both use this one table.
#pragma once

#include <cstddef>
#include <string_view>

namespace sim {

struct BrowserKey {
	const char *code;   // KeyboardEvent.code, the physical key whatever the layout and NumLock
	int oapiKey;        // the OAPI_KEY_ code delivered to the focus vessel
	const char *label;  // what the page's key legend says
};

// Every binding, in the order the page's legend lists them.
const BrowserKey *BrowserKeysBegin();
const BrowserKey *BrowserKeysEnd();
size_t BrowserKeyCount();

// The index of a binding by its KeyboardEvent.code (exact, case-sensitive as browsers send
// it); -1 for a code that is not bound.
int BrowserKeyIndex(std::string_view code);

}  // namespace sim
