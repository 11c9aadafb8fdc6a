// Reading an Orbiter scenario file into the simulation, and saving the simulation as one.
#include "sendra_host/ScenarioIO.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <sstream>
#include <unordered_map>
#include <unordered_set>

#include "sendra_host/HostError.h"
#include "sendra_host/Simulation.h"
#include "sendra_host/Text.h"
#include "src/Flight.h"
#include "src/HostVessel.h"
#include "src/Platform.h"
#include "src/ScenarioFiles.h"
#include "src/VesselLines.h"

namespace host {

namespace {

// Bounds of what the reader accepts. A real scenario is a few kilobytes; 100,000 rovers take
// about 30 MB.
constexpr size_t kMaxFileBytes = size_t(256) << 20;
constexpr size_t kMaxLineLength = 65536;  // [characters]
constexpr size_t kMaxVessels = 1000000;
constexpr size_t kMaxBlockBytes = size_t(1) << 20;  // of a vessel's lines, their line ends included

// Days between the Julian Date and the Modified Julian Date, and the MJD of epoch J2000.
constexpr double kJdToMjd = 2400000.5;
constexpr double kMjdJ2000 = 51544.5;
constexpr double kDaysPerJulianYear = 365.25;

// Descriptions, which the real writer puts first.
constexpr const char *kDescriptionBlocks[] = {"DESC", "HYPERDESC", "URLDESC"};
// The blocks of the real host's user interface, in the order its writer puts them before the
// ships. It reads the first block of each kind (of MFDs, the first for each side).
constexpr const char *kInterfaceBlocks[] = {"CAMERA", "HUD", "MFD", "PANEL", "VC"};

// The text of a file, line by line, with the line number for errors.
class LineCursor {
public:
	LineCursor(const std::string &text, const std::string &label) : text_(text), label_(label) {
		// A byte-order mark, as Windows editors write one, is no part of the first line.
		if (text_.compare(0, 3, "\xEF\xBB\xBF") == 0)
			pos_ = 3;
	}

	// The next line without its line end; false at the end of the text.
	bool Next() {
		if (pos_ >= text_.size())
			return false;
		size_t eol = text_.find('\n', pos_);
		size_t end = eol == std::string::npos ? text_.size() : eol;
		line_ = std::string_view(text_.data() + pos_, end - pos_);
		if (!line_.empty() && line_.back() == '\r')
			line_.remove_suffix(1);
		pos_ = eol == std::string::npos ? text_.size() : eol + 1;
		++number_;
		if (line_.size() > kMaxLineLength)
			Fail("line longer than " + std::to_string(kMaxLineLength) + " characters");
		if (line_.find('\0') != std::string_view::npos)
			Fail("binary data (a zero byte) in a scenario file");
		return true;
	}
	std::string_view line() const { return line_; }
	// The line trimmed and without its comment.
	std::string_view content() const { return Trim(StripComment(line_)); }
	long number() const { return number_; }
	const std::string &label() const { return label_; }

