// sendra-sim's failures end to end: usage errors (status 2, one line and where the help is)
// and invalid input (status 3, "sendra-sim: FILE:LINE: what is wrong"), never leaving a
// partial output.
#include <gtest/gtest.h>

#include "SimProgram.h"

using namespace sim_testing;

namespace {

// The error: the last line on stderr (warnings about the scenario may come before it).
std::string ErrorLine(const std::string &err) {
	std::vector<std::string> lines = Lines(err);
	return lines.empty() ? std::string() : lines.back();
}

}  // namespace

TEST(SimErrors, OptionValuesOutsideTheirRangesAreUsageErrors) {
	Scratch s;
	const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
		{{"--dt", "0"}, "--dt: '0' is not"},
		{{"--dt", "0.02,-1"}, "--dt: '0.02,-1' is not"},
		{{"--dt", "0.02,"}, "--dt"},
		{{"--dt", "nan"}, "--dt"},
		{{"--duration", "-1"}, "--duration: '-1' is not"},
		{{"--duration", "inf"}, "--duration: 'inf' is not"},
		{{"--duration", "1e300"}, "--duration: 1e+300 s is too long for a step of 0.02 s"},
		{{"--hud", "0x768"}, "--hud: '0x768' is not"},
		{{"--hud", "1024x16385"}, "--hud"},
		{{"--hud", "wide"}, "--hud"},
		{{"--rudder-delay", "-0.5"}, "--rudder-delay: '-0.5' is not"},
		{{"--record-every", "0"}, "--record-every: '0' is not"},
		{{"--record-every", "1.5"}, "--record-every"},
		{{"--terrain", "craters"}, "--terrain: 'craters' is not flat or hills"},
		{{"--flight-model", "one"}, "--flight-model"},
		{{"--bogus"}, "--bogus"},
		{{"a.scn", "b.scn"}, "b.scn"},
		{{"inspect", "--dt", "0.1"}, "--dt"},
	};
	for (const auto &[args, message] : cases) {
		ProgramResult r = s.Run(args);
		EXPECT_EQ(r.status, 2) << args[0] << ' ' << r.err;
		EXPECT_EQ(r.err.rfind("sendra-sim: ", 0), 0u) << r.err;
		EXPECT_NE(r.err.find(message), std::string::npos) << r.err;
		// One line, and where the help is.
		EXPECT_EQ(Lines(r.err).size(), 2u) << r.err;
		EXPECT_EQ(ErrorLine(r.err).rfind("Run 'sendra-sim help", 0), 0u) << r.err;
		EXPECT_EQ(r.out, "");
		EXPECT_TRUE(s.Files("sendra-out").empty());
	}
}

TEST(SimErrors, InvalidInputNamesFileAndLineAndLeavesNoOutput) {
	Scratch s;
	const std::vector<std::pair<std::string, std::string>> scripts = {
		{"0 tap V\n1 jump\n", "drive.txt:2: unknown event 'jump'"},
		{"# comment\n\n5 tap V\n4 tap J\n", "drive.txt:4: the time 4 is earlier than the previous event's 5"},
		{"1 tap NUMPAD99\n", "drive.txt:1: unknown key name 'NUMPAD99'"},
		{"1 key ADD sideways\n", "drive.txt:1: expected '<t> key <NAME> down'"},
		{"soon tap V\n", "drive.txt:1: the time 'soon' is not"},
		{"-1 tap V\n", "drive.txt:1: the time '-1' is not"},
		{"1 rudder 1.5\n", "drive.txt:1: the rudder level '1.5' is not"},
		{"1 save\n", "drive.txt:1: expected '<t> save <NAME.scn>'"},
		{"1 tap V\n2 focus Nobody\n", "drive.txt:2: unknown vessel 'Nobody'"},
		{"1 tap \xC3\x28\n", "drive.txt:1: the line is not UTF-8 text"},
	};
	for (const auto &[script, message] : scripts) {
		s.Write("drive.txt", script);
		ProgramResult r = s.Run({"--script", "drive.txt"});
		EXPECT_EQ(r.status, 3) << script;
		EXPECT_EQ(ErrorLine(r.err).rfind("sendra-sim: " + message, 0), 0u) << r.err;
		EXPECT_EQ(r.out, "");
		EXPECT_TRUE(s.Files("sendra-out").empty()) << script;
	}

	// Files that cannot be read.
	ProgramResult r = s.Run({"missing.scn"});
	EXPECT_EQ(r.status, 3);
	EXPECT_EQ(r.err.rfind("sendra-sim: missing.scn", 0), 0u) << r.err;
	r = s.Run({"inspect", "missing.scn"});
	EXPECT_EQ(r.status, 3);
	EXPECT_EQ(r.err.rfind("sendra-sim: missing.scn", 0), 0u) << r.err;
	r = s.Run({"--script", "missing.txt"});
	EXPECT_EQ(r.status, 3);
	EXPECT_EQ(r.err.rfind("sendra-sim: missing.txt: cannot open the drive script", 0), 0u) << r.err;
	s.Write("bad.scn", "BEGIN_SHIPS\nX:NoSuchClass\nEND\nEND_SHIPS\n");
	r = s.Run({"bad.scn"});
	EXPECT_EQ(r.status, 3);
	EXPECT_EQ(ErrorLine(r.err).rfind("sendra-sim: bad.scn:2: ", 0), 0u) << r.err;
	EXPECT_NE(r.err.find("NoSuchClass"), std::string::npos) << r.err;
	r = s.Run({"--root", "nowhere"});
	EXPECT_EQ(r.status, 3);
	EXPECT_TRUE(s.Files("sendra-out").empty());
}

TEST(SimErrors, AFailureDuringARunKeepsTheEarlierOutputsWhole) {
	Scratch s;
	s.Write("empty.txt", "");
	ASSERT_EQ(s.Run({"--script", "empty.txt", "--duration", "0.1"}).status, 0);
	std::string trajectory = s.Read("sendra-out/trajectory.csv");

	// A disk that fills up (a file-size limit, with SIGXFSZ as a shell leaves it) while
	// trajectory.csv grows: the run stops at once, within its first minute of 600 s, and names
	// the file that filled the disk; the earlier outputs stay whole and no staged file is left.
	s.Write("drive.txt", "0.5 save halfway.scn\n");
	ProgramResult r = s.Run({"--script", "drive.txt", "--duration", "600"}, 200000);
	EXPECT_EQ(r.status, 3) << r.signal;
	EXPECT_EQ(ErrorLine(r.err), "sendra-sim: ./sendra-out/trajectory.csv: cannot write the file: File too large");
	EXPECT_LT(Lines(r.out).size(), 60u);
	EXPECT_EQ(s.Files("sendra-out"),
	          (std::vector<std::string>{"final.scn", "hud.csv", "pose.png", "track.svg", "trajectory.csv"}));
	EXPECT_EQ(s.Read("sendra-out/trajectory.csv"), trajectory);

	// An output folder that is a file.
	s.Write("taken", "");
	r = s.Run({"--script", "empty.txt", "--out", "taken"});
	EXPECT_EQ(r.status, 3);
	EXPECT_EQ(ErrorLine(r.err).rfind("sendra-sim: taken", 0), 0u) << r.err;
}
