// The command line: options before or after the command and each command's own, the help
// made from the option table (the README shows it whole), unknown commands, and scenarios
// named as Orbiter's launcher lists them.
#include <gtest/gtest.h>

#include "SimProgram.h"
#include "app/CommandLine.h"
#include "session/Paths.h"

using namespace sim_testing;

namespace {

sim::CommandLine Parse(const std::vector<std::string> &args) { return sim::ParseCommandLine(args, "default-root"); }

std::string UsageError(const std::vector<std::string> &args) {
	try {
		Parse(args);
	} catch (const sim::UsageError &e) {
		return e.what();
	}
	return "(no error)";
}

}  // namespace

TEST(CommandLine, TheReadmeShowsTheHelpAsTheProgramPrintsIt) {
	std::string readme = ReadFile(SENDRA_README);
	size_t section = readme.find("\n## sendra-sim\n");
	ASSERT_NE(section, std::string::npos);
	size_t start = readme.find("```\n", section);
	ASSERT_NE(start, std::string::npos);
	start += 4;
	size_t end = readme.find("```\n", start);
	ASSERT_NE(end, std::string::npos);
	EXPECT_EQ(readme.substr(start, end - start), sim::HelpText());
}

TEST(CommandLine, OptionsMayStandBeforeOrAfterTheCommandAndEachCommandTakesItsOwn) {
	using Args = std::vector<std::string>;
	for (const Args &args : {Args{"--root", "X", "--flight-model", "2", "inspect", "a.scn"},
	                         Args{"inspect", "a.scn", "--flight-model=2", "--root", "X"}}) {
		sim::CommandLine cl = Parse(args);
		EXPECT_EQ(cl.command, sim::Command::Inspect);
		EXPECT_EQ(cl.inspect.root, "X");
		EXPECT_EQ(cl.inspect.flightModel, 2);
		EXPECT_EQ(cl.inspect.scenario, "a.scn");
	}

	// Without a command: run, with the defaults of its options and the default root.
	sim::CommandLine run = Parse({"--quiet", "--dt", "0.01,0.03"});
	sim::RunOptions defaults;
	EXPECT_EQ(run.command, sim::Command::Run);
	EXPECT_EQ(run.run.drive.dts, (std::vector<double>{0.01, 0.03}));
	EXPECT_TRUE(run.run.quiet);
	EXPECT_EQ(run.run.drive.session.root, "default-root");
	EXPECT_EQ(run.run.out, defaults.out);
	EXPECT_EQ(run.run.recordEvery, defaults.recordEvery);
	EXPECT_FALSE(run.run.drive.session.scenario);

	// One name, a value of each command's own kind.
	EXPECT_EQ(Parse({"serve", "--dt", "0.5"}).serve.dt, 0.5);
	EXPECT_EQ(Parse({"--dt", "0.5", "serve"}).serve.dt, 0.5);
	sim::CommandLine render = Parse({"render", "--dt", "0.5,0.25", "--out", "p.svg", "--size", "64x48", "--view", "top"});
	EXPECT_EQ(render.render.drive.dts, (std::vector<double>{0.5, 0.25}));
	EXPECT_EQ(render.render.size.width, 64);
	EXPECT_EQ(render.render.size.height, 48);
	EXPECT_EQ(render.render.view, "top");
	EXPECT_EQ(UsageError({"serve", "--dt", "0.5,0.25"}), "--dt: '0.5,0.25' is not a frame length from 0.001 to 1 second");

	// What a command does not take, twice given, or missing its value.
	EXPECT_EQ(UsageError({"--port", "80"}), "run does not take --port");
	EXPECT_EQ(UsageError({"render", "--out", "a.png", "--out", "b.png"}), "--out is given more than once");
	EXPECT_EQ(UsageError({"--duration"}), "--duration needs a value");
	EXPECT_EQ(UsageError({"--quiet=yes"}), "--quiet takes no value");
	EXPECT_EQ(UsageError({"--qiuet"}), "unknown option '--qiuet'; did you mean '--quiet'?");
	// Misspelt before the command, it took no value: the value is no command, and the option is
	// named with the closest of that command's options.
	EXPECT_EQ(UsageError({"--duraton", "10"}), "unknown option '--duraton'; did you mean '--duration'?");
	EXPECT_EQ(UsageError({"--prot", "0", "serve"}), "unknown option '--prot'; did you mean '--port'?");
	EXPECT_EQ(UsageError({"list", "x.scn"}), "unexpected argument 'x.scn': list takes no scenario");
	EXPECT_EQ(UsageError({"--", "--quiet"}),
	          "unknown command '--quiet', and no scenario file of that name is here or in default-root/Scenarios/ (the "
	          "commands are run, inspect, render, serve, list and help)");
	// An option where a value is due, an extra word after help, a port with a host name.
	EXPECT_EQ(UsageError({"--duration", "--out", "X"}), "--duration needs a value");
	EXPECT_EQ(Parse({"--out", "--odd"}).run.out, "--odd");  // no option's name: a value
	EXPECT_EQ(UsageError({"help", "run", "extra"}), "unexpected argument 'extra': help is about one command at most");
	EXPECT_EQ(UsageError({"serve", "--allow-host", "rover.lan:8080"}),
	          "--allow-host: 'rover.lan:8080' has a port; give the name alone, as pages reach the server on its own port");
	EXPECT_EQ(UsageError({"serve", "--allow-host", "rover:lan"}),
	          "--allow-host: 'rover:lan' is not a host name or an IP address");
	EXPECT_EQ(Parse({"serve", "--allow-host", "fe80::1"}).serve.allowHosts, std::vector<std::string>{"fe80::1"});
	// Steps used in turn: the time advances while the longest one advances it.
	EXPECT_EQ(Parse({"--dt", "1e-300,1", "--duration", "10"}).run.drive.dts, (std::vector<double>{1e-300, 1}));
	EXPECT_EQ(UsageError({"--dt", "1e-300,1e-300", "--duration", "10"}),
	          "--duration: 10 s is too long for a step of 1e-300 s: the simulation time would stop advancing");
}