	[[noreturn]] void Fail(const std::string &what) const { throw HostError(label_, number_, what); }
	[[noreturn]] void Fail(long line, const std::string &what) const { throw HostError(label_, line, what); }

private:
	const std::string &text_;
	const std::string &label_;
	size_t pos_ = 0;
	long number_ = 0;
	std::string_view line_;
};

bool HasControlCharacter(std::string_view s) {
	for (char c : s)
		if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f)
			return true;
	return false;
}

// The word after "BEGIN_" up to the first blank: the block's name.
std::string BlockName(std::string_view header) {
	std::string_view rest = header.substr(6);
	size_t end = rest.find_first_of(" \t");
	return std::string(end == std::string_view::npos ? rest : rest.substr(0, end));
}

// Remembers where each kind of block was, so that a second one is refused rather than
// silently ignored (the real host reads only the first).
class SeenBlocks {
public:
	void Enter(const LineCursor &c, const std::string &kind) {
		auto [it, fresh] = first_.emplace(kind, c.number());
		if (!fresh)
			c.Fail("a second " + kind + " block (the first is at line " + std::to_string(it->second) + ")");
	}

private:
	std::unordered_map<std::string, long> first_;
};

// "Date MJD|JD|JE <number>". Without a number, or with text that is none, the real host starts
// at the current time: the date stays unset, with a warning. A number beyond the range of
// numbers, an unknown scale or more than a number after it is refused.
void ReadDate(LineCursor &c, const std::vector<std::string_view> &words, std::string_view t, ScenarioFile &out) {
	if (words.size() > 3)
		c.Fail("Date: expected MJD, JD or JE and a finite number, got '" + std::string(t) + "'");
	out.dateLine = c.number();
	std::string_view scale = words.size() > 1 ? words[1] : std::string_view();
	bool mjd = EqualsNoCase(scale, "MJD"), jd = EqualsNoCase(scale, "JD"), je = EqualsNoCase(scale, "JE");
	if (!scale.empty() && !mjd && !jd && !je)
		c.Fail("Date: unknown time scale '" + std::string(scale) + "' (expected MJD, JD or JE)");
	std::optional<double> value = words.size() == 3 ? ParseDouble(words[2]) : std::nullopt;
	if (!value) {
		// Text that reads as a number all the same is one beyond the range (inf, nan, 1e999).
		std::string number(words.size() == 3 ? words[2] : std::string_view());
		char *end = nullptr;
		std::strtod(number.c_str(), &end);
		if (!number.empty() && end && *end == '\0')
			c.Fail("Date: '" + std::string(t) + "' is not a finite date");
		out.mjd.reset();
		out.warnings.push_back(HostError::Format(c.label(), c.number(),
		                                         "Date: '" + std::string(t) + "' gives no date; the scenario starts at "
		                                                                      "the current time, as Orbiter starts it"));
		return;
	}
	out.mjd = mjd ? *value : jd ? *value - kJdToMjd : kMjdJ2000 + (*value - 2000.0) * kDaysPerJulianYear;
	if (!std::isfinite(*out.mjd))
		c.Fail("Date: '" + std::string(t) + "' is a date beyond the range of numbers");
}

void ReadEnvironment(LineCursor &c, ScenarioFile &out) {
	long start = c.number();
	while (c.Next()) {
		std::string_view t = c.content();
		if (StartsWithNoCase(t, "END_ENVIRONMENT"))
			return;
		if (Trim(c.line()).empty())
			continue;
		std::vector<std::string_view> words = SplitWords(t);
		std::string_view key = words.empty() ? std::string_view() : words[0];
		if (EqualsNoCase(key, "System")) {
			if (words.size() != 2)
				c.Fail("System: expected one name, got '" + std::string(t) + "'");
			if (!EqualsNoCase(words[1], "Sol"))
				c.Fail("unknown planetary system '" + std::string(words[1]) + "' (the stand-in host has Sol only)");
			out.system = "Sol";
		} else if (EqualsNoCase(key, "Date")) {
			ReadDate(c, words, t, out);
		} else {
			// Context, Script, Help, Playback and what a later host may add: the real host acts
			// on them (Script runs when the scenario loads), so a save keeps them.
			if (out.environment.size() + c.line().size() + 1 > kMaxKeptBlockBytes)
				c.Fail("BEGIN_ENVIRONMENT (line " + std::to_string(start) + ") holds more than " +
				       std::to_string(kMaxKeptBlockBytes) + " bytes of text");
			out.environment.append(c.line()).push_back('\n');
		}
	}
	c.Fail(start, "BEGIN_ENVIRONMENT has no END_ENVIRONMENT");
}

void ReadFocus(LineCursor &c, ScenarioFile &out) {
	long start = c.number();
	while (c.Next()) {
		std::string_view t = c.content();
		if (StartsWithNoCase(t, "END_FOCUS"))
			return;
		std::vector<std::string_view> words = SplitWords(t);
		if (words.empty() || !EqualsNoCase(words[0], "Ship"))
			continue;
		std::string_view name = Trim(t.substr(words[0].size()));
		if (name.empty())
			c.Fail("Ship names no vessel");
		out.focus = std::string(name);
		out.focusLine = c.number();
	}
	c.Fail(start, "BEGIN_FOCUS has no END_FOCUS");
}

// One "name:Class" line and the block after it, up to its END.
ScenarioVesselBlock ReadVessel(LineCursor &c, std::string_view header) {
	ScenarioVesselBlock b;
	b.line = c.number();
	b.lines = ScenarioLines(b.line + 1);
	size_t colon = header.find(':');
	b.name = std::string(header.substr(0, colon));
	b.className = colon == std::string_view::npos ? b.name : std::string(header.substr(colon + 1));
	if (b.name.empty())
		c.Fail("a vessel line without a name: '" + std::string(header) + "'");
	if (b.className.empty())
		c.Fail("vessel '" + b.name + "' names no class");
	// The class names a file under Config/Vessels: no way out of that folder.
	if (b.className.find_first_of("/\\") != std::string::npos || HasControlCharacter(b.className))
		c.Fail("vessel '" + b.name + "': class '" + b.className + "' is not a plain class name");
	if (HasControlCharacter(b.name))
		c.Fail("vessel '" + b.name + "': a name with control characters");
	while (c.Next()) {
		std::string_view t = c.content();
		if (StartsWithNoCase(t, "END_SHIPS"))
			c.Fail(b.line, "vessel '" + b.name + "' has no END line (END_SHIPS follows at line " +
			                   std::to_string(c.number()) + ")");
		if (b.lines.bytes() + c.line().size() + 1 > kMaxBlockBytes)
			c.Fail("vessel '" + b.name + "': its block holds more than " + std::to_string(kMaxBlockBytes) +
			       " bytes of text (1 MiB)");
		b.lines.Add(c.line());
		if (EqualsNoCase(t, "END"))
			return b;
	}
	c.Fail(b.line, "vessel '" + b.name + "' has no END line");
}

void ReadShips(LineCursor &c, ScenarioFile &out) {
	long start = c.number();
	std::unordered_map<std::string, long> firstLine;
	while (c.Next()) {
		std::string_view t = c.content();
		if (t.empty())
			continue;
		if (StartsWithNoCase(t, "END_SHIPS"))
			return;
		if (EqualsNoCase(t, "END"))
			c.Fail("END without a vessel line before it");
		if (out.vessels.size() >= kMaxVessels)
			c.Fail("more than " + std::to_string(kMaxVessels) + " vessels");
		ScenarioVesselBlock b = ReadVessel(c, t);
		auto [it, fresh] = firstLine.emplace(b.name, b.line);
		if (!fresh)
			c.Fail(b.line, "a second vessel named '" + b.name + "' (the first is at line " + std::to_string(it->second) +
			                   ")");
		out.vessels.push_back(std::move(b));
	}
	c.Fail(start, "BEGIN_SHIPS has no END_SHIPS");
}

// A block the stand-in does not model, kept as it stands for the saves, from its header
// (the current line) to the line for which ends is true.
template <typename Ends>
ScenarioBlock KeepBlock(LineCursor &c, std::string name, const std::string &missingEnd, Ends ends) {
	ScenarioBlock b;
	b.line = c.number();
	b.name = std::move(name);
	auto add = [&] {
		if (b.text.size() + c.line().size() + 1 > kMaxKeptBlockBytes)
			c.Fail("BEGIN_" + b.name + " (line " + std::to_string(b.line) + ") holds more than " +
			       std::to_string(kMaxKeptBlockBytes) + " bytes of text");
		b.text.append(c.line()).push_back('\n');
	};
	add();
	while (c.Next()) {
		add();
		if (ends())
			return b;
	}
	c.Fail(b.line, "BEGIN_" + b.name + " has no " + missingEnd);
}

// A description: text of any lines up to the first that begins with its END_<kind>.
ScenarioBlock KeepDescription(LineCursor &c, const std::string &kind) {
	std::string end = "END_" + kind;
	return KeepBlock(c, kind, end, [&] { return StartsWithNoCase(c.line(), end); });
}

// CAMERA, HUD, MFD, PANEL, VC or a plugin's block: it ends at END_<name>, or at END as a
// plugin's does.
ScenarioBlock KeepOtherBlock(LineCursor &c) {
	std::string name = BlockName(c.line());
	std::string end = "END_" + name;
	return KeepBlock(c, name, end + " or END", [&] {
		std::string_view t = c.content();
		std::vector<std::string_view> words = SplitWords(t);
		return EqualsNoCase(t, "END") || (!words.empty() && EqualsNoCase(words[0], end));
	});
}

// The real host looks for each block of its user interface from the start of the file and so
// reads the first of a kind: its kind as it names it in messages ("CAMERA", "MFD Left"), or
// empty for a block it has any number of.
std::string OneOfAKind(const ScenarioBlock &b) {
	for (std::string kind : kInterfaceBlocks) {
		if (!EqualsNoCase(b.name, kind))
			continue;
		if (kind != "MFD")
			return kind;
		const std::string first = b.text.substr(0, b.text.find('\n'));
		std::vector<std::string_view> words = SplitWords(Trim(StripComment(first)));
		return words.size() > 1 ? kind + " " + std::string(words[1]) : kind;
	}
	return "";
}

// Kinds of blocks are told apart without regard to letter case, as the real host finds them.
std::string KindKey(std::string kind) {
	for (char &ch : kind)
		ch = static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
	return kind;
}

}  // namespace

