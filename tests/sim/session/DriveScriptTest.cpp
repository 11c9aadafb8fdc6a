// Drive scripts through the library: the key-name table against the SDK header, and the
// reader's handling of real-world text.
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <sstream>

#include "sendra_host/HostError.h"
#include "session/DriveScript.h"
#include "session/KeyNames.h"

namespace {

sim::DriveScript Parse(const std::string &text) {
	std::istringstream in(text);
	return sim::ParseDriveScript(in, "s.txt");
}

std::string ParseError(const std::string &text) {
	try {
		Parse(text);
	} catch (const host::HostError &e) {
		return e.what();
	}
	return "(no error)";
}

}  // namespace

TEST(SimPieces, KeyNamesCoverEveryKeyOfTheSdkHeader) {
	std::ifstream header(SENDRA_SDK_HEADER);
	ASSERT_TRUE(header);
	size_t count = 0;
	for (std::string line; std::getline(header, line);) {
		std::istringstream words(line);
		std::string define, name, value;
		words >> define >> name >> value;
		if (define != "#define" || name.rfind("OAPI_KEY_", 0) != 0)
			continue;
		++count;
		name = name.substr(9);
		int code = static_cast<int>(std::strtol(value.c_str(), nullptr, 16));
		EXPECT_EQ(sim::KeyCode(name), code) << name;
		EXPECT_STREQ(sim::KeyNameOf(code), name.c_str());
	}
	EXPECT_EQ(count, static_cast<size_t>(sim::KeyNamesEnd() - sim::KeyNamesBegin()));
	EXPECT_EQ(sim::KeyCode("numpad8"), sim::KeyCode("NUMPAD8"));
	EXPECT_FALSE(sim::KeyCode("OAPI_KEY_J"));
}

TEST(SimPieces, DriveScriptsReadAsUsersWriteThem) {
	// A byte-order mark, CRLF line ends, comments, blank lines, blanks around everything,
	// equal times in file order, and file and vessel names with blanks.
	sim::DriveScript s = Parse(
		"\xEF\xBB\xBF# a drive\r\n"
		"\r\n"
		"  0.5\ttap   NUMPAD8  # forward\r\n"
		"0.5 key add down\n"
		"1e1 rudder -1\n"
		"10 save my runs/saved one.scn\n"
		"10 focus Rover \xE2\x80\x94 2\xEE\x80\x80\n"  // a dash and the first private character
		"10 afc 5\r\n"
		"11 tap V # " + std::string(4096 - 11, '-') + "\r\n");  // at the line limit, and its CR
	ASSERT_EQ(s.events.size(), 7u);
	using K = sim::ScriptEvent::Kind;
	EXPECT_EQ(s.events[0].kind, K::Tap);
	EXPECT_EQ(s.events[0].line, 3);
	EXPECT_EQ(s.events[0].t, 0.5);
	EXPECT_EQ(s.events[1].kind, K::KeyDown);
	EXPECT_EQ(sim::DescribeEvent(s.events[1]), "key ADD down");
	EXPECT_EQ(s.events[2].level, -1.0);
	EXPECT_EQ(s.events[2].t, 10.0);
	EXPECT_EQ(s.events[3].text, "my runs/saved one.scn");
	EXPECT_EQ(s.events[4].text, "Rover \xE2\x80\x94 2\xEE\x80\x80");
	EXPECT_EQ(s.events[5].kind, K::Afc);
	EXPECT_EQ(sim::DescribeEvent(s.events[5]), "afc 5");
	EXPECT_TRUE(Parse("").events.empty());

	// Text that is not a drive script is refused with its line.
	EXPECT_EQ(ParseError("1 tap V\n\xF0\x9F\x98\n"), "s.txt:2: the line is not UTF-8 text");
	EXPECT_EQ(ParseError("1 tap \xC0\xAF\n"), "s.txt:1: the line is not UTF-8 text");  // overlong '/'
	EXPECT_EQ(ParseError("1 tap \xED\xBF\xBF\n"), "s.txt:1: the line is not UTF-8 text");  // the last surrogate
	EXPECT_EQ(ParseError(std::string("1 tap V\0\n", 9)), "s.txt:1: the line contains a NUL byte");
	EXPECT_EQ(ParseError("1 tap V\n" + std::string(5000, 'x')), "s.txt:2: the line is longer than 4096 bytes");
	EXPECT_EQ(ParseError("1e400 tap V\n"), "s.txt:1: the time '1e400' is not a finite number of seconds >= 0");
	EXPECT_EQ(ParseError("1 tap\n"), "s.txt:1: expected '<t> tap <NAME>'");
	EXPECT_EQ(ParseError("1 rudder nan\n"), "s.txt:1: the rudder level 'nan' is not a number from -1 to 1");
	for (const char *afc : {"1 afc 8\n", "1 afc -1\n", "1 afc 7.0\n", "1 afc\n"})
		EXPECT_EQ(ParseError(afc).rfind("s.txt:1: expected '<t> afc <mode>' with a control-surface mode from 0 to 7", 0), 0u)
		    << afc;
	EXPECT_EQ(ParseError("1 tap V # " + std::string(4096 - 9, '-') + "\r\n"), "s.txt:1: the line is longer than 4096 bytes");
	EXPECT_EQ(ParseError("2\n"), "s.txt:1: an event is missing after the time");
}
