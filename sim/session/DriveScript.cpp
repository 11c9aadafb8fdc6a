// Reading drive scripts: every line checked, every number converted strictly, errors with
// the script's file and line.
#include "session/DriveScript.h"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fstream>

#include "sendra_host/HostError.h"
#include "sendra_host/Text.h"
#include "session/KeyNames.h"

namespace sim {

namespace {

// Longer lines are refused rather than read without bound.
const size_t kMaxLineBytes = 4096;
// So is a longer script: an hour of a key event every frame at 60 frames a second takes
// about 4 MB, and the events of 16 MB up to 200 MB of memory.
const size_t kMaxScriptBytes = size_t(16) << 20;

bool IsValidUtf8(std::string_view s) {
	size_t i = 0;
	while (i < s.size()) {
		auto c = static_cast<unsigned char>(s[i]);
		if (c < 0x80) {
			++i;
			continue;
		}
		size_t n;          // continuation bytes
		unsigned min, cp;  // the smallest code point of that length, the code point
		if ((c & 0xE0) == 0xC0)
			n = 1, min = 0x80, cp = c & 0x1Fu;
		else if ((c & 0xF0) == 0xE0)
			n = 2, min = 0x800, cp = c & 0x0Fu;
		else if ((c & 0xF8) == 0xF0)
			n = 3, min = 0x10000, cp = c & 0x07u;
		else
			return false;
		if (i + n >= s.size())
			return false;
		for (size_t k = 1; k <= n; ++k) {
			auto d = static_cast<unsigned char>(s[i + k]);
			if ((d & 0xC0) != 0x80)
				return false;
			cp = (cp << 6) | (d & 0x3Fu);
		}
		// Overlong forms, UTF-16 surrogates and code points beyond Unicode are not UTF-8.
		if (cp < min || (cp >= 0xD800 && cp <= 0xDFFF) || cp > 0x10FFFF)
			return false;
		i += n + 1;
	}
	return true;
}

// The text after the first word of s (s trimmed, the word followed by a blank or the end).
std::string_view AfterWord(std::string_view s, std::string_view word) {
	size_t start = static_cast<size_t>(word.data() - s.data()) + word.size();
	return host::Trim(s.substr(start));
}

std::string Quoted(std::string_view s) { return "'" + std::string(s) + "'"; }

// A line of a script, for messages.
struct Where {
	const std::string &label;
	long line;
};

[[noreturn]] void Fail(const Where &at, const std::string &what) { throw host::HostError(at.label, at.line, what); }

// Reads lines of a script, each bounded, and the whole script bounded too.
class LineReader {
public:
	LineReader(std::istream &in, const std::string &label) : in_(in), label_(label) {}

	// The next line without its end; false at the end of the script.
	bool Next(std::string &raw) {
		raw.clear();
		int ch;
		bool any = false;
		while ((ch = in_.get()) != std::char_traits<char>::eof()) {
			any = true;
			if (++bytes_ > kMaxScriptBytes)
				throw host::HostError(label_, number_ + 1,
				                      "the script is longer than " + std::to_string(kMaxScriptBytes >> 20) + " MB");
			if (ch == '\n')
				break;
			// A CR before the line's end is not counted: a line at the limit reads the same
			// with CRLF as with LF.
			if (raw.size() >= kMaxLineBytes && !(ch == '\r' && raw.size() == kMaxLineBytes))
				throw host::HostError(label_, number_ + 1,
				                      "the line is longer than " + std::to_string(kMaxLineBytes) + " bytes");
			raw.push_back(static_cast<char>(ch));
		}
		if (any)
			++number_;
		return any;
	}
	long number() const { return number_; }

private:
	std::istream &in_;
	const std::string &label_;
	long number_ = 0;
	size_t bytes_ = 0;
};

// The line's text without a byte-order mark, comment or blanks around it, once it is known
// to be UTF-8 text.
std::string_view Content(std::string_view line, const Where &at) {
	if (at.line == 1 && line.substr(0, 3) == "\xEF\xBB\xBF")  // a byte-order mark
		line.remove_prefix(3);
	if (line.find('\0') != std::string_view::npos)
		Fail(at, "the line contains a NUL byte");
	if (!IsValidUtf8(line))
		Fail(at, "the line is not UTF-8 text");
	size_t hash = line.find('#');
	if (hash != std::string_view::npos)
		line = line.substr(0, hash);
	return host::Trim(line);
}

// A save's file name as the script gives it, made plain ("a//./b.scn" is "a/b.scn"): a
// scenario file inside the output folder, so that a script, whoever wrote it, can neither
// write elsewhere nor put anything but a scenario there.
std::string SaveName(std::string_view name, const Where &at) {
	const std::string quoted = Quoted(name);
	if (name.front() == '/')
		Fail(at, "the save " + quoted + " is an absolute path: saves are written inside the output folder (--out); "
		         "name it relative to that folder");
	if (name.size() < 4 || !host::EqualsNoCase(name.substr(name.size() - 4), ".scn"))
		Fail(at, "the save " + quoted + " does not end in .scn: saves are scenario files");
	for (char c : name)
		if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F)
			Fail(at, "the save " + quoted + " holds a control character");
	std::string plain;
	size_t start = 0;
	while (start <= name.size()) {
		size_t slash = std::min(name.find('/', start), name.size());
		std::string_view part = name.substr(start, slash - start);
		start = slash + 1;
		if (part == "..")
			Fail(at, "the save " + quoted + " goes up a folder with '..': saves stay inside the output folder (--out)");
		if (part.empty() || part == ".")
			continue;
		plain += (plain.empty() ? "" : "/") + std::string(part);
	}
	return plain;
}

// The event of a line's words after its time.
void ParseEvent(const std::vector<std::string_view> &words, std::string_view line, ScriptEvent &e, const Where &at) {
	std::string_view kind = words[1];
	auto key = [&](std::string_view name) {
		std::optional<int> code = KeyCode(name);
		if (!code)
			Fail(at, "unknown key name " + Quoted(name) + " (an OAPI_KEY_ name without the prefix)");
		return *code;
	};
	if (kind == "key") {
		if (words.size() != 4 || (words[3] != "down" && words[3] != "up"))
			Fail(at, "expected '<t> key <NAME> down' or '<t> key <NAME> up'");
		e.kind = words[3] == "down" ? ScriptEvent::Kind::KeyDown : ScriptEvent::Kind::KeyUp;
		e.key = key(words[2]);
	} else if (kind == "tap") {
		if (words.size() != 3)
			Fail(at, "expected '<t> tap <NAME>'");
		e.kind = ScriptEvent::Kind::Tap;
		e.key = key(words[2]);
	} else if (kind == "rudder") {
		if (words.size() != 3)
			Fail(at, "expected '<t> rudder <level>'");
		std::optional<double> level = host::ParseDouble(words[2]);
		if (!level || *level < -1 || *level > 1)
			Fail(at, "the rudder level " + Quoted(words[2]) + " is not a number from -1 to 1");
		e.kind = ScriptEvent::Kind::Rudder;
		e.level = *level;
	} else if (kind == "afc") {
		std::optional<long long> mode = words.size() == 3 ? host::ParseInteger(words[2]) : std::nullopt;
		if (!mode || *mode < 0 || *mode > 7)
			Fail(at, "expected '<t> afc <mode>' with a control-surface mode from 0 to 7 (7: all surfaces, 0: none)");
		e.kind = ScriptEvent::Kind::Afc;
		e.mode = static_cast<int>(*mode);
	} else if (kind == "save" || kind == "focus") {
		std::string_view rest = AfterWord(line, kind);
		if (rest.empty())
			Fail(at, kind == "save" ? "expected '<t> save <NAME.scn>'" : "expected '<t> focus <VESSEL>'");
		e.kind = kind == "save" ? ScriptEvent::Kind::Save : ScriptEvent::Kind::Focus;
		e.text = kind == "save" ? SaveName(rest, at) : std::string(rest);
	} else {
		Fail(at, "unknown event " + Quoted(kind) + " (key, tap, rudder, afc, save or focus)");
	}
}

}  // namespace