ScenarioFile ParseScenario(const std::string &text, const std::string &label) {
	if (text.size() > kMaxFileBytes)
		throw HostError(label, 0, "larger than " + std::to_string(kMaxFileBytes) + " bytes");
	ScenarioFile out;
	out.path = label;
	LineCursor c(text, label);
	SeenBlocks seen;
	std::unordered_map<std::string, long> firstOfKind;  // by KindKey
	size_t kept = 0;                                    // kept blocks and second ones passed over
	auto keep = [&](ScenarioBlock b) {
		if (++kept > kMaxKeptBlocks)
			c.Fail(b.line, "more than " + std::to_string(kMaxKeptBlocks) + " blocks that the stand-in host keeps");
		std::string kind = OneOfAKind(b);
		if (!kind.empty()) {
			auto [it, fresh] = firstOfKind.emplace(KindKey(kind), b.line);
			if (!fresh) {
				out.warnings.push_back(HostError::Format(label, b.line,
				                                         "a second " + kind + " block (the first is at line " +
				                                             std::to_string(it->second) +
				                                             ") is passed over, as Orbiter reads the first"));
				return;
			}
		}
		out.blocks.push_back(std::move(b));
	};
	// Block headers begin at column 0; anything else between blocks is no block's and is
	// ignored, as by the real host.
	while (c.Next()) {
		std::string_view line = c.line();
		if (!StartsWithNoCase(line, "BEGIN_"))
			continue;
		++out.blocksRead;
		const char *description = nullptr;
		for (const char *kind : kDescriptionBlocks)
			if (StartsWithNoCase(line, std::string("BEGIN_") + kind))
				description = kind;
		if (description) {
			keep(KeepDescription(c, description));
		} else if (StartsWithNoCase(line, "BEGIN_ENVIRONMENT")) {
			seen.Enter(c, "BEGIN_ENVIRONMENT");
			ReadEnvironment(c, out);
		} else if (StartsWithNoCase(line, "BEGIN_FOCUS")) {
			seen.Enter(c, "BEGIN_FOCUS");
			ReadFocus(c, out);
		} else if (StartsWithNoCase(line, "BEGIN_SHIPS")) {
			seen.Enter(c, "BEGIN_SHIPS");
			ReadShips(c, out);
		} else {
			keep(KeepOtherBlock(c));
		}
	}
	return out;
}

