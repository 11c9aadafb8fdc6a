// The command line of sendra-sim: its commands and options, parsed and described from one
// table of options, so that a name, range or default is written once.
#pragma once

#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "render/Render.h"
#include "run/Run.h"
#include "serve/ServeOptions.h"
#include "session/Session.h"

namespace sim {

enum class Command { Run, Inspect, Render, Serve, Help, Version };

struct CommandLine {
	Command command = Command::Run;
	std::optional<Command> helpFor;  // Help: the command asked about; empty for all of them
	RunOptions run;
	SessionOptions inspect;
	RenderOptions render;
	ServeOptions serve;
	// The scenario file that a name stood for under the Orbiter folder's Scenarios/, for the
	// program to say which file it uses.
	std::optional<std::string> scenarioFound;
};

// A command line that does not follow the usage; what() says what is wrong, and command is
// the one whose help to read (empty: the whole help).
class UsageError : public std::runtime_error {
public:
	UsageError(const std::string &what, std::optional<Command> command = std::nullopt)
		: std::runtime_error(what), command(command) {}
	std::optional<Command> command;
};

// Parses the arguments after the program name; options may stand before or after the
// command. defaultRoot is the --root used when none is given. Throws UsageError.
CommandLine ParseCommandLine(const std::vector<std::string> &args, const std::string &defaultRoot);

// The help of one command, or with none all of it: synopsis, options with their ranges and
// defaults, drive script lines, exit statuses.
std::string HelpText(std::optional<Command> command = std::nullopt);

// The command's name as users type it.
const char *CommandName(Command command);

}  // namespace sim
