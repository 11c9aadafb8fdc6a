// Dispatching sendra-sim's commands and turning failures into messages and exit statuses.
#include "app/Program.h"

#include <algorithm>
#include <new>
#include <optional>

#include "app/CommandLine.h"
#include "inspect/Declarations.h"
#include "output/OutputFiles.h"
#include "output/Signals.h"
#include "render/Render.h"
#include "run/Run.h"
#include "sendra_host/HostError.h"
#include "sendra_host/ModuleLoader.h"
#include "sendra_host/Simulation.h"
#include "sendra_host/Text.h"
#include "serve/ServeSession.h"
#include "session/Names.h"
#include "session/Paths.h"

namespace sim {

namespace {

const char kModuleName[] = "Sendra2016";

void PrintVersion(std::ostream &out, const std::string &root) {
	out << "sendra-sim " << SENDRA_VERSION << '\n';
	try {
		host::SimOptions so;
		so.root = root;
		host::Simulation sim(so);
		host::Module &m = sim.modules().Get(root, kModuleName);
		out << "module " << m.name() << " version " << m.version();
		if (!m.date().empty())
			out << ", " << m.date();
		out << " (" << m.path() << ")\n";
	} catch (const std::exception &e) {
		out << "module " << kModuleName << ": not loadable: " << e.what() << '\n';
	}
}

// The scenarios as Orbiter's launcher lists them, each with its description's first sentence.
void PrintScenarios(std::ostream &out, const std::string &root) {
	if (!IsFolder(root + "/Scenarios"))
		throw host::HostError(root + "/Scenarios/: no such folder (is " + root + " an Orbiter folder? --root names one)");
	std::vector<ScenarioEntry> list = ListScenarios(root);
	out << "Scenarios in " << host::Printable(root) << "/Scenarios/ (run one with sendra-sim run \"NAME\"):\n";
	size_t width = 0;
	for (const ScenarioEntry &e : list)
		width = std::max(width, std::min<size_t>(e.name.size(), 40));
	for (const ScenarioEntry &e : list) {
		std::string name = host::Printable(e.name);
		out << "  " << name;
		// The description's start, cut at a word to end within the line's 100 columns.
		const size_t room = 100 - 4 - std::max(width, name.size());
		std::string about = e.about;
		if (about.size() > room && room > 8) {
			size_t cut = about.rfind(' ', room - 4);
			about = about.substr(0, cut == std::string::npos || cut == 0 ? room - 4 : cut) + " ...";
		} else if (room <= 8) {
			about.clear();
		}
		if (!about.empty())
			out << std::string(width > name.size() ? width - name.size() : 0, ' ') << "  " << about;
		out << '\n';
	}
	if (list.empty())
		out << "  (none)\n";
	else if (list.size() >= kMaxListed)
		out << "  (the first " << kMaxListed << ")\n";
}

int Dispatch(const CommandLine &line, std::ostream &out, std::ostream &err, bool errIsTerminal, bool outIsTerminal) {
	// A long load shows its progress on a terminal, as long drives do.
	CommandLine cl = line;
	cl.run.drive.session.progress = errIsTerminal && !cl.run.quiet;
	cl.render.drive.session.progress = errIsTerminal && !cl.render.quiet;
	cl.inspect.progress = cl.serve.session.progress = errIsTerminal;
	if (cl.scenarioFound && !(cl.command == Command::Run && cl.run.quiet) && !(cl.command == Command::Render && cl.render.quiet))
		err << "sendra-sim: scenario " << host::Printable(*cl.scenarioFound) << '\n';
	switch (cl.command) {
	case Command::Help: out << HelpText(cl.helpFor); return kExitSuccess;
	case Command::Version: PrintVersion(out, cl.run.drive.session.root); return kExitSuccess;
	case Command::Inspect:
		// Names that are not UTF-8 (a Latin-1 scenario, a root path of any bytes) are written
		// with U+FFFD in their place, as JSON can only hold Unicode.
		out << DeclarationsDocument(cl.inspect, err).dump(2, ' ', false, nlohmann::json::error_handler_t::replace)
		    << '\n';
		return kExitSuccess;
	case Command::Run: RunDrive(cl.run, RunConsole{out, err, errIsTerminal, outIsTerminal}); return kExitSuccess;
	case Command::Render:
		try {
			RenderDrive(cl.render, out, err, errIsTerminal);
		} catch (const UnknownVesselError &e) {
			throw UsageError(e.what(), Command::Render);
		}
		return kExitSuccess;
	case Command::Serve: return RunServe(cl.serve, ServeConsole{out, err});
	case Command::List: PrintScenarios(out, cl.list.root); return kExitSuccess;
	}
	return kExitInternal;
}

}  // namespace

int Main(const std::vector<std::string> &args, std::ostream &out, std::ostream &err, bool errIsTerminal,
         bool outIsTerminal) {
	std::optional<EndSignals> signals;
	try {
		CommandLine cl = ParseCommandLine(args, DefaultRoot());
		// serve stops on the signals in its own way; every other command ends on them without
		// leaving a file behind, and fails on a full file-size limit as on a full disk.
		const bool serve = cl.command == Command::Serve;
		if (!serve)
			signals.emplace();
		int status = Dispatch(cl, out, err, errIsTerminal, outIsTerminal);
		if (!serve) {
			out.flush();
			CheckStandardOutput(out);
		}
		return status;
	} catch (const OutputError &e) {
		// A reader that stopped reading (inspect | head) has ended the program by SIGPIPE before
		// this; a program started with SIGPIPE ignored gets EPIPE, an error like any other.
		err << "sendra-sim: " << e.what() << '\n';
		return kExitInput;
	} catch (const UsageError &e) {
		err << "sendra-sim: " << host::Printable(e.what()) << '\n'
		    << "Run 'sendra-sim help" << (e.command ? std::string(" ") + CommandName(*e.command) : std::string())
		    << "' for the usage.\n";
		return kExitUsage;
	} catch (const host::HostError &e) {
		err << "sendra-sim: " << host::Printable(e.what()) << '\n';
		return kExitInput;
	} catch (const OutOfMemory &e) {
		// What did not fit is named; everything made for it is freed by now.
		err << "sendra-sim: out of memory: " << e.what() << '\n';
		return kExitInput;
	} catch (const std::bad_alloc &) {
		err << "sendra-sim: out of memory\n";
		return kExitInput;
	} catch (const std::exception &e) {
		err << "sendra-sim: internal error: " << host::Printable(e.what()) << '\n';
		return kExitInternal;
	}
}

}  // namespace sim
