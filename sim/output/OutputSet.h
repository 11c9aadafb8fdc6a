// Putting a command's outputs in place all at once. An output folder is opened once and every
// file is made, checked and renamed relative to it, its subfolders opened without following
// links. A command's files are staged in a hidden folder of their own inside it and put in
// place together: the old files kept as hard-linked backups, a journal beside them, until the
// whole new set is there; a failure puts the old set back, and a command killed mid-way leaves
// the journal for the next run on the folder, which puts the old set back first.
#pragma once

#include <sys/types.h>

#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "output/Signals.h"

namespace sim {

// A file descriptor that closes itself.
class Fd {
public:
	Fd() = default;
	explicit Fd(int fd) : fd_(fd) {}
	~Fd() { Reset(); }
	Fd(Fd &&other) noexcept : fd_(other.fd_) { other.fd_ = -1; }
	Fd &operator=(Fd &&other) noexcept;
	Fd(const Fd &) = delete;
	Fd &operator=(const Fd &) = delete;

	int get() const { return fd_; }
	explicit operator bool() const { return fd_ >= 0; }
	void Reset();

private:
	int fd_ = -1;
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
	// name, a folder just made inside the open folder dir, which stays open while it is pending.
	void Made(int dir, const std::string &name);
	// The folders stay.
	void Keep();

private:
	struct Made_ {
		int dir;
		std::string name;
		PendingPath pending;
	};
	std::vector<Made_> made_;  // in the order made: outer first
};

// The folder a command writes into, opened once (following a link that its path itself names,
// as its user gave it), so that whatever is renamed or replaced by a link during the command
// cannot lead a write elsewhere.
class OutputFolder {
public:
	enum class Use {
		Shared,     // others may write beside this command (a picture, a quicksave)
		Exclusive,  // a run's folder: a second run on it ends at once
	};
	// Opens the folder at path when it is there, and puts right what a command killed during
	// its commit left there (see TakeWarnings); see Make. Throws host::HostError naming path
	// when it is not a folder, its path passes through a name of the staging's (StagingLike),
	// for Exclusive use when another run holds it, and when what a dead commit left cannot be
	// put right, saying what to do.
	OutputFolder(std::string path, Use use);
	OutputFolder(const OutputFolder &) = delete;
	OutputFolder &operator=(const OutputFolder &) = delete;

	// Makes the folder and its missing parents unless it is open, then opens it; the folders
	// made are pending in made. Throws host::HostError naming path.
	void Make(OutputFolders &made);

	bool open() const { return static_cast<bool>(fd_); }
	int fd() const { return fd_.get(); }
	const std::string &path() const { return path_; }
	// A name inside the folder as messages show it.
	std::string PathOf(const std::string &name) const { return path_ + "/" + name; }
	// The longest file name that the folder's file system takes [bytes].
	long NameMax() const;
	// What opening the folder found and said nothing of yet: staging folders left alone, old
	// files kept aside instead of put back, new ones put in place.
	std::vector<std::string> TakeWarnings();

private:
	void Opened();

	std::string path_;
	Use use_;
	Fd fd_;
	std::vector<std::string> warnings_;
};

// The longest name the staging of a commit gives a file or folder of its own [bytes]: the
// names that a commit checks against NameMax with the outputs' own.
extern const size_t kLongestStagedName;

// Whether a file or folder name is one the staging gives its own folders (.sendra-staging-...,
// .sendra-new-..., .sendra-kept-...), which a recovery removes or keeps aside; and the first
// part of a path that is, if any.
bool StagingLike(const std::string &name);
// Whether name in the open folder dir is a file that no command replaces: a regular one (or a
// link to one) without write permission, for this user or for anyone; and what a refusal says.
bool ReadOnly(int dir, const std::string &name);
extern const char kReadOnly[];
// What a folder on another file system than folder, the output folder, is said to be.
std::string OtherFileSystem(const std::string &folder);
std::optional<std::string> StagingLikePart(const std::string &path);

// Opens the folder rel (a relative path of plain names, "" for base itself) inside the open
// folder base without following a link in any of its parts; with made, makes the parts that
// are missing (pending in made). Throws host::HostError naming (as basePath/...) the part that
// is a link or no folder, followed by why; with missingIsEmpty, a part that is missing gives
// an empty Fd instead.
Fd OpenBeneath(int base, const std::string &basePath, const std::string &rel, OutputFolders *made = nullptr,
               const std::string &why = "", bool missingIsEmpty = false);

// "a/b/c.scn" -> "a/b" and "c.scn": the folder of a name inside an output folder, and its own.
std::pair<std::string, std::string> SplitName(const std::string &name);

// length letters and digits, as random as the system gives them: a name no one else uses.
std::string RandomName(size_t length);

// One command's outputs in an output folder: staged in a folder of their own inside it, then
// put in place together by Commit, or removed (also by the end signals) when the command
// does not get that far.
class OutputSet {
public:
	// Makes the staging folder in folder, which is open. Throws host::HostError naming
	// firstName (an output's path as messages show it) when it cannot.
	OutputSet(const OutputFolder &folder, const std::string &firstName);
	~OutputSet();
	OutputSet(const OutputSet &) = delete;
	OutputSet &operator=(const OutputSet &) = delete;

	// A new file in the staging folder with permissions mode (less the umask): its number in
	// id and its descriptor, which the caller closes, in fd. Returns 0 or the errno value.
	int Create(mode_t mode, size_t &id, int &fd);
	// The name (a relative path of plain names) that Commit gives the file id, shown in
	// messages as shown (by default the folder's path and name); a file staged earlier for the
	// same name is dropped.
	void Place(size_t id, const std::string &name, const std::string &shown = "");
	// The file id is not wanted after all.
	void Drop(size_t id);

	// Puts every placed file at its name in one step as far as anyone can tell once the
	// command has ended: all of them, or, on a failure, none (the old files back where they
	// were). The end signals are held throughout. Throws host::HostError naming the file.
	void Commit();
	// Puts the one placed file at the first free name of names(0), names(1), ..., which
	// return nothing when there are no more to try: never replacing a file. Returns the name,
	// or nothing when every name was taken. Throws host::HostError naming the file otherwise.
	std::optional<std::string> CommitNew(const std::function<std::optional<std::string>(int)> &names);

private:
	struct Entry {
		std::string staged;  // its name in the staging folder
		std::string name;    // where it goes; empty until placed, and once dropped
		std::string shown;   // where it goes, as messages show it
		PendingPath pending;
		// While committing:
		Fd dir;               // the folder it goes into
		bool hadOld = false;  // a file was there, kept as the backup
		mode_t oldMode = 0;   // its type and permissions
		bool moved = false;   // the backup is the old file itself, moved aside
		bool placed = false;  // it is in place
	};
	std::vector<Entry *> Placed();
	// Puts the old files back; false when some could not be, and the staging folder is kept.
	bool Undo(const std::vector<Entry *> &entries);
	void Clean();

	const OutputFolder &folder_;
	std::string stagingName_;
	Fd staging_;
	PendingPath pending_;
	std::vector<Entry> entries_;
	bool keep_ = false;  // the staging folder holds what the next run must put back
};

}  // namespace sim
