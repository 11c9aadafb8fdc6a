// Staged output files, output folders, a script's saves and standard output.
#include "session/OutputFiles.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "HostError.h"
#include "session/Session.h"

namespace sim {

namespace {

const size_t kFileBufferBytes = 1 << 16;  // rows are streamed; a large buffer keeps writes few

std::string Reason(int error) { return std::strerror(error); }

}  // namespace

// --- Writing to a file descriptor -----------------------------------------------------------

FdBuffer::FdBuffer(int fd, size_t bytes) : fd_(fd), buffer_(bytes) {
	setp(buffer_.data(), buffer_.data() + buffer_.size());
}

bool FdBuffer::Drain(const char *data, size_t size) {
	while (size > 0 && error_ == 0) {
		if (fd_ < 0) {
			error_ = EBADF;
			break;
		}
		ssize_t n = ::write(fd_, data, size);
		if (n < 0 && errno == EINTR)
			continue;
		if (n <= 0) {
			error_ = n < 0 ? errno : EIO;
			break;
		}
		data += n;
		size -= static_cast<size_t>(n);
	}
	return error_ == 0;
}

int FdBuffer::sync() {
	bool ok = Drain(pbase(), static_cast<size_t>(pptr() - pbase()));
	setp(buffer_.data(), buffer_.data() + buffer_.size());
	return ok ? 0 : -1;
}

FdBuffer::int_type FdBuffer::overflow(int_type c) {
	if (sync() != 0)
		return traits_type::eof();
	if (!traits_type::eq_int_type(c, traits_type::eof())) {
		*pptr() = traits_type::to_char_type(c);
		pbump(1);
	}
	return traits_type::not_eof(c);
}

std::streamsize FdBuffer::xsputn(const char *s, std::streamsize n) {
	auto size = static_cast<size_t>(n);
	if (size <= static_cast<size_t>(epptr() - pptr())) {
		std::memcpy(pptr(), s, size);
		pbump(static_cast<int>(size));
		return n;
	}
	// Larger than the room left: what is buffered, then the rest directly.
	if (sync() != 0 || !Drain(s, size))
		return 0;
	return n;
}

OutputError::OutputError(int e) : std::runtime_error("cannot write to standard output: " + Reason(e)), error(e) {}

void CheckStandardOutput(std::ostream &out) {
	if (out)
		return;
	auto *fd = dynamic_cast<FdBuffer *>(out.rdbuf());
	throw OutputError(fd && fd->error() ? fd->error() : EIO);
}

// --- Staged files ---------------------------------------------------------------------------

namespace {

// Makes the temporary file beside path, registered as pending; returns its descriptor.
int MakeTemporary(const std::string &path, std::string &temp, PendingPath &pending) {
	// mkstemp picks a name no other writer uses.
	std::vector<char> name(path.begin(), path.end());
	const char suffix[] = ".partial-XXXXXX";
	name.insert(name.end(), suffix, suffix + sizeof suffix);
	HeldSignals held;
	int fd = ::mkstemp(name.data());
	if (fd < 0)
		throw host::HostError(path, 0, "cannot create the file: " + Reason(errno));
	temp = name.data();
	pending = PendingPath(temp, false);
	return fd;
}

}  // namespace

StagedFile::StagedFile(std::string path)
	: path_(std::move(path)), fd_(MakeTemporary(path_, temp_, pending_)), buffer_(fd_, kFileBufferBytes),
	  stream_(&buffer_) {}

StagedFile::~StagedFile() {
	if (committed_)
		return;
	if (fd_ >= 0)
		::close(fd_);
	::unlink(temp_.c_str());
}

void StagedFile::Check() const {
	if (buffer_.error())
		throw host::HostError(path_, 0, "cannot write the file: " + Reason(buffer_.error()));
	if (!stream_)
		throw host::HostError(path_, 0, "cannot write the file");
}

void StagedFile::Close() {
	if (fd_ < 0)
		return;
	stream_.flush();
	Check();
	// Files are created 0600 by mkstemp; outputs get the permissions of a file made normally.
	mode_t mask = ::umask(0);
	::umask(mask);
	::fchmod(fd_, 0666 & ~mask);
	int closed = ::close(fd_);
	int error = errno;
	fd_ = -1;
	buffer_.Detach();
	if (closed != 0)
		throw host::HostError(path_, 0, "cannot write the file: " + Reason(error));
}

void StagedFile::Commit() {
	Close();
	if (std::rename(temp_.c_str(), path_.c_str()) != 0)
		throw host::HostError(path_, 0, "cannot write the file: " + Reason(errno));
	committed_ = true;
	pending_.Forget();
}

// --- Folders --------------------------------------------------------------------------------

OutputFolders::~OutputFolders() {
	for (auto it = made_.rbegin(); it != made_.rend(); ++it)
		::rmdir(it->first.c_str());  // fails, as meant, when something is in it
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
			made_.emplace_back(partial, PendingPath(partial, true));
		else if (errno != EEXIST)
			throw host::HostError(folder, 0, "cannot create the output folder: " + Reason(errno));
	}
	struct stat st;
	if (::stat(folder.c_str(), &st) != 0 || !S_ISDIR(st.st_mode))
		throw host::HostError(folder, 0, "the output folder is not a folder");
}

