// The command line of sendra-sim: its commands and options, parsed and described from one
// table of options, so that a name, range or default is written once.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "app/Commands.h"

namespace sim {

// Parses the arguments after the program name; options may stand before or after the
// command. defaultRoot is the --root used when none is given. Throws UsageError.
CommandLine ParseCommandLine(const std::vector<std::string> &args, const std::string &defaultRoot);

// The help of one command, or with none all of it: synopsis, options with their ranges and
// defaults, drive script lines, exit statuses.
std::string HelpText(std::optional<Command> command = std::nullopt);

// The command's name as users type it.
const char *CommandName(Command command);

}  // namespace sim
