// Output folders opened once, their subfolders opened without following links, and the
// commit that puts a command's staged outputs in place all at once.
#include "output/OutputSet.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "sendra_host/HostError.h"
#include "sendra_host/Text.h"

namespace sim {

namespace {

// A staging folder is made under a name that no commit looks at, locked, and only then given
// the name that the next command on the folder recovers: so that a command never takes a live
// one for a dead one. What a recovery cannot put back goes to a kept folder, which nothing
// touches again.
const char kNewPrefix[] = ".sendra-new-";
const char kStagingPrefix[] = ".sendra-staging-";
const char kKeptPrefix[] = ".sendra-kept-";
const char kJournal[] = "journal";          // a commit's: each output, its staged name and inode
const char kJournalPartial[] = "journal.partial";
const char kNewJournal[] = "journal.new";   // a new file's (CommitNew): where it goes
const size_t kSuffixLength = 6;
const long kDefaultNameMax = 255;          // [bytes] where the system does not say
const size_t kMaxJournalBytes = 64 << 20;  // [bytes] the most a commit writes, and a recovery reads

std::string Reason(int error) { return std::strerror(error); }

// A relative path of plain names: no empty part, ".", ".." or leading slash.
bool Plain(const std::string &name) {
	if (name.empty() || name.front() == '/' || name.back() == '/')
		return false;
	for (size_t start = 0; start <= name.size();) {
		size_t slash = std::min(name.find('/', start), name.size());
		std::string part = name.substr(start, slash - start);
		if (part.empty() || part == "." || part == "..")
			return false;
		start = slash + 1;
	}
	return true;
}

bool SameFile(const struct stat &a, const struct stat &b) { return a.st_dev == b.st_dev && a.st_ino == b.st_ino; }

bool SameFile(int a, int b) {
	struct stat sa, sb;
	return ::fstat(a, &sa) == 0 && ::fstat(b, &sb) == 0 && SameFile(sa, sb);
}

// A file system that cannot keep a second name for a file.
bool NoHardLinks(int error) { return error == EPERM || error == EMLINK || error == EOPNOTSUPP || error == ENOSYS; }
// A call that the file system does not have, or not with these flags (renameat2's on FUSE,
// NFS, 9p and others).
bool Unsupported(int error) { return error == EINVAL || error == ENOSYS || error == EOPNOTSUPP; }

// Renames from (in fromDir) to to (in toDir) unless something has that name: 0, EEXIST or
// another errno value. Where rename takes no flags, a check just before the rename.
int RenameNoReplace(int fromDir, const char *from, int toDir, const char *to) {
	if (::renameat2(fromDir, from, toDir, to, RENAME_NOREPLACE) == 0)
		return 0;
	if (!Unsupported(errno))
		return errno;
	struct stat st;
	if (::fstatat(toDir, to, &st, AT_SYMLINK_NOFOLLOW) == 0)
		return EEXIST;
	return ::renameat(fromDir, from, toDir, to) == 0 ? 0 : errno;
}

// Gives the file from the name to as well, or instead, unless something has that name: a
// second name where the file system has them (from stays), else a rename. 0, EEXIST or
// another errno value.
int PlaceNoReplace(int fromDir, const char *from, int toDir, const char *to) {
	if (::linkat(fromDir, from, toDir, to, 0) == 0)
		return 0;
	int error = errno;
	return error != EEXIST && NoHardLinks(error) ? RenameNoReplace(fromDir, from, toDir, to) : error;
}

// Flushes what the open file or folder fd holds to the disk; a folder on a file system that
// cannot (EINVAL) counts as flushed.
int Sync(int fd, bool folder) {
	if (::fsync(fd) == 0 || (folder && (errno == EINVAL || errno == EROFS)))
		return 0;
	return errno;
}

// The names in the open folder dir.
std::vector<std::string> Names(int dir) {
	std::vector<std::string> names;
	int copy = ::fcntl(dir, F_DUPFD_CLOEXEC, 0);
	DIR *d = copy >= 0 ? ::fdopendir(copy) : nullptr;
	if (!d) {
		if (copy >= 0)
			::close(copy);
		return names;
	}
	::rewinddir(d);
	while (const dirent *e = ::readdir(d))
		if (std::strcmp(e->d_name, ".") != 0 && std::strcmp(e->d_name, "..") != 0)
			names.emplace_back(e->d_name);
	::closedir(d);
	return names;
}

// The names a staging folder holds: its staged files (0, 1, ...), their backups (b0, ...) and
// its journals.
bool StagingName(const std::string &n) {
	std::string digits = n[0] == 'b' ? n.substr(1) : n;
	return n == kJournal || n == kJournalPartial || n == kNewJournal ||
	       (!digits.empty() && digits.find_first_not_of("0123456789") == std::string::npos);
}

// Empties the staging folder name, open as dir, inside parent, of what a staging folder holds
// (but the names in keep), and removes it when nothing else is left.
bool RemoveStaging(int parent, const std::string &name, int dir, const std::vector<std::string> &keep = {}) {
	for (const std::string &n : Names(dir))
		if (StagingName(n) && std::find(keep.begin(), keep.end(), n) == keep.end())
			::unlinkat(dir, n.c_str(), 0);
	return keep.empty() && ::unlinkat(parent, name.c_str(), AT_REMOVEDIR) == 0;
}

bool WriteAll(int fd, const std::string &bytes) {
	for (size_t done = 0; done < bytes.size();) {
		ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
		if (n < 0 && errno == EINTR)
			continue;
		if (n <= 0) {
			if (n == 0)
				errno = EIO;
			return false;
		}
		done += static_cast<size_t>(n);
	}
	return true;
}

// Writes bytes as the file name in dir, whole and on the disk before it has its name (through
// journal.partial). Returns 0 or the errno value.
int WriteJournal(int dir, const char *name, const std::string &bytes) {
	Fd fd(::openat(dir, kJournalPartial, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
	int error = !fd ? errno : !WriteAll(fd.get(), bytes) ? errno : Sync(fd.get(), false);
	fd.Reset();
	if (error == 0 && ::renameat(dir, kJournalPartial, dir, name) != 0)
		error = errno;
	if (error == 0)
		error = Sync(dir, true);
	if (error != 0)
		::unlinkat(dir, kJournalPartial, 0);
	return error;
}

// A journal: one line per output, "<staged name> <inode> <size> <modified> <name>" (modified
// as seconds.nanoseconds), these being the staged file's, so that it is known in its place: a
// file made since under the same name may well get the freed inode's number, and one written
// over keeps it, but not their size and time both.
struct JournalLine {
	std::string staged;
	ino_t ino = 0;
	off_t size = 0;
	struct timespec modified = {0, 0};
	std::string name;

	JournalLine() = default;
	JournalLine(std::string s, const struct stat &st, std::string n)
		: staged(std::move(s)), ino(st.st_ino), size(st.st_size), modified(st.st_mtim), name(std::move(n)) {}
	// Whether st, on the device dev, is this staged file.
	bool Is(const struct stat &st, dev_t dev) const {
		return st.st_dev == dev && st.st_ino == ino && st.st_size == size && st.st_mtim.tv_sec == modified.tv_sec &&
		       st.st_mtim.tv_nsec == modified.tv_nsec;
	}
};

std::string JournalText(const std::vector<JournalLine> &lines) {
	std::string text;
	for (const JournalLine &j : lines)
		text += j.staged + " " + std::to_string(j.ino) + " " + std::to_string(j.size) + " " +
		        std::to_string(j.modified.tv_sec) + "." + std::to_string(j.modified.tv_nsec) + " " + j.name + "\n";
	return text;
}

// The journal name in dir; nothing when there is none. Throws host::HostError, naming what is
// wrong with it, when it cannot be read or is not one that a commit writes.
std::optional<std::vector<JournalLine>> ReadJournal(int dir, const char *name) {
	Fd fd(::openat(dir, name, O_RDONLY | O_NOFOLLOW | O_CLOEXEC));
	if (!fd && errno == ENOENT)
		return std::nullopt;
	struct stat st;
	if (!fd || ::fstat(fd.get(), &st) != 0)
		throw host::HostError(name, 0, "cannot be read: " + Reason(errno));
	if (!S_ISREG(st.st_mode))
		throw host::HostError(name, 0, "is not a file");
	std::string text;
	char buf[65536];
	for (ssize_t n; (n = ::read(fd.get(), buf, sizeof buf)) != 0;) {
		if (n < 0 && errno == EINTR)
			continue;
		if (n < 0 || text.size() + static_cast<size_t>(n) > kMaxJournalBytes)
			throw host::HostError(name, 0, n < 0 ? "cannot be read: " + Reason(errno) : std::string("is larger than a journal is"));
		text.append(buf, static_cast<size_t>(n));
	}
	std::vector<JournalLine> lines;
	for (size_t start = 0; start < text.size();) {
		size_t end = text.find('\n', start);
		std::string line = text.substr(start, end == std::string::npos ? end : end - start);
		start = end == std::string::npos ? text.size() : end + 1;
		// Four fields of digits (the fourth with one point) and the name.
		std::string field[4];
		size_t at = 0;
		bool numbers = true;
		for (std::string &f : field) {
			size_t space = line.find(' ', at);
			f = line.substr(at, space == std::string::npos ? 0 : space - at);
			numbers = numbers && !f.empty() && f.find_first_not_of("0123456789.") == std::string::npos &&
			          std::count(f.begin(), f.end(), '.') == (&f == &field[3] ? 1 : 0) && f.size() < 32;
			at = space == std::string::npos ? line.size() : space + 1;
		}
		JournalLine j;
		if (numbers) {
			j.staged = field[0];
			j.ino = static_cast<ino_t>(std::strtoull(field[1].c_str(), nullptr, 10));
			j.size = static_cast<off_t>(std::strtoll(field[2].c_str(), nullptr, 10));
			size_t point = field[3].find('.');
			j.modified.tv_sec = static_cast<time_t>(std::strtoll(field[3].substr(0, point).c_str(), nullptr, 10));
			j.modified.tv_nsec = std::strtol(field[3].substr(point + 1).c_str(), nullptr, 10);
			j.name = line.substr(at);
		}
		// What the folder's files say is checked as any input is: a name of ours, and a place
		// inside the folder. A journal is written whole before it has its name.
		if (end == std::string::npos || !numbers || !Plain(j.name))
			throw host::HostError(name, lines.size() + 1, "is not a line of a journal");
		lines.push_back(std::move(j));
	}
	return lines;
}

// Why a staging folder or journal (st) is not one of this user's commands', or nothing when it
// is: this user made it, and no one else may write to it.
std::optional<std::string> NotOurs(const struct stat &st) {
	if (st.st_uid != ::geteuid())
		return "it belongs to user " + std::to_string(st.st_uid);
	if ((st.st_mode & 022) != 0)
		return host::Format("others may write to it (mode %04o)", static_cast<unsigned>(st.st_mode & 07777));
	return std::nullopt;
}

// Why the staging folder dir, or a journal in it, is not one of this user's commands', or
// nothing when they are (see NotOurs).
std::optional<std::string> NotOurs(int dir, const struct stat &st) {
	if (std::optional<std::string> why = NotOurs(st))
		return why;
	for (const char *journal : {kJournal, kNewJournal}) {
		struct stat j;
		if (::fstatat(dir, journal, &j, AT_SYMLINK_NOFOLLOW) == 0)
			if (std::optional<std::string> why = NotOurs(j))
				return "its " + std::string(journal) + ": " + *why;
	}
	return std::nullopt;
}

// One staging folder that a command left when it ended: each of its journal's lines put
// back where it can be done safely, and what cannot be put back over the file there now kept.
class Recovery {
public:
	Recovery(int folder, const std::string &path, const std::string &name, int dir)
		: folder_(folder), path_(path), name_(name), dir_(dir) {
		struct stat st;
		dev_ = ::fstat(dir, &st) == 0 ? st.st_dev : 0;
	}

	// Throws host::HostError when the journal cannot be read or a file not put back.
	void Run(std::vector<std::string> &warnings) {
		if (std::optional<std::vector<JournalLine>> lines = ReadJournal(dir_, kJournal))
			for (const JournalLine &j : *lines)
				PutBack(j);
		if (std::optional<std::vector<JournalLine>> lines = ReadJournal(dir_, kNewJournal))
			for (const JournalLine &j : *lines)
				PlaceNew(j, warnings);
		if (kept_.empty()) {
			if (!RemoveStaging(folder_, name_, dir_))
				warnings.push_back(path_ + "/" + name_ +
				                   ": holds files that this program did not put there, and is left as it is");
			return;
		}
		// Only what is kept stays, under a name that nothing recovers again.
		std::string kept = kKeptPrefix + name_.substr(name_.size() - kSuffixLength);
		std::vector<std::string> keep{kJournal, kNewJournal};
		for (const auto &k : kept_)
			keep.push_back(k.first);
		RemoveStaging(folder_, name_, dir_, keep);
		if (int error = RenameNoReplace(folder_, name_.c_str(), folder_, kept.c_str()))
			throw host::HostError(path_ + "/" + name_, 0, "cannot be renamed to " + kept + ": " + Reason(error));
		::unlinkat(dir_, kJournal, 0);
		::unlinkat(dir_, kNewJournal, 0);
		for (const auto &[file, what] : kept_)
			warnings.push_back(what + path_ + "/" + kept + "/" + file);
	}

private:
	// Opens the folder of name; empty when it is gone or no longer a folder of this one.
	Fd FolderOf(const std::string &name) {
		try {
			return OpenBeneath(folder_, path_, SplitName(name).first, nullptr, "", true);
		} catch (const host::HostError &) {
			return Fd();
		}
	}

	void Fail(const std::string &name, const char *what, int error) {
		throw host::HostError(path_ + "/" + name, 0, std::string(what) + ": " + Reason(error));
	}

	// What the commit had done with one output, undone: the old file back from its backup, or
	// the new one removed, only where the very file the commit placed is still there.
	void PutBack(const JournalLine &j) {
		const std::string base = SplitName(j.name).second, backup = "b" + j.staged;
		Fd dir = FolderOf(j.name);
		struct stat b, s, n;
		bool hasBackup = ::fstatat(dir_, backup.c_str(), &b, AT_SYMLINK_NOFOLLOW) == 0;
		bool staged = ::fstatat(dir_, j.staged.c_str(), &s, AT_SYMLINK_NOFOLLOW) == 0;
		bool there = dir && ::fstatat(dir.get(), base.c_str(), &n, AT_SYMLINK_NOFOLLOW) == 0;
		if (there && j.Is(n, dev_)) {
			if (hasBackup ? ::renameat(dir_, backup.c_str(), dir.get(), base.c_str()) != 0
			              : ::unlinkat(dir.get(), base.c_str(), 0) != 0)
				Fail(j.name, "cannot be put back as it was before a command that ended while it put its outputs in place", errno);
			return;
		}
		if (!hasBackup || (there && SameFile(n, b)))
			return;  // nothing of the old file moved
		if (staged && dir && !there) {
			// Moved aside (no second names here) and the new file not yet in its place.
			int error = RenameNoReplace(dir_, backup.c_str(), dir.get(), base.c_str());
			if (error == 0)
				return;
			if (error != EEXIST)
				Fail(j.name, "cannot be put back as it was before a command that ended while it put its outputs in place", error);
		}
		kept_.emplace_back(backup, path_ + "/" + j.name +
		                               ": changed, replaced or removed since a command that ended while it put its outputs in place "
		                               "had put a new file there, so the file it held before that command is not put "
		                               "back over it; it is kept as ");
	}

	// A new file that was complete, put where it was going unless something has the name.
	void PlaceNew(const JournalLine &j, std::vector<std::string> &warnings) {
		struct stat s, n;
		if (::fstatat(dir_, j.staged.c_str(), &s, AT_SYMLINK_NOFOLLOW) != 0)
			return;  // it was put in place
		Fd dir = FolderOf(j.name);
		const std::string base = SplitName(j.name).second;
		if (dir && ::fstatat(dir.get(), base.c_str(), &n, AT_SYMLINK_NOFOLLOW) == 0 && SameFile(n, s))
			return;  // it has its name, and the staged one goes
		int error = dir ? PlaceNoReplace(dir_, j.staged.c_str(), dir.get(), base.c_str()) : ENOENT;
		if (error == 0) {
			warnings.push_back(path_ + "/" + j.name + ": put in place, a file that a command had written whole when it ended");
			return;
		}
		kept_.emplace_back(j.staged, path_ + "/" + j.name + ": a file that a command had written whole when it ended "
		                                                    "cannot go there (" + Reason(error) + "); it is kept as ");
	}

	int folder_;
	const std::string &path_, name_;
	int dir_;
	dev_t dev_ = 0;
	std::vector<std::pair<std::string, std::string>> kept_;  // a staged name, and what the warning says before its path
};

// The staging folders in folder whose commands have ended, each put right: what its commit had
// put in place undone where that is safe, what cannot be undone kept and named in warnings.
// Folders of other users, and those of a file system without locks, are left alone with a
// warning. Throws host::HostError, saying what to do, when a journal cannot be applied.
void Recover(int folder, const std::string &path, std::vector<std::string> &warnings) {
	for (const std::string &name : Names(folder)) {
		bool staging = name.rfind(kStagingPrefix, 0) == 0;
		size_t prefix = staging ? sizeof kStagingPrefix - 1 : sizeof kNewPrefix - 1;
		if ((!staging && name.rfind(kNewPrefix, 0) != 0) || name.size() != prefix + kSuffixLength)
			continue;
		Fd dir(::openat(folder, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
		struct stat st;
		if (!dir || ::fstat(dir.get(), &st) != 0)
			continue;  // not a folder: not one of ours
		const std::string shown = path + "/" + name;
		if (::flock(dir.get(), LOCK_EX | LOCK_NB) != 0) {
			if (errno != EWOULDBLOCK)  // its command is still running otherwise
				warnings.push_back(shown + ": this file system cannot tell whether the command that left it still runs (" +
				                   Reason(errno) + "); left alone: remove it once no command writes to " + path);
			continue;
		}
		// Owned and locked: what is checked now stays as it is while it is put right.
		if (std::optional<std::string> why = NotOurs(dir.get(), st)) {
			warnings.push_back(shown + ": not made by this user's commands (" + *why +
			                   "); left alone, and its files are not put anywhere: remove it if you know it to be yours");
			continue;
		}
		try {
			Recovery(folder, path, name, dir.get()).Run(warnings);
		} catch (const host::HostError &e) {
			throw host::HostError(
				path, 0,
				"cannot put back what a command that ended while it put its outputs in place left in " + shown + " (" +
					e.what() + "). The files there named b0, b1, ... are the outputs that command replaced, the others "
					"its new ones, and its journal says which is which: move out what you want to keep, then remove " +
					shown + " and run the command again");
		}
	}
}

long NameMaxOf(const std::string &path) {
	std::string p = path.empty() ? std::string(".") : path;
	for (;;) {
		errno = 0;
		long max = ::pathconf(p.c_str(), _PC_NAME_MAX);
		if (max > 0)
			return max;
		if (errno != ENOENT && errno != ENOTDIR)
			return kDefaultNameMax;
		size_t slash = p.find_last_of('/');
		if (slash == std::string::npos)
			p = ".";
		else
			p = slash == 0 ? "/" : p.substr(0, slash);
		if (p == "." || p == "/") {
			max = ::pathconf(p.c_str(), _PC_NAME_MAX);
			return max > 0 ? max : kDefaultNameMax;
		}
	}
}

}  // namespace

const size_t kLongestStagedName = sizeof kStagingPrefix - 1 + kSuffixLength;

const char kReadOnly[] = "is read-only and is not replaced";

bool ReadOnly(int dir, const std::string &name) {
	struct stat st;
	// A file without write permission is one its owner protects, even from root, whom the
	// system would let replace it. A link is judged by what it points to.
	return ::fstatat(dir, name.c_str(), &st, 0) == 0 && S_ISREG(st.st_mode) &&
	       ((st.st_mode & 0222) == 0 || ::faccessat(dir, name.c_str(), W_OK, AT_EACCESS) != 0);
}

std::string OtherFileSystem(const std::string &folder) {
	return "is on another file system than " + folder + ", where the outputs are put in place together";
}

bool StagingLike(const std::string &name) {
	for (const char *prefix : {kNewPrefix, kStagingPrefix, kKeptPrefix})
		if (name.rfind(prefix, 0) == 0)
			return true;
	return false;
}

std::optional<std::string> StagingLikePart(const std::string &path) {
	for (size_t start = 0; start < path.size();) {
		size_t slash = std::min(path.find('/', start), path.size());
		std::string part = path.substr(start, slash - start);
		if (StagingLike(part))
			return part;
		start = slash + 1;
	}
	return std::nullopt;
}

std::pair<std::string, std::string> SplitName(const std::string &name) {
	size_t slash = name.rfind('/');
	if (slash == std::string::npos)
		return {std::string(), name};
	return {name.substr(0, slash), name.substr(slash + 1)};
}

std::string RandomName(size_t length) {
	static const char kChars[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
	static unsigned counter = 0;
	std::vector<unsigned char> bytes(length);
	if (::getrandom(bytes.data(), length, GRND_NONBLOCK) != static_cast<ssize_t>(length))
		for (size_t i = 0; i < length; ++i)
			bytes[i] = static_cast<unsigned char>((static_cast<unsigned>(::getpid()) >> (i * 3)) + ++counter * 31);
	std::string s;
	for (unsigned char b : bytes)
		s += kChars[b % (sizeof kChars - 1)];
	return s;
}

// --- Descriptors and folders --------------------------------------------------------------

Fd &Fd::operator=(Fd &&other) noexcept {
	if (this != &other) {
		Reset();
		fd_ = other.fd_;
		other.fd_ = -1;
	}
	return *this;
}

void Fd::Reset() {
	if (fd_ >= 0)
		::close(fd_);
	fd_ = -1;
}

OutputFolders::~OutputFolders() {
	for (auto it = made_.rbegin(); it != made_.rend(); ++it)
		::unlinkat(it->dir, it->name.c_str(), AT_REMOVEDIR);  // fails, as meant, when something is in it
}

void OutputFolders::Make(const std::string &folder) {
	size_t pos = 0;
	while (pos != std::string::npos) {
		pos = folder.find('/', pos + 1);
		std::string partial = folder.substr(0, pos);
		if (partial.empty())
			continue;
		HeldSignals held;
		if (::mkdir(partial.c_str(), 0777) == 0)
			Made(AT_FDCWD, partial);
		else if (errno != EEXIST)
			throw host::HostError(folder, 0, "cannot create the output folder: " + Reason(errno));
	}
}

void OutputFolders::Made(int dir, const std::string &name) {
	HeldSignals held;
	made_.push_back(Made_{dir, name, PendingPath(dir, name, true)});
}

void OutputFolders::Keep() {
	for (auto &m : made_)
		m.pending.Forget();
	made_.clear();
}

OutputFolder::OutputFolder(std::string path, Use use) : path_(std::move(path)), use_(use) {
	if (std::optional<std::string> part = StagingLikePart(path_))
		throw host::HostError(path_, 0, "the output folder's path passes through '" + *part +
		                                    "', a name of this program's hidden folders, which a command on the folder "
		                                    "around it removes or keeps aside; choose another folder");
	int fd = ::open(path_.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
	if (fd < 0) {
		if (errno == ENOENT)
			return;  // made when the outputs are
		if (errno == ENOTDIR)
			throw host::HostError(path_, 0, "the output folder is not a folder");
		throw host::HostError(path_, 0, "cannot open the output folder: " + Reason(errno));
	}
	fd_ = Fd(fd);
	Opened();
}

void OutputFolder::Make(OutputFolders &made) {
	if (open())
		return;
	made.Make(path_);
	int fd = ::open(path_.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
	if (fd < 0)
		throw host::HostError(path_, 0,
		                      errno == ENOTDIR ? std::string("the output folder is not a folder")
		                                       : "cannot open the output folder: " + Reason(errno));
	fd_ = Fd(fd);
	Opened();
}

void OutputFolder::Opened() {
	// A second run that waited would finish at a time nobody chose and then replace the first
	// one's outputs; one that stops says so at once, and the user decides. A file system
	// without locks (some network ones) runs unlocked, as before.
	if (use_ == Use::Exclusive && ::flock(fd_.get(), LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK)
		throw host::HostError(path_, 0,
		                      "another run is writing its outputs to this folder; give this one another --out, or "
		                      "run it again once that one has ended");
	Recover(fd_.get(), path_, warnings_);
}

std::vector<std::string> OutputFolder::TakeWarnings() {
	std::vector<std::string> taken;
	taken.swap(warnings_);
	return taken;
}

long OutputFolder::NameMax() const {
	if (open()) {
		long max = ::fpathconf(fd_.get(), _PC_NAME_MAX);
		return max > 0 ? max : kDefaultNameMax;
	}
	return NameMaxOf(path_);
}

Fd OpenBeneath(int base, const std::string &basePath, const std::string &rel, OutputFolders *made,
               const std::string &why, bool missingIsEmpty) {
	Fd current(::fcntl(base, F_DUPFD_CLOEXEC, 0));
	if (!current)
		throw host::HostError(basePath, 0, "cannot open the folder: " + Reason(errno));
	std::string shown = basePath, sofar;
	for (size_t start = 0; start < rel.size();) {
		size_t slash = std::min(rel.find('/', start), rel.size());
		std::string part = rel.substr(start, slash - start);
		start = slash + 1;
		if (part.empty())
			continue;
		shown += "/" + part;
		sofar += (sofar.empty() ? "" : "/") + part;
		int fd = ::openat(current.get(), part.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
		if (fd < 0 && errno == ENOENT && made) {
			HeldSignals held;
			if (::mkdirat(current.get(), part.c_str(), 0777) == 0)
				made->Made(base, sofar);
			else if (errno != EEXIST)
				throw host::HostError(shown, 0, "cannot create the folder: " + Reason(errno));
			fd = ::openat(current.get(), part.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
		}
		if (fd < 0) {
			int error = errno;
			struct stat st;
			if (error == ENOENT && missingIsEmpty)
				return Fd();
			if (::fstatat(current.get(), part.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISLNK(st.st_mode))
				throw host::HostError(shown, 0, "is a symbolic link" + why);
			if (error == ENOTDIR)
				throw host::HostError(shown, 0, "is not a folder" + why);
			throw host::HostError(shown, 0, "cannot open the folder: " + Reason(error));
		}
		current = Fd(fd);
	}
	return current;
}

// --- The commit -----------------------------------------------------------------------------

OutputSet::OutputSet(const OutputFolder &folder, const std::string &firstName) : folder_(folder) {
	if (!folder.open())
		throw host::HostError(firstName, 0, "cannot create the file: " + Reason(ENOENT));
	HeldSignals held;
	int error = 0;
	std::string operation;
	// A name in use, or a folder that a run took for a dead one's before it was locked: again.
	for (int attempt = 0; attempt < 100 && (attempt == 0 || error == EEXIST || error == ENOENT); ++attempt) {
		std::string suffix = RandomName(kSuffixLength);
		std::string made = kNewPrefix + suffix;
		operation = "making its hidden folder";
		if (::mkdirat(folder.fd(), made.c_str(), 0700) != 0) {
			error = errno;
			continue;
		}
		Fd dir(::openat(folder.fd(), made.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
		std::string name = kStagingPrefix + suffix;
		// A file system without locks (some network ones) stages unlocked: recoveries there
		// leave what they cannot tell from a live command's alone.
		operation = !dir ? "opening its hidden folder" : "locking its hidden folder";
		error = !dir ? errno : ::flock(dir.get(), LOCK_EX) == 0 ? 0 : errno;
		if (error == 0 || error == ENOLCK || Unsupported(error)) {
			operation = "renaming its hidden folder";
			error = RenameNoReplace(folder.fd(), made.c_str(), folder.fd(), name.c_str());
		}
		if (error != 0) {
			::unlinkat(folder.fd(), made.c_str(), AT_REMOVEDIR);
			continue;
		}
		stagingName_ = name;
		staging_ = std::move(dir);
		pending_ = PendingPath(folder.fd(), name, true);
		return;
	}
	throw host::HostError(firstName, 0,
	                      "cannot create the file: " + Reason(error) + " (" + operation + " in " + folder.path() + ")");
}

OutputSet::~OutputSet() {
	HeldSignals held;
	if (!keep_)
		Clean();
	for (Entry &e : entries_)
		e.pending.Forget();
	pending_.Forget();
}

int OutputSet::Create(mode_t mode, size_t &id, int &fd) {
	HeldSignals held;
	std::string name = std::to_string(entries_.size());
	fd = ::openat(staging_.get(), name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode);
	if (fd < 0)
		return errno;
	id = entries_.size();
	entries_.emplace_back();
	entries_.back().staged = name;
	entries_.back().pending = PendingPath(staging_.get(), name, false);
	return 0;
}

void OutputSet::Place(size_t id, const std::string &name, const std::string &shown) {
	for (size_t i = 0; i < entries_.size(); ++i)
		if (i != id && entries_[i].name == name)
			Drop(i);
	entries_.at(id).name = name;
	entries_.at(id).shown = shown.empty() ? folder_.PathOf(name) : shown;
}

void OutputSet::Drop(size_t id) {
	Entry &e = entries_.at(id);
	HeldSignals held;
	::unlinkat(staging_.get(), e.staged.c_str(), 0);
	e.pending.Forget();
	e.name.clear();
}

std::vector<OutputSet::Entry *> OutputSet::Placed() {
	std::vector<Entry *> list;
	for (Entry &e : entries_)
		if (!e.name.empty())
			list.push_back(&e);
	return list;
}

void OutputSet::Commit() {
	HeldSignals held;
	std::vector<Entry *> list = Placed();
	auto fail = [](const Entry &e, int error) {
		throw host::HostError(e.shown, 0, "cannot write the file: " + Reason(error));
	};
	auto cannot = [&](int error) {
		throw host::HostError(folder_.path(), 0, "cannot put the outputs in place: " + Reason(error));
	};
	struct stat top;
	if (::fstat(folder_.fd(), &top) != 0)
		cannot(errno);
	// Where each goes, and nothing in the way there: checked before anything is moved.
	for (Entry *e : list) {
		auto [sub, base] = SplitName(e->name);
		e->dir = OpenBeneath(folder_.fd(), folder_.path(), sub);
		struct stat st;
		if (::fstat(e->dir.get(), &st) == 0 && st.st_dev != top.st_dev)
			throw host::HostError(folder_.PathOf(sub), 0, OtherFileSystem(folder_.path()));
		if (::fstatat(e->dir.get(), base.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0) {
			if (S_ISDIR(st.st_mode))
				fail(*e, EISDIR);
			if (ReadOnly(e->dir.get(), base))
				throw host::HostError(e->shown, 0, kReadOnly);
			e->hadOld = true;
			e->oldMode = st.st_mode;
		} else if (errno != ENOENT) {
			fail(*e, errno);
		}
	}
	// The journal first, and on the disk: from here on a killed command, or a power cut,
	// leaves what the next command on the folder needs. The staged files are on the disk
	// since they were closed.
	std::vector<JournalLine> journal;
	for (Entry *e : list) {
		struct stat st;
		if (::fstatat(staging_.get(), e->staged.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0)
			fail(*e, errno);
		journal.emplace_back(e->staged, st, e->name);
	}
	const std::string text = JournalText(journal);
	if (text.size() > kMaxJournalBytes)
		throw host::HostError(folder_.path(), 0,
		                      "cannot put the outputs in place: " + std::to_string(list.size()) +
		                          " files, whose journal would take " + std::to_string(text.size()) +
		                          " bytes, are more than one command may put in place at once (" +
		                          std::to_string(kMaxJournalBytes >> 20) + " MiB of journal)");
	if (int error = WriteJournal(staging_.get(), kJournal, text))
		cannot(error);
	try {
		// The old files kept: a second name for each where the file system has them, else the
		// file itself moved aside.
		for (Entry *e : list) {
			if (!e->hadOld)
				continue;
			std::string base = SplitName(e->name).second, backup = "b" + e->staged;
			if (::linkat(e->dir.get(), base.c_str(), staging_.get(), backup.c_str(), 0) == 0)
				continue;
			int error = errno;
			if (NoHardLinks(error) && ::renameat(e->dir.get(), base.c_str(), staging_.get(), backup.c_str()) == 0) {
				e->moved = true;
				continue;
			}
			fail(*e, NoHardLinks(error) ? errno : error);
		}
		// A replaced file's permissions are the new one's (a file system without them keeps
		// its own); the backups on the disk before anything is replaced.
		for (Entry *e : list)
			if (e->hadOld && !S_ISLNK(e->oldMode))
				::fchmodat(staging_.get(), e->staged.c_str(), e->oldMode & 0777, 0);
		if (int error = Sync(staging_.get(), true))
			cannot(error);
		for (Entry *e : list) {
			auto [sub, base] = SplitName(e->name);
			// The folder as it is now: one that became a link or was swapped is refused.
			Fd now = OpenBeneath(folder_.fd(), folder_.path(), sub);
			if (!SameFile(now.get(), e->dir.get()))
				throw host::HostError(folder_.PathOf(sub), 0, "was replaced while the outputs were written");
			if (::renameat(staging_.get(), e->staged.c_str(), e->dir.get(), base.c_str()) != 0)
				fail(*e, errno);
			e->placed = true;
		}
		// Every new name on the disk before the journal goes.
		std::vector<const Entry *> synced;
		for (const Entry *e : list) {
			if (std::any_of(synced.begin(), synced.end(), [&](const Entry *s) { return SameFile(s->dir.get(), e->dir.get()); }))
				continue;
			if (int error = Sync(e->dir.get(), true))
				cannot(error);
			synced.push_back(e);
		}
		// A stop signal that came meanwhile ends the command as it would have ended before: with
		// nothing of it written.
		if (EndSignalPending())
			throw host::HostError(folder_.path(), 0, "stopped while the outputs were put in place");
		// The new set is complete: without the journal, nothing is put back.
		if (::unlinkat(staging_.get(), kJournal, 0) != 0)
			cannot(errno);
		if (int error = Sync(staging_.get(), true))
			cannot(error);
	} catch (const host::HostError &e) {
		if (!Undo(list))
			throw host::HostError(std::string(e.what()) + "; the old outputs could not all be put back, and the next run on " +
			                      folder_.path() + " puts them back first");
		throw;
	}
	MarkOutputsWritten();
	for (Entry *e : list)
		e->pending.Forget();
	Clean();
}

bool OutputSet::Undo(const std::vector<Entry *> &list) {
	bool ok = true;
	for (auto it = list.rbegin(); it != list.rend(); ++it) {
		Entry &e = **it;
		std::string base = SplitName(e.name).second, backup = "b" + e.staged;
		if (e.hadOld && (e.placed || e.moved))
			ok = ::renameat(staging_.get(), backup.c_str(), e.dir.get(), base.c_str()) == 0 && ok;
		else if (e.placed)
			ok = ::unlinkat(e.dir.get(), base.c_str(), 0) == 0 && ok;
		e.placed = e.moved = false;
	}
	if (ok) {
		::unlinkat(staging_.get(), kJournal, 0);
		return true;
	}
	// What could not be put back stays with its journal for the next run on the folder, and
	// nothing of it is pending any more.
	keep_ = true;
	for (Entry &e : entries_)
		e.pending.Forget();
	pending_.Forget();
	return false;
}

std::optional<std::string> OutputSet::CommitNew(const std::function<std::optional<std::string>(int)> &names) {
	HeldSignals held;
	std::vector<Entry *> list = Placed();
	if (list.size() != 1)
		throw std::logic_error("a new file is committed alone");
	Entry &e = *list.front();
	const int dir = folder_.fd();
	struct stat st;
	if (::fstatat(staging_.get(), e.staged.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0)
		throw host::HostError(folder_.PathOf(e.name), 0, "cannot write the file: " + Reason(errno));
	for (int i = 0;; ++i) {
		std::optional<std::string> name = names(i);
		if (!name)
			return std::nullopt;
		struct stat taken;
		if (::fstatat(dir, name->c_str(), &taken, AT_SYMLINK_NOFOLLOW) == 0)
			continue;
		// Written whole: a command killed from here on leaves it for the next one on the
		// folder to put in place under this name, not to remove.
		if (int error = WriteJournal(staging_.get(), kNewJournal, JournalText({JournalLine(e.staged, st, *name)})))
			throw host::HostError(folder_.PathOf(*name), 0, "cannot write the file: " + Reason(error));
		// A second name for the staged file fails where anything has the name, a link too;
		// a file system without them has a rename that does the same, or, older ones, only
		// a check just before the rename.
		int error = PlaceNoReplace(staging_.get(), e.staged.c_str(), dir, name->c_str());
		if (error == EEXIST)
			continue;
		if (error == 0)
			error = Sync(dir, true);
		if (error != 0)
			throw host::HostError(folder_.PathOf(*name), 0, "cannot write the file: " + Reason(error));
		::unlinkat(staging_.get(), e.staged.c_str(), 0);
		MarkOutputsWritten();
		e.pending.Forget();
		e.name.clear();
		Clean();
		return name;
	}
}

void OutputSet::Clean() {
	if (!staging_)
		return;
	RemoveStaging(folder_.fd(), stagingName_, staging_.get());
	staging_.Reset();
	pending_.Forget();
}

}  // namespace sim
