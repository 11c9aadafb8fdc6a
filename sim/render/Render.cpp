// The render command: a drive run up to a moment, and the focus vessel's picture then.
#include "render/Render.h"

#include <algorithm>
#include <stdexcept>

#include "output/OutputFiles.h"
#include "sendra_host/HostError.h"
#include "sendra_host/Simulation.h"
#include "sendra_host/Text.h"
#include "session/Daylight.h"
#include "session/Progress.h"

namespace sim {

Scene FocusScene(host::Simulation &sim, View view) {
	std::string caption = host::Format("t = %.2f s, %s view", sim.simt(), ViewName(view));
	const Vessel *v = sim.focus();
	if (!v)
		return EmptyScene("No vessel has the focus.", caption);
	Scene scene = CaptureScene(host::VesselView(v), caption);
	if (std::optional<Daylight> d = DaylightOver(sim, v)) {
		scene.sun = d->vessel;
		scene.sunUp = d->sky.elevation > 0;
		// Beneath the caption: what lights the picture.
		scene.legend.insert(scene.legend.begin() + 2, LegendLine{DaylightText(d->sky), scene.legend[1].colour});
	}
	return scene;
}

namespace {

// render pictures a drive and writes nothing else: it says once that the script's saves are
// not made.
void WarnSkippedSaves(Session &session, const DriveScript &script) {
	const ScriptEvent *first = nullptr;
	size_t count = 0;
	for (const ScriptEvent &e : script.events)
		if (e.kind == ScriptEvent::Kind::Save && count++ == 0)
			first = &e;
	if (first)
		session.Warn(host::HostError::Format(script.label, first->line,
		                                     "render writes only the picture: the script's " +
		                                         (count == 1 ? std::string("save is") : std::to_string(count) + " saves are") +
		                                         " skipped"));
}

}  // namespace

void RenderDrive(const RenderOptions &o, std::ostream &out, std::ostream &err, bool progress) {
	std::optional<View> view = ViewByName(o.view);
	std::optional<PictureFormat> format = PictureFormatOf(o.out);
	auto fits = [](int side) { return side >= kMinPictureSide && side <= kMaxPictureSide; };
	if (!view || !format || !fits(o.size.width) || !fits(o.size.height))
		throw std::invalid_argument("render: the view, the picture's size or its file type is not one render draws");
	// Made first, so that a file that cannot be written fails before the drive.
	size_t slash = o.out.rfind('/');
	OutputFolder folder(slash == std::string::npos ? "." : o.out.substr(0, std::max<size_t>(slash, 1)),
	                    OutputFolder::Use::Shared);
	CheckOutput(folder, o.out.substr(slash + 1), o.out);
	OutputSet set(folder, o.out);
	StagedFile file(set, o.out.substr(slash + 1), o.out);
	DriveOptions d = o.drive;
	d.duration = o.at;
	DriveScript script = LoadDriveScript(d);
	Session session(d.session, err);
	for (const std::string &warning : folder.TakeWarnings())
		session.Warn(warning);
	Drive drive(session, std::move(script), d);
	WarnSkippedSaves(session, drive.script());
	NeedingMemory("the drive needs more memory than there is", [&] {
		ProgressBar bar(err, progress && !o.quiet, drive.duration(), ProgressBar::SimulatedTime(drive.duration()));
		while (drive.Running()) {
			drive.Next();
			bar.Update(session.simulation().frameCount(), session.simulation().simt());
		}
	});
	host::Simulation &sim = session.simulation();
	if (!sim.focus())
		throw host::HostError(session.label(), 0, "no vessel has the focus: there is nothing to picture");
	try {
		NeedingMemory("the picture is too large", [&] {
			WritePicture(FocusScene(sim, *view), *view, o.size.width, o.size.height, *format, file.out());
		});
	} catch (const std::runtime_error &) {
		// A file that cannot take the picture (a full disk) is the file's error.
		file.Check();
		throw;
	}
	file.Close();
	// The line is an output too: when it cannot be written, neither is the picture.
	if (!o.quiet) {
		out << "wrote " << host::Printable(o.out) << " " << SizeText(file.size()) << " (a picture to open)\n";
		out.flush();
		CheckStandardOutput(out);
	}
	set.Commit();
}

}  // namespace sim
