// The run command: a drive with its recorders, per-second lines and progress, and the
// outputs committed together at its end.
#include "run/Run.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <optional>
#include <set>

#include "output/OutputFiles.h"
#include "output/Signals.h"
#include "render/Render.h"
#include "render/TrackMap.h"
#include "run/Recorders.h"
#include "sendra_host/HostError.h"
#include "sendra_host/Simulation.h"
#include "sendra_host/Text.h"
#include "session/Progress.h"

namespace sim {

namespace {

// [s] A frame ending this close before a whole second counts as reaching it.
const double kTimeTolerance = 1e-9;
// The files of every run, in its output folder.
const char *const kRunOutputs[] = {"trajectory.csv", "hud.csv", "final.scn", "track.svg", "pose.png"};
// Late events named one by one; beyond this many, one warning counts them.
const size_t kLateEventsNamed = 3;
// [pixels] The most a pose picture may cost to draw (RenderPicture's DrawCost, times its
// samples a pixel): about a second on a machine of CI's, some 350 times the rover's own.
const double kMaxPoseCost = 4e9;

// Writes a whole output with write, then closes its file. A write that failed is the file's
// error (a full disk), whatever the writer made of the failing stream.
template <typename Write>
void WriteWhole(StagedFile &file, Write write) {
	try {
		write(file.out());
	} catch (const std::runtime_error &) {
		file.Check();
		throw;
	}
	file.Close();
}

// A run's output files and saves, filled as the drive goes and put in place together at its
// end; on a failure or an end signal, nothing of them is left, nor the folders made for them.
struct RunFiles {
	// out is open.
	RunFiles(const OutputFolder &out, OutputFolders &folders, size_t animColumns, const host::Simulation &sim)
		: set(out, out.PathOf("trajectory.csv")), trajectoryFile(set, "trajectory.csv", out.PathOf("trajectory.csv")),
		  hudFile(set, "hud.csv", out.PathOf("hud.csv")), finalFile(set, "final.scn", out.PathOf("final.scn")),
		  trackFile(set, "track.svg", out.PathOf("track.svg")), poseFile(set, "pose.png", out.PathOf("pose.png")),
		  saves(out, set, &folders), trajectory(trajectoryFile.out(), animColumns, sim), hud(hudFile.out()),
		  track(sim) {}

	// Throws host::HostError naming the first file whose writing has failed.
	void Check() const {
		trajectoryFile.Check();
		hudFile.Check();
	}
	// The last files, from the simulation as the drive left it; every file closed.
	void Finish(Session &session);
	// "wrote DIR/: trajectory.csv 2.98 MB, ..." once every file is closed.
	std::string Written(const OutputFolder &out) const;
	// Every file and save in place at once.
	void Commit() {
		saves.Check();
		set.Commit();
	}

	OutputSet set;
	StagedFile trajectoryFile, hudFile, finalFile, trackFile, poseFile;
	StagedSaves saves;
	TrajectoryRecorder trajectory;
	HudRecorder hud;
	TrackRecorder track;
};

void RunFiles::Finish(Session &session) {
	host::Simulation &sim = session.simulation();
	trajectoryFile.Close();
	hudFile.Close();
	WriteWhole(finalFile, [&](std::ostream &out) { session.Write(out); });
	WriteWhole(trackFile, [&](std::ostream &out) { WriteTrackMap(track, sim, out); });
	std::string leftOut;
	WriteWhole(poseFile, [&](std::ostream &out) {
		NeedingMemory("the picture is too large", [&] {
			Scene scene = FocusScene(sim, View::Iso);
			leftOut = WritePicture(scene, View::Iso, kDefaultPictureWidth, kDefaultPictureHeight, PictureFormat::Png,
			                       out, kMaxPoseCost);
		});
	});
	if (!leftOut.empty())
		session.Warn(poseFile.path() + ": " + leftOut);
}

std::string RunFiles::Written(const OutputFolder &out) const {
	std::string line = "wrote " + host::Printable(out.path()) + "/:";
	for (const StagedFile *f : {&trajectoryFile, &hudFile, &finalFile, &trackFile})
		line += " " + host::Printable(f->path().substr(f->path().rfind('/') + 1)) + " " + SizeText(f->size()) + ",";
	line.pop_back();
	line += " and pose.png " + SizeText(poseFile.size()) + " (track.svg and pose.png are pictures to open)";
	std::vector<std::string> saved = saves.names();
	for (size_t i = 0; i < saved.size(); ++i)
		line += std::string(i == 0 ? "; the script's saves " : ", ") + host::Printable(saved[i]);
	return line + "\n";
}

// The size of trajectory.csv and hud.csv from their first recorded frame, for a warning
// before a run makes them larger than a disk is likely to hold.
class SizeWatch {
public:
	SizeWatch(Session &session, const RunOptions &o, double duration)
		: session_(session), recordEvery_(o.recordEvery) {
		double mean = 0;
		for (double dt : o.drive.dts)
			mean += dt / static_cast<double>(o.drive.dts.size());
		recorded_ = std::ceil(duration / mean) / static_cast<double>(recordEvery_) + 1;
	}

