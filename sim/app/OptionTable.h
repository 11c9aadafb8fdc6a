// The table of sendra-sim's options: one row per option with its name, the kind and range of
// its value, the help, the commands that take it and where its value goes. The parser, the
// checks of values and every command's help are made from the rows; the defaults are those of
// the commands' option structs, read through the same rows.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "app/Commands.h"

namespace sim::options {

// The Orbiter folder's option, which the scenario is looked up in before the command is known.
const char kRootOption[] = "--root";

// The commands that take an option, as a set of these bits.
enum : unsigned { kRun = 1, kInspect = 2, kRender = 4, kServe = 8, kList = 16 };
unsigned Bit(Command command);

enum class Kind {
	Scenario,  // the scenario, named by position
	Flag,      // no value
	Text,      // any text that the row's check accepts
	HostName,  // a DNS name or an IP address, as a Host header carries it (IPv6 in brackets or not)
	Choice,    // one of the row's names
	Seconds,   // a finite number of seconds in the row's range
	Steps,     // a comma-separated list of seconds, each in the row's range
	Integer,   // a whole number in the row's range
	Size,      // WxH, each side a whole number in the row's range
};

// A value as parsed; a text given to a list of texts (a repeatable option) adds to it.
using Value = std::variant<std::monostate, bool, long long, double, std::string, std::vector<double>, PixelSize>;

// The options structs of one command: null where the command has none of that kind.
struct Layers {
	SessionOptions *session = nullptr;
	DriveOptions *drive = nullptr;
	RunOptions *run = nullptr;
	RenderOptions *render = nullptr;
	ServeOptions *serve = nullptr;
};
Layers LayersOf(CommandLine &cl, Command command);

// Where an option's value goes in a command's options, and the value there before parsing.
struct Target {
	std::function<void(const Layers &, const Value &)> set;
	std::function<Value(const Layers &)> get;
};

struct Option {
	const char *name;     // "--dt"; for the scenario its placeholder
	const char *value;    // the value's placeholder in the help; null for a flag and a choice
	Kind kind;
	double min, max;      // the range of a number, or of each side of a size
	bool aboveMin;        // min itself is outside the range
	const char *noun;     // what a value is, in messages ("step lengths", "frames", "picture file")
	const char *help;     // what the option does
	const char *shownDefault;  // the default as the help says it, where the value cannot
	unsigned commands;
	Target target;
	std::vector<std::string> (*choices)() = nullptr;     // Choice: the names, in the help's order
	std::string (*check)(const std::string &) = nullptr;  // Text: what is wrong, or empty
	bool required = false;
	const char *beyondStep = nullptr;  // Seconds that the smallest step must still advance:
	                                   // "long" or "late", for the message when it cannot
	bool repeatable = false;           // may be given more than once, each adding a value

	// The row with one of the fields above set.
	Option Choices(std::vector<std::string> (*names)()) const;
	Option Check(std::string (*accepts)(const std::string &), bool isRequired = false) const;
	Option BeyondStep(const char *word) const;
	Option Repeatable() const;
};

// Every option, in the order the help lists them.
const std::vector<Option> &Table();

// The value of text for option, or UsageError saying what is wrong with it.
Value Parse(const Option &option, const std::string &text);
// The default as the help states it, from the value before parsing: "(default 0.02)",
// "(default: 5 s after ...)", "(required)"; empty for none.
std::string DefaultText(const Option &option, const Value &value);
// The range as the help states it: ">= 0", "each side 1 to 16384"; empty for none.
std::string RangeText(const Option &option);
// The value's placeholder: the row's, or a choice's names joined by '|'.
std::string Placeholder(const Option &option);

}  // namespace sim::options
