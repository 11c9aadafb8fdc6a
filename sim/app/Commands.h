// What a command line of sendra-sim says: its command and every command's options, and the
// error of one that does not follow the usage. The option table fills them; the parser
// returns them.
#pragma once

#include <optional>
#include <stdexcept>
#include <string>

#include "render/Render.h"
#include "run/Run.h"
#include "serve/ServeOptions.h"
#include "session/Session.h"

namespace sim {

enum class Command { Run, Inspect, Render, Serve, List, Help, Version };

struct CommandLine {
	Command command = Command::Run;
	std::optional<Command> helpFor;  // Help: the command asked about; empty for all of them
	RunOptions run;
	SessionOptions inspect;
	RenderOptions render;
	ServeOptions serve;
	SessionOptions list;  // List: its root
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

}  // namespace sim
