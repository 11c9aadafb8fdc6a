// A run's outputs are all the old ones or all the new ones whatever happens while they are put
// in place: a rename that fails, a stop signal, a kill (finished by the next run on the
// folder), a second run on the folder, a save's folder turned into a link. The file system's
// failures and the exact moments are made by the fault-injecting wrapper, not by timing.
#include <gtest/gtest.h>
#include <sched.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/stat.h>

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
// The folder is o in the scratch folder unless another (absolute) one is given.
struct TwoRuns {
	explicit TwoRuns(const std::string &folder = "o") : out(folder[0] == '/' ? folder : (s / folder).string()), arg(folder) {
		s.Write("a.txt", "0.02 save sub/s.scn\n");
		s.Write("b.txt", "0.06 save sub/s.scn\n");
		EXPECT_EQ(s.Run(a).status, 0);
		old = Tree(out);
		EXPECT_EQ(old.size(), 7u);
	}
	Scratch s;
	const std::string out, arg;  // the folder, and as the runs are given it
	const std::vector<std::string> a{"--script", "a.txt", "--duration", "0.1", "--out", arg, "--quiet"};
	const std::vector<std::string> b{"--script", "b.txt", "--duration", "0.2", "--out", arg, "--quiet"};
	std::map<std::string, std::string> old;
};

// Kills run b before the Nth rename in its folder, for every N, each time checking that the
// next run on the folder, even one that then fails, first puts the old set back, without the
// files that had no old one. Returns the N at which b was no longer killed.
int KillAtEveryRename(TwoRuns &t) {
	fs::remove(t.out + "/track.svg");
	t.old = Tree(t.out);
	int n = 1;
	for (; n < 40; ++n) {
		ProgramResult r = t.s.Run(t.b, Faults("rename@" + t.out + "/#" + std::to_string(n) + "=KILL"));
		if (r.status == 0)
			break;
		EXPECT_EQ(r.signal, SIGKILL) << n << r.err;
		EXPECT_NE(Diff(Tree(t.out), t.old), "") << n << ": nothing left to put back";
		r = t.s.Run({"--script", "missing.txt", "--out", t.out});
		EXPECT_EQ(r.status, 3);
		EXPECT_EQ(Diff(Tree(t.out), t.old), "") << n;
	}
	EXPECT_EQ(Changed(t.old, Tree(t.out)), 5u);
	return n;
}

// The one entry of folder whose name begins with prefix, or "".
std::string Entry(const fs::path &folder, const std::string &prefix) {
	std::string found;
	for (const auto &e : fs::directory_iterator(folder))
		if (e.path().filename().string().rfind(prefix, 0) == 0)
			found = found.empty() ? e.path().filename().string() : "(more than one)";
	return found;
}

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
		// Without hard links the old files are moved aside instead, and moved back; without
		// rename flags as well.
		{"link#1+=EPERM;rename@/o/sub/s.scn=EIO", "o/sub/s.scn: cannot write the file: Input/output error"},
		{"rename2#1+=EINVAL;link#1+=EPERM;rename@/o/hud.csv=EIO", "o/hud.csv: cannot write the file: Input/output error"},
		// A step that fails for its own reason is named with the folder.
		{"mkdir@/o/.sendra-new#1+=EROFS",
		 "o/trajectory.csv: cannot create the file: Read-only file system (making its hidden folder in o)"},
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

	// Where rename takes no flags, link() is refused or neither call exists, the outputs are
	// put in place all the same.
	for (const std::string rules : {"rename2#1+=EINVAL;link#1+=EPERM", "rename2#1+=ENOSYS;link#1+=EOPNOTSUPP"}) {
		ASSERT_EQ(t.s.Run(t.a).status, 0);
		t.old = Tree(t.s / "o");
		r = t.s.Run(t.b, Faults(rules));
		EXPECT_EQ(r.status, 0) << rules << r.err;
		EXPECT_EQ(Changed(t.old, Tree(t.s / "o")), 6u) << rules;
		EXPECT_EQ(Tree(t.s / "o").size(), t.old.size()) << rules << ": nothing left beside them";
		r = t.s.Run({"render", "--size", "32x32", "--out", "o/pic.png"}, Faults(rules));
		EXPECT_EQ(r.status, 0) << rules << r.err;
	}
}

