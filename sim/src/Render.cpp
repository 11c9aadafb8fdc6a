// The render subcommand: a drive run up to a moment, and the focus vessel's picture then.
#include "Render.h"

#include "Defaults.h"
#include "HostError.h"
#include "HostVessel.h"
#include "OutputFiles.h"
#include "Simulation.h"
#include "Text.h"

namespace sim {

Scene FocusScene(host::Simulation &sim, View view) {
	std::string caption = host::Format("t = %.2f s, %s view", sim.simt(), ViewName(view));
	if (Vessel *v = sim.focus())
		return CaptureScene(*v, caption);
	return EmptyScene("No vessel has the focus.", caption);
}

void RenderDrive(const RenderOptions &o, RunConsole console) {
	std::optional<View> view = ViewByName(o.view);
	std::optional<PictureFormat> format = PictureFormatOf(o.out);
	if (!view || !format || o.width < kMinPictureSide || o.width > kMaxPictureSide || o.height < kMinPictureSide ||
	    o.height > kMaxPictureSide)
		throw UsageError("render: the view, the picture's size or its file type is not one render draws");
	// Made first, so that a file that cannot be written fails before the drive.
	StagedFile file(o.out);
	RunDrive(o.drive, console, [&](host::Simulation &sim) {
		if (!sim.focus())
			throw host::HostError(o.drive.scenario.value_or(kDefaultScenarioLabel), 0,
			                      "no vessel has the focus: there is nothing to picture");
		try {
			WritePicture(FocusScene(sim, *view), *view, o.width, o.height, *format, file.out());
		} catch (const std::runtime_error &) {
			// A file that cannot take the picture (a full disk) is the file's error.
			if (!file.out())
				file.Close();
			throw;
		}
	});
	file.Commit();
}

}  // namespace sim
