// Writing outputs: files streamed into a command's OutputSet, which puts them in place only when
// the whole command has succeeded; the scenarios a drive script saves; and standard output,
// which is an output too. Every write error is kept with its cause, so that a failure names
// the file and the reason.
#pragma once

#include <cstdint>
#include <functional>
#include <ostream>
#include <stdexcept>
#include <streambuf>
#include <string>
#include <vector>

#include "sendra_host/ScenarioIO.h"
#include "output/OutputSet.h"
#include "output/Signals.h"

namespace sim {

// An output stream buffer over a file descriptor it does not own. The first failed write
// fails the stream and is kept (error()); nothing is written after it.
class FdBuffer : public std::streambuf {
public:
	// What is still buffered when it is destroyed is not written: flush first.
	FdBuffer(int fd, size_t bytes);
	int error() const { return error_; }
	// Once the descriptor is closed: later writes fail instead of reaching a file that reuses it.
	void Detach() { fd_ = -1; }

protected:
	int_type overflow(int_type c) override;
	std::streamsize xsputn(const char *s, std::streamsize n) override;
	int sync() override;

private:
	bool Drain(const char *data, size_t size);

	int fd_;
	std::vector<char> buffer_;
	int error_ = 0;
};

// A size as a person reads it, in decimal units with three figures: "487 B", "73.7 kB", "2.98 MB".
std::string SizeText(uint64_t bytes);

// Standard output could not be written; error is the errno of the failed write.
class OutputError : public std::runtime_error {
public:
	explicit OutputError(int error);
	int error;
};

// Throws OutputError if out, standard output, has failed: with the error its FdBuffer kept,
// else EIO.
void CheckStandardOutput(std::ostream &out);

// A file of a command's outputs, staged in its OutputSet and streamed to.
class StagedFile {
public:
	// Stages a file in set for name inside the set's folder, shown in messages as path. Throws
	// host::HostError naming path when it cannot be made.
	StagedFile(OutputSet &set, const std::string &name, std::string path);
	// Closes the file; the set removes it unless it was committed.
	~StagedFile();
	StagedFile(const StagedFile &) = delete;
	StagedFile &operator=(const StagedFile &) = delete;

	std::ostream &out() { return stream_; }
	const std::string &path() const { return path_; }
	// Throws host::HostError naming the file if a write to it has failed.
	void Check() const;
	// Flushes and closes; throws host::HostError if anything could not be written.
	void Close();
	// [bytes] of the file once closed.
	uint64_t size() const { return size_; }

private:
	std::string path_;
	uint64_t size_ = 0;
	int fd_;  // -1 once closed
	FdBuffer buffer_;
	std::ostream stream_;
};

// Checks, before anything is written, that a save of name (relative, without "..") inside
// folder can be made: each part of its name fits the folder's file system with room for the
// staging's names and is none of the staging's (StagingLike), the subfolders it names are
// folders where they exist (not links) on the folder's file system, and nothing there is a
// folder, another kind of file or read-only. Throws host::HostError naming
// the path that is in the way.
void CheckSave(const OutputFolder &folder, const std::string &name);

// Writes a scenario to path through files, which stage what it makes: a session's save.
using SaveWriter = std::function<void(const std::string &path, host::SaveFileSystem &files)>;

// Checks, before anything is written, that an output file name (a plain name) inside folder
// can be replaced: nothing, or a file that is not read-only, is there. Throws host::HostError
// naming it as shown (by default the folder's path and name).
void CheckOutput(const OutputFolder &folder, const std::string &name, const std::string &shown = "");

// A drive script's saves inside an output folder, staged as the command's other outputs are:
// each written whole when its event comes, into the OutputSet that puts them in place with
// the rest. A later save to the same name replaces an earlier one.
class StagedSaves : private host::SaveFileSystem {
public:
	// made, when given, takes the subfolders that saves make.
	StagedSaves(const OutputFolder &folder, OutputSet &set, OutputFolders *made)
		: folder_(folder), set_(set), made_(made) {}
	StagedSaves(const StagedSaves &) = delete;
	StagedSaves &operator=(const StagedSaves &) = delete;

	// Saves what write writes as name, a relative path without "..", inside the folder, making
	// the subfolders it names without following a link. Throws host::HostError naming the file.
	void Save(const SaveWriter &write, const std::string &name);
	// The same without checking what is there now: for a file that never replaces another.
	void Stage(const SaveWriter &write, const std::string &name);
	// Throws host::HostError if a save would now replace something that a save may not.
	void Check() const;
	// The names saved, each once, in the order first saved.
	std::vector<std::string> names() const;

private:
	int Create(const std::string &path, mode_t mode, int &fd) override;
	int Rename(const std::string &from, const std::string &to) override;
	int Remove(const std::string &path) override;

	const OutputFolder &folder_;
	OutputSet &set_;
	OutputFolders *made_;
	std::string name_;                               // of the save being written
	std::vector<std::pair<std::string, size_t>> creating_;  // the host's names of files being written
	std::vector<std::string> names_;                 // the saves staged
};

}  // namespace sim