TEST(CommandLine, HelpIsPrintedPerCommandAndUnknownCommandsAreNamedWithTheClosest) {
	Scratch s;
	ProgramResult all = s.Run({"help"});
	EXPECT_EQ(all.status, 0);
	EXPECT_EQ(all.out, sim::HelpText());
	EXPECT_EQ(s.Run({"--help"}).out, all.out);

	// A command's help holds its options alone.
	ProgramResult render = s.Run({"help", "render"});
	EXPECT_EQ(render.status, 0);
	EXPECT_EQ(render.out, sim::HelpText(sim::Command::Render));
	EXPECT_EQ(s.Run({"render", "--help"}).out, render.out);
	EXPECT_EQ(s.Run({"--help", "render", "--at", "nonsense"}).out, render.out);
	EXPECT_NE(render.out.find("--view iso|front|rear|left|right|top"), std::string::npos) << render.out;
	EXPECT_NE(render.out.find("--hud WxH              HUD size in pixels, each side 1 to 16384 (default 1024x768)"),
	          std::string::npos)
	    << render.out;
	EXPECT_EQ(render.out.find("--port"), std::string::npos) << render.out;
	EXPECT_EQ(render.out.find("--record-every"), std::string::npos) << render.out;
	// The lines of a drive script are told where a command reads one.
	for (sim::Command c : {sim::Command::Run, sim::Command::Render, sim::Command::Inspect, sim::Command::Serve})
		EXPECT_EQ(sim::HelpText(c).find("Drive script lines") != std::string::npos,
		          c == sim::Command::Run || c == sim::Command::Render);

	const std::string nowhere = ", and no scenario file of that name is here or in " + std::string(SENDRA_ORBITER_ROOT) +
	                            "/Scenarios/";
	const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
		{{"rnu"}, "sendra-sim: unknown command 'rnu'" + nowhere + "; did you mean 'run'?"},
		{{"help", "inpsect"}, "sendra-sim: unknown command 'inpsect'; did you mean 'inspect'?"},
		{{"Rover at rest", "--quiet"},
		 "sendra-sim: unknown command 'Rover at rest'" + nowhere +
		     " (the commands are run, inspect, render, serve, list and help); did you mean the scenario "
		     "'Sendra2016/Rover at rest'?"},
		{{"Two rovrs"}, "sendra-sim: unknown command 'Two rovrs'" + nowhere +
		                    " (the commands are run, inspect, render, serve, list and help); did you mean the "
		                    "scenario 'Sendra2016/Two rovers'?"},
	};
	for (const auto &[args, message] : cases) {
		ProgramResult r = s.Run(args);
		EXPECT_EQ(r.status, 2) << args[0];
		EXPECT_EQ(r.err, message + "\nRun 'sendra-sim help' for the usage.\n");
		EXPECT_EQ(r.out, "");
	}
	// A file of that name is a scenario, whatever its name.
	s.Write("rnu", "BEGIN_SHIPS\nEND_SHIPS\n");
	ProgramResult scenario = s.Run({"rnu", "--duration", "0", "--quiet"});
	EXPECT_EQ(scenario.status, 0) << scenario.err;
}