	// After a recorded frame; from the first one after the headers.
	void Recorded(uint64_t bytes) {
		if (headers_ == 0) {
			headers_ = bytes;
			return;
		}
		if (done_)
			return;
		done_ = true;
		double estimate = static_cast<double>(headers_) + static_cast<double>(bytes - headers_) * recorded_;
		if (estimate < kWarnAbove)
			return;
		// The first of 2, 5, 10, 20, 50, ... times fewer frames that brings them to half a
		// gigabyte or less.
		uint64_t every = 2;
		for (uint64_t decade = 1; estimate / static_cast<double>(every) > kAimAt; decade *= 10)
			for (uint64_t f : {2, 5, 10})
				if (every = f * decade; estimate / static_cast<double>(every) <= kAimAt)
					break;
		double reduced = estimate / static_cast<double>(every);
		session_.Warn(host::Format("this run's trajectory.csv and hud.csv will take about %s (%.0f recorded frames); "
		                           "--record-every %llu makes them about %s",
		                           SizeText(static_cast<uint64_t>(estimate)).c_str(), recorded_,
		                           static_cast<unsigned long long>(recordEvery_ * every),
		                           SizeText(static_cast<uint64_t>(reduced)).c_str()));
	}

private:
	static constexpr double kWarnAbove = 1e9;  // [bytes]
	static constexpr double kAimAt = 5e8;      // [bytes] that the option's suggested value aims at
	Session &session_;
	uint64_t recordEvery_;
	double recorded_ = 0;  // frames the run will record
	uint64_t headers_ = 0;
	bool done_ = false;
};

// A save event's file inside the output folder: checked before anything is written.
void CheckSaves(const DriveScript &script, const OutputFolder &out) {
	std::set<std::string> names;
	for (const ScriptEvent &e : script.events)
		if (e.kind == ScriptEvent::Kind::Save)
			names.insert(e.text);
	for (const ScriptEvent &e : script.events) {
		if (e.kind != ScriptEvent::Kind::Save)
			continue;
		if (e.text == "final.scn")
			throw host::HostError(script.label, e.line,
			                      "the save 'final.scn' would be replaced by the run's own final.scn; give it "
			                      "another name");
		for (size_t slash = e.text.find('/'); slash != std::string::npos; slash = e.text.find('/', slash + 1))
			if (names.count(e.text.substr(0, slash)))
				throw host::HostError(script.label, e.line,
				                      "the save '" + e.text + "' goes into '" + e.text.substr(0, slash) +
				                          "', which another save writes as a file");
		try {
			CheckSave(out, e.text);
		} catch (const host::HostError &x) {
			throw host::HostError(script.label, e.line, x.what());
		}
	}
}

// The animation columns are fixed by the header: the rover makes its animations when it is
// created, so the counts after loading are those of the whole run.
size_t AnimationColumns(const host::Simulation &sim) {
	size_t columns = 0;
	for (const auto &v : sim.vessels())
		columns = std::max(columns, host::VesselView(v).animationCount());
	return columns;
}

// "t=S s" and the focus vessel's HUD lines, once per simulated second.
class SecondLines {
public:
	SecondLines(std::ostream &out, bool onTerminal, ProgressBar &progress)
		: out_(out), onTerminal_(onTerminal), progress_(progress) {}

