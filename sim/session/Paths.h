// Where sendra-sim finds its files: its own folder, the Orbiter folder it uses by default, and
// scenarios named as Orbiter's launcher lists them, under the Orbiter folder's Scenarios/.
#pragma once

#include <optional>
#include <string>

namespace sim {

// The folder of the running program; "." if the system does not say.
std::string ProgramFolder();

// The tree the build staged, or <folder of the program>/orbiter when that is missing.
std::string DefaultRoot();

// The file a scenario name stands for: the name itself when something is there (a file, or a
// folder or device that reading then refuses by name); else, for a relative name and a root,
// the regular file root/Scenarios/<name>.scn (".scn" added when missing) or
// root/Scenarios/<name>. Empty when none of them is there.
std::optional<std::string> FindScenario(const std::string &name, const std::string &root);

bool Exists(const std::string &path);
bool IsFolder(const std::string &path);

}  // namespace sim
