// Dispatching sendra-sim's commands and turning failures into messages and exit statuses.
#include "app/Program.h"

#include <new>
#include <optional>

#include "app/CommandLine.h"
#include "inspect/Description.h"
#include "output/OutputFiles.h"
#include "output/Signals.h"
#include "render/Render.h"
#include "run/Run.h"
#include "sendra_host/HostError.h"
#include "sendra_host/ModuleLoader.h"
#include "sendra_host/Simulation.h"
#include "sendra_host/Text.h"
#include "serve/ServeSession.h"
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

int Dispatch(const CommandLine &cl, std::ostream &out, std::ostream &err, bool errIsTerminal, bool outIsTerminal) {
	if (cl.scenarioFound && !(cl.command == Command::Run && cl.run.quiet))
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
	case Command::Render: RenderDrive(cl.render, err); return kExitSuccess;
	case Command::Serve: return RunServe(cl.serve, ServeConsole{out, err});
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