	void After(const host::Simulation &sim) {
		if (sim.simt() < next_ - kTimeTolerance)
			return;
		next_ = std::floor(sim.simt() + kTimeTolerance) + 1;
		// On a shared screen the line goes above the bar, which is drawn again below it.
		bool redraw = onTerminal_ && progress_.shown();
		if (redraw)
			progress_.Clear();
		out_ << host::Format("t=%.2f s", sim.simt());
		if (const Vessel *f = sim.focus())
			for (const host::HudText &t : host::VesselView(f).hud().texts)
				out_ << " | " << host::Printable(t.text);
		out_ << '\n';
		if (redraw) {
			out_.flush();
			progress_.Draw(sim.simt());
		}
	}

private:
	std::ostream &out_;
	bool onTerminal_;
	ProgressBar &progress_;
	double next_ = 1;  // [s] the line comes after the frame that reaches it
};

// A time the steps summed up to, with no more digits than it has within the tolerance: the
// 250th step of 0.02 s ends at 5 s, not at 4.999999999999981 s.
std::string TimeText(double t) {
	for (int digits = 1; digits < 17; ++digits) {
		std::string text = host::Format("%.*g", digits, t);
		if (std::fabs(std::strtod(text.c_str(), nullptr) - t) <= kTimeTolerance)
			return text;
	}
	return host::FormatShortest(t);
}

void WarnLateEvents(Session &session, const Drive &drive) {
	std::vector<ScriptEvent> late = drive.Undelivered();
	const std::string end = " the end of the run at " + TimeText(session.simulation().simt()) + " s";
	auto event = [](const ScriptEvent &e) { return "'" + DescribeEvent(e) + "' at " + host::FormatShortest(e.t) + " s"; };
	const std::string &label = drive.script().label;
	if (late.size() <= kLateEventsNamed) {
		for (const ScriptEvent &e : late)
			session.Warn(host::HostError::Format(label, e.line, event(e) + " comes after" + end + " and was not delivered"));
		return;
	}
	const ScriptEvent &last = late.back();
	session.Warn(host::HostError::Format(
		label, late.front().line,
		event(late.front()) + " and " + std::to_string(late.size() - 1) + " more events up to line " +
			std::to_string(last.line) + " (" + host::FormatShortest(last.t) + " s) come after" + end +
			" and were not delivered"));
}

RunReport Report(const Drive &drive, const host::Simulation &sim) {
	RunReport report;
	report.distance = drive.distance();
	report.frames = sim.frameCount();
	report.simt = sim.simt();
	if (const Vessel *f = sim.focus()) {
		report.hasFocus = true;
		const host::VesselPlace p = host::VesselView(f).place();
		report.lng = p.lng;
		report.lat = p.lat;
		report.hdg = p.hdg;
	}
	return report;
}

void PrintSummary(std::ostream &out, const RunReport &report) {
	out << host::Format("distance driven: %.2f m\n", report.distance);
	if (report.hasFocus)
		out << host::Format("final position: %.6f %.6f deg, heading %.2f deg\n", report.lng * DEG, report.lat * DEG,
		                    report.hdg * DEG);
	else
		out << "final position: no vessel has the focus\n";
}

}  // namespace

RunReport RunDrive(const RunOptions &o, RunConsole console) {
	if (o.recordEvery == 0)
		throw std::invalid_argument("a run records every Nth frame with N >= 1");
	// Before anything else: the folder is this run's alone, and what a run killed while it put
	// its outputs in place left there is put back.
	OutputFolder out(o.out, OutputFolder::Use::Exclusive);
	DriveScript script = LoadDriveScript(o.drive);
	Session session(o.drive.session, console.err);
	for (const std::string &warning : out.TakeWarnings())
		session.Warn(warning);
	Drive drive(session, std::move(script), o.drive);
	CheckSaves(drive.script(), out);
	for (const char *name : kRunOutputs)
		CheckOutput(out, name);
	host::Simulation &sim = session.simulation();

	OutputFolders folders;  // before the files: removed, when empty, after them
	out.Make(folders);
	RunFiles files(out, folders, AnimationColumns(sim), sim);
	const SaveWriter save = [&](const std::string &path, host::SaveFileSystem &fs) { session.Save(path, fs); };
	drive.SetSaves([&](const std::string &name) { files.saves.Save(save, name); });
	SizeWatch size(session, o, drive.duration());
	size.Recorded(files.trajectory.bytes() + files.hud.bytes());
	sim.onFrameEnd = [&](host::Simulation &s) {
		uint64_t k = s.frameCount();
		files.trajectory.Follow(s);
		if (k % o.recordEvery == 0 || !drive.Running()) {
			files.trajectory.Record(k, s);
			files.hud.Record(k, s.focus());
			files.track.Record(s);
			size.Recorded(files.trajectory.bytes() + files.hud.bytes());
		}
	};
	// On a terminal the bar stands alone: the lines of each second would scroll away under it.
	const bool everySecond = !o.quiet && (!console.outIsTerminal || o.hudLines);
	NeedingMemory("the drive needs more memory than there is", [&] {
		ProgressBar progress(console.err, console.progress && !o.quiet, drive.duration(),
		                     ProgressBar::SimulatedTime(drive.duration()));
		SecondLines lines(console.out, console.outIsTerminal, progress);
		while (drive.Running()) {
			drive.Next();
			// A failed write ends the run at once, named by its file.
			files.Check();
			if (everySecond) {
				lines.After(sim);
				CheckStandardOutput(console.out);
			}
			progress.Update(sim.frameCount(), sim.simt());
		}
	});
	sim.onFrameEnd = nullptr;
	files.Finish(session);
	WarnLateEvents(session, drive);

	RunReport report = Report(drive, sim);
	if (!o.quiet) {
		PrintSummary(console.out, report);
		console.out << files.Written(out);
	}
	// The summary is an output too: when it cannot be written, neither are the files.
	console.out.flush();
	CheckStandardOutput(console.out);
	files.Commit();
	folders.Keep();
	return report;
}

}  // namespace sim