ScenarioFile ReadScenarioFile(const std::string &path) {
	struct stat st;
	if (::stat(path.c_str(), &st) != 0)
		throw HostError(path, 0, std::string("cannot open the scenario file: ") + std::strerror(errno));
	if (S_ISDIR(st.st_mode))
		throw HostError(path, 0, "is a folder, not a scenario file");
	if (!S_ISREG(st.st_mode))
		throw HostError(path, 0, "is not a regular file");
	if (static_cast<unsigned long long>(st.st_size) > kMaxFileBytes)
		throw HostError(path, 0, "larger than " + std::to_string(kMaxFileBytes) + " bytes");
	std::FILE *f = std::fopen(path.c_str(), "rb");
	if (!f)
		throw HostError(path, 0, std::string("cannot open the scenario file: ") + std::strerror(errno));
	std::string text;
	char buf[65536];
	size_t n;
	// The size is checked again while reading: the file may grow after the stat.
	while ((n = std::fread(buf, 1, sizeof buf, f)) > 0 && text.size() <= kMaxFileBytes)
		text.append(buf, n);
	bool failed = std::ferror(f) != 0;
	int err = errno;
	std::fclose(f);
	if (failed)
		throw HostError(path, 0, std::string("cannot read the scenario file: ") + std::strerror(err));
	return ParseScenario(text, path);
}

// --- Loading ------------------------------------------------------------------------------

namespace {

bool IsKnownBody(const Simulation &sim, OBJHANDLE h) {
	for (const auto &b : sim.bodies())
		if (b.get() == h)
			return true;
	return false;
}

// Creates one vessel of the scenario as the real host does, up to and including the host's
// own apply of the state the block gave (a vessel in flight starts its flight once every
// vessel exists: it may ride on one). Problems that arise while the vessel is being made and
// do not stop the load (a mesh that cannot be read, what the reader passed over) are added to
// kept.
Vessel *LoadVessel(Simulation &sim, const std::string &file, const ScenarioVesselBlock &b,
                   std::vector<std::string> &kept) {
	Vessel *v = nullptr;
	try {
		v = sim.BeginCreation(b.name, b.className);
	} catch (const HostError &e) {
		throw HostError(file, b.line, "vessel '" + b.name + "' of class '" + b.className + "': " + e.what());
	}
	for (std::string &p : sim.TakeProblems())
		kept.push_back(std::move(p));

	VESSELSTATUS2 vs;
	std::memset(&vs, 0, sizeof vs);
	vs.version = 2;
	vs.flag = VS_FUELRESET | VS_FUELLIST | VS_THRUSTRESET | VS_THRUSTLIST | VS_DOCKINFOLIST;
	vs.port = -1;
	vs.status = -1;  // until a STATUS line says
	ScenarioBlockReader reader(file, b.lines);
	{
		ScenarioBlockReader::Loading scope(reader);
		if (VESSEL2 *cb = v->callbacks()) {
			sim.InCallback(v, [&] { cb->clbkLoadStateEx(&reader, &vs); });
		} else {
			// A plain vessel keeps its lines, each with what the host does with it, for its
			// saves to write them in their places.
			ScenarioLines::Iterator line = b.lines.begin();
			char *text;
			while (reader.Next(text)) {
				while ((*line).number != reader.currentLine())
					++line;
				LineUse use = ParseVesselLine(*v, text, &vs);
				std::vector<std::string_view> words = SplitWords(text);
				std::string key(words.empty() ? std::string_view() : words[0]);
				for (char &c : key)
					c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
				v->blockLines.push_back({std::string((*line).text), use, std::move(key)});
			}
		}
	}
	// Anything else the host found wrong while the block was being read.
	for (const std::string &p : sim.TakeProblems())
		reader.Report(p);
	for (const std::string &w : reader.warnings())
		kept.push_back(w);
	if (!reader.problems().empty()) {
		std::string all;
		for (const std::string &p : reader.problems())
			all += (all.empty() ? "" : "\n") + p;
		throw HostError(all);
	}
	if ((vs.status != 0 && vs.status != 1) || !IsKnownBody(sim, vs.rbody))
		throw HostError(file, b.line,
		                "vessel '" + b.name + "' has no state: the host needs 'STATUS Landed <body>' or 'STATUS Orbiting <body>'");
	ApplyStatus(*v, &vs, false);
	return v;
}

// The rides of a scenario's vessels, and the conics of those that fly on their own, as the real
// host makes them once every vessel exists: a child (ATTACHED) rides on its parent; of vessels
// docked together (DOCKINFO) the first in list order keeps its state and each mate rides on the
// one it is docked to. A port or point the class file does not define (the absent module's)
// keeps its line, and the vessel then rides where its own state puts it beside its mate (at
// the mate's origin without a position of its own), with a warning; so does what cannot ride
// (a mate that is not a vessel, a base landed, a ring of riders). A vessel in flight on its own
// inside its body, or whose state describes no orbit, is refused with its file and line.
class Moorings {
public:
	Moorings(Simulation &sim, const std::string &file, const std::vector<Vessel *> &created,
	         const std::vector<long> &lines, std::vector<std::string> &warnings)
		: sim_(sim), file_(file), vessels_(created), lines_(lines), warnings_(warnings), links_(created.size()) {
		for (size_t i = 0; i < created.size(); ++i)
			index_.emplace(created[i], i);
	}

	void Make() {
		Attach();
		Dock();
		BreakRings();
		// Bases before riders: each vessel once its base has its flight.
		std::vector<int> state(vessels_.size(), 0);
		for (size_t i = 0; i < vessels_.size(); ++i)
			Fly(i, state);
	}

private:
	struct Link {
		Vessel *base = nullptr;
		const Mooring *how = nullptr;
		bool attached = false;
		int ownPort = 0, basePort = 0;
	};

