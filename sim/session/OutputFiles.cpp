// Staged output files and output folders.
#include "session/OutputFiles.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <vector>

#include "HostError.h"

namespace sim {

namespace {
const size_t kBufferBytes = 1 << 16;  // rows are streamed; a large buffer keeps writes few
}

StagedFile::StagedFile(std::string path) : path_(std::move(path)), buffer_(new char[kBufferBytes]) {
	// mkstemp picks a name no other writer uses; the stream then reopens it.
	std::vector<char> name(path_.begin(), path_.end());
	const char suffix[] = ".partial-XXXXXX";
	name.insert(name.end(), suffix, suffix + sizeof suffix);
	int fd = ::mkstemp(name.data());
	if (fd < 0)
		throw host::HostError(path_, 0, std::string("cannot create the file: ") + std::strerror(errno));
	::close(fd);
	temp_ = name.data();
	stream_.rdbuf()->pubsetbuf(buffer_.get(), kBufferBytes);
	stream_.open(temp_, std::ios::binary | std::ios::trunc);
	if (!stream_) {
		::unlink(temp_.c_str());
		throw host::HostError(path_, 0, "cannot create the file");
	}
}

StagedFile::~StagedFile() {
	if (!committed_) {
		if (stream_.is_open())
			stream_.close();
		::unlink(temp_.c_str());
	}
}

void StagedFile::Close() {
	if (closed_)
		return;
	stream_.flush();
	bool ok = static_cast<bool>(stream_);
	stream_.close();
	closed_ = true;
	if (!ok || stream_.fail())
		throw host::HostError(path_, 0, "cannot write the file (is the disk full?)");
	// Files are created 0600 by mkstemp; outputs get the permissions of a file made normally.
	mode_t mask = ::umask(0);
	::umask(mask);
	::chmod(temp_.c_str(), 0666 & ~mask);
}

void StagedFile::Commit() {
	Close();
	if (std::rename(temp_.c_str(), path_.c_str()) != 0)
		throw host::HostError(path_, 0, std::string("cannot write the file: ") + std::strerror(errno));
	committed_ = true;
}

void MakeFolders(const std::string &folder) {
	std::string partial;
	size_t pos = 0;
	while (pos != std::string::npos) {
		pos = folder.find('/', pos + 1);
		partial = folder.substr(0, pos);
		if (partial.empty())
			continue;
		if (::mkdir(partial.c_str(), 0777) != 0 && errno != EEXIST)
			throw host::HostError(folder, 0, std::string("cannot create the output folder: ") + std::strerror(errno));
	}
	struct stat st;
	if (::stat(folder.c_str(), &st) != 0 || !S_ISDIR(st.st_mode))
		throw host::HostError(folder, 0, "the output folder is not a folder");
}

}  // namespace sim
