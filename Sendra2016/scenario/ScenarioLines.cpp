// The rover's own lines in a scenario file: the doors, the sunscreen and the lights switch.
#include <cerrno>
#include <cfloat>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <cstring>

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

// Room for the longest value, "%d %0.4f" of the most negative int and the most negative double
// (a state read from a scenario may be that large): the int's 11 characters, the blank, the
// sign, 309 digits, the point, four decimals and the end.
const size_t VALUE_SIZE = 11 + 1 + 1 + (DBL_MAX_10_EXP + 1) + 1 + 4 + 1;

// Writes "key value"; the host's writer takes writable texts, so the key goes as a copy.
void WriteLine(FILEHANDLE scn, const char *key, char *value) {
	char item[16];
	FormatText(item, sizeof item, "%s", key);
	oapiWriteScenario_string(scn, item, value);
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
	char value[VALUE_SIZE];
	for (int i = 0; i < 3; ++i) {
		const PartLine &p = PART_LINES[i];
		FormatText(value, sizeof value, "%d %0.4f", this->*p.status, this->*p.state);
		WriteLine(scn, p.key, value);
	}
	FormatText(value, sizeof value, "%d ", lightsOn);
	WriteLine(scn, LIGHT_KEY, value);
}

void Sendra2016::clbkLoadStateEx(FILEHANDLE scn, void *status) {
	char *line;
	while (oapiReadScenario_nextline(scn, line)) {
		for (int i = 0; i < 3; ++i) {
			const PartLine &p = PART_LINES[i];
			if (!BeginsWithKey(line, p.key))
				continue;
			// Fields are read in order; one that cannot be read ends the reading.
			const char *text = line + std::strlen(p.key);
			if (ReadInt(text, this->*p.status))
				ReadDouble(text, this->*p.state);
		}
		if (BeginsWithKey(line, LIGHT_KEY)) {
			const char *text = line + std::strlen(LIGHT_KEY);
			ReadInt(text, lightsOn);
		}
		ParseScenarioLineEx(line, status);

		SetAnimation(animDoorRight, doorRightProc);
		SetAnimation(animDoorLeft, doorLeftProc);
		for (int i = 0; i < 15; ++i)
			SetAnimation(animSunscreen[i], sunscreenProc);
	}
}
