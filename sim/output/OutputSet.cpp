// Output folders opened once, their subfolders opened without following links, and the
// commit that puts a command's staged outputs in place all at once.
#include "output/OutputSet.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "sendra_host/HostError.h"

namespace sim {

namespace {

// A staging folder is made under a name that no commit looks at, locked, and only then given
// the name that the next run recovers: so that a run never takes a live one for a dead one.
const char kNewPrefix[] = ".sendra-new-";
const char kStagingPrefix[] = ".sendra-staging-";
const char kJournal[] = "journal";
const char kJournalPartial[] = "journal.partial";
const size_t kSuffixLength = 6;
const long kDefaultNameMax = 255;         // [bytes] where the system does not say
const size_t kMaxJournalBytes = 1 << 20;  // [bytes] a journal names each output once

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

bool SameFile(int a, int b) {
	struct stat sa, sb;
	return ::fstat(a, &sa) == 0 && ::fstat(b, &sb) == 0 && sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
}

// A file system that cannot keep a second name for a file.
bool NoHardLinks(int error) { return error == EPERM || error == EMLINK || error == EOPNOTSUPP || error == ENOSYS; }

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

// Empties the staging folder name, open as dir, inside parent, and removes it.
void RemoveStaging(int parent, const std::string &name, int dir) {
	for (const std::string &n : Names(dir))
		::unlinkat(dir, n.c_str(), 0);
	::unlinkat(parent, name.c_str(), AT_REMOVEDIR);
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

// The journal of a staging folder: one line per output, "<staged name> <inode> <name>", the
// inode being the staged file's, so that it is known in its place.
struct JournalLine {
	std::string staged;
	ino_t ino = 0;
	std::string name;
};

std::optional<std::vector<JournalLine>> ReadJournal(int dir) {
	Fd fd(::openat(dir, kJournal, O_RDONLY | O_NOFOLLOW | O_CLOEXEC));
	if (!fd)
		return std::nullopt;
	std::string text;
	char buf[4096];
	for (ssize_t n; (n = ::read(fd.get(), buf, sizeof buf)) != 0;) {
		if (n < 0 && errno == EINTR)
			continue;
		if (n < 0 || text.size() + static_cast<size_t>(n) > kMaxJournalBytes)
			throw host::HostError(kJournal, 0, n < 0 ? Reason(errno) : std::string("larger than a journal is"));
		text.append(buf, static_cast<size_t>(n));
	}
	std::vector<JournalLine> lines;
	for (size_t start = 0; start < text.size();) {
		size_t end = text.find('\n', start);
		std::string line = text.substr(start, end == std::string::npos ? end : end - start);
		start = end == std::string::npos ? text.size() : end + 1;
		size_t a = line.find(' '), b = a == std::string::npos ? a : line.find(' ', a + 1);
		JournalLine j;
		if (b != std::string::npos) {
			j.staged = line.substr(0, a);
			j.ino = static_cast<ino_t>(std::strtoull(line.substr(a + 1, b - a - 1).c_str(), nullptr, 10));
			j.name = line.substr(b + 1);
		}
		// What the folder's files say is checked as any input is: a name of ours, and a place
		// inside the folder. The journal is written whole before it has its name.
		if (end == std::string::npos || j.staged.empty() ||
		    j.staged.find_first_not_of("0123456789") != std::string::npos || !Plain(j.name))
			throw host::HostError(kJournal, 0, "line " + std::to_string(lines.size() + 1) + " is not one of a journal");
		lines.push_back(std::move(j));
	}
	return lines;
}

// Puts back what a command killed during its commit left: each old file from its backup, and
// each new file that had no old one removed. Returns false when something could not be put
// back, with what in why.
bool PutBack(int folder, const std::string &path, int staging, const std::vector<JournalLine> &lines, std::string &why) {
	bool ok = true;
	for (const JournalLine &j : lines) {
		auto [sub, base] = SplitName(j.name);
		Fd dir;
		try {
			dir = OpenBeneath(folder, path, sub);
		} catch (const host::HostError &e) {
			why = e.what();
			ok = false;
			continue;
		}
		std::string backup = "b" + j.staged;
		if (::renameat(staging, backup.c_str(), dir.get(), base.c_str()) == 0)
			continue;
		if (errno != ENOENT) {
			why = path + "/" + j.name + ": " + Reason(errno);
			ok = false;
			continue;
		}
		struct stat st;
		bool placed = ::fstatat(staging, j.staged.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0;
		if (placed && ::fstatat(dir.get(), base.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 && st.st_ino == j.ino)
			::unlinkat(dir.get(), base.c_str(), 0);
	}
	return ok;
}

// Each staging folder in folder whose command has ended: what its commit had put in place is
// put back, and the folder goes.
void Recover(int folder, const std::string &path) {
	for (const std::string &name : Names(folder)) {
		bool staging = name.rfind(kStagingPrefix, 0) == 0;
		if (!staging && name.rfind(kNewPrefix, 0) != 0)
			continue;
		Fd dir(::openat(folder, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
		if (!dir || ::flock(dir.get(), LOCK_EX | LOCK_NB) != 0)
			continue;  // not ours to judge, or its command is still running
		// What cannot be read or put back stays, for its user to judge.
		std::string why;
		bool done = true;
		try {
			if (std::optional<std::vector<JournalLine>> lines = staging ? ReadJournal(dir.get()) : std::nullopt)
				done = PutBack(folder, path, dir.get(), *lines, why);
		} catch (const host::HostError &e) {
			why = e.what();
			done = false;
		}
		if (!done)
			throw host::HostError(path, 0,
			                      "cannot put back the outputs of a run that ended while it put them in place (" + why +
			                          "); they are kept in " + path + "/" + name);
		RemoveStaging(folder, name, dir.get());
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
	if (use_ != Use::Exclusive)
		return;
	// A second run that waited would finish at a time nobody chose and then replace the first
	// one's outputs; one that stops says so at once, and the user decides. A file system
	// without locks (some network ones) runs unlocked, as before.
	if (::flock(fd_.get(), LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK)
		throw host::HostError(path_, 0,
		                      "another run is writing its outputs to this folder; give this one another --out, or "
		                      "run it again once that one has ended");
	Recover(fd_.get(), path_);
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
	// A name in use, or a folder that a run took for a dead one's before it was locked: again.
	for (int attempt = 0; attempt < 100 && (attempt == 0 || error == EEXIST || error == ENOENT); ++attempt) {
		std::string suffix = RandomName(kSuffixLength);
		std::string made = kNewPrefix + suffix;
		if (::mkdirat(folder.fd(), made.c_str(), 0700) != 0) {
			error = errno;
			continue;
		}
		Fd dir(::openat(folder.fd(), made.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
		std::string name = kStagingPrefix + suffix;
		if (!dir || ::flock(dir.get(), LOCK_EX) != 0 ||
		    ::renameat2(folder.fd(), made.c_str(), folder.fd(), name.c_str(), RENAME_NOREPLACE) != 0) {
			error = errno;
			::unlinkat(folder.fd(), made.c_str(), AT_REMOVEDIR);
			continue;
		}
		stagingName_ = name;
		staging_ = std::move(dir);
		pending_ = PendingPath(folder.fd(), name, true);
		return;
	}
	throw host::HostError(firstName, 0, "cannot create the file: " + Reason(error));
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
	// Where each goes, and nothing in the way there: checked before anything is moved.
	for (Entry *e : list) {
		auto [sub, base] = SplitName(e->name);
		e->dir = OpenBeneath(folder_.fd(), folder_.path(), sub);
		struct stat st;
		if (::fstatat(e->dir.get(), base.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0) {
			if (S_ISDIR(st.st_mode))
				fail(*e, EISDIR);
			e->hadOld = true;
		} else if (errno != ENOENT) {
			fail(*e, errno);
		}
	}
	// The journal first: from here on a killed command leaves what the next run needs.
	std::string journal;
	for (Entry *e : list) {
		struct stat st;
		if (::fstatat(staging_.get(), e->staged.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0)
			fail(*e, errno);
		journal += e->staged + " " + std::to_string(st.st_ino) + " " + e->name + "\n";
	}
	{
		Fd fd(::openat(staging_.get(), kJournalPartial, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
		bool written = fd && WriteAll(fd.get(), journal);
		int error = errno;
		fd.Reset();
		if (!written || ::renameat(staging_.get(), kJournalPartial, staging_.get(), kJournal) != 0) {
			error = written ? errno : error;
			::unlinkat(staging_.get(), kJournalPartial, 0);
			throw host::HostError(folder_.path(), 0, "cannot put the outputs in place: " + Reason(error));
		}
	}
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
		// A stop signal that came meanwhile ends the command as it would have ended before: with
		// nothing of it written.
		if (EndSignalPending())
			throw host::HostError(folder_.path(), 0, "stopped while the outputs were put in place");
		// The new set is complete: without the journal, nothing is put back.
		if (::unlinkat(staging_.get(), kJournal, 0) != 0)
			throw host::HostError(folder_.path(), 0, "cannot put the outputs in place: " + Reason(errno));
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
	for (int i = 0;; ++i) {
		std::optional<std::string> name = names(i);
		if (!name)
			return std::nullopt;
		// A second name for the staged file fails where anything has the name, a link too;
		// a file system without them has a rename that does the same, or, older ones, only
		// a check just before the rename.
		int error = 0;
		if (::linkat(staging_.get(), e.staged.c_str(), dir, name->c_str(), 0) == 0) {
			::unlinkat(staging_.get(), e.staged.c_str(), 0);
		} else if ((error = errno) != EEXIST && NoHardLinks(error)) {
			error = ::renameat2(staging_.get(), e.staged.c_str(), dir, name->c_str(), RENAME_NOREPLACE) == 0 ? 0 : errno;
			struct stat st;
			if (error == EINVAL)
				error = ::fstatat(dir, name->c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 ? EEXIST
				        : ::renameat(staging_.get(), e.staged.c_str(), dir, name->c_str()) == 0 ? 0
				                                                                              : errno;
		}
		if (error == EEXIST)
			continue;
		if (error != 0)
			throw host::HostError(folder_.PathOf(*name), 0, "cannot write the file: " + Reason(error));
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
