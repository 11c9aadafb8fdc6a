// Staged output files, output folders, a script's saves and standard output.
#include "output/OutputFiles.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <iterator>

#include "sendra_host/HostError.h"

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

int CreateStaged(OutputSet &set, const std::string &name, const std::string &path) {
	size_t id = 0;
	int fd = -1;
	if (int error = set.Create(0666, id, fd))
		throw host::HostError(path, 0, "cannot create the file: " + Reason(error));
	set.Place(id, name, path);
	return fd;
}

}  // namespace

StagedFile::StagedFile(OutputSet &set, const std::string &name, std::string path)
	: path_(std::move(path)), fd_(CreateStaged(set, name, path_)), buffer_(fd_, kFileBufferBytes), stream_(&buffer_) {}

StagedFile::~StagedFile() {
	if (fd_ >= 0)
		::close(fd_);
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
	struct stat st;
	size_ = ::fstat(fd_, &st) == 0 ? static_cast<uint64_t>(st.st_size) : 0;
	// On the disk before its commit, which then only renames.
	int error = ::fsync(fd_) == 0 ? 0 : errno;
	if (::close(fd_) != 0 && error == 0)
		error = errno;
	fd_ = -1;
	buffer_.Detach();
	if (error != 0)
		throw host::HostError(path_, 0, "cannot write the file: " + Reason(error));
}

std::string SizeText(uint64_t bytes) {
	if (bytes < 1000)
		return std::to_string(bytes) + " B";
	const char *units[] = {"kB", "MB", "GB", "TB", "PB", "EB"};
	double v = static_cast<double>(bytes);
	size_t u = 0;
	for (v /= 1000; v >= 999.5 && u + 1 < std::size(units); ++u)
		v /= 1000;
	char buf[32];
	std::snprintf(buf, sizeof buf, v < 9.995 ? "%.2f %s" : v < 99.95 ? "%.1f %s" : "%.0f %s", v, units[u]);
	return buf;
}

// --- Saves ----------------------------------------------------------------------------------

namespace {

// What is at name in the open folder dir may be replaced by a save: nothing, or a regular file
// that is not read-only (a link is judged by what it points to, and replaced itself).
void CheckSaveTarget(int dir, const std::string &name, const std::string &path) {
	struct stat st;
	if (::fstatat(dir, name.c_str(), &st, 0) != 0)
		return;
	if (S_ISDIR(st.st_mode))
		throw host::HostError(path, 0, "is a folder; a save needs a file name");
	if (!S_ISREG(st.st_mode))
		throw host::HostError(path, 0, "is not a regular file and is not replaced");
	if (ReadOnly(dir, name))
		throw host::HostError(path, 0, kReadOnly);
}

std::string GoesInto(const std::string &name) { return ", and the save '" + name + "' goes into it"; }

}  // namespace

void CheckSave(const OutputFolder &folder, const std::string &name) {
	// The commit's own names must fit beside it too.
	const size_t max = static_cast<size_t>(folder.NameMax());
	for (size_t start = 0; start < name.size();) {
		size_t slash = std::min(name.find('/', start), name.size());
		if (std::max(slash - start, kLongestStagedName) > max)
			throw host::HostError("the save '" + name + "' is too long: a file name in " + folder.path() +
			                      " may have at most " + std::to_string(max) + " bytes");
		start = slash + 1;
	}
	// A command on the folder would take such a folder for its own staging's.
	if (std::optional<std::string> part = StagingLikePart(name))
		throw host::HostError("the save '" + name + "' goes through '" + *part +
		                      "', a name of this program's hidden folders, which a command on " + folder.path() +
		                      " removes or keeps aside; give it another name");
	if (!folder.open())
		return;
	auto [sub, base] = SplitName(name);
	Fd dir = OpenBeneath(folder.fd(), folder.path(), sub, nullptr, GoesInto(name), true);
	if (!dir)
		return;
	struct stat top, here;
	if (::fstat(folder.fd(), &top) == 0 && ::fstat(dir.get(), &here) == 0 && top.st_dev != here.st_dev)
		throw host::HostError(folder.PathOf(sub), 0, OtherFileSystem(folder.path()) + GoesInto(name));
	CheckSaveTarget(dir.get(), base, folder.PathOf(name));
}

void CheckOutput(const OutputFolder &folder, const std::string &name, const std::string &shown) {
	struct stat st;
	if (!folder.open() || ::fstatat(folder.fd(), name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0)
		return;
	const std::string path = shown.empty() ? folder.PathOf(name) : shown;
	if (S_ISDIR(st.st_mode))
		throw host::HostError(path, 0, "cannot write the file: " + Reason(EISDIR));
	if (ReadOnly(folder.fd(), name))
		throw host::HostError(path, 0, kReadOnly);
}

void StagedSaves::Save(const SaveWriter &write, const std::string &name) {
	auto [sub, base] = SplitName(name);
	Fd dir = OpenBeneath(folder_.fd(), folder_.path(), sub, made_, GoesInto(name));
	CheckSaveTarget(dir.get(), base, folder_.PathOf(name));
	Stage(write, name);
}

void StagedSaves::Stage(const SaveWriter &write, const std::string &name) {
	name_ = name;
	write(folder_.PathOf(name), *this);
	names_.push_back(name);
}

std::vector<std::string> StagedSaves::names() const {
	std::vector<std::string> once;
	for (const std::string &name : names_)
		if (std::find(once.begin(), once.end(), name) == once.end())
			once.push_back(name);
	return once;
}

void StagedSaves::Check() const {
	for (const std::string &name : names_) {
		auto [sub, base] = SplitName(name);
		Fd dir = OpenBeneath(folder_.fd(), folder_.path(), sub, nullptr, GoesInto(name));
		CheckSaveTarget(dir.get(), base, folder_.PathOf(name));
	}
}

// The host writes a save through a temporary file of its own naming that it then renames to
// the save's name; here that file is staged in the set instead, and placed at the save's name.
int StagedSaves::Create(const std::string &path, mode_t mode, int &fd) {
	size_t id = 0;
	int error = set_.Create(mode, id, fd);
	if (error == 0)
		creating_.emplace_back(path, id);
	return error;
}

int StagedSaves::Rename(const std::string &from, const std::string &) {
	auto made = std::find_if(creating_.begin(), creating_.end(), [&](const auto &c) { return c.first == from; });
	if (made == creating_.end())
		return ENOENT;
	set_.Place(made->second, name_);
	creating_.erase(made);
	return 0;
}

int StagedSaves::Remove(const std::string &path) {
	auto made = std::find_if(creating_.begin(), creating_.end(), [&](const auto &c) { return c.first == path; });
	if (made == creating_.end())
		return ENOENT;
	set_.Drop(made->second);
	creating_.erase(made);
	return 0;
}

}  // namespace sim