	void Warn(const Mooring &m, const std::string &what) { warnings_.push_back(HostError::Format(m.file, m.line, what)); }
	void Warn(size_t i, const std::string &what) {
		warnings_.push_back(HostError::Format(file_, lines_[i], "vessel '" + vessels_[i]->name + "' " + what));
	}

	Vessel *Mate(Vessel *v, const Mooring &m) {
		Vessel *mate = sim_.FindVessel(m.mate);
		if (mate == v || !mate) {
			Warn(m, "vessel '" + v->name + "': " + (m.attached ? "ATTACHED" : "DOCKINFO") + " names " +
			            (mate ? "the vessel itself" : "no vessel '" + m.mate + "'") + "; it is kept, and does nothing");
			return nullptr;
		}
		return mate;
	}

	void Attach() {
		for (size_t i = 0; i < vessels_.size(); ++i)
			for (const Mooring &m : vessels_[i]->moorings) {
				if (!m.attached)
					continue;
				Vessel *parent = Mate(vessels_[i], m);
				if (!parent)
					continue;
				if (links_[i].base) {
					Warn(m, "vessel '" + vessels_[i]->name + "' hangs on " + links_[i].base->name +
					            " already; this ATTACHED is kept, and does nothing");
					continue;
				}
				links_[i] = {parent, &m, true, m.own, m.other};
			}
	}

	// Each assembly from its first vessel in list order, mate after mate.
	void Dock() {
		struct Edge {
			size_t to;
			const Mooring *how;
			int fromPort, toPort;
		};
		std::vector<std::vector<Edge>> edges(vessels_.size());
		for (size_t i = 0; i < vessels_.size(); ++i)
			for (const Mooring &m : vessels_[i]->moorings) {
				if (m.attached)
					continue;
				Vessel *mate = Mate(vessels_[i], m);
				auto j = mate ? index_.find(mate) : index_.end();
				if (j == index_.end())
					continue;
				edges[i].push_back({j->second, &m, m.own, m.other});
				edges[j->second].push_back({i, &m, m.other, m.own});
			}
		std::vector<bool> seen(vessels_.size(), false);
		for (size_t root = 0; root < vessels_.size(); ++root) {
			if (seen[root])
				continue;
			seen[root] = true;
			std::vector<size_t> queue{root};
			for (size_t q = 0; q < queue.size(); ++q)
				for (const Edge &e : edges[queue[q]]) {
					if (seen[e.to])
						continue;
					seen[e.to] = true;
					queue.push_back(e.to);
					if (!links_[e.to].base)  // a carried vessel rides on its parent
						links_[e.to] = {vessels_[queue[q]], e.how, false, e.toPort, e.fromPort};
				}
		}
	}

	// A ring of riders has no base to start from: its first vessel in list order flies on its own.
	void BreakRings() {
		for (size_t i = 0; i < vessels_.size(); ++i) {
			size_t at = i, steps = 0;
			while (links_[at].base && steps <= vessels_.size()) {
				auto j = index_.find(links_[at].base);
				if (j == index_.end())
					break;
				at = j->second;
				++steps;
			}
			if (steps > vessels_.size()) {
				// at is on the ring: its first member in list order leaves it.
				size_t first = at;
				for (size_t k = index_.at(links_[at].base); k != at; k = index_.at(links_[k].base))
					first = std::min(first, k);
				Warn(first, "is in a ring of vessels that ride on one another; it flies on its own");
				links_[first] = Link{};
			}
		}
	}

	// The port or point of a vessel that a link names, if its class defines it.
	static std::optional<Port> PortOf(const Vessel &v, bool attached, bool toParent, int index) {
		if (!attached) {
			if (index < 0 || static_cast<size_t>(index) >= v.classItems.docks.size())
				return std::nullopt;
			const DockPort &d = v.classItems.docks[static_cast<size_t>(index)];
			return Port{d.pos, d.dir, d.rot};
		}
		int n = 0;
		for (const AttachmentPoint &a : v.classItems.attachments)
			if (a.toParent == toParent && n++ == index)
				return Port{a.pos, a.dir, a.rot};
		return std::nullopt;
	}

	void Fly(size_t i, std::vector<int> &state) {
		if (state[i] != 0)
			return;
		state[i] = 1;
		Vessel *v = vessels_[i];
		Link link = links_[i];
		if (link.base) {
			auto j = index_.find(link.base);
			if (j != index_.end())
				Fly(j->second, state);
		}
		state[i] = 2;
		if (link.base && !link.base->flight) {
			Warn(*link.how, "vessel '" + v->name + "' " + (link.attached ? "hangs on " : "is docked to ") +
			                    link.base->name + ", which is not in flight: the stand-in host carries vessels in flight "
			                                      "only; it stays where its own state puts it");
			link.base = nullptr;
		}
		if (!link.base) {
			if (v->state.status == 0)
				FlyOnOwn(i);
			return;
		}
		std::optional<Port> own = PortOf(*v, link.attached, true, link.ownPort);
		std::optional<Port> base = PortOf(*link.base, link.attached, false, link.basePort);
		std::optional<Ride> ride = own && base ? Meeting(link.base, *base, *own) : std::nullopt;
		if (!ride) {
			const FlightPose &basePose = link.base->flight->pose;
			bool placed = v->ownPosition && v->state.status == 0 && v->surfaceRef == link.base->surfaceRef;
			ride = placed ? RideAsPlaced(link.base, basePose,
			                             {{v->state.rpos, v->state.rvel}, AttitudeFromEuler(v->state.arot), v->state.vrot})
			              : Ride{link.base, _V(0, 0, 0), _M(1, 0, 0, 0, 1, 0, 0, 0, 1)};
			std::string which = !own ? (link.attached ? "point " : "port ") + std::to_string(link.ownPort) + " of its own"
			                         : (link.attached ? "point " : "port ") + std::to_string(link.basePort) + " of " +
			                               link.base->name;
			Warn(*link.how, "vessel '" + v->name + "': " + (link.attached ? "ATTACHED" : "DOCKINFO") + " names " +
			                    which + ", which its class file does not define (its module would): it " +
			                    (placed ? "rides where its own state puts it" : "rides at " + link.base->name + "'s origin"));
		}
		sim_.RideOn(v, *ride);
	}

