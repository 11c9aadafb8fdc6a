// The render command: a drive run up to a moment, and the focus vessel's picture then.
#include "render/Render.h"

#include <stdexcept>

#include "HostError.h"
#include "HostVessel.h"
#include "Simulation.h"
#include "Text.h"
#include "session/OutputFiles.h"

namespace sim {

Scene FocusScene(host::Simulation &sim, View view) {
	std::string caption = host::Format("t = %.2f s, %s view", sim.simt(), ViewName(view));
	if (Vessel *v = sim.focus())
		return CaptureScene(*v, caption);
	return EmptyScene("No vessel has the focus.", caption);
}

void RenderDrive(const RenderOptions &o, std::ostream &err) {
	std::optional<View> view = ViewByName(o.view);
	std::optional<PictureFormat> format = PictureFormatOf(o.out);
	auto fits = [](int side) { return side >= kMinPictureSide && side <= kMaxPictureSide; };
	if (!view || !format || !fits(o.size.width) || !fits(o.size.height))
		throw std::invalid_argument("render: the view, the picture's size or its file type is not one render draws");
	// Made first, so that a file that cannot be written fails before the drive.
	StagedFile file(o.out);
	DriveOptions d = o.drive;
	d.duration = o.at;
	DriveScript script = LoadDriveScript(d);
	Session session(d.session, err);
	Drive drive(session, std::move(script), d);
	drive.ToEnd();
	host::Simulation &sim = session.simulation();
	if (!sim.focus())
		throw host::HostError(session.label(), 0, "no vessel has the focus: there is nothing to picture");
	try {
		WritePicture(FocusScene(sim, *view), *view, o.size.width, o.size.height, *format, file.out());
	} catch (const std::runtime_error &) {
		// A file that cannot take the picture (a full disk) is the file's error.
		if (!file.out())
			file.Close();
		throw;
	}
	file.Commit();
}

}  // namespace sim
