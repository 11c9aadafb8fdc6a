// Names a user may have meant: the closest of a list to a misspelt word, and the scenarios of
// an Orbiter folder, named as Orbiter's launcher lists them.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace sim {

// Edits (insertions, deletions, substitutions, swaps of neighbours) between a and b.
size_t EditDistance(const std::string &a, const std::string &b);

// The closest of names to word when it is close enough to be what was meant: at most a third
// of word's letters (and one) away.
std::optional<std::string> Closest(const std::string &word, const std::vector<std::string> &names);

// A scenario of an Orbiter folder: its name as the launcher lists it ("Sendra2016/Rover at
// rest", the path under Scenarios/ without ".scn") and the first sentence of its description.
struct ScenarioEntry {
	std::string name;
	std::string about;
};

// The scenarios under root/Scenarios/, in the launcher's order: in each folder its folders
// first, then its scenarios, each by name whatever the letter case; symbolic links to folders
// are not followed. At most kMaxListed, a description read from the first 64 KiB of its file.
const size_t kMaxListed = 10000;
std::vector<ScenarioEntry> ListScenarios(const std::string &root);

// Of those scenarios, up to three whose name, or the name's last part, is close to word, letter
// case aside, the closest first.
std::vector<std::string> ClosestScenarios(const std::string &word, const std::string &root);

// "; did you mean the scenario 'A' or 'B'?", or, with none close, where the list is; empty
// when the folder holds no scenario.
std::string ScenarioHint(const std::string &word, const std::string &root);

}  // namespace sim
