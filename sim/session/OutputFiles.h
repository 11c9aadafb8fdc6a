// Output files that appear complete or not at all: written under a temporary name beside the
// final one and renamed over it only when the whole command has succeeded; the folders made
// for them; the scenarios a drive script saves; and standard output, which is an output too.
// Every write error is kept with its cause, so that a failure names the file and the reason.
#pragma once

#include <ostream>
#include <stdexcept>
#include <streambuf>
#include <string>
#include <vector>

#include "ScenarioIO.h"
#include "session/Signals.h"

namespace sim {

class Session;

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

// Standard output could not be written; error is the errno of the failed write.
class OutputError : public std::runtime_error {
public:
	explicit OutputError(int error);
	int error;
};

// Throws OutputError if out, standard output, has failed: with the error its FdBuffer kept,
// else EIO.
void CheckStandardOutput(std::ostream &out);

class StagedFile {
public:
	// Creates the temporary file beside path; throws host::HostError naming path on failure.
	explicit StagedFile(std::string path);
	// Removes the temporary file unless it was committed.
	~StagedFile();
	StagedFile(const StagedFile &) = delete;
	StagedFile &operator=(const StagedFile &) = delete;

	std::ostream &out() { return stream_; }
	const std::string &path() const { return path_; }
	// Throws host::HostError naming the file if a write to it has failed.
	void Check() const;
	// Flushes and closes; throws host::HostError if anything could not be written.
	void Close();
	// Renames the closed file to its final name; throws host::HostError on failure.
	void Commit();

private:
	std::string path_, temp_;
	PendingPath pending_;
	int fd_;  // the temporary file's, -1 once closed
	FdBuffer buffer_;
	std::ostream stream_;
	bool committed_ = false;
};

// The folders a command makes for its outputs; those still empty are removed again unless the
// command kept its outputs.
class OutputFolders {
public:
	OutputFolders() = default;
	~OutputFolders();
	OutputFolders(const OutputFolders &) = delete;
	OutputFolders &operator=(const OutputFolders &) = delete;

	// Creates folder and its missing parents; throws host::HostError naming it on failure.
	void Make(const std::string &folder);
	// The folders stay.
	void Keep();

private:
	std::vector<std::pair<std::string, PendingPath>> made_;  // in the order made: outer first
};

// Checks that a save may write path: nothing there, or a regular file that is not read-only.
// Throws host::HostError naming path.
void CheckSaveTarget(const std::string &path);
// Checks, before anything is written, that a save of name (relative, without "..") inside
// folder can be made: the subfolders it names are folders where they exist, and
// CheckSaveTarget. Throws host::HostError naming the path that is in the way.
void CheckSave(const std::string &folder, const std::string &name);

// A drive script's saves inside an output folder, staged as the run's files are: each written
// whole under a temporary name when its event comes, and all put in place with the run's
// outputs when the run succeeds. A later save to the same name replaces an earlier one.
class StagedSaves : private host::SaveFileSystem {
public:
	StagedSaves(std::string folder, OutputFolders &folders) : folder_(std::move(folder)), folders_(folders) {}
	~StagedSaves() override;
	StagedSaves(const StagedSaves &) = delete;
	StagedSaves &operator=(const StagedSaves &) = delete;

	// Saves session as name, a relative path without "..", inside the folder, making the
	// subfolders it names. Throws host::HostError naming the file.
	void Save(Session &session, const std::string &name);
	// Throws host::HostError if a save would now replace something that CheckSaveTarget refuses.
	void Check() const;
	// Puts every save in place; throws host::HostError if a rename fails.
	void Commit();

private:
	int Create(const std::string &path, mode_t mode, int &fd) override;
	int Rename(const std::string &from, const std::string &to) override;
	int Remove(const std::string &path) override;

	struct Staged {
		std::string temp, path;
		PendingPath pending;
	};
	std::string folder_;
	OutputFolders &folders_;
	std::vector<Staged> creating_;  // made by the host's save and not yet renamed by it
	std::vector<Staged> staged_;    // complete, to be put in place
};

}  // namespace sim
