// Loading a scenario into a simulation, stepping it with input, and saving it.
#include "session/Session.h"

#include <cstdlib>

#include "sendra_host/HostError.h"
#include "sendra_host/Text.h"
#include "session/Defaults.h"
#include "session/Names.h"
#include "session/Paths.h"
#include "session/Progress.h"

namespace sim {

namespace {

// The scenario of options, read from the file its name stands for; label is set to that file.
host::ScenarioFile ReadScenario(const SessionOptions &o, std::string &label) {
	if (!o.scenario) {
		label = kDefaultScenarioLabel;
		return host::ParseScenario(kDefaultScenario, kDefaultScenarioLabel);
	}
	std::optional<std::string> found = FindScenario(*o.scenario, o.root);
	label = found.value_or(*o.scenario);
	try {
		return host::ReadScenarioFile(label);
	} catch (const host::HostError &e) {
		if (found || o.scenario->empty() || (*o.scenario)[0] == '/')
			throw;
		throw host::HostError(std::string(e.what()) + " (nor is it a scenario in " + o.root + "/Scenarios/" +
		                      ScenarioHint(*o.scenario, o.root) + ")");
	}
}

// The current time a scenario without a date starts at: SENDRA_NOW, an MJD, when it is set (for
// runs that repeat), else the system's clock.
std::optional<double> NowFromEnvironment() {
	const char *now = std::getenv("SENDRA_NOW");
	if (!now)
		return std::nullopt;
	std::optional<double> mjd = host::ParseDouble(now);
	if (!mjd)
		throw host::HostError("SENDRA_NOW: expected the current time as a finite MJD, got '" + host::Printable(now) + "'");
	return mjd;
}

}  // namespace

Session::Session(const SessionOptions &o, std::ostream &err) : options_(o), err_(err) {
	NeedingMemory("the scenario is too large", [&] { Load(); });
}

void Session::Load() {
	const SessionOptions &o = options_;
	host::ScenarioFile scenario = ReadScenario(o, label_);
	host::SimOptions so;
	so.root = o.root;
	so.terrain = host::Terrain::ByName(o.terrain);
	so.flightModel = o.flightModel;
	so.hudWidth = o.hud.width;
	so.hudHeight = o.hud.height;
	so.rudderDelay = o.rudderDelay;
	so.now = NowFromEnvironment();
	if (!o.journal)
		so.journalCapacity = 0;  // the host only counts its calls
	sim_ = std::make_unique<host::Simulation>(so);
	{
		const double total = static_cast<double>(scenario.vessels.size());
		ProgressBar bar(err_, o.progress, total, [total](double made) {
			return host::Format("loading the scenario: %.0f of %.0f vessels", made, total);
		});
		host::LoadScenario(*sim_, scenario, [&](size_t made, size_t) { bar.Update(made, static_cast<double>(made)); });
	}  // the bar is off its line before the warnings
	WarnProblems();
}

void Session::Step(double dt, const FrameInput &input, const std::function<void()> &atEnd) {
	host::Simulation &sim = *sim_;
	for (const host::KeyEvent &k : input.keys) {
		if (k.down)
			sim.KeyDown(k.key);
		else
			sim.KeyUp(k.key);
	}
	sim.Frame(dt);
	if (input.rudder)
		if (Vessel *f = sim.focus())
			sim.SetRudderTarget(f, *input.rudder);
	if (atEnd)
		atEnd();
	if (options_.journal)
		for (const auto &v : sim.vessels())
			sim.ClearJournal(v.get());  // read by no command while stepping; keeps a long session's memory flat
	WarnProblems();
}

void Session::Write(std::ostream &out) { host::WriteScenario(*sim_, out); }

void Session::Save(const std::string &path) { host::SaveScenario(*sim_, path); }

void Session::Save(const std::string &path, host::SaveFileSystem &files) { host::SaveScenario(*sim_, path, files); }

void Session::Warn(const std::string &what) { err_ << "sendra-sim: warning: " << host::Printable(what) << '\n'; }

void Session::WarnProblems() {
	if (!sim_->HasProblems())  // a frame's usual case: nothing to take
		return;
	for (const std::string &p : sim_->TakeProblems())
		Warn(p);
}

}  // namespace sim