TEST(OutputCommit, AKillWhileTheOutputsArePutInPlaceIsUndoneByTheNextRunAndRunsNeverShareAFolder) {
	TwoRuns t;
	EXPECT_EQ(KillAtEveryRename(t), 9) << "its staging folder, the journal and six files";
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
		std::string journal = "0 1 2 3.4 ../outside.scn\n";
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

TEST(OutputCommit, ARecoveryPutsBackOnlyOverWhatItsOwnCommitPlacedAndLeavesOthersFoldersAlone) {
	TwoRuns t;
	const fs::path o = t.s / "o";
	// Killed once its new set was complete, before its journal went: the next command on the
	// folder, a picture's too, puts the old set back, but not over a file changed since (here
	// written over, so that it keeps its inode), nor into a folder removed since: those old
	// files are kept aside, named, and nothing takes them up again.
	ProgramResult r = t.s.Run(t.b, Faults("unlink@/journal=KILL"));
	ASSERT_EQ(r.signal, SIGKILL);
	t.s.Write("o/hud.csv", "mine");
	fs::remove_all(o / "sub");
	const std::vector<std::string> render{"render", "--size", "32x32", "--out", "o/pic.png"};
	r = t.s.Run(render);
	EXPECT_EQ(r.status, 0) << r.err;
	const std::string kept = Entry(o, ".sendra-kept-");
	ASSERT_EQ(kept.size(), 19u) << r.err;
	std::map<std::string, std::string> now = Tree(o);
	EXPECT_EQ(now.at("hud.csv"), "mine");
	for (const char *name : {"trajectory.csv", "final.scn", "track.svg", "pose.png"})
		EXPECT_EQ(now.at(name), t.old.at(name)) << name;
	std::vector<std::string> keptFiles = t.s.Files("o/" + kept);
	ASSERT_EQ(keptFiles.size(), 2u);
	for (const std::string &f : keptFiles) {
		const std::string was = now.at(kept + "/" + f) == t.old.at("hud.csv") ? "hud.csv" : "sub/s.scn";
		EXPECT_EQ(now.at(kept + "/" + f), t.old.at(was));
		EXPECT_NE(r.err.find("sendra-sim: warning: o/" + was + ": changed, replaced or removed since a command that ended while it "
		                     "put its outputs in place had put a new file there, so the file it held before that command "
		                     "is not put back over it; it is kept as o/" + kept + "/" + f + "\n"),
		          std::string::npos)
			<< r.err;
	}
	now = Tree(o);
	r = t.s.Run(render);
	EXPECT_EQ(r.err.find("warning"), std::string::npos) << r.err;
	EXPECT_EQ(Diff(Tree(o), now), "");

	// Staging folders that another user made, or that others may write to, their journals too,
	// naming this user's files: never acted on, named, and the command goes on.
	auto line = [&](const std::string &staged, const std::string &name) {
		struct stat st;
		EXPECT_EQ(::stat((o / name).c_str(), &st), 0);
		return staged + " " + std::to_string(st.st_ino) + " " + std::to_string(st.st_size) + " " +
		       std::to_string(st.st_mtim.tv_sec) + "." + std::to_string(st.st_mtim.tv_nsec) + " " + name + "\n";
	};
	auto plant = [&](const std::string &name, mode_t folderMode, mode_t journalMode, uid_t owner) {
		fs::create_directory(o / name);
		t.s.Write("o/" + name + "/b0", "planted");
		t.s.Write("o/" + name + "/journal", line("0", "trajectory.csv") + line("1", "final.scn"));
		::chmod((o / name / "journal").c_str(), journalMode);
		::chmod((o / name).c_str(), folderMode);
		if (owner != ::geteuid()) {
			EXPECT_EQ(::lchown((o / name).c_str(), owner, owner), 0);
		}
	};
	plant(".sendra-staging-evil01", 0770, 0600, ::geteuid());
	plant(".sendra-staging-evil02", 0700, 0666, ::geteuid());
	if (::geteuid() == 0)
		plant(".sendra-staging-evil03", 0700, 0600, 4242);
	now = Tree(o);
	r = t.s.Run(render);
	EXPECT_EQ(r.status, 0) << r.err;
	EXPECT_EQ(Diff(Tree(o), now), "");
	const std::string leftAlone = "; left alone, and its files are not put anywhere: remove it if you know it to be yours\n";
	for (const std::string why : {"evil01: not made by this user's commands (others may write to it (mode 0770))",
	                              "evil02: not made by this user's commands (its journal: others may write to it (mode 0666))",
	                              "evil03: not made by this user's commands (it belongs to user 4242)"})
		EXPECT_TRUE((why.find("evil03") != std::string::npos && ::geteuid() != 0) ||
		            r.err.find("warning: o/.sendra-staging-" + why + leftAlone) != std::string::npos)
			<< why << "\n"
			<< r.err;
	for (const char *name : {"evil01", "evil02", "evil03"})
		fs::remove_all(o / (std::string(".sendra-staging-") + name));

	// A journal as long as a commit of thousands of saves with long names writes (well beyond a
	// mebibyte) is read and applied like any other.
	fs::create_directory(o / ".sendra-staging-big001");
	::chmod((o / ".sendra-staging-big001").c_str(), 0700);
	std::string journal;
	for (int i = 0; i < 6000; ++i)
		journal += std::to_string(i) + " 1 2 3.4 gone/" + std::string(200, 'n') + std::to_string(i) + ".scn\n";
	t.s.Write("o/.sendra-staging-big001/journal", journal);
	r = t.s.Run(render);
	EXPECT_EQ(r.status, 0) << r.err;
	EXPECT_FALSE(fs::exists(o / ".sendra-staging-big001"));
}

TEST(OutputCommit, ReplacedFilesKeepTheirModesAndWhatCannotBePutInPlaceIsRefusedBeforeTheDrive) {
	TwoRuns t;
	const fs::path o = t.s / "o";
	// Modes that the umask would mask keep, on outputs and saves alike.
	::chmod((o / "hud.csv").c_str(), 0600);
	::chmod((o / "sub/s.scn").c_str(), 0664);
	ProgramResult r = t.s.Run(t.b);
	ASSERT_EQ(r.status, 0) << r.err;
	EXPECT_EQ(fs::status(o / "hud.csv").permissions(), fs::perms(0600));
	EXPECT_EQ(fs::status(o / "sub/s.scn").permissions(), fs::perms(0664));

	// A read-only output is refused as a read-only save is, and a save whose path passes
	// through a name of the staging's, both when the script is loaded; a picture over a
	// read-only one likewise.
	// (A run that got as far as staging its outputs would be killed.)
	const Launch beforeTheDrive = Faults("mkdir@/.sendra-new=KILL");
	t.old = Tree(o);
	::chmod((o / "pose.png").c_str(), 0444);
	r = t.s.Run(t.b, beforeTheDrive);
	EXPECT_EQ(r.status, 3);
	EXPECT_EQ(LastLine(r.err), "sendra-sim: o/pose.png: is read-only and is not replaced");
	r = t.s.Run({"render", "--size", "32x32", "--out", "o/pose.png"}, beforeTheDrive);
	EXPECT_EQ(LastLine(r.err), "sendra-sim: o/pose.png: is read-only and is not replaced");
	::chmod((o / "pose.png").c_str(), 0644);
	t.s.Write("hidden.txt", "0.02 save runs/.sendra-staging-abc123/s.scn\n");
	r = t.s.Run({"--script", "hidden.txt", "--out", "o"}, beforeTheDrive);
	EXPECT_EQ(r.status, 3);
	EXPECT_EQ(LastLine(r.err), "sendra-sim: hidden.txt:1: the save 'runs/.sendra-staging-abc123/s.scn' goes through "
	                           "'.sendra-staging-abc123', a name of this program's hidden folders, which a command on o "
	                           "removes or keeps aside; give it another name");
	EXPECT_EQ(Diff(Tree(o), t.old), "");

	// A save into a folder on another file system, where no rename can put it in place, is
	// refused when the script is loaded (a mount of a namespace of the run's own).
	Launch mounted = beforeTheDrive;
	mounted.inChild = [&] {
		return ::unshare(CLONE_NEWNS | (::geteuid() == 0 ? 0 : CLONE_NEWUSER)) == 0 &&
		       ::mount("none", "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0 &&
		       ::mount("tmpfs", (o / "sub").c_str(), "tmpfs", 0, nullptr) == 0;
	};
	r = t.s.Run(t.b, mounted);
	if (r.status == 126)
		GTEST_SKIP() << "no mount namespace here: " << std::strerror(errno);
	EXPECT_EQ(r.status, 3);
	EXPECT_EQ(LastLine(r.err), "sendra-sim: b.txt:1: o/sub: is on another file system than o, where the outputs are "
	                           "put in place together, and the save 'sub/s.scn' goes into it");
	EXPECT_EQ(Diff(Tree(o), t.old), "");
}

TEST(OutputCommit, EveryFatalSignalLeavesNothingStagedAndOneBlockedAtTheStartIsNotWaitedOn) {
	Scratch s;
	// Raised while the outputs are put in place (and so held until the old set is back, here
	// none): the staging folder and the folders the run made go, and the signal ends it.
	for (const auto &[name, sig] : std::vector<std::pair<std::string, int>>{
	         {"QUIT", SIGQUIT}, {"ABRT", SIGABRT}, {"USR1", SIGUSR1}, {"TERM", SIGTERM}}) {
		ProgramResult r = s.Run({"--duration", "0.1", "--out", "new/o", "--quiet"}, Faults("rename@/new/o/hud.csv=" + name));
		EXPECT_EQ(r.signal, sig) << name << r.err;
		EXPECT_FALSE(fs::exists(s / "new")) << name;
		EXPECT_TRUE(fs::is_empty(s.dir())) << name;
	}
	// Blocked when the program started, as an ignored one: it stays blocked, and the run
	// finishes and puts its outputs in place.
	Launch blocked = Faults("rename@/o/hud.csv=INT");
	blocked.blocked = {SIGINT, SIGTERM};
	ProgramResult r = s.Run({"--duration", "0.1", "--out", "o", "--quiet"}, blocked);
	EXPECT_EQ(r.status, 0) << r.err;
	EXPECT_EQ(s.Files("o").size(), 5u);
}

// An exFAT file system (what most memory cards and USB sticks hold) in an image file, mounted
// through FUSE: no hard links, no rename flags. Needs root, losetup and Debian's exfat-fuse
// and exfatprogs; path() is empty where it cannot be had.
class ExfatMount {
public:
	ExfatMount() {
		if (::geteuid() != 0 || std::system("command -v losetup mkfs.exfat mount.exfat-fuse > /dev/null 2>&1") != 0)
			return;
		const std::string image = (s_ / "exfat.img").string(), mount = (s_ / "mnt").string(), device = (s_ / "dev").string();
		fs::create_directory(mount);
		if (std::system(("truncate -s 64M '" + image + "' && mkfs.exfat '" + image + "' > /dev/null && losetup -f --show '" +
		                 image + "' > '" + device + "'")
		                    .c_str()) != 0)
			return;
		device_ = Lines(ReadFile(device)).at(0);
		if (std::system(("mount.exfat-fuse -o umask=077 '" + device_ + "' '" + mount + "' > /dev/null 2>&1").c_str()) == 0)
			path_ = mount;
	}
	~ExfatMount() {
		if (!path_.empty())
			(void)!std::system(("umount '" + path_ + "'").c_str());
		if (!device_.empty())
			(void)!std::system(("losetup -d '" + device_ + "'").c_str());
	}
	const std::string &path() const { return path_; }

private:
	Scratch s_;
	std::string device_, path_;
};

TEST(OutputCommit, OnAFileSystemWithoutHardLinksOrRenameFlagsTheOutputsArePutInPlaceAndAKillIsUndone) {
	ExfatMount exfat;
	if (exfat.path().empty())
		GTEST_SKIP() << "no exFAT file system can be mounted here (it needs root, losetup, exfat-fuse, exfatprogs)";
	TwoRuns t(exfat.path() + "/o");
	EXPECT_GT(KillAtEveryRename(t), 9) << "more renames than where the old files are linked";
	ProgramResult r = t.s.Run({"render", "--size", "32x32", "--out", t.out + "/pic.png"});
	EXPECT_EQ(r.status, 0) << r.err;
	EXPECT_EQ(Tree(t.out).size(), 8u);
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
