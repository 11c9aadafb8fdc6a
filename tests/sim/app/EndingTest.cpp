// How run and inspect end when the world is against them: a terminating signal, a standard
// output that cannot be written or whose reader has gone, and names of any bytes. The program
// is started as a shell starts it: every signal with its default disposition.
#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "SimProgram.h"

using namespace sim_testing;
namespace fs = std::filesystem;

namespace {

// Files under folder staged in a command's own hidden folder, counted again when a folder goes
// away during the walk (the program stages and removes beside it).
size_t StagedFiles(const fs::path &folder) {
	for (;;) {
		size_t n = 0;
		std::error_code ec;
		fs::recursive_directory_iterator it(folder, ec), end;
		for (; !ec && it != end; it.increment(ec))
			n += it->path().parent_path().filename().string().rfind(".sendra-staging-", 0) == 0;
		if (!ec || !fs::exists(folder))
			return ec ? 0 : n;
	}
}

Launch StdoutTo(Launch::Stdout to, bool pipeIgnored = false) {
	Launch l;
	l.stdoutTo = to;
	l.pipeIgnored = pipeIgnored;
	return l;
}

}  // namespace

TEST(SimEnding, AnEndSignalRemovesTheStagedFilesAndFoldersAndEndsTheProgramByIt) {
	Scratch s;
	s.Write("empty.txt", "");
	ASSERT_EQ(s.Run({"--script", "empty.txt", "--duration", "0.1"}).status, 0);
	const std::vector<std::string> outputs = s.Files("sendra-out");
	const std::string trajectory = s.Read("sendra-out/trajectory.csv");
	// The save makes a subfolder and a staged scenario, which the signal must take away too.
	s.Write("drive.txt", "0.02 save saves/early.scn\n");
	for (int signal : {SIGINT, SIGTERM, SIGHUP}) {
		pid_t pid = s.Start({"--script", "drive.txt", "--duration", "100000", "--quiet"}, Launch{});
		ASSERT_GT(pid, 0);
		// Both the run's files and the save are staged some frames in.
		for (int i = 0; i < 6000 && StagedFiles(s / "sendra-out") < 6; ++i)
			std::this_thread::sleep_for(std::chrono::milliseconds(10));
		ASSERT_EQ(StagedFiles(s / "sendra-out"), 6u);
		::kill(pid, signal);
		ProgramResult r = s.Finish(pid);
		EXPECT_EQ(r.signal, signal) << r.status << ' ' << r.err;
		EXPECT_NE(r.err.find("this command's outputs were not written"), std::string::npos) << r.err;
		EXPECT_EQ(s.Files("sendra-out"), outputs) << signal;
		EXPECT_EQ(s.Read("sendra-out/trajectory.csv"), trajectory);
	}
}

TEST(SimEnding, StandardOutputThatCannotBeWrittenFailsTheCommandAndAGoneReaderEndsItSilently) {
	Scratch s;
	s.Write("empty.txt", "");
	// A full disk or a file-size limit (SIGXFSZ left to its default) under standard output.
	ProgramResult r = s.Run({"inspect"}, 4096);
	EXPECT_EQ(r.status, 3) << r.signal;
	EXPECT_EQ(r.err, "sendra-sim: cannot write to standard output: File too large\n");
	for (const std::vector<std::string> &args :
	     {std::vector<std::string>{"inspect"}, {"--help"}, {"--script", "empty.txt"}}) {
		r = s.Run(args, StdoutTo(Launch::Stdout::DevFull));
		EXPECT_EQ(r.status, 3) << args[0];
		EXPECT_EQ(Lines(r.err).back(), "sendra-sim: cannot write to standard output: No space left on device");
	}
	// The run's files are not kept when its lines and summary were lost.
	EXPECT_FALSE(fs::exists(s / "sendra-out"));

	// inspect | head: the program ends by SIGPIPE as other tools do, without a word, and a run
	// keeps nothing. Started with SIGPIPE ignored, it is an error like any other.
	for (const std::vector<std::string> &args : {std::vector<std::string>{"inspect"}, {"--script", "empty.txt"}}) {
		r = s.Run(args, StdoutTo(Launch::Stdout::ClosedPipe));
		EXPECT_EQ(r.signal, SIGPIPE) << args[0] << ' ' << r.status;
		EXPECT_EQ(r.err, "");
	}
	EXPECT_FALSE(fs::exists(s / "sendra-out"));
	r = s.Run({"inspect"}, StdoutTo(Launch::Stdout::ClosedPipe, true));
	EXPECT_EQ(r.status, 3);
	EXPECT_EQ(r.err, "sendra-sim: cannot write to standard output: Broken pipe\n");
}

TEST(SimEnding, NamesOfAnyBytesReachNeitherTheTerminalNorTheFilesAsCommands) {
	Scratch s;
	// A Latin-1 name: JSON holds only Unicode, so the byte becomes U+FFFD.
	s.Write("latin.scn", RoverScenario({{"Caf\xE9", 0, 0, 0}, {"=1+2", 0.01, 0, 0}, {"-x\"y\"", 0.02, 0, 0}}));
	ProgramResult r = s.Run({"inspect", "latin.scn"});
	ASSERT_EQ(r.status, 0) << r.err;
	EXPECT_NE(r.out.find("\"name\": \"Caf\xEF\xBF\xBD\""), std::string::npos);
	fs::create_directory_symlink(SENDRA_ORBITER_ROOT, s / "root\xFF");
	r = s.Run({"inspect", "--root", "root\xFF"});
	ASSERT_EQ(r.status, 0) << r.err;
	EXPECT_NE(r.out.find("\"path\": \"root\xEF\xBF\xBD/Modules/"), std::string::npos) << r.out.substr(0, 200);

	// Formula-like names are quoted in the CSV and read back exactly.
	s.Write("drive.txt", "0.1 focus =1+2\n");
	r = s.Run({"latin.scn", "--script", "drive.txt", "--duration", "0.1", "--quiet"});
	ASSERT_EQ(r.status, 0) << r.err;
	std::vector<std::string> rows = Lines(s.Read("sendra-out/trajectory.csv"));
	ASSERT_EQ(rows.size(), 1u + 5 * 3);
	EXPECT_EQ(rows[2].rfind("1,0.02,\"=1+2\",", 0), 0u) << rows[2];
	std::vector<std::string> names;
	for (size_t i = 1; i <= 3; ++i)
		names.push_back(CsvFields(rows[i])[2]);
	EXPECT_EQ(names, (std::vector<std::string>{"Caf\xE9", "=1+2", "-x\"y\""}));

	// Control characters in names given to the program are escaped in its messages.
	s.Write("drive.txt", "0.1 focus \x1b[2J\n");
	r = s.Run({"latin.scn", "--script", "drive.txt"});
	EXPECT_EQ(r.status, 3);
	EXPECT_EQ(Lines(r.err).back(), "sendra-sim: drive.txt:1: unknown vessel '\\x1b[2J' in the focus event");
	r = s.Run({"--script", "drive\x1b]0;x\x07.txt"});
	EXPECT_EQ(r.status, 3);
	EXPECT_EQ(r.err.find('\x1b'), std::string::npos) << r.err;
	EXPECT_NE(r.err.find("drive\\x1b]0;x\\x07.txt"), std::string::npos) << r.err;
}
