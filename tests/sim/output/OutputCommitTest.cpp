// A run's outputs are all the old ones or all the new ones whatever happens while they are put
// in place: a rename that fails, a stop signal, a kill (finished by the next run on the
// folder), a second run on the folder, a save's folder turned into a link. The file system's
// failures and the exact moments are made by the fault-injecting wrapper, not by timing.
#include <gtest/gtest.h>
#include <signal.h>

#include <map>

#include "SimProgram.h"
#include "output/OutputSet.h"

using namespace sim_testing;
namespace fs = std::filesystem;

namespace {

// Everything under folder, hidden entries too: files by content, folders as "/".
std::map<std::string, std::string> Tree(const fs::path &folder) {
	std::map<std::string, std::string> tree;
	std::error_code ec;
	for (const auto &e : fs::recursive_directory_iterator(folder, ec))
		tree[fs::relative(e.path(), folder).string()] = e.is_directory() ? "/" : ReadFile(e.path());
	return tree;
}

// The names whose entries differ between a and b, for a failure's message.
std::string Diff(const std::map<std::string, std::string> &a, const std::map<std::string, std::string> &b) {
	std::string names;
	for (const auto *m : {&a, &b})
		for (const auto &[name, content] : *m)
			if (!a.count(name) || !b.count(name) || a.at(name) != b.at(name))
				names += (names.empty() ? "" : " ") + name;
	return names;
}

// How many of old's files now hold something else.
size_t Changed(const std::map<std::string, std::string> &old, const std::map<std::string, std::string> &now) {
	size_t n = 0;
	for (const auto &[name, content] : old)
		n += content != "/" && (!now.count(name) || now.at(name) != content);
	return n;
}

std::string LastLine(const std::string &text) {
	std::vector<std::string> lines = Lines(text);
	return lines.empty() ? std::string() : lines.back();
}

Launch Faults(const std::string &rules) {
	Launch l;
	l.faults = rules;
	return l;
}

// A folder o holding the outputs of one run (a), and the arguments of another (b) whose every
// output differs from a's, its save included.
struct TwoRuns {
	TwoRuns() {
		s.Write("a.txt", "0.02 save sub/s.scn\n");
		s.Write("b.txt", "0.06 save sub/s.scn\n");
		EXPECT_EQ(s.Run(a).status, 0);
		old = Tree(s / "o");
		EXPECT_EQ(old.size(), 7u);
	}
	Scratch s;
	const std::string out = (s / "o").string();
	const std::vector<std::string> a{"--script", "a.txt", "--duration", "0.1", "--out", "o", "--quiet"};
	const std::vector<std::string> b{"--script", "b.txt", "--duration", "0.2", "--out", "o", "--quiet"};
	std::map<std::string, std::string> old;
};

}  // namespace

TEST(OutputCommit, AFailureOrAStopSignalWhileTheOutputsArePutInPlaceLeavesOneWholeSetAndSaysWhich) {
	TwoRuns t;
	// A folder where pose.png goes: refused before anything is replaced.
	fs::remove(t.s / "o/pose.png");
	fs::create_directory(t.s / "o/pose.png");
	ProgramResult r = t.s.Run(t.b);
	EXPECT_EQ(r.status, 3);
	EXPECT_EQ(LastLine(r.err), "sendra-sim: o/pose.png: cannot write the file: Is a directory");
	EXPECT_EQ(Changed(t.old, Tree(t.s / "o")), 1u);
	fs::remove(t.s / "o/pose.png");
	WriteFile(t.s / "o/pose.png", t.old.at("pose.png"));

	// A backup, a rename or the last step that fails: the old set is back, without the file
	// that had no old one (final.scn), and the file is named.
	fs::remove(t.s / "o/final.scn");
	t.old = Tree(t.s / "o");
	const std::pair<std::string, std::string> failures[] = {
		{"link@/b3=EIO", "o/track.svg: cannot write the file: Input/output error"},
		{"rename@/o/hud.csv=EXDEV", "o/hud.csv: cannot write the file: Invalid cross-device link"},
		{"rename@/o/sub/s.scn=EIO", "o/sub/s.scn: cannot write the file: Input/output error"},
		{"unlink@/journal=EROFS", "o: cannot put the outputs in place: Read-only file system"},
		// Without hard links the old files are moved aside instead, and moved back.
		{"link#1+=EPERM;rename@/o/sub/s.scn=EIO", "o/sub/s.scn: cannot write the file: Input/output error"},
	};
	for (const auto &[rule, message] : failures) {
		r = t.s.Run(t.b, Faults(rule));
		EXPECT_EQ(r.status, 3) << rule;
		EXPECT_EQ(LastLine(r.err), "sendra-sim: " + message) << rule;
		EXPECT_EQ(Diff(Tree(t.s / "o"), t.old), "") << rule;
	}

	// A stop signal in the middle is held until the old set is back; one that comes once the
	// new set is complete, until that is tidied up: each says what it left.
	r = t.s.Run(t.b, Faults("rename@/o/hud.csv=TERM"));
	EXPECT_EQ(r.signal, SIGTERM);
	EXPECT_EQ(r.err, "sendra-sim: terminated (SIGTERM): this command's outputs were not written\n");
	EXPECT_EQ(Diff(Tree(t.s / "o"), t.old), "");
	r = t.s.Run(t.b, Faults("unlink@/b0=INT"));
	EXPECT_EQ(r.signal, SIGINT);
	EXPECT_EQ(r.err, "sendra-sim: interrupted (SIGINT) after this command's outputs were written\n");
	std::map<std::string, std::string> fresh = Tree(t.s / "o");
	EXPECT_EQ(fresh.size(), t.old.size() + 1);
	EXPECT_EQ(Changed(t.old, fresh), 5u);
}