TEST(CommandLine, ScenariosAreLookedUpInTheOrbiterFoldersScenariosAndTheFileUsedIsNamed) {
	Scratch s;
	const std::string root = SENDRA_ORBITER_ROOT;
	const std::string atRest = root + "/Scenarios/Sendra2016/Rover at rest.scn";
	ASSERT_EQ(sim::FindScenario("Sendra2016/Rover at rest", root), atRest);
	ASSERT_EQ(sim::FindScenario("Sendra2016/Rover at rest.scn", root), atRest);
	EXPECT_FALSE(sim::FindScenario("/Sendra2016/Rover at rest", root));
	// A folder there is no scenario, but a file without the suffix is.
	std::filesystem::create_directories(s / "root/Scenarios/Only a folder.scn");
	s.Write("root/Scenarios/No suffix", "");
	EXPECT_FALSE(sim::FindScenario("Only a folder", (s / "root").string()));
	EXPECT_EQ(sim::FindScenario("No suffix", (s / "root").string()), (s / "root/Scenarios/No suffix").string());
	// The first word is looked for in the Orbiter folder that --root names, wherever it stands.
	EXPECT_EQ(UsageError({"No suffix", "--root", (s / "root").string(), "--quiet"}), "(no error)");
	EXPECT_EQ(UsageError({"--root", (s / "root").string(), "No suffix"}), "(no error)");

	ProgramResult r = s.Run({"run", "Sendra2016/Rover at rest", "--duration", "0.1", "--out", "o"});
	EXPECT_EQ(r.status, 0) << r.err;
	EXPECT_EQ(r.err, "sendra-sim: scenario " + atRest + "\n");
	EXPECT_NE(s.Read("o/final.scn").find("Sendra-1:Sendra2016"), std::string::npos);
	r = s.Run({"Sendra2016/Two rovers", "--duration", "0.1", "--out", "o", "--quiet"});
	EXPECT_EQ(r.status, 0) << r.err;
	EXPECT_EQ(r.err, "");

	// A file as given comes first.
	std::filesystem::create_directory(s / "Sendra2016");
	s.Write("Sendra2016/Rover at rest", RoverScenario({{"Here", 1, 2, 3}}));
	r = s.Run({"inspect", "Sendra2016/Rover at rest"});
	EXPECT_EQ(r.status, 0) << r.err;
	EXPECT_EQ(r.err, "");
	EXPECT_NE(r.out.find("\"Here\""), std::string::npos);

	r = s.Run({"Sendra2016/Nowhere", "--out", "none"});
	EXPECT_EQ(r.status, 3);
	EXPECT_EQ(r.err, "sendra-sim: Sendra2016/Nowhere: cannot open the scenario file: No such file or directory "
	                 "(nor is it a scenario in " + root + "/Scenarios/; 'sendra-sim list' shows the scenarios there)\n");
	r = s.Run({"run", "Sendra2016/Rover at rst.scn", "--out", "none"});
	EXPECT_EQ(r.status, 3);
	EXPECT_NE(r.err.find("; did you mean the scenario 'Sendra2016/Rover at rest'?)"), std::string::npos) << r.err;
}

TEST(CommandLine, ListPrintsTheScenariosAsTheLauncherListsThemWithTheirDescriptionsStart) {
	Scratch s;
	// In each folder its folders first, then its scenarios, by name whatever the case; only .scn
	// files; a folder reached through a link is not listed again.
	std::filesystem::create_directories(s / "root/Scenarios/b folder/inner");
	std::filesystem::create_directories(s / "root/Scenarios/A folder");
	s.Write("root/Scenarios/zeta.scn", "BEGIN_DESC\nLast of all. More words.\nEND_DESC\n");
	s.Write("root/Scenarios/Alpha.SCN", "no description\n");
	s.Write("root/Scenarios/notes.txt", "");
	s.Write("root/Scenarios/b folder/inner/deep.scn",
	        "BEGIN_DESC\nA description\n  over two lines.\n\nA second paragraph.\nEND_DESC\n");
	s.Write("root/Scenarios/b folder/beta.scn", "BEGIN_DESC\n" + std::string(300, 'x') + " end\nEND_DESC\n");
	s.Write("root/Scenarios/A folder/gamma.scn", "");
	std::filesystem::create_directory_symlink(s / "root/Scenarios/b folder", s / "root/Scenarios/c link");
	ProgramResult r = s.Run({"list", "--root", (s / "root").string()});
	EXPECT_EQ(r.status, 0) << r.err;
	EXPECT_EQ(r.out, "Scenarios in " + (s / "root").string() + "/Scenarios/ (run one with sendra-sim run \"NAME\"):\n"
	                 "  A folder/gamma\n"
	                 "  b folder/inner/deep  A description over two lines.\n"
	                 "  b folder/beta        " + std::string(73, 'x') + " ...\n"
	                 "  Alpha\n"
	                 "  zeta                 Last of all.\n");
	// The scenarios the build installs, one a line.
	r = s.Run({"list"});
	EXPECT_EQ(r.status, 0) << r.err;
	EXPECT_NE(r.out.find("\n  Sendra2016/Rover at rest  Sendra2016 parked at Hadley Rille"), std::string::npos) << r.out;
	r = s.Run({"list", "--root", (s / "nowhere").string()});
	EXPECT_EQ(r.status, 3);
	EXPECT_NE(r.err.find("nowhere/Scenarios/: no such folder"), std::string::npos) << r.err;
}
