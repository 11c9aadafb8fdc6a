// Timing sendra-sim's pictures of the rover, which every run draws once at its end (pose.png
// besides the track map): the depth-buffered PNG and the depth-sorted SVG, encoding included.
#include <benchmark/benchmark.h>

#include <sstream>

#include "app/CommandLine.h"
#include "render/Render.h"
#include "session/Paths.h"

namespace {

// The built-in rover with its doors, sunscreen and lights opened: the most there is to draw.
sim::Scene OpenRover() {
	sim::CommandLine cl = sim::ParseCommandLine({"render", "--at", "12", "--out", "unused.png"}, sim::DefaultRoot());
	sim::DriveOptions o = cl.render.drive;
	o.duration = cl.render.at;
	std::ostringstream err;
	// The built-in drive opens everything in its first 12 s.
	sim::Session session(o.session, err);
	sim::Drive drive(session, sim::LoadDriveScript(o), o);
	drive.ToEnd();
	sim::Scene scene = sim::FocusScene(session.simulation(), sim::View::Iso);
	return scene;
}

void Picture(benchmark::State &state, sim::PictureFormat format) {
	sim::Scene scene = OpenRover();
	size_t bytes = 0;
	for (auto _ : state) {
		std::ostringstream file;
		sim::WritePicture(scene, sim::View::Iso, sim::kDefaultPictureWidth, sim::kDefaultPictureHeight, format, file);
		bytes = file.str().size();
	}
	state.counters["bytes"] = static_cast<double>(bytes);
	state.counters["triangles"] = static_cast<double>(scene.triangles.size());
}

void BM_PngPicture(benchmark::State &state) { Picture(state, sim::PictureFormat::Png); }
BENCHMARK(BM_PngPicture)->Unit(benchmark::kMillisecond);

void BM_SvgPicture(benchmark::State &state) { Picture(state, sim::PictureFormat::Svg); }
BENCHMARK(BM_SvgPicture)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