TEST(OutputCommit, AKillWhileTheOutputsArePutInPlaceIsUndoneByTheNextRunAndRunsNeverShareAFolder) {
	TwoRuns t;
	// Killed before the Nth rename in the folder, for every N: the next run on it, even one that
	// then fails, first puts the old set back, without the files that had no old one.
	fs::remove(t.s / "o/track.svg");
	t.old = Tree(t.s / "o");
	int n = 1;
	for (;; ++n) {
		ProgramResult r = t.s.Run(t.b, Faults("rename@" + t.out + "/#" + std::to_string(n) + "=KILL"));
		if (r.status == 0)
			break;
		ASSERT_EQ(r.signal, SIGKILL) << n << r.err;
		EXPECT_NE(Diff(Tree(t.s / "o"), t.old), "") << n << ": nothing left to put back";
		r = t.s.Run({"--script", "missing.txt", "--out", "o"});
		EXPECT_EQ(r.status, 3);
		EXPECT_EQ(Diff(Tree(t.s / "o"), t.old), "") << n;
	}
	EXPECT_EQ(n, 9) << "its staging folder, the journal and six files";
	EXPECT_EQ(Changed(t.old, Tree(t.s / "o")), 5u);
	// A failure after which the old set cannot be put back either: the next run puts it back.
	ASSERT_EQ(t.s.Run(t.a).status, 0);
	t.old = Tree(t.s / "o");
	ProgramResult r = t.s.Run(t.b, Faults("rename@/o/hud.csv=EIO;rename@/o/trajectory.csv#2=EIO"));
	EXPECT_EQ(LastLine(r.err), "sendra-sim: o/hud.csv: cannot write the file: Input/output error; the old outputs could "
	                           "not all be put back, and the next run on o puts them back first");
	EXPECT_EQ(Changed(t.old, Tree(t.s / "o")), 1u);
	EXPECT_EQ(t.s.Run({"--script", "missing.txt", "--out", "o"}).status, 3);
	EXPECT_EQ(Diff(Tree(t.s / "o"), t.old), "");
	// A journal that is not one (one that would lead out of the folder, or one too long to be
	// read, beyond what a commit writes) is no licence to move or remove anything: the message
	// says what the folder holds and what to do.
	fs::create_directory(t.s / "o/.sendra-staging-zzzzzz");
	t.s.Write("o/.sendra-staging-zzzzzz/b0", "kept");
	for (size_t size : {size_t{0}, (size_t{64} << 20) + 1}) {
		std::string journal = "0 1 ../outside.scn\n";
		journal.resize(std::max(journal.size(), size), '\n');
		t.s.Write("o/.sendra-staging-zzzzzz/journal", journal);
		r = t.s.Run(t.a);
		EXPECT_EQ(r.status, 3);
		EXPECT_EQ(LastLine(r.err),
		          "sendra-sim: o: cannot put back what a command that ended while it put its outputs in place left in "
		          "o/.sendra-staging-zzzzzz (journal" +
		              std::string(size > 0 ? ": is larger than a journal is" : ":1: is not a line of a journal") +
		              "). The files there named b0, b1, ... are the outputs that command replaced, the others its new "
		              "ones, and its journal says which is which: move out what you want to keep, then remove "
		              "o/.sendra-staging-zzzzzz and run the command again");
		EXPECT_EQ(t.s.Read("o/.sendra-staging-zzzzzz/b0"), "kept");
		EXPECT_FALSE(fs::exists(t.s / "outside.scn"));
	}
	fs::remove_all(t.s / "o/.sendra-staging-zzzzzz");

	// A second run while one puts its outputs in place ends at once; the first completes.
	ASSERT_EQ(t.s.Run(t.a).status, 0);
	pid_t first = t.s.Start(t.a, Faults("rename@/o/hud.csv=STOP"));
	ASSERT_TRUE(WaitStopped(first));
	ProgramResult second = t.s.Run(t.b);
	EXPECT_EQ(second.status, 3);
	EXPECT_EQ(LastLine(second.err), "sendra-sim: o: another run is writing its outputs to this folder; give this one "
	                                "another --out, or run it again once that one has ended");
	::kill(first, SIGCONT);
	EXPECT_EQ(t.s.Finish(first).status, 0);
	EXPECT_EQ(Diff(Tree(t.s / "o"), t.old), "");
}

