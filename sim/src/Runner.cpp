// The run loop: the frame timing and event delivery of sendra-sim, around Simulation::Frame.
#include "Runner.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <sstream>

#include "Defaults.h"
#include "DriveScript.h"
#include "HostError.h"
#include "HostVessel.h"
#include "OutputFiles.h"
#include "Recorders.h"
#include "Render.h"
#include "ScenarioIO.h"
#include "Simulation.h"
#include "Text.h"
#include "TrackMap.h"

namespace sim {

namespace {

// [s] A frame ending this close before an event's time, or the run's end, counts as reaching it.
const double kTimeTolerance = 1e-9;
const double kDefaultDurationWithoutEvents = 60.0;  // [s]
const double kDurationAfterLastEvent = 5.0;         // [s]

void Warn(std::ostream &err, const std::string &what) { err << "sendra-sim: warning: " << what << '\n'; }

void WarnProblems(host::Simulation &sim, std::ostream &err) {
	for (const std::string &p : sim.TakeProblems())
		Warn(err, p);
}

// Central angle [rad] between two surface positions [rad], by the haversine formula, which
// stays accurate for the small steps of a frame.
double CentralAngle(double lng1, double lat1, double lng2, double lat2) {
	double sdlat = std::sin((lat2 - lat1) / 2), sdlng = std::sin((lng2 - lng1) / 2);
	double h = sdlat * sdlat + std::cos(lat1) * std::cos(lat2) * sdlng * sdlng;
	return 2 * std::asin(std::sqrt(std::clamp(h, 0.0, 1.0)));
}

host::ScenarioFile LoadScenarioFile(const std::optional<std::string> &path) {
	if (path)
		return host::ReadScenarioFile(*path);
	return host::ParseScenario(kDefaultScenario, kDefaultScenarioLabel);
}

DriveScript LoadScript(const RunOptions &o) {
	if (o.script)
		return ReadDriveScript(*o.script);
	if (!o.scenario) {
		std::istringstream in(kDefaultScript);
		return ParseDriveScript(in, kDefaultScriptLabel);
	}
	return DriveScript{};
}

// A progress bar on a terminal, shown once a run has taken more than a second of wall time.
class ProgressBar {
public:
	ProgressBar(std::ostream &err, bool enabled, double duration)
		: err_(err), enabled_(enabled), duration_(duration), start_(Clock::now()), lastDraw_(start_) {}
	~ProgressBar() { Clear(); }

	// Redraws at most ten times a second; the clock is read every 64th frame only.
	void Update(uint64_t frame, double simt) {
		if (!enabled_ || (frame & 63) != 0)
			return;
		Clock::time_point now = Clock::now();
		if (now - start_ < std::chrono::seconds(1) || (shown_ && now - lastDraw_ < std::chrono::milliseconds(100)))
			return;
		lastDraw_ = now;
		Draw(simt);
	}
	bool shown() const { return shown_; }
	void Draw(double simt) {
		double fraction = duration_ > 0 ? std::clamp(simt / duration_, 0.0, 1.0) : 1.0;
		const int width = 40;
		int filled = static_cast<int>(fraction * width);
		err_ << '\r' << '[' << std::string(static_cast<size_t>(filled), '#')
		     << std::string(static_cast<size_t>(width - filled), ' ') << "] "
		     << host::Format("%3d%%  t=%.1f of %.1f s", static_cast<int>(fraction * 100), simt, duration_)
		     << std::flush;
		shown_ = true;
	}
	// Takes the bar off its line.
	void Clear() {
		if (shown_)
			err_ << "\r\033[K" << std::flush;
		shown_ = false;
	}

private:
	using Clock = std::chrono::steady_clock;
	std::ostream &err_;
	bool enabled_;
	double duration_;
	Clock::time_point start_, lastDraw_;
	bool shown_ = false;
};

// A run's output files, filled as the drive goes and committed together at its end.
struct RunFiles {
	RunFiles(const std::string &out, size_t animColumns, const host::Simulation &sim)
		: trajectoryFile(out + "/trajectory.csv"), hudFile(out + "/hud.csv"), finalFile(out + "/final.scn"),
		  trackFile(out + "/track.svg"), poseFile(out + "/pose.png"), trajectory(trajectoryFile.out(), animColumns),
		  hud(hudFile.out()), track(sim) {}

