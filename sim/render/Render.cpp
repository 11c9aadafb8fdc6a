// The render command: a drive run up to a moment, and the focus vessel's picture then.
#include "render/Render.h"

#include <algorithm>
#include <stdexcept>

#include "output/OutputFiles.h"
#include "sendra_host/HostError.h"
#include "sendra_host/Simulation.h"
#include "sendra_host/Text.h"
#include "session/Daylight.h"
#include "session/Names.h"
#include "session/Progress.h"

namespace sim {

Scene VesselScene(host::Simulation &sim, const Vessel *v, View view) {
	std::string caption = host::Format("t = %.2f s, %s view", sim.simt(), ViewName(view));
	if (!v)
		return EmptyScene("No vessel has the focus.", caption);
	const host::VesselView vessel(v);
	// Only the focus vessel's HUD is painted; another keeps the last paint of its focus.
	Scene scene = CaptureScene(vessel, caption, v == sim.focus());
	// Beneath the caption: what lights the picture, or where the vessel flies.
	auto beneath = [&](const std::string &text) {
		scene.legend.insert(scene.legend.begin() + 2, LegendLine{PrintableText(text), scene.legend[1].colour});
	};
	const host::VesselPlace place = vessel.place();
	if (std::optional<Daylight> d = DaylightOver(sim, v)) {
		scene.sun = d->vessel;
		scene.sunUp = d->sky.elevation > 0;
		beneath(DaylightText(d->sky));
	} else if (!place.landed && place.body) {
		const Vessel *base = vessel.ridesOn();
		beneath("in flight about " + place.body->name +
		        (base ? ", riding on " + host::VesselView(base).name() : std::string()));
	}
	return scene;
}

Scene FocusScene(host::Simulation &sim, View view) { return VesselScene(sim, sim.focus(), view); }

namespace {

// The vessel that --vessel names, or an error naming those there are.
const Vessel *VesselNamed(const host::Simulation &sim, const std::string &name) {
	if (const Vessel *v = sim.FindVessel(name))
		return v;
	std::vector<std::string> names;
	for (const auto &v : sim.vessels())
		names.push_back(host::VesselView(v).name());
	std::string message = "--vessel: the scenario has no vessel '" + name + "'";
	if (std::optional<std::string> closest = Closest(name, names))
		throw UnknownVesselError(message + "; did you mean '" + *closest + "'?");
	if (names.empty())
		throw UnknownVesselError(message + ": it has none");
	// A long list is cut short: the user asked for one of them.
	const size_t kNamed = 12;
	std::string list;
	for (size_t i = 0; i < names.size() && i < kNamed; ++i)
		list += (i == 0 ? "" : i + 1 == names.size() ? " and " : ", ") + ("'" + names[i] + "'");
	if (names.size() > kNamed)
		list += " and " + std::to_string(names.size() - kNamed) + " more";
	throw UnknownVesselError(message + " (its vessels are " + list + ")");
}

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
	// Before the drive, so that a misspelt name fails at once; found again after it.
	if (!o.vessel.empty())
		VesselNamed(session.simulation(), o.vessel);
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
	const Vessel *pictured = o.vessel.empty() ? sim.focus() : VesselNamed(sim, o.vessel);
	if (!pictured)
		throw host::HostError(session.label(), 0, "no vessel has the focus: there is nothing to picture");
	try {
		NeedingMemory("the picture is too large", [&] {
			WritePicture(VesselScene(sim, pictured, *view), *view, o.size.width, o.size.height, *format, file.out());
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
