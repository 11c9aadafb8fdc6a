// What a vessel's class file declares for the host beyond its module: docking ports, attachment
// points, propellant tanks and the transponder, read as the real host reads them.
#pragma once

#include <string>
#include <vector>

#include "sendra_host/ConfigFile.h"
#include "sendra_host/VesselView.h"

namespace host {

// BEGIN_DOCKLIST (a port a line: position, direction, alignment, an optional IDS channel step),
// BEGIN_ATTACHMENT ("P" or "C", position, direction, alignment, an optional label),
// PropellantResource1, 2, ... (capacity [kg] and an optional efficiency, each list up to its
// first missing number) or else MaxFuel, EnableXPDR and XPDR. A line that does not read is
// passed over, with a warning "file:line: what" in warnings.
ClassItems ReadClassItems(const ConfigFile &cfg, std::vector<std::string> &warnings);

}  // namespace host