	void FlyOnOwn(size_t i) {
		Vessel *v = vessels_[i];
		const Body *body = v->surfaceRef;
		double r = length(v->state.rpos);
		if (body && r < body->radius)
			throw HostError(file_, lines_[i],
			                "vessel '" + v->name + "' in flight is inside " + body->name + ": " + FormatShortest(r) +
			                    " m from its centre, within its radius of " + FormatShortest(body->radius) + " m");
		try {
			sim_.FlyOnOwn(v);
		} catch (const HostError &e) {
			throw HostError(file_, lines_[i], e.what());
		}
	}

	Simulation &sim_;
	const std::string &file_;
	const std::vector<Vessel *> &vessels_;
	const std::vector<long> &lines_;
	std::vector<std::string> &warnings_;
	std::vector<Link> links_;
	std::unordered_map<const Vessel *, size_t> index_;
};

// The current time as an MJD from the system's clock.
double ClockMjd() {
	using namespace std::chrono;
	double seconds = duration<double>(system_clock::now().time_since_epoch()).count();
	return 40587.0 + seconds / 86400.0;  // MJD 40587 is 1970-01-01
}

}  // namespace

void LoadScenario(Simulation &sim, const ScenarioFile &scenario,
                  const std::function<void(size_t made, size_t total)> &made) {
	size_t before = sim.vessels().size();
	double mjdBefore = sim.mjd();
	std::vector<std::string> earlier = sim.TakeProblems();
	std::vector<std::string> kept;
	// The date first: ELEMENTS are turned into states at it.
	double start = scenario.mjd ? *scenario.mjd : sim.options().now.value_or(ClockMjd());
	if (!scenario.mjd && !scenario.dateLine)
		kept.push_back(scenario.path + ": no Date in BEGIN_ENVIRONMENT; the scenario starts at the current time, as "
		                               "Orbiter starts it");
	sim.SetStartMJD(start - sim.simt() / 86400.0);
	std::vector<Vessel *> created;
	created.reserve(scenario.vessels.size());
	try {
		for (const ScenarioVesselBlock &b : scenario.vessels) {
			created.push_back(LoadVessel(sim, scenario.path, b, kept));
			if (made)
				made(created.size(), scenario.vessels.size());
		}
		std::vector<long> lines;
		for (const ScenarioVesselBlock &b : scenario.vessels)
			lines.push_back(b.line);
		Moorings(sim, scenario.path, created, lines, kept).Make();
	} catch (...) {
		// Leave the simulation as it was: the vessels made so far go again.
		while (sim.vessels().size() > before)
			sim.DeleteVessel(sim.vessels().back().get());
		sim.TakeProblems();
		for (const std::string &p : earlier)
			sim.ReportProblem(p);
		sim.SetStartMJD(mjdBefore - sim.simt() / 86400.0);
		throw;
	}
	for (const std::string &p : earlier)
		sim.ReportProblem(p);
	for (const std::string &p : kept)
		sim.ReportProblem(p);
	for (const std::string &p : scenario.warnings)
		sim.ReportProblem(p);
	if (scenario.vessels.empty() && scenario.blocksRead == 0)
		sim.ReportProblem(scenario.path + ": holds no vessels and no blocks; is it a scenario file?");
	// A focus that is not a vessel gives the first vessel the focus, as in the real host.
	Vessel *focus = scenario.focus.empty() ? nullptr : sim.FindVessel(scenario.focus);
	if (!scenario.focus.empty() && !focus && !created.empty())
		sim.ReportProblem(HostError::Format(scenario.path, scenario.focusLine,
		                                    "the focus ship '" + scenario.focus + "' is not one of the vessels; '" +
		                                        created.front()->name + "' has the focus, as Orbiter gives it"));
	sim.FinishCreation(created, focus ? focus : created.empty() ? nullptr : created.front());
	// The camera stays where the file put it until the focus moves.
	sim.SetKept({scenario.environment, scenario.blocks, ""});
}

// --- Writing ------------------------------------------------------------------------------

