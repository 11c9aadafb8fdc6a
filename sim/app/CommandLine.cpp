// Reading sendra-sim's command line against the option table, and writing its help from it.
#include "app/CommandLine.h"

#include <algorithm>
#include <map>

#include "app/OptionTable.h"
#include "sendra_host/Text.h"
#include "session/Names.h"
#include "session/Paths.h"

namespace sim {

namespace {

using options::Option;

struct CommandInfo {
	Command command;
	const char *name;
	const char *about;  // what the command does, as its help says it
};

const CommandInfo kCommands[] = {
	{Command::Run, "run",
	 "run (the default) drives the scenario's vessels frame by frame and writes trajectory.csv,\n"
	 "hud.csv and final.scn to the output folder, with track.svg (each landed vessel's path over\n"
	 "the terrain) and pose.png (the focus vessel at the end, iso view). When a vessel is in\n"
	 "flight as the run starts, trajectory.csv ends with the columns of a place in flight\n"
	 "(ref_body,x_m,y_m,z_m,vx_m_s,vy_m_s,vz_m_s), empty on landed rows:\n"},
	{Command::Inspect, "inspect",
	 "inspect prints, as one JSON document, what the module declared for every vessel of the\n"
	 "scenario after its creation and before the first frame, and for every vessel, plain ones\n"
	 "(whose module is absent) too, what its class file declared and where it is:\n"},
	{Command::Render, "render",
	 "render runs the drive as run would up to a moment and draws the focus vessel's posed mesh,\n"
	 "its spot lights that are on, its beacons and a legend to a PNG or SVG picture; --vessel\n"
	 "pictures another vessel of the scenario, one of a module or a plain one, landed or in flight:\n"},
	{Command::Serve, "serve",
	 "serve runs the scenario in real time and shows it on a page at http://ADDR:N/: the vessels\n"
	 "in sight of the focus in 3D on their terrain, the focus vessel's HUD, and the keys as\n"
	 "Orbiter binds them (F3 steps the focus). Ctrl-C stops it and saves the simulation to a\n"
	 "new scenario file in the current folder, which it names:\n"},
	{Command::List, "list",
	 "list prints the scenarios in the Orbiter folder's Scenarios/ as Orbiter's launcher lists them, each\n"
	 "with the first sentence of its description; run one with sendra-sim run \"NAME\":\n"},
	{Command::Help, "help", ""},
};

const char kIntro[] =
	"sendra-sim: runs, records and describes Sendra2016 rovers in the headless Orbiter 2016 stand-in.\n";

const char kScript[] =
	"Drive script lines (t in simulated seconds, non-decreasing; '#' starts a comment):\n"
	"  <t> key <NAME> down | <t> key <NAME> up | <t> tap <NAME> | <t> rudder <level -1..1>\n"
	"  <t> afc <control-surface mode 0..7> | <t> save <NAME.scn> | <t> focus <VESSEL>\n"
	"  (save writes the scenario as NAME.scn inside the output folder, subfolders allowed; render\n"
	"  makes no saves)\n"
	"  (rudder sets the target directly; the yaw keys NUMPAD1 and NUMPAD3 move it while the\n"
	"  focus vessel's control-surface mode includes the rudder, as afc 7 or AFCMODE 7 sets it)\n"
	"  NAME is an OAPI_KEY_ name without the prefix: NUMPAD8, ADD, SUBTRACT, 1, J, V, ...\n";

const char kStatus[] = "Exit status: 0 success, 2 usage error, 3 invalid input.\n";

const size_t kHelpColumn = 25;  // where an option's description starts
const size_t kWidth = 100;      // the help's lines stay within this many columns

const CommandInfo *FindCommand(const std::string &name) {
	for (const CommandInfo &c : kCommands)
		if (name == c.name)
			return &c;
	return nullptr;
}

// root, for a first word: the Orbiter folder where it was looked for as a scenario too.
[[noreturn]] void UnknownCommand(const std::string &word, const std::string *root = nullptr) {
	std::vector<std::string> names;
	std::string all;
	for (const CommandInfo &c : kCommands) {
		names.push_back(c.name);
		all += std::string(all.empty() ? "" : &c == std::end(kCommands) - 1 ? " and " : ", ") + c.name;
	}
	std::optional<std::string> closest = Closest(word, names);
	std::string scenarios = root && !closest ? ScenarioHint(word, *root) : std::string();
	throw UsageError("unknown command '" + word + "'" +
	                 (root ? ", and no scenario file of that name is here or in " + *root + "/Scenarios/" : "") +
	                 (closest ? "; did you mean '" + *closest + "'?" : " (the commands are " + all + ")") + scenarios);
}


// The words of a command line: options with their values, in order, and the other words.
struct Words {
	std::vector<std::pair<std::string, std::optional<std::string>>> options;
	std::vector<std::string> positional;
	std::optional<std::string> unknown;  // the first word that looks like an option but is none
	std::optional<std::string> wrong;    // the first option whose value is missing or not wanted
	bool help = false, version = false;
};

// Whether some row takes name, and whether it takes a value.
std::optional<bool> TakesValue(const std::string &name) {
	for (const Option &o : options::Table())
		if (name == o.name)
			return o.kind != options::Kind::Flag;
	return std::nullopt;
}

// A word that is an option's name, where that option's value was expected.
bool IsOptionName(const std::string &word) {
	return word.size() > 2 && word.rfind("--", 0) == 0 &&
	       (word == "--help" || word == "--version" || TakesValue(word.substr(0, word.find('='))));
}

// The command whose help a usage error points at: one with options of its own.
std::optional<Command> HelpOf(Command command) {
	return options::Bit(command) ? std::optional<Command>(command) : std::nullopt;
}

[[noreturn]] void UnknownOption(const std::string &name, Command command) {
	std::vector<std::string> names{"help", "version"};
	for (const Option &o : options::Table())
		if (o.kind != options::Kind::Scenario && (o.commands & options::Bit(command)))
			names.push_back(o.name + 2);
	std::optional<std::string> closest = Closest(name.substr(std::min<size_t>(2, name.size())), names);
	throw UsageError("unknown option '" + name + "'" + (closest ? "; did you mean '--" + *closest + "'?" : ""),
	                 HelpOf(command));
}

// The command named among words, or run, the default.
Command CommandAmong(const std::vector<std::string> &words) {
	for (const std::string &word : words)
		if (const CommandInfo *c = FindCommand(word))
			return c->command == Command::Help ? Command::Run : c->command;
	return Command::Run;
}

Words Split(const std::vector<std::string> &args) {
	Words w;
	for (size_t i = 0; i < args.size(); ++i) {
		const std::string &a = args[i];
		if (a == "--") {
			w.positional.insert(w.positional.end(), args.begin() + static_cast<std::ptrdiff_t>(i) + 1, args.end());
			break;
		}
		if (a.size() < 2 || a[0] != '-') {
			w.positional.push_back(a);
			continue;
		}
		if (a == "-h" || a == "--help") {
			w.help = true;
			continue;
		}
		if (a == "--version") {
			w.version = true;
			continue;
		}
		size_t equals = a.find('=');
		std::string name = a.substr(0, equals);
		std::optional<bool> value = TakesValue(name);
		if (!value) {
			// Whether it takes a value is unknown: it is reported once the command is known.
			w.unknown = w.unknown.value_or(name);
			continue;
		}
		// Problems of the words are reported once the command is known, with its help.
		if (equals != std::string::npos && !*value)
			w.wrong = w.wrong.value_or(name + " takes no value");
		else if (equals != std::string::npos)
			w.options.emplace_back(name, a.substr(equals + 1));
		else if (!*value)
			w.options.emplace_back(name, std::nullopt);
		else if (i + 1 < args.size() && !IsOptionName(args[i + 1]))
			w.options.emplace_back(name, args[++i]);
		else
			w.wrong = w.wrong.value_or(name + " needs a value");
	}
	return w;
}

// The --root of the words, which the scenario is looked up in before the command is known.
std::string RootOf(const Words &w, const std::string &defaultRoot) {
	std::string root = defaultRoot;
	for (const auto &[name, value] : w.options)
		if (name == options::kRootOption && value)
			root = *value;
	return root;
}

bool EndsWithNoCase(const std::string &s, const std::string &suffix) {
	return s.size() >= suffix.size() && host::EqualsNoCase(std::string_view(s).substr(s.size() - suffix.size()), suffix);
}

// A first word that is no command but a scenario: one that is there, or one that is written
// as a path to a scenario file, which then gets its own message when it cannot be read.
bool IsScenario(const std::string &word, const std::string &root) {
	return FindScenario(word, root) || EndsWithNoCase(word, ".scn") || word.find('/') != std::string::npos;
}

const Option *RowFor(const std::string &name, Command command) {
	for (const Option &o : options::Table())
		if (name == o.name && (o.commands & options::Bit(command)))
			return &o;
	return nullptr;
}

// Sets the command's options from the words, each checked against its row.
void Apply(CommandLine &cl, const Words &w, const std::vector<std::string> &scenario) {
	const Command command = cl.command;
	options::Layers layers = options::LayersOf(cl, command);
	std::map<std::string, bool> given;
	for (const auto &[name, value] : w.options) {
		const Option *row = RowFor(name, command);
		if (!row)
			throw UsageError(std::string(CommandName(command)) + " does not take " + name, command);
		if (given[name] && !row->repeatable)
			throw UsageError(name + " is given more than once", command);
		given[name] = true;
		try {
			row->target.set(layers, options::Parse(*row, value.value_or(std::string())));
		} catch (const UsageError &e) {
			throw UsageError(e.what(), command);
		}
	}
	bool takesScenario = false;
	for (const Option &o : options::Table())
		takesScenario = takesScenario || (o.kind == options::Kind::Scenario && (o.commands & options::Bit(command)));
	if (!takesScenario && !scenario.empty())
		throw UsageError("unexpected argument '" + scenario[0] + "': " + CommandName(command) + " takes no scenario",
		                 command);
	if (scenario.size() > 1)
		throw UsageError("unexpected argument '" + scenario[1] + "': one scenario at most", command);
	for (const Option &o : options::Table()) {
		if (!(o.commands & options::Bit(command)))
			continue;
		if (o.kind == options::Kind::Scenario && !scenario.empty())
			o.target.set(layers, scenario.front());
		if (o.required && !given[o.name])
			throw UsageError(std::string(o.name) + ": the " + o.noun + " is required", command);
	}
}

// Times that the smallest step must still advance ("--duration", "--at").
void CheckReach(CommandLine &cl) {
	options::Layers layers = options::LayersOf(cl, cl.command);
	if (!layers.drive)
		return;
	double step = LongestStep(layers.drive->dts);
	for (const Option &o : options::Table()) {
		if (!o.beyondStep || !(o.commands & options::Bit(cl.command)))
			continue;
		options::Value v = o.target.get(layers);
		const double *t = std::get_if<double>(&v);
		if (t && !StepAdvances(*t, step))
			throw UsageError(std::string(o.name) + ": " + host::FormatShortest(*t) + " s is too " + o.beyondStep +
			                     " for a step of " + host::FormatShortest(step) +
			                     " s: the simulation time would stop advancing",
			                 cl.command);
	}
}

// The words of text after out's last line, which ends at column, filled into lines of at
// most kWidth columns; further lines start at indent. '\x01' joins words that stay together.
void Fill(std::string &out, const std::string &text, size_t column, size_t indent) {
	bool first = true;
	for (std::string_view word : host::SplitWords(text)) {
		if (!first && column + 1 + word.size() > kWidth) {
			out += "\n" + std::string(indent, ' ');
			column = indent;
		} else if (!first) {
			out += ' ';
			++column;
		}
		out += word;
		column += word.size();
		first = false;
	}
	out += '\n';
	std::replace(out.begin(), out.end(), '\x01', ' ');
}

// "sendra-sim run [SCENARIO.scn] [--script FILE] ...", wrapped under its start.
std::string Synopsis(const CommandInfo &c, const std::string &lead) {
	std::string words = std::string("sendra-sim ") + (c.command == Command::Run ? "[run]" : c.name);
	for (const Option &o : options::Table()) {
		if (!(o.commands & options::Bit(c.command)))
			continue;
		std::string item = o.kind == options::Kind::Scenario ? o.name : o.name + std::string(" ") + options::Placeholder(o);
		if (o.kind == options::Kind::Flag)
			item = o.name;
		std::replace(item.begin(), item.end(), ' ', '\x01');
		words += " " + (o.required ? item : "[" + item + "]");
	}
	std::string out = lead;
	Fill(out, words, lead.size(), lead.size() + std::string("sendra-sim ").size());
	return out;
}

std::string OptionLine(const Option &o, const options::Value &defaultValue) {
	std::string head = "  " + std::string(o.name);
	if (o.kind != options::Kind::Scenario && o.kind != options::Kind::Flag)
		head += " " + options::Placeholder(o);
	std::string text = o.help;
	std::string range = options::RangeText(o);
	if (!range.empty())
		text += ", " + range;
	std::string deflt = options::DefaultText(o, defaultValue);
	if (!deflt.empty())
		text += " " + deflt;
	std::string out = head;
	if (head.size() + 1 > kHelpColumn) {
		out += "\n";
		head.clear();
	}
	out += std::string(kHelpColumn - head.size(), ' ');
	std::string body;
	Fill(body, text, kHelpColumn, kHelpColumn);
	return out + body;
}

// The section of a command: what it does and its options; with shown, the options described
// in an earlier section are named at its end instead.
std::string Section(const CommandInfo &c, std::map<std::string, const CommandInfo *> *shown) {
	CommandLine defaults;
	defaults.command = c.command;
	options::Layers layers = options::LayersOf(defaults, c.command);
	std::string out = c.about;
	std::vector<std::string> earlier;
	const CommandInfo *earlierIn = nullptr;
	for (const Option &o : options::Table()) {
		if (!(o.commands & options::Bit(c.command)))
			continue;
		std::string key = std::string(o.name) + "\x01" + o.help;
		if (shown && shown->count(key)) {
			earlier.push_back(o.name);
			earlierIn = earlierIn ? earlierIn : (*shown)[key];
			continue;
		}
		if (shown)
			(*shown)[key] = &c;
		out += OptionLine(o, o.target.get(layers));
	}
	if (!earlier.empty()) {
		std::string names;
		for (size_t i = 0; i < earlier.size(); ++i)
			names += (i == 0 ? "" : i + 1 == earlier.size() ? " and " : ", ") + earlier[i];
		out += "  ";
		Fill(out, names + " as for " + earlierIn->name + ".", 2, 2);
	}
	return out;
}

}  // namespace

const char *CommandName(Command command) {
	for (const CommandInfo &c : kCommands)
		if (c.command == command)
			return c.name;
	return "sendra-sim";
}

CommandLine ParseCommandLine(const std::vector<std::string> &args, const std::string &defaultRoot) {
	Words w = Split(args);
	std::string root = RootOf(w, defaultRoot);
	CommandLine cl;
	std::vector<std::string> rest = w.positional;
	bool named = false;  // the command was named, not taken as the default
	if (!rest.empty()) {
		if (const CommandInfo *c = FindCommand(rest.front())) {
			cl.command = c->command;
			named = true;
			rest.erase(rest.begin());
		} else if (!IsScenario(rest.front(), root)) {
			// A misspelt option before the command took no value: the word after it is the value
			// meant for it, not a command.
			if (w.unknown)
				UnknownOption(*w.unknown, CommandAmong(rest));
			UnknownCommand(rest.front(), &root);
		}
	}
	if (w.unknown)
		UnknownOption(*w.unknown, cl.command);
	if (w.wrong)
		throw UsageError(*w.wrong, HelpOf(cl.command));
	if (w.version) {
		cl.command = Command::Version;
		cl.run.drive.session.root = root;
		return cl;
	}
	if (cl.command == Command::Help || w.help) {
		if (cl.command == Command::Help && !rest.empty()) {
			if (rest.size() > 1)
				throw UsageError("unexpected argument '" + rest[1] + "': help is about one command at most");
			const CommandInfo *about = FindCommand(rest.front());
			if (!about)
				UnknownCommand(rest.front());
			if (about->command != Command::Help)
				cl.helpFor = about->command;
		} else if (cl.command != Command::Help && named) {
			cl.helpFor = cl.command;
		}
		cl.command = Command::Help;
		return cl;
	}
	options::LayersOf(cl, cl.command).session->root = defaultRoot;
	Apply(cl, w, rest);
	CheckReach(cl);
	SessionOptions &session = *options::LayersOf(cl, cl.command).session;
	if (session.scenario) {
		std::optional<std::string> found = FindScenario(*session.scenario, session.root);
		if (found && *found != *session.scenario)
			cl.scenarioFound = session.scenario = found;
	}
	return cl;
}

std::string HelpText(std::optional<Command> command) {
	std::string out = std::string(kIntro) + "\n";
	std::string lead = "usage: ";
	for (const CommandInfo &c : kCommands) {
		if (c.command == Command::Help || (command && *command != c.command))
			continue;
		out += Synopsis(c, lead);
		lead = "       ";
	}
	if (!command)
		out += lead + "sendra-sim help [COMMAND] | --help | --version\n";
	out += "\nOptions may stand before or after the command.\n";
	std::map<std::string, const CommandInfo *> shown;
	for (const CommandInfo &c : kCommands) {
		if (c.command == Command::Help || (command && *command != c.command))
			continue;
		out += "\n" + Section(c, command ? nullptr : &shown);
	}
	if (!command || *command == Command::Run || *command == Command::Render)
		out += std::string("\n") + kScript;
	out += std::string("\n") + kStatus;
	return out;
}

}  // namespace sim