	StagedFile trajectoryFile, hudFile, finalFile, trackFile, poseFile;
	TrajectoryRecorder trajectory;
	HudRecorder hud;
	TrackRecorder track;
};

}  // namespace

RunReport RunDrive(const RunOptions &o, RunConsole console, const std::function<void(host::Simulation &)> &atEnd) {
	std::ostream &out = console.out;
	std::ostream &err = console.err;
	// The command line ensures these; a caller of the library may not have.
	if (o.dts.empty() || o.recordEvery == 0)
		throw UsageError("--dt needs at least one step length and --record-every a count >= 1");

	DriveScript script = LoadScript(o);
	host::ScenarioFile scenario = LoadScenarioFile(o.scenario);

	host::SimOptions so;
	so.root = o.root;
	so.terrain = host::Terrain::ByName(o.terrain);
	so.flightModel = o.flightModel;
	so.hudWidth = o.hudWidth;
	so.hudHeight = o.hudHeight;
	so.rudderDelay = o.rudderDelay;
	host::Simulation sim(so);
	host::LoadScenario(sim, scenario);
	WarnProblems(sim, err);
	// Saved scenarios keep the loaded one's plain-text description.
	const std::string description = scenario.descriptionKind == "DESC" ? scenario.description : std::string();

	for (const ScriptEvent &e : script.events)
		if (e.kind == ScriptEvent::Kind::Focus && !sim.FindVessel(e.text))
			throw host::HostError(script.label, e.line, "unknown vessel '" + e.text + "' in the focus event");

	double duration;
	if (o.duration) {
		duration = *o.duration;
	} else if (script.events.empty()) {
		duration = kDefaultDurationWithoutEvents;
	} else {
		const ScriptEvent &last = script.events.back();
		duration = last.t + kDurationAfterLastEvent;
		if (!StepAdvances(duration, *std::min_element(o.dts.begin(), o.dts.end())))
			throw host::HostError(script.label, last.line,
			                      "the time is too late for the step lengths: the simulation time would stop advancing");
	}

	// The animation columns are fixed by the header: the rover makes its animations when it
	// is created, so the counts after loading are those of the whole run.
	size_t animColumns = 0;
	for (const auto &v : sim.vessels())
		animColumns = std::max(animColumns, v->animations.size());
	// A render keeps none of a run's outputs.
	std::optional<RunFiles> files;
	if (!atEnd) {
		MakeFolders(o.out);
		files.emplace(o.out, animColumns, sim);
	}

	auto running = [&] { return sim.simt() < duration - kTimeTolerance; };
	sim.onFrameEnd = [&](host::Simulation &s) {
		uint64_t k = s.frameCount();
		if (files && (k % o.recordEvery == 0 || !running())) {
			files->trajectory.Record(k, s);
			files->hud.Record(k, s.focus());
			files->track.Record(s);
		}
	};

	RunReport report;
	ProgressBar progress(err, console.progress && !o.quiet, duration);
	const std::vector<ScriptEvent> &events = script.events;
	size_t next = 0;  // the first event not yet delivered
	std::vector<int> tapUps;  // keys tapped last frame, released first in this one
	std::vector<const ScriptEvent *> rudders, saves;
	size_t dtIndex = 0;
	double nextSecond = 1;  // [s] the per-second line comes after the frame that reaches it

	while (running()) {
		double dt = o.dts[dtIndex];
		dtIndex = (dtIndex + 1) % o.dts.size();
		double end = sim.simt() + dt;  // as Frame sums it

		for (int key : tapUps)
			sim.KeyUp(key);
		tapUps.clear();
		rudders.clear();
		saves.clear();
		for (; next < events.size() && end >= events[next].t - kTimeTolerance; ++next) {
			const ScriptEvent &e = events[next];
			switch (e.kind) {
			case ScriptEvent::Kind::KeyDown: sim.KeyDown(e.key); break;
			case ScriptEvent::Kind::KeyUp: sim.KeyUp(e.key); break;
			case ScriptEvent::Kind::Tap:
				sim.KeyDown(e.key);
				tapUps.push_back(e.key);
				break;
			case ScriptEvent::Kind::Rudder: rudders.push_back(&e); break;
			case ScriptEvent::Kind::Save: saves.push_back(&e); break;
			// The focus moves before the frame, so that the frame's keys and HUD are the new focus's.
			case ScriptEvent::Kind::Focus: sim.SetFocus(sim.FindVessel(e.text)); break;
			// As the user's toggle: the mode of the focus vessel, for this frame's yaw keys on.
			case ScriptEvent::Kind::Afc: sim.SetControlSurfaceMode(sim.focus(), static_cast<DWORD>(e.mode)); break;
			}
		}

		Vessel *focus = sim.focus();
		double lng0 = focus ? focus->state.surf_lng : 0, lat0 = focus ? focus->state.surf_lat : 0;

		sim.Frame(dt);

		// The rudder targets of the frame's keyboard step: nothing in the frame after that step
		// reads a target, so setting them once the frame is done has the same effect.
		if (Vessel *f = sim.focus())
			for (const ScriptEvent *e : rudders)
				sim.SetRudderTarget(f, e->level);
		for (const ScriptEvent *e : saves) {
			try {
				host::SaveScenario(sim, e->text, description);
			} catch (const host::HostError &x) {
				throw host::HostError(script.label, e->line, std::string("cannot save the scenario: ") + x.what());
			}
		}

		if (focus && focus->surfaceRef)
			report.distance += focus->surfaceRef->radius *
			                   CentralAngle(lng0, lat0, focus->state.surf_lng, focus->state.surf_lat);
		for (const auto &v : sim.vessels())
			v->journal.Clear();  // not needed by a run; keeps the per-frame work flat
		WarnProblems(sim, err);

		if (sim.simt() >= nextSecond - kTimeTolerance) {
			nextSecond = std::floor(sim.simt() + kTimeTolerance) + 1;
			if (!o.quiet) {
				// On a shared screen the line goes above the bar, which is drawn again below it.
				bool redraw = console.outIsTerminal && progress.shown();
				if (redraw)
					progress.Clear();
				out << host::Format("t=%.2f s", sim.simt());
				if (const Vessel *f = sim.focus())
					for (const host::HudText &t : f->hud.texts)
						out << " | " << t.text;
				out << '\n';
				if (redraw) {
					out.flush();
					progress.Draw(sim.simt());
				}
			}
		}
		progress.Update(sim.frameCount(), sim.simt());
	}
	progress.Clear();
	sim.onFrameEnd = nullptr;

	if (files) {
		host::WriteScenario(sim, files->finalFile.out(), description);
		WriteTrackMap(files->track, sim, files->trackFile.out());
		try {
			WritePicture(FocusScene(sim, View::Iso), View::Iso, kDefaultPictureWidth, kDefaultPictureHeight,
			             PictureFormat::Png, files->poseFile.out());
		} catch (const std::runtime_error &) {
			// A picture whose file cannot be written (a full disk) is invalid output, named by
			// the file's own error, not a fault of the drawing.
			if (!files->poseFile.out())
				files->poseFile.Close();
			throw;
		}
		StagedFile *all[] = {&files->trajectoryFile, &files->hudFile, &files->finalFile, &files->trackFile,
		                     &files->poseFile};
		for (StagedFile *f : all)
			f->Close();
		for (StagedFile *f : all)
			f->Commit();
	} else {
		atEnd(sim);
	}

	for (; !atEnd && next < events.size(); ++next) {
		const ScriptEvent &e = events[next];
		Warn(err, host::HostError::Format(script.label, e.line,
		                                  "'" + DescribeEvent(e) + "' at " + host::FormatShortest(e.t) +
		                                      " s comes after the end of the run at " +
		                                      host::FormatShortest(sim.simt()) + " s and was not delivered"));
	}

	report.frames = sim.frameCount();
	report.simt = sim.simt();
	if (const Vessel *f = sim.focus()) {
		report.hasFocus = true;
		report.lng = f->state.surf_lng;
		report.lat = f->state.surf_lat;
		report.hdg = f->state.surf_hdg;
	}
	if (!o.quiet) {
		out << host::Format("distance driven: %.2f m\n", report.distance);
		if (report.hasFocus)
			out << host::Format("final position: %.6f %.6f deg, heading %.2f deg\n", report.lng * DEG,
			                    report.lat * DEG, report.hdg * DEG);
		else
			out << "final position: no vessel has the focus\n";
	}
	out.flush();
	return report;
}

}  // namespace sim