namespace {

// A name that reads back as itself: the reader trims lines, cuts comments at ';', splits at
// the first ':' and ends the ships at END_SHIPS.
void CheckWritable(const Vessel &v) {
	auto bad = [&](const std::string &what) {
		throw HostError("vessel '" + v.name + "' of class '" + v.className + "' cannot be saved: " + what);
	};
	if (v.name.empty() || v.className.empty())
		bad("an empty name or class");
	if (v.name.find(':') != std::string::npos)
		bad("its name contains ':'");
	if (v.name.find(';') != std::string::npos || v.className.find(';') != std::string::npos)
		bad("';' would start a comment");
	if (HasControlCharacter(v.name) || HasControlCharacter(v.className))
		bad("control characters");
	if (Trim(v.name).size() != v.name.size() || Trim(v.className).size() != v.className.size())
		bad("blanks at its start or end");
	if (StartsWithNoCase(v.name, "END_SHIPS"))
		bad("the name would end the ships");
}

// The camera block's text with each TARGET line naming target, its indentation kept.
std::string AimCamera(const std::string &text, const std::string &target) {
	std::string out;
	for (size_t pos = 0; pos < text.size();) {
		size_t eol = text.find('\n', pos);
		std::string_view line(text.data() + pos, (eol == std::string::npos ? text.size() : eol) - pos);
		pos = eol == std::string::npos ? text.size() : eol + 1;
		std::vector<std::string_view> words = SplitWords(Trim(StripComment(line)));
		if (!words.empty() && EqualsNoCase(words[0], "TARGET"))
			out.append(line.substr(0, line.find_first_not_of(" \t"))).append("TARGET ").append(target);
		else
			out.append(line);
		out.push_back('\n');
	}
	return out;
}

// The kept blocks in the real writer's places: the descriptions first, in read order; before
// the ships the camera, HUD, MFDs, then the panel or virtual cockpit (each kind in read order);
// the others after the ships, in read order.
struct BlocksInPlace {
	std::vector<const ScenarioBlock *> descriptions, beforeShips, afterShips;
};

BlocksInPlace InWriterOrder(const std::vector<ScenarioBlock> &blocks) {
	auto isOneOf = [](const ScenarioBlock &b, const auto &kinds) {
		return std::any_of(std::begin(kinds), std::end(kinds), [&](const char *kind) { return EqualsNoCase(b.name, kind); });
	};
	BlocksInPlace in;
	for (const char *kind : kInterfaceBlocks)
		for (const ScenarioBlock &b : blocks)
			if (EqualsNoCase(b.name, kind))
				in.beforeShips.push_back(&b);
	for (const ScenarioBlock &b : blocks) {
		if (isOneOf(b, kDescriptionBlocks))
			in.descriptions.push_back(&b);
		else if (!isOneOf(b, kInterfaceBlocks))
			in.afterShips.push_back(&b);
	}
	return in;
}

}  // namespace

void WriteScenario(Simulation &sim, std::ostream &out) {
	for (const auto &v : sim.vessels())
		CheckWritable(*v);
	double mjd = sim.mjd();
	if (!std::isfinite(mjd))
		throw HostError("the simulation's date is not finite and cannot be saved");

	const KeptScenario &kept = sim.kept();
	BlocksInPlace blocks = InWriterOrder(kept.blocks);
	for (const ScenarioBlock *b : blocks.descriptions)
		out << b->text << '\n';
	if (blocks.descriptions.empty())
		out << "BEGIN_DESC\nEND_DESC\n\n";
	out << "BEGIN_ENVIRONMENT\n  System Sol\n  Date MJD " << Format("%.10f", mjd) << '\n'
	    << kept.environment << "END_ENVIRONMENT\n\n";
	out << "BEGIN_FOCUS\n";
	if (Vessel *f = sim.focus())
		out << "  Ship " << f->name << '\n';
	out << "END_FOCUS\n\n";
	for (const ScenarioBlock *b : blocks.beforeShips) {
		// The real host writes the camera as it stands: on the vessel that took the focus last.
		if (EqualsNoCase(b->name, "CAMERA") && !kept.cameraTarget.empty())
			out << AimCamera(b->text, kept.cameraTarget) << '\n';
		else
			out << b->text << '\n';
	}

	out << "BEGIN_SHIPS\n";
	std::vector<std::string> earlier = sim.TakeProblems();
	auto restore = [&] {
		for (const std::string &p : earlier)
			sim.ReportProblem(p);
	};
	ScenarioSink sink(out);
	for (const auto &owned : sim.vessels()) {
		Vessel *v = owned.get();
		// The real host writes the name line before clbkSaveState and END after it.
		out << v->name << ':' << v->className << '\n';
		if (VESSEL2 *cb = v->callbacks())
			sim.InCallback(v, [&] { cb->clbkSaveState(&sink); });
		else
			WritePlainVesselLines(*v, &sink);
		out << "END\n";
		std::vector<std::string> problems = sim.TakeProblems();
		if (!problems.empty()) {
			restore();
			throw HostError(problems.front());  // names the vessel
		}
	}
	out << "END_SHIPS\n";
	for (const ScenarioBlock *b : blocks.afterShips)
		out << '\n' << b->text;
	restore();
	if (!out)
		throw HostError("the scenario could not be written");
}

// --- Saving through a temporary file -------------------------------------------------------

int SaveFileSystem::Create(const std::string &path, mode_t mode, int &fd) {
	fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | platform::kNewFileFlags, mode);
	return fd < 0 ? errno : 0;
}

int SaveFileSystem::Write(int fd, const char *data, size_t size, size_t &written) {
	written = 0;
	ssize_t n;
	do
		n = ::write(fd, data, size);
	while (n < 0 && errno == EINTR);
	if (n < 0)
		return errno;
	written = static_cast<size_t>(n);
	return 0;
}