void OutputFolders::Keep() {
	for (auto &m : made_)
		m.second.Forget();
	made_.clear();
}

// --- Saves ----------------------------------------------------------------------------------

void CheckSaveTarget(const std::string &path) {
	struct stat st;
	if (::stat(path.c_str(), &st) != 0)
		return;
	if (S_ISDIR(st.st_mode))
		throw host::HostError(path, 0, "is a folder; a save needs a file name");
	if (!S_ISREG(st.st_mode))
		throw host::HostError(path, 0, "is not a regular file and is not replaced");
	// A file without write permission is one its owner protects, even from root, whom the
	// system would let replace it.
	if ((st.st_mode & 0222) == 0 || ::access(path.c_str(), W_OK) != 0)
		throw host::HostError(path, 0, "is read-only and is not replaced");
}

void CheckSave(const std::string &folder, const std::string &name) {
	for (size_t slash = name.find('/'); slash != std::string::npos; slash = name.find('/', slash + 1)) {
		std::string sub = folder + "/" + name.substr(0, slash);
		// A link would lead the save out of the output folder.
		struct stat st;
		if (::lstat(sub.c_str(), &st) == 0 && !S_ISDIR(st.st_mode))
			throw host::HostError(sub, 0,
			                      std::string(S_ISLNK(st.st_mode) ? "is a symbolic link" : "is not a folder") +
			                          ", and the save '" + name + "' goes into it");
	}
	CheckSaveTarget(folder + "/" + name);
}

StagedSaves::~StagedSaves() {
	for (const auto *list : {&creating_, &staged_})
		for (const Staged &s : *list)
			::unlink(s.temp.c_str());
}

void StagedSaves::Save(Session &session, const std::string &name) {
	std::string path = folder_ + "/" + name;
	size_t slash = path.rfind('/');
	folders_.Make(path.substr(0, slash));
	CheckSaveTarget(path);
	session.Save(path, *this);
}

void StagedSaves::Check() const {
	for (const Staged &s : staged_)
		CheckSaveTarget(s.path);
}

void StagedSaves::Commit() {
	for (Staged &s : staged_) {
		if (std::rename(s.temp.c_str(), s.path.c_str()) != 0)
			throw host::HostError(s.path, 0, "cannot save the scenario: " + Reason(errno));
		s.pending.Forget();
		s.temp.clear();
	}
	staged_.clear();
}

int StagedSaves::Create(const std::string &path, mode_t mode, int &fd) {
	HeldSignals held;
	int error = SaveFileSystem::Create(path, mode, fd);
	if (error == 0)
		creating_.push_back(Staged{path, std::string(), PendingPath(path, false)});
	return error;
}

int StagedSaves::Rename(const std::string &from, const std::string &to) {
	auto made = std::find_if(creating_.begin(), creating_.end(), [&](const Staged &s) { return s.temp == from; });
	if (made == creating_.end())
		return ENOENT;
	auto earlier = std::find_if(staged_.begin(), staged_.end(), [&](const Staged &s) { return s.path == to; });
	if (earlier != staged_.end()) {
		::unlink(earlier->temp.c_str());
		staged_.erase(earlier);
	}
	made->path = to;
	staged_.push_back(std::move(*made));
	creating_.erase(made);
	return 0;
}

int StagedSaves::Remove(const std::string &path) {
	int error = SaveFileSystem::Remove(path);
	creating_.erase(std::remove_if(creating_.begin(), creating_.end(), [&](const Staged &s) { return s.temp == path; }),
	                creating_.end());
	return error;
}

}  // namespace sim
