// Output files that appear complete or not at all: written under a temporary name beside the
// final one and renamed over it only when the whole run has succeeded.
#pragma once

#include <fstream>
#include <memory>
#include <string>

namespace sim {

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
	// Flushes and closes; throws host::HostError if anything could not be written.
	void Close();
	// Renames the closed file to its final name; throws host::HostError on failure.
	void Commit();

private:
	std::string path_, temp_;
	std::unique_ptr<char[]> buffer_;
	std::ofstream stream_;
	bool closed_ = false, committed_ = false;
};

// Creates folder and its missing parents; throws host::HostError naming it on failure.
void MakeFolders(const std::string &folder);

}  // namespace sim
