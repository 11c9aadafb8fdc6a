// The rows of sendra-sim's option table, and reading and showing the values of each kind.
#include "app/OptionTable.h"

#include <cctype>
#include <climits>
#include <cmath>

#include "sendra_host/Body.h"
#include "sendra_host/Text.h"

namespace sim::options {

namespace {

const double kNone = INFINITY;  // no upper bound but the value's type

// --- Where values go ------------------------------------------------------------------------

template <typename Layer>
Layer *Pick(const Layers &l);
template <>
SessionOptions *Pick(const Layers &l) { return l.session; }
template <>
DriveOptions *Pick(const Layers &l) { return l.drive; }
template <>
RunOptions *Pick(const Layers &l) { return l.run; }
template <>
RenderOptions *Pick(const Layers &l) { return l.render; }
template <>
ServeOptions *Pick(const Layers &l) { return l.serve; }

// The rows' kinds guarantee which alternative a value holds and that it fits the field.
void Assign(bool &field, const Value &v) { field = std::get<bool>(v); }
void Assign(int &field, const Value &v) { field = static_cast<int>(std::get<long long>(v)); }
void Assign(uint64_t &field, const Value &v) { field = static_cast<uint64_t>(std::get<long long>(v)); }
void Assign(double &field, const Value &v) { field = std::get<double>(v); }
void Assign(std::optional<double> &field, const Value &v) { field = std::get<double>(v); }
void Assign(std::string &field, const Value &v) { field = std::get<std::string>(v); }
void Assign(std::optional<std::string> &field, const Value &v) { field = std::get<std::string>(v); }
void Assign(std::vector<double> &field, const Value &v) { field = std::get<std::vector<double>>(v); }
void Assign(std::vector<std::string> &field, const Value &v) { field.push_back(std::get<std::string>(v)); }
void Assign(PixelSize &field, const Value &v) { field = std::get<PixelSize>(v); }

Value ValueOf(bool field) { return field; }
Value ValueOf(int field) { return static_cast<long long>(field); }
Value ValueOf(uint64_t field) { return static_cast<long long>(field); }
Value ValueOf(double field) { return field; }
Value ValueOf(const std::string &field) { return field; }
Value ValueOf(const std::vector<double> &field) { return field; }
Value ValueOf(const PixelSize &field) { return field; }
Value ValueOf(const std::vector<std::string> &) { return Value(); }  // a list starts empty
template <typename T>
Value ValueOf(const std::optional<T> &field) {
	return field ? ValueOf(*field) : Value();
}

template <typename Layer, typename T>
Target To(T Layer::*member) {
	return Target{[member](const Layers &l, const Value &v) { Assign(Pick<Layer>(l)->*member, v); },
	              [member](const Layers &l) { return ValueOf(Pick<Layer>(l)->*member); }};
}

// --- Checks of text values --------------------------------------------------------------------

std::string Folder(const std::string &text) { return text.empty() ? "the folder must not be empty" : std::string(); }

std::string PictureFile(const std::string &text) {
	if (text.empty())
		return "the picture file needs a name";
	if (!PictureFormatOf(text))
		return "'" + text + "' is not a file name ending in .png or .svg";
	return std::string();
}

std::string VesselName(const std::string &text) { return text.empty() ? "the vessel needs a name" : std::string(); }

std::string Address(const std::string &text) {
	if (text.empty() || text.size() > 255 || text.find_first_of(" \t\r\n/") != std::string::npos)
		return "'" + text + "' is not a host name or an IP address";
	return std::string();
}

std::vector<std::string> Terrains() { return host::Terrain::Names(); }

const unsigned kAll = kRun | kInspect | kRender | kServe;

// Long because it is the table, a row per option, in the order the help lists them.
std::vector<Option> MakeTable() {
	return {
		Option{"SCENARIO.scn", nullptr, Kind::Scenario, 0, 0, false, "scenario",
		 "scenario to load: a file, or one in the Orbiter folder's Scenarios/ as Orbiter's launcher "
		 "lists it (\"Sendra2016/Rover at rest\")",
		 "the built-in Sendra-1 on the Moon", kAll, To(&SessionOptions::scenario)},
		Option{"--script", "FILE", Kind::Text, 0, 0, false, "drive script", "drive script",
		 "the built-in drive when no SCENARIO is given", kRun | kRender, To(&DriveOptions::script)},
		Option{"--duration", "S", Kind::Seconds, 0, kNone, false, "number of seconds", "simulated seconds",
		 "5 s after the script's last event, or 60 s without events", kRun, To(&DriveOptions::duration)}
			.BeyondStep("long"),
		Option{"--at", "T", Kind::Seconds, 0, kNone, false, "number of seconds", "simulated seconds", "0, as loaded",
		 kRender, To(&RenderOptions::at)}
			.BeyondStep("late"),
		Option{"--vessel", "NAME", Kind::Text, 0, 0, false, "vessel", "the vessel to picture, landed or in flight",
		 "the focus vessel", kRender, To(&RenderOptions::vessel)}
			.Check(VesselName),
		Option{"--view", nullptr, Kind::Choice, 0, 0, false, "view", "the picture's view", nullptr, kRender,
		 To(&RenderOptions::view)}
			.Choices(ViewNames),
		Option{"--size", "WxH", Kind::Size, kMinPictureSide, kMaxPictureSide, false, "picture size",
		 "picture size in pixels", nullptr, kRender, To(&RenderOptions::size)},
		Option{"--dt", "S[,S...]", Kind::Steps, 0, kNone, true, "step lengths", "step lengths in seconds, used in turn",
		 nullptr, kRun | kRender, To(&DriveOptions::dts)},
		Option{"--terrain", nullptr, Kind::Choice, 0, 0, false, "terrain", "terrain under the vessels", nullptr,
		 kRun | kRender | kServe, To(&SessionOptions::terrain)}
			.Choices(Terrains),
		Option{"--hud", "WxH", Kind::Size, 1, 16384, false, "HUD size", "HUD size in pixels", nullptr, kRun | kRender,
		 To(&SessionOptions::hud)},
		Option{"--rudder-delay", "S", Kind::Seconds, 0, kNone, false, "number of seconds",
		 "seconds the rudder takes for a full unit of travel", nullptr, kRun | kRender,
		 To(&SessionOptions::rudderDelay)},
		Option{"--record-every", "N", Kind::Integer, 1, kNone, false, "frames", "record every Nth frame and the last one",
		 nullptr, kRun, To(&RunOptions::recordEvery)},
		Option{"--flight-model", "N", Kind::Integer, INT_MIN, INT_MAX, false, "flight model",
		 "flight model handed to the modules", nullptr, kRun | kInspect | kRender, To(&SessionOptions::flightModel)},
		Option{"--port", "N", Kind::Integer, 0, 65535, false, "port number", "port to listen on, 0 for any free one",
		 nullptr, kServe, To(&ServeOptions::port)},
		Option{"--bind", "ADDR", Kind::Text, 0, 0, false, "address",
		 "address to listen on: anyone who can reach it can watch and drive, so the default is this "
		 "machine's own",
		 nullptr, kServe, To(&ServeOptions::bind)}
			.Check(Address),
		Option{"--allow-host", "NAME", Kind::HostName, 0, 0, false, "host name",
		 "a name by which pages may reach the server besides localhost, 127.0.0.1, [::1] and the --bind "
		 "address",
		 nullptr, kServe, To(&ServeOptions::allowHosts)}
			.Repeatable(),
		Option{"--dt", "S", Kind::Seconds, 0.001, 1, false, "frame length",
		 "seconds per frame, one frame per S of wall time", "1/60", kServe, To(&ServeOptions::dt)},
		Option{"--out", "DIR", Kind::Text, 0, 0, false, "output folder", "output folder", nullptr, kRun,
		 To(&RunOptions::out)}
			.Check(Folder),
		Option{"--out", "FILE.png|FILE.svg", Kind::Text, 0, 0, false, "picture file", "the picture", nullptr, kRender,
		 To(&RenderOptions::out)}
			.Check(PictureFile, true),
		Option{kRootOption, "DIR", Kind::Text, 0, 0, false, "Orbiter folder",
		 "Orbiter folder with Config/, Modules/, Meshes/ and Scenarios/",
		 "the tree the build staged, or orbiter/ beside the program", kAll | kList, To(&SessionOptions::root)}
			.Check(Folder),
		Option{"--quiet", nullptr, Kind::Flag, 0, 0, false, "", "print nothing but errors and warnings", nullptr, kRun,
		 To(&RunOptions::quiet)},
		Option{"--quiet", nullptr, Kind::Flag, 0, 0, false, "", "print nothing but errors and warnings", nullptr, kRender,
		 To(&RenderOptions::quiet)},
		Option{"--hud-lines", nullptr, Kind::Flag, 0, 0, false, "",
		 "print the focus vessel's HUD once per simulated second on a terminal too (to a file or a pipe it "
		 "always is)",
		 nullptr, kRun, To(&RunOptions::hudLines)},
	};
}

// --- Values ---------------------------------------------------------------------------------

std::string Number(double v) { return host::FormatShortest(v); }

[[noreturn]] void Bad(const Option &o, const std::string &text, const std::string &expected) {
	throw UsageError(std::string(o.name) + ": '" + text + "' is not " + expected);
}

bool InRange(const Option &o, double v) { return (o.aboveMin ? v > o.min : v >= o.min) && v <= o.max; }

std::string Expected(const Option &o) {
	const std::string above = o.aboveMin ? "> " : ">= ";
	switch (o.kind) {
	case Kind::Seconds:
		if (o.max == kNone)
			return "a finite number of seconds " + above + Number(o.min);
		return std::string("a ") + o.noun + " from " + Number(o.min) + " to " + Number(o.max) +
		       (o.max == 1 ? " second" : " seconds");
	case Kind::Steps:
		return std::string("a comma-separated list of finite ") + o.noun + " " + above + Number(o.min) + " in seconds";
	case Kind::Integer:
		if (o.min == INT_MIN && o.max == INT_MAX)
			return "an integer";
		if (o.max == kNone)
			return std::string("a whole number of ") + o.noun + " " + above + Number(o.min);
		return std::string("a ") + o.noun + " from " + Number(o.min) + " to " + Number(o.max);
	case Kind::Size: return "WxH with each side from " + Number(o.min) + " to " + Number(o.max) + " pixels";
	case Kind::HostName: return "a host name or an IP address";
	case Kind::Choice: {
		std::vector<std::string> names = o.choices();
		std::string s;
		for (size_t i = 0; i < names.size(); ++i)
			s += (i == 0 ? "" : i + 1 == names.size() ? " or " : ", ") + names[i];
		return s;
	}
	default: return std::string();
	}
}

Value ParseSize(const Option &o, const std::string &text) {
	size_t x = text.find_first_of("xX");
	if (x == std::string::npos)
		Bad(o, text, Expected(o));
	std::optional<long long> w = host::ParseInteger(std::string_view(text).substr(0, x));
	std::optional<long long> h = host::ParseInteger(std::string_view(text).substr(x + 1));
	if (!w || !h || !InRange(o, static_cast<double>(*w)) || !InRange(o, static_cast<double>(*h)))
		Bad(o, text, Expected(o));
	return PixelSize{static_cast<int>(*w), static_cast<int>(*h)};
}

Value ParseSteps(const Option &o, const std::string &text) {
	std::vector<double> steps;
	for (size_t start = 0;;) {
		size_t comma = text.find(',', start);
		std::optional<double> v = host::ParseDouble(
			std::string_view(text).substr(start, comma == std::string::npos ? std::string::npos : comma - start));
		if (!v || !InRange(o, *v))
			Bad(o, text, Expected(o));
		steps.push_back(*v);
		if (comma == std::string::npos)
			return steps;
		start = comma + 1;
	}
}

}  // namespace

Option Option::Choices(std::vector<std::string> (*names)()) const {
	Option o = *this;
	o.choices = names;
	return o;
}

Option Option::Check(std::string (*accepts)(const std::string &), bool isRequired) const {
	Option o = *this;
	o.check = accepts;
	o.required = isRequired;
	return o;
}

Option Option::Repeatable() const {
	Option o = *this;
	o.repeatable = true;
	return o;
}

Option Option::BeyondStep(const char *word) const {
	Option o = *this;
	o.beyondStep = word;
	return o;
}

unsigned Bit(Command command) {
	switch (command) {
	case Command::Run: return kRun;
	case Command::Inspect: return kInspect;
	case Command::Render: return kRender;
	case Command::Serve: return kServe;
	case Command::List: return kList;
	default: return 0;
	}
}

Layers LayersOf(CommandLine &cl, Command command) {
	switch (command) {
	case Command::Run: return {&cl.run.drive.session, &cl.run.drive, &cl.run, nullptr, nullptr};
	case Command::Inspect: return {&cl.inspect, nullptr, nullptr, nullptr, nullptr};
	case Command::Render: return {&cl.render.drive.session, &cl.render.drive, nullptr, &cl.render, nullptr};
	case Command::Serve: return {&cl.serve.session, nullptr, nullptr, nullptr, &cl.serve};
	case Command::List: return {&cl.list, nullptr, nullptr, nullptr, nullptr};
	default: return {};
	}
}

const std::vector<Option> &Table() {
	static const std::vector<Option> table = MakeTable();
	return table;
}

Value Parse(const Option &o, const std::string &text) {
	switch (o.kind) {
	case Kind::Flag: return true;
	case Kind::Scenario: return text;
	case Kind::Text: {
		std::string wrong = o.check ? o.check(text) : std::string();
		if (!wrong.empty())
			throw UsageError(std::string(o.name) + ": " + wrong);
		return text;
	}
	case Kind::HostName: {
		std::string name =
			text.size() > 2 && text.front() == '[' && text.back() == ']' ? text.substr(1, text.size() - 2) : text;
		bool ok = !name.empty() && name.size() <= 253;
		for (char c : name)
			ok = ok && (std::isalnum(static_cast<unsigned char>(c)) || c == '.' || c == '-' || c == ':' || c == '_');
		// One colon is a name with a port, which no page's Host matches: pages reach the
		// server on its own port, whatever name they use (an IPv6 address has two colons).
		size_t colon = name.find(':');
		if (ok && colon != std::string::npos && name.find(':', colon + 1) == std::string::npos) {
			if (host::ParseInteger(std::string_view(name).substr(colon + 1)))
				throw UsageError(std::string(o.name) + ": '" + text +
				                 "' has a port; give the name alone, as pages reach the server on its own port");
			ok = false;
		}
		if (!ok)
			Bad(o, text, Expected(o));
		return name;
	}
	case Kind::Choice:
		for (const std::string &name : o.choices())
			if (name == text)
				return text;
		Bad(o, text, Expected(o));
	case Kind::Seconds: {
		std::optional<double> v = host::ParseDouble(text);
		if (!v || !InRange(o, *v))
			Bad(o, text, Expected(o));
		return *v;
	}
	case Kind::Steps: return ParseSteps(o, text);
	case Kind::Integer: {
		std::optional<long long> v = host::ParseInteger(text);
		if (!v || !InRange(o, static_cast<double>(*v)))
			Bad(o, text, Expected(o));
		return *v;
	}
	case Kind::Size: return ParseSize(o, text);
	}
	return Value();
}

std::string DefaultText(const Option &o, const Value &v) {
	if (o.required)
		return "(required)";
	if (o.repeatable)
		return "(may be given more than once)";
	if (o.shownDefault)
		return std::string("(default: ") + o.shownDefault + ")";
	std::string text;
	if (const auto *s = std::get_if<std::string>(&v))
		text = *s;
	else if (const auto *d = std::get_if<double>(&v))
		text = Number(*d);
	else if (const auto *n = std::get_if<long long>(&v))
		text = std::to_string(*n);
	else if (const auto *size = std::get_if<PixelSize>(&v))
		text = std::to_string(size->width) + "x" + std::to_string(size->height);
	else if (const auto *steps = std::get_if<std::vector<double>>(&v))
		for (double d : *steps)
			text += (text.empty() ? "" : ",") + Number(d);
	return text.empty() ? text : "(default " + text + ")";
}

std::string RangeText(const Option &o) {
	const std::string above = o.aboveMin ? "> " : ">= ";
	switch (o.kind) {
	case Kind::Seconds:
		return o.max == kNone ? above + Number(o.min) : Number(o.min) + " to " + Number(o.max);
	case Kind::Steps: return "each " + above + Number(o.min);
	case Kind::Integer:
		if (o.min == INT_MIN && o.max == INT_MAX)
			return std::string();
		return o.max == kNone ? above + Number(o.min) : Number(o.min) + " to " + Number(o.max);
	case Kind::Size: return "each side " + Number(o.min) + " to " + Number(o.max);
	default: return std::string();
	}
}

std::string Placeholder(const Option &o) {
	if (o.value)
		return o.value;
	if (!o.choices)
		return std::string();
	std::string s;
	for (const std::string &name : o.choices())
		s += (s.empty() ? "" : "|") + name;
	return s;
}

}  // namespace sim::options
