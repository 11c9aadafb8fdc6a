// Dispatching sendra-sim's commands and turning failures into messages and exit statuses.
#include "app/Program.h"

#include "HostError.h"
#include "ModuleLoader.h"
#include "Simulation.h"
#include "app/CommandLine.h"
#include "inspect/Declarations.h"
#include "render/Render.h"
#include "run/Run.h"
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
		err << "sendra-sim: scenario " << *cl.scenarioFound << '\n';
	switch (cl.command) {
	case Command::Help: out << HelpText(cl.helpFor); return kExitSuccess;
	case Command::Version: PrintVersion(out, cl.run.drive.session.root); return kExitSuccess;
	case Command::Inspect: out << DeclarationsDocument(cl.inspect, err).dump(2) << '\n'; return kExitSuccess;
	case Command::Run: RunDrive(cl.run, RunConsole{out, err, errIsTerminal, outIsTerminal}); return kExitSuccess;
	case Command::Render: RenderDrive(cl.render, err); return kExitSuccess;
	case Command::Serve: return RunServe(cl.serve, ServeConsole{out, err});
	}
	return kExitInternal;
}

}  // namespace

int Main(const std::vector<std::string> &args, std::ostream &out, std::ostream &err, bool errIsTerminal,
         bool outIsTerminal) {
	try {
		return Dispatch(ParseCommandLine(args, DefaultRoot()), out, err, errIsTerminal, outIsTerminal);
	} catch (const UsageError &e) {
		err << "sendra-sim: " << e.what() << '\n'
		    << "Run 'sendra-sim help" << (e.command ? std::string(" ") + CommandName(*e.command) : std::string())
		    << "' for the usage.\n";
		return kExitUsage;
	} catch (const host::HostError &e) {
		err << "sendra-sim: " << e.what() << '\n';
		return kExitInput;
	} catch (const std::exception &e) {
		err << "sendra-sim: internal error: " << e.what() << '\n';
		return kExitInternal;
	}
}

}  // namespace sim