DriveScript ParseDriveScript(std::istream &in, const std::string &label) {
	DriveScript script;
	script.label = label;
	LineReader reader(in, label);
	std::string raw;
	double previous = 0;
	while (reader.Next(raw)) {
		const Where at{label, reader.number()};
		std::string_view line = Content(raw, at);
		if (line.empty())
			continue;
		std::vector<std::string_view> words = host::SplitWords(line);
		ScriptEvent e;
		e.line = reader.number();
		std::optional<double> t = host::ParseDouble(words[0]);
		if (!t || *t < 0)
			Fail(at, "the time " + Quoted(words[0]) + " is not a finite number of seconds >= 0");
		if (!script.events.empty() && *t < previous)
			Fail(at, "the time " + std::string(words[0]) + " is earlier than the previous event's " +
			     host::FormatShortest(previous) + "; times must not decrease");
		e.t = *t;
		if (words.size() < 2)
			Fail(at, "an event is missing after the time");
		ParseEvent(words, line, e, at);
		previous = e.t;
		script.events.push_back(std::move(e));
	}
	if (in.bad())
		throw host::HostError(label, 0, "cannot read the drive script");
	return script;
}

DriveScript ReadDriveScript(const std::string &path) {
	// Only a regular file: a folder would read as an empty script, and a pipe could block.
	struct stat st;
	if (::stat(path.c_str(), &st) != 0)
		throw host::HostError(path, 0, std::string("cannot open the drive script: ") + std::strerror(errno));
	if (S_ISDIR(st.st_mode))
		throw host::HostError(path, 0, "is a folder, not a drive script");
	if (!S_ISREG(st.st_mode))
		throw host::HostError(path, 0, "is not a regular file");
	std::ifstream in(path, std::ios::binary);
	if (!in)
		throw host::HostError(path, 0, std::string("cannot open the drive script: ") + std::strerror(errno));
	return ParseDriveScript(in, path);
}

std::string DescribeEvent(const ScriptEvent &e) {
	auto keyName = [&] {
		const char *name = KeyNameOf(e.key);
		return std::string(name ? name : "?");
	};
	switch (e.kind) {
	case ScriptEvent::Kind::KeyDown: return "key " + keyName() + " down";
	case ScriptEvent::Kind::KeyUp: return "key " + keyName() + " up";
	case ScriptEvent::Kind::Tap: return "tap " + keyName();
	case ScriptEvent::Kind::Rudder: return "rudder " + host::FormatShortest(e.level);
	case ScriptEvent::Kind::Afc: return "afc " + std::to_string(e.mode);
	case ScriptEvent::Kind::Save: return "save " + e.text;
	case ScriptEvent::Kind::Focus: return "focus " + e.text;
	}
	return std::string();
}

}  // namespace sim
