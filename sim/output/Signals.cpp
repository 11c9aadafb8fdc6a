// The pending paths and the handler of the terminating signals.
#include "output/Signals.h"

#include <unistd.h>

#include <cstring>
#include <vector>

namespace sim {

namespace {

// The signals that end the program by default and come from outside it: held while outputs are
// put in place. The faults the program itself may cause end it at once, held or not; they are
// left to the sanitizers where a sanitizer reports them.
const int kEndSignals[] = {SIGINT,  SIGTERM, SIGHUP,    SIGPIPE, SIGQUIT,   SIGABRT, SIGUSR1, SIGUSR2,
                           SIGALRM, SIGXCPU, SIGVTALRM, SIGPROF, SIGSTKFLT, SIGPWR,  SIGIO};
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define SENDRA_SANITIZED 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer) || __has_feature(memory_sanitizer)
#define SENDRA_SANITIZED 1
#endif
#endif
#ifdef SENDRA_SANITIZED
const int kFaultSignals[] = {SIGTRAP, SIGSYS};
#else
const int kFaultSignals[] = {SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGTRAP, SIGSYS};
#endif

struct Pending {
	int dir = AT_FDCWD;
	std::string path;
	bool folder = false;
	bool live = false;
};

// Changed only while the end signals are held, so that the handler, which only reads them,
// never sees them half-changed. Free slots are reused: a long run makes and keeps files all
// the time.
std::vector<Pending> g_pending;
std::vector<size_t> g_free;
volatile sig_atomic_t g_written = 0;
// The end signals blocked when the program started: they stay blocked, as an ignored one stays
// ignored, and one of them waiting is no reason to stop.
sigset_t g_inheritedBlocked;
bool g_inheritedKnown = false;

sigset_t EndSet() {
	sigset_t set;
	sigemptyset(&set);
	for (int s : kEndSignals)
		sigaddset(&set, s);
	for (int s = SIGRTMIN; s <= SIGRTMAX; ++s)
		sigaddset(&set, s);
	return set;
}

// Unlinks the pending files, then removes the pending folders that are empty, inner ones
// first whatever their order. Only async-signal-safe calls.
void RemovePending() {
	for (const Pending &p : g_pending)
		if (p.live && !p.folder)
			::unlinkat(p.dir, p.path.c_str(), 0);
	for (bool removed = true; removed;) {
		removed = false;
		for (Pending &p : g_pending)
			if (p.live && p.folder && ::unlinkat(p.dir, p.path.c_str(), AT_REMOVEDIR) == 0)
				p.live = false, removed = true;
	}
}

extern "C" void OnEndSignal(int signal) {
	RemovePending();
	// Said on standard error, as a status alone does not tell a user who pressed Ctrl-C whether
	// anything of this command was kept; a reader that left the pipe needs no word. Outputs are
	// put in place with the end signals held, so that this is never said in the middle.
	const char *what = signal == SIGINT    ? "sendra-sim: interrupted (SIGINT)"
	                   : signal == SIGTERM ? "sendra-sim: terminated (SIGTERM)"
	                   : signal == SIGHUP  ? "sendra-sim: hung up (SIGHUP)"
	                   : signal == SIGPIPE ? nullptr
	                   : signal == SIGQUIT ? "sendra-sim: quit (SIGQUIT)"
	                   : signal == SIGABRT ? "sendra-sim: aborted (SIGABRT)"
	                                       : "sendra-sim: ended by a signal";
	const char *outcome = g_written ? " after this command's outputs were written\n"
	                                : ": this command's outputs were not written\n";
	if (what) {
		(void)!::write(STDERR_FILENO, what, std::strlen(what));
		(void)!::write(STDERR_FILENO, outcome, std::strlen(outcome));
	}
	// The default action once the handler returns: the signal stays blocked until then.
	::signal(signal, SIG_DFL);
	::raise(signal);
}

}  // namespace

HeldSignals::HeldSignals() {
	sigset_t set = EndSet();
	::pthread_sigmask(SIG_BLOCK, &set, &old_);
}

HeldSignals::~HeldSignals() { ::pthread_sigmask(SIG_SETMASK, &old_, nullptr); }

PendingPath::PendingPath(int dir, const std::string &path, bool folder) {
	HeldSignals held;
	if (!g_free.empty()) {
		slot_ = g_free.back();
		g_free.pop_back();
		g_pending[slot_] = Pending{dir, path, folder, true};
	} else {
		slot_ = g_pending.size();
		g_pending.push_back(Pending{dir, path, folder, true});
	}
}

PendingPath &PendingPath::operator=(PendingPath &&other) noexcept {
	if (this != &other) {
		Forget();
		slot_ = other.slot_;
		other.slot_ = kNone;
	}
	return *this;
}

void PendingPath::Forget() {
	if (slot_ == kNone)
		return;
	HeldSignals held;
	g_pending[slot_] = Pending{};
	g_free.push_back(slot_);
	slot_ = kNone;
}

bool EndSignalPending() {
	sigset_t pending, end = EndSet();
	if (::sigpending(&pending) != 0)
		return false;
	for (int s = 1; s < NSIG; ++s)
		if (sigismember(&end, s) == 1 && sigismember(&pending, s) == 1 &&
		    !(g_inheritedKnown && sigismember(&g_inheritedBlocked, s) == 1))
			return true;
	return false;
}

void MarkOutputsWritten() { g_written = 1; }

EndSignals::EndSignals() {
	struct sigaction ignore;
	std::memset(&ignore, 0, sizeof ignore);
	ignore.sa_handler = SIG_IGN;
	sigemptyset(&ignore.sa_mask);
	::sigaction(SIGXFSZ, &ignore, &old_[SIGXFSZ]);
	::pthread_sigmask(SIG_BLOCK, nullptr, &g_inheritedBlocked);
	g_inheritedKnown = true;

	struct sigaction end;
	std::memset(&end, 0, sizeof end);
	end.sa_handler = OnEndSignal;
	end.sa_mask = EndSet();  // one handler at a time
	sigset_t ends = EndSet();
	for (int s : kFaultSignals)
		sigaddset(&ends, s);
	for (int s = 1; s < NSIG; ++s) {
		if (sigismember(&ends, s) != 1 || ::sigaction(s, nullptr, &old_[s]) != 0)
			continue;
		handled_[s] = true;
		if (old_[s].sa_handler != SIG_IGN && sigismember(&g_inheritedBlocked, s) != 1)
			::sigaction(s, &end, nullptr);
	}
}

EndSignals::~EndSignals() {
	::sigaction(SIGXFSZ, &old_[SIGXFSZ], nullptr);
	for (int s = 1; s < NSIG; ++s)
		if (handled_[s])
			::sigaction(s, &old_[s], nullptr);
	g_inheritedKnown = false;
}

}  // namespace sim
