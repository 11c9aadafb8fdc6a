// The embedded defaults of sendra-sim: the built-in scenario and the built-in drive script.
#pragma once

namespace sim {

// One Sendra2016 named "Sendra-1", landed on the Moon at 23.47 E, 0.67 N, heading 0; MJD 60003,
// in the lunar morning.
extern const char kDefaultScenario[];
extern const char kDefaultScenarioLabel[];
// About two minutes of driving that uses every control of the rover.
extern const char kDefaultScript[];
extern const char kDefaultScriptLabel[];

}  // namespace sim
