// Timing sendra-sim's pictures of the rover, which every run draws once at its end (pose.png
// besides the track map): the depth-buffered PNG and the depth-sorted SVG, encoding included.
#include <benchmark/benchmark.h>

#include <sstream>

#include "Options.h"
#include "Render.h"
#include "Runner.h"

namespace {

// The built-in rover with its doors, sunscreen and lights opened: the most there is to draw.
sim::Scene OpenRover() {
	sim::CommandLine cl = sim::ParseCommandLine({"render", "--at", "12", "--out", "unused.png"}, sim::DefaultRoot());
	sim::RunOptions o = cl.render.drive;
	o.script.reset();
	std::ostringstream out, err;
	sim::Scene scene;
	// The built-in drive opens everything in its first 12 s.
	sim::RunDrive(o, sim::RunConsole{out, err}, [&](host::Simulation &s) { scene = sim::FocusScene(s, sim::View::Iso); });
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
