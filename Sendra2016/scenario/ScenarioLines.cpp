// The rover's own lines in a scenario file: the doors, the sunscreen and the lights switch.
#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "../module/Sendra2016.h"

namespace {

// A moving part's line: "<status> <state>", the state with four decimals.
struct PartLine {
	const char *key;
	int Sendra2016::*status;
	double Sendra2016::*state;
};
const PartLine PART_LINES[3] = {
	{"DOORL", &Sendra2016::doorLeftStatus, &Sendra2016::doorLeftProc},
	{"DOORR", &Sendra2016::doorRightStatus, &Sendra2016::doorRightProc},
	{"SUNSCREEN", &Sendra2016::sunscreenStatus, &Sendra2016::sunscreenProc},
};
const char *const LIGHT_KEY = "LIGHT";  // "<switch> ", with a trailing blank

// printf into a buffer as long as the text needs: a state read from a scenario may be huge.
std::vector<char> Formatted(const char *format, int status, double state, bool withState) {
	int n = withState ? std::snprintf(0, 0, format, status, state) : std::snprintf(0, 0, format, status);
	std::vector<char> text(n > 0 ? (size_t)n + 1 : 1, '\0');
	if (n > 0) {
		if (withState)
			std::snprintf(&text[0], text.size(), format, status, state);
		else
			std::snprintf(&text[0], text.size(), format, status);
	}
	return text;
}

char Lower(char c) { return (c >= 'A' && c <= 'Z') ? (char)(c - 'A' + 'a') : c; }

// Whether line begins with key, letter case ignored; never reads past the line's end.
bool BeginsWithKey(const char *line, const char *key) {
	for (; *key; ++line, ++key)
		if (*line == '\0' || Lower(*line) != Lower(*key))
			return false;
	return true;
}

// Reads an int as scanf's %d would, but refuses a number outside the int range.
bool ReadInt(const char *&text, int &value) {
	char *end;
	errno = 0;
	long v = std::strtol(text, &end, 10);
	if (end == text || errno == ERANGE || v < INT_MIN || v > INT_MAX)
		return false;
	value = (int)v;
	text = end;
	return true;
}

// Reads a double as scanf's %lf would, but refuses a value that is not finite.
bool ReadDouble(const char *&text, double &value) {
	char *end;
	double v = std::strtod(text, &end);
	if (end == text || !std::isfinite(v))
		return false;
	value = v;
	text = end;
	return true;
}

}  // namespace

void Sendra2016::clbkSaveState(FILEHANDLE scn) {
	VESSEL2::clbkSaveState(scn);
	for (int i = 0; i < 3; ++i) {
		const PartLine &p = PART_LINES[i];
		std::vector<char> value = Formatted("%d %0.4f", this->*p.status, this->*p.state, true);
		std::string key(p.key);
		oapiWriteScenario_string(scn, &key[0], &value[0]);
	}
	std::vector<char> value = Formatted("%d ", lightsOn, 0, false);
	std::string key(LIGHT_KEY);
	oapiWriteScenario_string(scn, &key[0], &value[0]);
}

void Sendra2016::clbkLoadStateEx(FILEHANDLE scn, void *status) {
	char *line;
	while (oapiReadScenario_nextline(scn, line)) {
		for (int i = 0; i < 3; ++i) {
			const PartLine &p = PART_LINES[i];
			if (!BeginsWithKey(line, p.key))
				continue;
			// Fields are read in order; one that cannot be read ends the reading.
			const char *text = line + std::string(p.key).size();
			if (ReadInt(text, this->*p.status))
				ReadDouble(text, this->*p.state);
		}
		if (BeginsWithKey(line, LIGHT_KEY)) {
			const char *text = line + std::string(LIGHT_KEY).size();
			ReadInt(text, lightsOn);
		}
		ParseScenarioLineEx(line, status);

		SetAnimation(animDoorRight, doorRightProc);
		SetAnimation(animDoorLeft, doorLeftProc);
		for (int i = 0; i < 15; ++i)
			SetAnimation(animSunscreen[i], sunscreenProc);
	}
}
