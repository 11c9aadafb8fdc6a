// Dispatching sendra-sim's subcommands and turning failures into messages and exit statuses.
#include "Program.h"

#include <new>

#include "HostError.h"
#include "Declarations.h"
#include "ModuleLoader.h"
#include "Options.h"
#include "Render.h"
#include "Runner.h"
#include "ServeSession.h"
#include "Simulation.h"

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

}  // namespace

int Main(const std::vector<std::string> &args, std::ostream &out, std::ostream &err, bool errIsTerminal,
         bool outIsTerminal) {
	std::string root = DefaultRoot();
	CommandLine cl;
	try {
		cl = ParseCommandLine(args, root);
		switch (cl.command) {
		case Command::Help: out << HelpText(root); return kExitSuccess;
		case Command::Version: PrintVersion(out, root); return kExitSuccess;
		case Command::Declarations: out << DeclarationsDocument(cl.declarations, err).dump(2) << '\n'; return kExitSuccess;
		case Command::Run: RunDrive(cl.run, RunConsole{out, err, errIsTerminal, outIsTerminal}); return kExitSuccess;
		case Command::Serve: return RunServe(cl.serve, ServeConsole{out, err});
		case Command::Render:
			RenderDrive(cl.render, RunConsole{out, err, errIsTerminal, outIsTerminal});
			return kExitSuccess;
		}
	} catch (const UsageError &e) {
		err << "sendra-sim: " << e.what() << '\n' << kUsage << "Run 'sendra-sim --help' for the options.\n";
		return kExitUsage;
	} catch (const host::HostError &e) {
		err << "sendra-sim: " << e.what() << '\n';
		return kExitInput;
	} catch (const std::bad_alloc &) {
		// What the scenario holds did not fit; everything made for it is freed by now.
		err << "sendra-sim: out of memory: the scenario is too large\n";
		return kExitInput;
	} catch (const std::exception &e) {
		err << "sendra-sim: internal error: " << e.what() << '\n';
		return kExitInternal;
	}
	return kExitInternal;
}

}  // namespace sim
