// A body's surface bases, read from their files as the real host finds them.
#pragma once

#include <string>
#include <vector>

#include "sendra_host/Body.h"

namespace host {

// Every .cfg file in the body's base folders (found as Windows finds them) whose first line
// begins with BASE-V2.0: its Name, Location (longitude and latitude [degrees]) and pads, whose
// objects give POS x y z [m] (+x south, +z east of the base): a pad's centre is at
// lng + z / (R cos lat), lat - x / R, R the body's radius. A file that cannot be read, or a base
// without a Name or Location, is passed over with a warning "file:line: what".
std::vector<SurfaceBase> ReadBases(const std::string &root, const Body &body, std::vector<std::string> &warnings);

}  // namespace host
