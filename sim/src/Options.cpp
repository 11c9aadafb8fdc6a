// Parsing sendra-sim's command line with CLI11; every value is checked against its range here
// so that the run itself only sees valid options.
#include "Options.h"

#include <sys/stat.h>
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <algorithm>
#include <climits>
#include <cmath>

#include "Text.h"

namespace sim {

const char kUsage[] =
	"usage: sendra-sim [run] [SCENARIO.scn] [--script FILE] [--duration S] [--dt S[,S...]]\n"
	"                  [--terrain flat|hills] [--hud WxH] [--rudder-delay S] [--record-every N]\n"
	"                  [--flight-model N] [--out DIR] [--root DIR] [--quiet]\n"
	"       sendra-sim inspect [SCENARIO.scn] [--root DIR] [--flight-model N]\n"
	"       sendra-sim render [SCENARIO.scn] [--script FILE] [--at T] [--view iso|front|rear|left|right|top]\n"
	"                         [--size WxH] [--terrain flat|hills] [--dt S[,S...]] [--hud WxH]\n"
	"                         [--rudder-delay S] [--flight-model N] [--root DIR] --out FILE.png|FILE.svg\n"
	"       sendra-sim serve [SCENARIO.scn] [--port N] [--bind ADDR] [--terrain flat|hills] [--root DIR]\n"
	"                        [--dt S]\n"
	"       sendra-sim --help | --version\n";

namespace {

const int kMaxHudSide = 16384;  // [pixels]

[[noreturn]] void Bad(const std::string &option, const std::string &value, const std::string &expected) {
	throw UsageError(option + ": '" + value + "' is not " + expected);
}

double Seconds(const std::string &option, const std::string &text, bool zeroAllowed) {
	std::optional<double> v = host::ParseDouble(text);
	if (!v || *v < 0 || (!zeroAllowed && *v == 0))
		Bad(option, text, zeroAllowed ? "a finite number of seconds >= 0" : "a finite number of seconds > 0");
	return *v;
}

long long Integer(const std::string &option, const std::string &text, long long min, long long max,
                  const std::string &expected) {
	std::optional<long long> v = host::ParseInteger(text);
	if (!v || *v < min || *v > max)
		Bad(option, text, expected);
	return *v;
}

std::vector<double> StepList(const std::string &text) {
	std::vector<double> dts;
	size_t start = 0;
	while (true) {
		size_t comma = text.find(',', start);
		std::string item = text.substr(start, comma == std::string::npos ? std::string::npos : comma - start);
		std::optional<double> v = host::ParseDouble(item);
		if (!v || !(*v > 0))
			Bad("--dt", text, "a comma-separated list of finite step lengths > 0 in seconds");
		dts.push_back(*v);
		if (comma == std::string::npos)
			break;
		start = comma + 1;
	}
	return dts;
}

void HudSize(const std::string &text, int &w, int &h) {
	size_t x = text.find_first_of("xX");
	const std::string expected = "WxH with each side from 1 to " + std::to_string(kMaxHudSide) + " pixels";
	if (x == std::string::npos)
		Bad("--hud", text, expected);
	std::optional<long long> pw = host::ParseInteger(std::string_view(text).substr(0, x));
	std::optional<long long> ph = host::ParseInteger(std::string_view(text).substr(x + 1));
	if (!pw || !ph || *pw < 1 || *pw > kMaxHudSide || *ph < 1 || *ph > kMaxHudSide)
		Bad("--hud", text, expected);
	w = static_cast<int>(*pw);
	h = static_cast<int>(*ph);
}

bool IsDirectory(const std::string &path) {
	struct stat st;
	return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// The options that the subcommands share are added by the same code.
struct Texts {
	std::string scenario, script, duration, dt, terrain, hud, rudderDelay, recordEvery, flightModel, out, root;
	std::string at, view, size;
	bool quiet = false, version = false;
};

enum class Mode { Run, Declarations, Render };

void AddOptions(CLI::App &app, Mode mode, Texts &t) {
	app.set_help_flag("-h,--help");
	app.add_option("SCENARIO", t.scenario);
	app.add_option("--root", t.root);
	app.add_option("--flight-model", t.flightModel);
	app.add_flag("--version", t.version);
	if (mode != Mode::Declarations) {
		// What shapes a drive, so that a render runs any run's drive.
		app.add_option("--script", t.script);
		app.add_option("--dt", t.dt);
		app.add_option("--terrain", t.terrain);
		app.add_option("--hud", t.hud);
		app.add_option("--rudder-delay", t.rudderDelay);
		app.add_option("--out", t.out);
	}
	if (mode == Mode::Run) {
		app.add_option("--duration", t.duration);
		app.add_option("--record-every", t.recordEvery);
		app.add_flag("--quiet", t.quiet);
	}
	if (mode == Mode::Render) {
		app.add_option("--at", t.at);
		app.add_option("--view", t.view);
		app.add_option("--size", t.size);
	}
}

void PictureSize(const std::string &text, int &w, int &h) {
	size_t x = text.find_first_of("xX");
	const std::string expected = "WxH with each side from " + std::to_string(kMinPictureSide) + " to " +
	                             std::to_string(kMaxPictureSide) + " pixels";
	if (x == std::string::npos)
		Bad("--size", text, expected);
	std::optional<long long> pw = host::ParseInteger(std::string_view(text).substr(0, x));
	std::optional<long long> ph = host::ParseInteger(std::string_view(text).substr(x + 1));
	auto fits = [](const std::optional<long long> &v) { return v && *v >= kMinPictureSide && *v <= kMaxPictureSide; };
	if (!fits(pw) || !fits(ph))
		Bad("--size", text, expected);
	w = static_cast<int>(*pw);
	h = static_cast<int>(*ph);
}

bool EndsWithNoCase(const std::string &s, const std::string &suffix) {
	return s.size() >= suffix.size() && host::EqualsNoCase(std::string_view(s).substr(s.size() - suffix.size()), suffix);
}

}  // namespace

CommandLine ParseCommandLine(const std::vector<std::string> &argsIn, const std::string &defaultRoot) {
	CommandLine cl;
	std::vector<std::string> args = argsIn;
	if (!args.empty() && args.front() == "serve") {
		cl.command = ParseServeCommandLine({args.begin() + 1, args.end()}, defaultRoot, cl.serve);
		return cl;
	}
	Mode mode = Mode::Run;
	if (!args.empty() && (args.front() == "run" || args.front() == "inspect" || args.front() == "render")) {
		mode = args.front() == "run" ? Mode::Run : args.front() == "inspect" ? Mode::Declarations : Mode::Render;
		args.erase(args.begin());
	}
	const bool declarations = mode == Mode::Declarations;
	Texts t;
	CLI::App app("", declarations ? "sendra-sim inspect" : mode == Mode::Render ? "sendra-sim render" : "sendra-sim");
	AddOptions(app, mode, t);
	std::vector<const char *> argv{"sendra-sim"};
	for (const std::string &a : args)
		argv.push_back(a.c_str());
	try {
		app.parse(static_cast<int>(argv.size()), argv.data());
	} catch (const CLI::CallForHelp &) {
		cl.command = Command::Help;
		return cl;
	} catch (const CLI::ParseError &e) {
		throw UsageError(e.what());
	}
	if (t.version) {
		cl.command = Command::Version;
		return cl;
	}
	auto given = [&](const char *name) {
		const CLI::Option *option = app.get_option_no_throw(name);
		return option && option->count() > 0;
	};

	std::optional<std::string> scenario;
	if (given("SCENARIO"))
		scenario = t.scenario;
	std::string root = given("--root") ? t.root : defaultRoot;
	if (given("--root") && root.empty())
		throw UsageError("--root: the folder must not be empty");
	int flightModel = 1;
	if (given("--flight-model"))
		flightModel = static_cast<int>(Integer("--flight-model", t.flightModel, INT_MIN, INT_MAX, "an integer"));

	if (declarations) {
		cl.command = Command::Declarations;
		cl.declarations.scenario = scenario;
		cl.declarations.root = root;
		cl.declarations.flightModel = flightModel;
		return cl;
	}

	RunOptions &r = cl.run;
	r.scenario = scenario;
	r.root = root;
	r.flightModel = flightModel;
	if (given("--script"))
		r.script = t.script;
	if (given("--duration"))
		r.duration = Seconds("--duration", t.duration, true);
	if (given("--dt"))
		r.dts = StepList(t.dt);
	if (given("--terrain")) {
		if (t.terrain != "flat" && t.terrain != "hills")
			Bad("--terrain", t.terrain, "flat or hills");
		r.terrain = t.terrain;
	}
	if (given("--hud"))
		HudSize(t.hud, r.hudWidth, r.hudHeight);
	if (given("--rudder-delay"))
		r.rudderDelay = Seconds("--rudder-delay", t.rudderDelay, true);
	if (given("--record-every"))
		r.recordEvery = static_cast<uint64_t>(
			Integer("--record-every", t.recordEvery, 1, LLONG_MAX, "a whole number of frames >= 1"));
	if (given("--out")) {
		if (t.out.empty())
			throw UsageError(mode == Mode::Render ? "--out: the picture file needs a name"
			                                      : "--out: the folder must not be empty");
		r.out = t.out;
	}
	r.quiet = t.quiet;
	if (mode == Mode::Render) {
		RenderOptions &p = cl.render;
		cl.command = Command::Render;
		if (given("--at")) {
			p.at = Seconds("--at", t.at, true);
			double minDt = *std::min_element(r.dts.begin(), r.dts.end());
			if (!StepAdvances(p.at, minDt))
				throw UsageError("--at: " + host::FormatShortest(p.at) + " s is too late for a step of " +
				                 host::FormatShortest(minDt) + " s: the simulation time would stop advancing");
		}
		if (given("--view")) {
			if (t.view != "iso" && t.view != "front" && t.view != "rear" && t.view != "left" && t.view != "right" &&
			    t.view != "top")
				Bad("--view", t.view, "iso, front, rear, left, right or top");
			p.view = t.view;
		}
		if (given("--size"))
			PictureSize(t.size, p.width, p.height);
		if (!given("--out"))
			throw UsageError("--out: the picture file is required");
		if (!EndsWithNoCase(t.out, ".png") && !EndsWithNoCase(t.out, ".svg"))
			Bad("--out", t.out, "a file name ending in .png or .svg");
		p.out = t.out;
		r.out = ".";  // a render writes no run outputs
		r.duration = p.at;
		r.quiet = true;
		p.drive = r;
		return cl;
	}
	if (r.duration) {
		double minDt = *std::min_element(r.dts.begin(), r.dts.end());
		if (!StepAdvances(*r.duration, minDt))
			throw UsageError("--duration: " + host::FormatShortest(*r.duration) + " s is too long for a step of " +
			                 host::FormatShortest(minDt) + " s: the simulation time would stop advancing");
	}
	return cl;
}

bool StepAdvances(double until, double dt) { return std::nextafter(until, INFINITY) - until <= dt; }

std::string HelpText(const std::string &defaultRoot) {
	return std::string(
		"sendra-sim: runs, records and describes Sendra2016 rovers in the headless Orbiter 2016 stand-in.\n\n") +
		kUsage +
		"\n"
		"run (the default) drives the scenario's vessels frame by frame and writes trajectory.csv,\n"
		"hud.csv and final.scn to the output folder, with track.svg (each vessel's path over the\n"
		"terrain) and pose.png (the focus vessel at the end, iso view):\n"
		"  SCENARIO.scn           scenario to load (default: the built-in Sendra-1 on the Moon)\n"
		"  --script FILE          drive script (default: the built-in drive when no SCENARIO is given)\n"
		"  --duration S           simulated seconds, >= 0 (default: 5 s after the script's last event,\n"
		"                         or 60 s without events)\n"
		"  --dt S[,S...]          step lengths in seconds, each > 0, used in turn (default 0.02)\n"
		"  --terrain flat|hills   terrain under the vessels (default hills)\n"
		"  --hud WxH              HUD size in pixels, each side 1 to 16384 (default 1024x768)\n"
		"  --rudder-delay S       seconds the rudder takes for a full unit of travel, >= 0 (default 1)\n"
		"  --record-every N       record every Nth frame and the last one, N >= 1 (default 1)\n"
		"  --flight-model N       flight model handed to the modules (default 1)\n"
		"  --out DIR              output folder (default ./sendra-out)\n"
		"  --root DIR             Orbiter folder with Config/, Modules/, Meshes/\n"
		"                         (default " + defaultRoot + ")\n"
		"  --quiet                print nothing but errors and warnings\n"
		"\n"
		"inspect prints, as one JSON document, what the module declared for every vessel of the\n"
		"scenario after its creation and before the first frame.\n"
		"\n" +
		ServeHelpText() +
		"\n"
		"render runs the drive as run would up to a moment and draws the focus vessel's posed mesh,\n"
		"its spot lights that are on, its beacons and a legend to a PNG or SVG picture:\n"
		"  --at T                 simulated seconds, >= 0 (default 0: as loaded)\n"
		"  --view V               iso, front, rear, left, right or top (default iso)\n"
		"  --size WxH             picture size in pixels, each side 32 to 4096 (default 800x600)\n"
		"  --out FILE             the picture, FILE.png or FILE.svg (required)\n"
		"  SCENARIO.scn, --script, --terrain, --dt, --hud, --rudder-delay, --flight-model and --root\n"
		"  as for run.\n"
		"\n"
		"Drive script lines (t in simulated seconds, non-decreasing; '#' starts a comment):\n"
		"  <t> key <NAME> down | <t> key <NAME> up | <t> tap <NAME> | <t> rudder <level -1..1>\n"
		"  <t> afc <control-surface mode 0..7> | <t> save <FILE> | <t> focus <VESSEL>\n"
		"  (rudder sets the target directly; the yaw keys NUMPAD1 and NUMPAD3 move it while the\n"
		"  focus vessel's control-surface mode includes the rudder, as afc 7 or AFCMODE 7 sets it)\n"
		"  NAME is an OAPI_KEY_ name without the prefix: NUMPAD8, ADD, SUBTRACT, 1, J, V, ...\n"
		"\n"
		"Exit status: 0 success, 2 usage error, 3 invalid input.\n";
}

std::string DefaultRoot() {
	if (IsDirectory(SENDRA_DEFAULT_ROOT))
		return SENDRA_DEFAULT_ROOT;
	char buf[4096];
	ssize_t n = ::readlink("/proc/self/exe", buf, sizeof buf - 1);
	if (n <= 0)
		return SENDRA_DEFAULT_ROOT;
	std::string exe(buf, static_cast<size_t>(n));
	size_t slash = exe.rfind('/');
	return (slash == std::string::npos ? std::string(".") : exe.substr(0, slash)) + "/orbiter";
}

}  // namespace sim