int SaveFileSystem::Flush(int fd) { return platform::SyncFile(fd); }

int SaveFileSystem::Close(int fd) { return ::close(fd) != 0 ? errno : 0; }

int SaveFileSystem::Rename(const std::string &from, const std::string &to) {
	return platform::ReplaceFile(from, to);
}

int SaveFileSystem::Remove(const std::string &path) { return ::unlink(path.c_str()) != 0 ? errno : 0; }

SaveFileSystem &SystemFiles() {
	static SaveFileSystem files;
	return files;
}

void SaveScenario(Simulation &sim, const std::string &path) { SaveScenario(sim, path, SystemFiles()); }

namespace {

// The scenario's text for a save to path, read back to make sure that what the modules put
// in does not break the file's structure (a line END of their own, a line too long to read).
// All of the text comes first: a vessel that cannot be saved stops the save before any file
// is made.
std::string SavedText(Simulation &sim, const std::string &path) {
	std::ostringstream text;
	try {
		WriteScenario(sim, text);
	} catch (const HostError &e) {
		throw HostError(path, 0, std::string("cannot save the scenario: ") + e.what());
	}
	std::string bytes = text.str();
	try {
		ScenarioFile back = ParseScenario(bytes, path);
		bool same = back.vessels.size() == sim.vessels().size();
		for (size_t i = 0; same && i < back.vessels.size(); ++i)
			same = back.vessels[i].name == sim.vessels()[i]->name &&
			       back.vessels[i].className == sim.vessels()[i]->className;
		if (!same)
			throw HostError("its vessels would read back differently");
	} catch (const HostError &e) {
		throw HostError(path, 0, std::string("cannot save the scenario: the text would not read back: ") + e.what());
	}
	return bytes;
}

// Writes bytes to a temporary file beside path, which then replaces path: a reader sees the
// old file or the whole new one. mode is the new file's permissions: less the umask for a new
// file, as they are for one that replaces another (exact).
void WriteReplacing(SaveFileSystem &files, const std::string &path, mode_t mode, bool exact, const std::string &bytes) {
	size_t slash = path.rfind('/');
	std::string dir = slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
	std::string base = slash == std::string::npos ? path : path.substr(slash + 1);
	auto fail = [&](const std::string &what, int err) {
		throw HostError(path, 0, "cannot save the scenario: " + what + ": " + std::strerror(err));
	};

	// Beside the target, so that the rename stays on one file system.
	static unsigned long counter = 0;
	std::string tmp;
	int fd = -1;
	int err = EEXIST;
	for (int attempt = 0; attempt < 100 && err == EEXIST; ++attempt) {
		tmp = dir + "." + base + "." + std::to_string(::getpid()) + "." + std::to_string(++counter) + ".tmp";
		err = files.Create(tmp, mode, fd);
	}
	if (err)
		fail("cannot create a temporary file in '" + (dir.empty() ? std::string(".") : dir) + "'", err);
	// The bits the umask took; a file system without permissions keeps its own.
	if (exact)
		platform::SetFileMode(fd, mode);

	auto abandon = [&](const std::string &what, int e, bool open) {
		if (open)
			files.Close(fd);
		files.Remove(tmp);
		fail(what, e);
	};
	// In pieces, as the system may write less than asked.
	constexpr size_t kPiece = 65536;
	for (size_t done = 0; done < bytes.size();) {
		size_t written = 0;
		err = files.Write(fd, bytes.data() + done, std::min(kPiece, bytes.size() - done), written);
		if (!err && written == 0)
			err = EIO;
		if (err)
			abandon("write error", err, true);
		done += written;
	}
	if ((err = files.Flush(fd)))
		abandon("cannot flush the temporary file", err, true);
	if ((err = files.Close(fd)))
		abandon("cannot close the temporary file", err, false);
	if ((err = files.Rename(tmp, path)))
		abandon("cannot replace the file", err, false);
}

}  // namespace

void SaveScenario(Simulation &sim, const std::string &path, SaveFileSystem &files) {
	if (path.empty())
		throw HostError("a scenario needs a file name to be saved to");
	struct stat st;
	bool exists = ::stat(path.c_str(), &st) == 0;
	if (exists && S_ISDIR(st.st_mode))
		throw HostError(path, 0, "is a folder; give the scenario a file name");
	if (exists && !S_ISREG(st.st_mode))
		throw HostError(path, 0, "is not a regular file and is not replaced");
	// A replaced file keeps its permissions; a new one gets the usual ones less the umask.
	mode_t mode = exists ? (st.st_mode & 07777) : 0666;
	WriteReplacing(files, path, mode, exists, SavedText(sim, path));
}

void LoadVesselLines(Simulation &sim, Vessel *v, const std::vector<std::string> &lines, const std::string &file) {
	VESSEL2 *cb = v ? v->callbacks() : nullptr;
	if (!cb)
		return;
	ScenarioBlockReader reader(file, ScenarioLines(1, lines));
	VESSELSTATUS2 vs{};
	vs.version = 2;
	sim.InCallback(v, [&] { cb->clbkLoadStateEx(&reader, &vs); });
}

void SaveVesselLines(Simulation &sim, Vessel *v, std::ostream &out) {
	VESSEL2 *cb = v ? v->callbacks() : nullptr;
	if (!cb)
		return;
	ScenarioSink sink(out);
	sim.InCallback(v, [&] { cb->clbkSaveState(&sink); });
}

}  // namespace host
