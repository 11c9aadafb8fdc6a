// Whole Orbiter scenario files: reading one into a simulation, and saving a simulation as one
// that real Orbiter 2016 can read.
#pragma once

#include <ostream>
#include <string>
#include <vector>

#include "ScenarioFiles.h"

namespace host {

class Simulation;

struct ScenarioVesselBlock {
	std::string name;       // before the first ':'
	std::string className;  // after it; the name when there is no ':'
	long line = 0;          // line of "name:Class"
	std::vector<ScenarioLine> lines;  // the block's lines up to and including END
};

struct ScenarioFile {
	std::string path;             // as given, for error messages
	std::string descriptionKind;  // "DESC", "HYPERDESC", "URLDESC" or empty
	std::string description;      // the description block's text, lines joined with '\n'
	std::string system = "Sol";
	double mjd = 51982.0;         // BEGIN_ENVIRONMENT "Date MJD"
	std::string focus;            // BEGIN_FOCUS "Ship"; empty without one
	long focusLine = 0;
	std::vector<ScenarioVesselBlock> vessels;
};

// Parses scenario text; label names it in errors. Throws HostError "label:line: what is wrong".
ScenarioFile ParseScenario(const std::string &text, const std::string &label);
ScenarioFile ReadScenarioFile(const std::string &path);

// Makes the scenario's vessels in file order the way the real host does (module, ovcInit,
// clbkSetClassCaps, clbkLoadStateEx on a prepared VESSELSTATUS2, the host's own apply), then
// clbkPostCreation for all and the focus. Sets the simulation's start MJD. Throws HostError
// with the scenario's file and line for anything that cannot be loaded.
void LoadScenario(Simulation &sim, const ScenarioFile &scenario);

// Writes the whole simulation as a scenario: description, environment with the current MJD,
// focus, ships (each "name:Class", its clbkSaveState, END).
void WriteScenario(Simulation &sim, std::ostream &out, const std::string &description = "");

// Saves to path through a temporary file renamed over it, so that a failure never leaves a
// half-written scenario and never touches an existing file. Throws HostError on failure.
void SaveScenario(Simulation &sim, const std::string &path, const std::string &description = "");

}  // namespace host