TEST(OutputCommit, ASavesFolderIsOpenedWithoutLinksWhenItIsWrittenAndLongNamesThatPassTheCheckPassTheWrite) {
	Scratch s;
	fs::create_directory(s / "victim");
	const std::string longName = "sub/" + std::string(251, 'n') + ".scn";
	s.Write("long.txt", "0.02 save " + longName + "\n");
	const std::vector<std::string> run{"--script", "long.txt", "--duration", "0.1", "--out", "o", "--quiet"};
	ProgramResult r = s.Run(run);
	ASSERT_EQ(r.status, 0) << r.err;
	EXPECT_TRUE(fs::is_regular_file(s / "o" / longName));
	const std::map<std::string, std::string> old = Tree(s / "o");
	const std::string longerName = "sub/n" + longName.substr(4);
	s.Write("longer.txt", "0.02 save " + longerName + "\n");
	r = s.Run({"--script", "longer.txt", "--out", "o"});
	EXPECT_EQ(r.status, 3);
	EXPECT_EQ(LastLine(r.err), "sendra-sim: longer.txt:1: the save '" + longerName +
	                               "' is too long: a file name in o may have at most 255 bytes");

	// The save's folder turned into a link after the script was checked: refused when the save
	// is written, and when the outputs are put in place.
	for (const std::string moment : {"mkdir@/o/.sendra-new", "rename@/o/trajectory.csv"}) {
		pid_t pid = s.Start(run, Faults(moment + "=STOP"));
		ASSERT_TRUE(WaitStopped(pid)) << moment;
		fs::rename(s / "o/sub", s / "sub.kept");
		fs::create_directory_symlink(s / "victim", s / "o/sub");
		::kill(pid, SIGCONT);
		r = s.Finish(pid);
		EXPECT_EQ(r.status, 3) << moment;
		EXPECT_NE(LastLine(r.err).find(" o/sub: is a symbolic link"), std::string::npos) << r.err;
		EXPECT_TRUE(fs::is_empty(s / "victim")) << moment;
		fs::remove(s / "o/sub");
		fs::rename(s / "sub.kept", s / "o/sub");
		EXPECT_EQ(Diff(Tree(s / "o"), old), "") << moment;
	}
}

TEST(OutputCommit, AFolderOpenedAsDescriptorZeroIsClosedLikeAnyOther) {
	// A program started with its standard input closed opens its first folder as descriptor 0.
	int stdinCopy = ::dup(0);
	ASSERT_GE(stdinCopy, 0);
	::close(0);
	{
		sim::Fd folder(::open(".", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
		EXPECT_EQ(folder.get(), 0);
		sim::Fd other;
		other = std::move(folder);
	}
	EXPECT_EQ(::fcntl(0, F_GETFD), -1) << "descriptor 0 is still open";
	::dup2(stdinCopy, 0);
	::close(stdinCopy);
}
