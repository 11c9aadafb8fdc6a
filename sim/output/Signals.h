// How run, render and inspect end on a signal: the files and folders they made and have not
// yet put in place are pending, and a terminating signal removes them before it ends the
// program as it would have without a handler. A write beyond a file-size limit is a write
// error, not the end of the program.
#pragma once

#include <cstddef>
#include <string>

#include <fcntl.h>
#include <signal.h>

namespace sim {

// The terminating signals held back while a pending path is made, registered or put in
// place, so that a signal never finds half of that done. Nests.
class HeldSignals {
public:
	HeldSignals();
	~HeldSignals();
	HeldSignals(const HeldSignals &) = delete;
	HeldSignals &operator=(const HeldSignals &) = delete;

private:
	sigset_t old_;
};

// A path the program made and has not kept yet: a file the end signals unlink, or a folder
// they remove once it is empty. Register it under HeldSignals together with making it.
class PendingPath {
public:
	PendingPath() = default;
	PendingPath(const std::string &path, bool folder) : PendingPath(AT_FDCWD, path, folder) {}
	// name inside the open folder dir, which stays open while the path is pending.
	PendingPath(int dir, const std::string &name, bool folder);
	~PendingPath() { Forget(); }
	PendingPath(PendingPath &&other) noexcept : slot_(other.slot_) { other.slot_ = kNone; }
	PendingPath &operator=(PendingPath &&other) noexcept;
	PendingPath(const PendingPath &) = delete;
	PendingPath &operator=(const PendingPath &) = delete;

	// No longer pending: kept, or already removed.
	void Forget();

private:
	static constexpr size_t kNone = ~size_t(0);
	size_t slot_ = kNone;
};

// Whether an end signal came while they were held, and waits for them to be let through.
bool EndSignalPending();

// From now on an end signal says that this command's outputs are in place rather than that
// they were not written. Call it under HeldSignals together with the last step that put them
// there.
void MarkOutputsWritten();

// While one exists: SIGXFSZ is ignored, so that a write beyond the file-size limit fails as
// on a full disk; SIGINT, SIGTERM, SIGHUP, SIGPIPE, SIGQUIT, SIGABRT and every other signal
// whose default ends the program remove the pending paths and then end the program by the
// signal's default action. A signal that the program was started with ignored (nohup's SIGHUP)
// stays ignored, and one it was started with blocked stays blocked and is not waited on. The
// earlier dispositions come back afterwards.
class EndSignals {
public:
	EndSignals();
	~EndSignals();
	EndSignals(const EndSignals &) = delete;
	EndSignals &operator=(const EndSignals &) = delete;

private:
	struct sigaction old_[NSIG];  // by signal number
	bool handled_[NSIG] = {};
};

}  // namespace sim
