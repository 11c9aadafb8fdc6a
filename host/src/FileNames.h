// Finding the files of an Orbiter folder as Windows finds them: names matched whatever their
// letter case, so that a scenario naming class "DeltaGlider" finds Config/Vessels/Deltaglider.cfg.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace host {

// The file or folder at folder/relative, each part of relative ('/' or '\' between parts)
// matched without regard to ASCII letter case; the folder itself is taken as given. Where a
// folder holds two or more names that match a part (names that differ only in case, which a
// Windows folder cannot hold), the one spelt as given is taken, else the first in byte order,
// and notes gets "FOLDER: 'a' and 'A' differ only in letter case; 'A' was taken". nullopt when
// a part matches nothing (or relative is empty, or has a part "." or "..").
std::optional<std::string> FindNoCase(const std::string &folder, const std::string &relative,
                                      std::vector<std::string> &notes);

}  // namespace host
