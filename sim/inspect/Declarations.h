// The declarations document of sendra-sim: what the module declared to the host for every
// vessel of a scenario, as one JSON document.
#pragma once

#include <nlohmann/json.hpp>
#include <ostream>

#include "session/Session.h"

namespace host {
class Simulation;
class Module;
}  // namespace host

namespace sim {

// The document for sim as it stands: {"module": {...}, "vessels": [...]}. module may be null.
nlohmann::ordered_json DescribeSimulation(const host::Simulation &sim, const host::Module *module);

// Loads the scenario of options (the built-in one without) and describes it before any frame;
// problems the host noticed while loading go to err as warnings. Throws host::HostError for a
// scenario or module that cannot be used.
nlohmann::ordered_json DeclarationsDocument(const SessionOptions &options, std::ostream &err);

}  // namespace sim
