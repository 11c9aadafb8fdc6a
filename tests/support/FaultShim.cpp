// A fault-injecting wrapper of the file calls of a program, loaded into sendra-sim by tests
// (LD_PRELOAD) so that a test can stand for a full or read-only disk, or a kill at an exact
// step of a commit, without timing, and as root. SENDRA_FAULTS holds rules separated by ';':
//   OP[@TEXT][#N[+]]=ACTION
// OP is rename, link, mkdir or unlink, or rename2 for a rename with flags alone (renameat2's);
// TEXT a part of the path (either path of a rename or link) that the call must touch; N the
// matching call it applies to, from 1, and with '+' every one from there on; ACTION an errno
// name that the call fails with (EIO, EROFS, ENOSPC, EFBIG, EACCES, EXDEV, EPERM, EINVAL,
// ENOSYS, EOPNOTSUPP, EMLINK) or a signal raised just before it (KILL, STOP, TERM, INT, QUIT,
// ABRT, USR1).
#include <dlfcn.h>
#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

namespace {

struct Rule {
	std::string op, text;
	long from = 1;
	bool onwards = false;
	int error = 0, signal = 0;
	long seen = 0;
};

int Named(const std::string &name, int &signal) {
	static const std::pair<const char *, int> kErrors[] = {{"EIO", EIO},     {"EROFS", EROFS},   {"ENOSPC", ENOSPC},
	                                                       {"EFBIG", EFBIG}, {"EACCES", EACCES}, {"EXDEV", EXDEV},
	                                                       {"EPERM", EPERM}, {"EINVAL", EINVAL}, {"ENOSYS", ENOSYS},
	                                                       {"EOPNOTSUPP", EOPNOTSUPP}, {"EMLINK", EMLINK}};
	static const std::pair<const char *, int> kSignals[] = {{"KILL", SIGKILL}, {"STOP", SIGSTOP}, {"TERM", SIGTERM},
	                                                        {"INT", SIGINT},   {"QUIT", SIGQUIT}, {"ABRT", SIGABRT},
	                                                        {"USR1", SIGUSR1}};
	for (const auto &[n, e] : kErrors)
		if (name == n)
			return e;
	for (const auto &[n, s] : kSignals)
		if (name == n)
			signal = s;
	return 0;
}

// Never destroyed: calls made while the program exits still find them.
std::vector<Rule> &Rules() {
	static std::vector<Rule> &rules = *new std::vector<Rule>([] {
		std::vector<Rule> parsed;
		const char *env = std::getenv("SENDRA_FAULTS");
		std::string all = env ? env : "";
		for (size_t start = 0; start < all.size();) {
			size_t end = std::min(all.find(';', start), all.size());
			std::string text = all.substr(start, end - start);
			start = end + 1;
			size_t equals = text.rfind('=');
			if (equals == std::string::npos)
				continue;
			Rule r;
			r.error = Named(text.substr(equals + 1), r.signal);
			if (!r.error && !r.signal) {
				// A rule that would do nothing is a test's mistake, not a passing test.
				std::fprintf(stderr, "SENDRA_FAULTS: unknown action in '%s'\n", text.c_str());
				std::_Exit(99);
			}
			text.resize(equals);
			if (size_t hash = text.rfind('#'); hash != std::string::npos) {
				r.onwards = text.back() == '+';
				r.from = std::atol(text.c_str() + hash + 1);
				text.resize(hash);
			}
			if (size_t at = text.find('@'); at != std::string::npos) {
				r.text = text.substr(at + 1);
				text.resize(at);
			}
			r.op = text;
			parsed.push_back(r);
		}
		return parsed;
	}());
	return rules;
}

std::mutex g_mutex;

// What the descriptor fd is open on.
std::string FdPath(int fd) {
	char buf[4096];
	ssize_t n = ::readlink(("/proc/self/fd/" + std::to_string(fd)).c_str(), buf, sizeof buf - 1);
	return n > 0 ? std::string(buf, static_cast<size_t>(n)) : std::string();
}

std::string PathOf(int dir, const char *path) {
	if (!path)
		return std::string();
	if (path[0] == '/')
		return path;
	char buf[4096];
	std::string base = dir != AT_FDCWD ? FdPath(dir) : ::getcwd(buf, sizeof buf) ? std::string(buf) : std::string();
	return base + "/" + path;
}


// Whether the call fails, with errno set; a signal of a matching rule is raised first, outside
// the lock, as its handler may make calls of its own.
bool Fault(const char *op, const std::string &a, const std::string &b = std::string()) {
	int signal = 0, error = 0;
	{
		std::lock_guard<std::mutex> lock(g_mutex);
		for (Rule &r : Rules()) {
			if (r.op != op ||
			    (!r.text.empty() && a.find(r.text) == std::string::npos && b.find(r.text) == std::string::npos))
				continue;
			++r.seen;
			if (r.seen < r.from || (r.seen > r.from && !r.onwards))
				continue;
			signal = signal ? signal : r.signal;
			error = error ? error : r.error;
		}
	}
	if (signal)
		::raise(signal);
	if (error)
		errno = error;
	return error != 0;
}

// Read before the program runs, not first in a signal handler.
__attribute__((constructor)) void ReadRules() { Rules(); }

bool Wants(const char *op) {
	for (const Rule &r : Rules())
		if (r.op == op)
			return true;
	return false;
}

template <typename F>
F Real(const char *name) {
	return reinterpret_cast<F>(::dlsym(RTLD_NEXT, name));
}

}  // namespace

extern "C" {

int renameat(int fromDir, const char *from, int toDir, const char *to) {
	if (Wants("rename") && Fault("rename", PathOf(fromDir, from), PathOf(toDir, to)))
		return -1;
	return Real<int (*)(int, const char *, int, const char *)>("renameat")(fromDir, from, toDir, to);
}

int renameat2(int fromDir, const char *from, int toDir, const char *to, unsigned flags) {
	if (flags != 0 && Wants("rename2") && Fault("rename2", PathOf(fromDir, from), PathOf(toDir, to)))
		return -1;
	if (Wants("rename") && Fault("rename", PathOf(fromDir, from), PathOf(toDir, to)))
		return -1;
	return Real<int (*)(int, const char *, int, const char *, unsigned)>("renameat2")(fromDir, from, toDir, to, flags);
}

int rename(const char *from, const char *to) {
	if (Wants("rename") && Fault("rename", PathOf(AT_FDCWD, from), PathOf(AT_FDCWD, to)))
		return -1;
	return Real<int (*)(const char *, const char *)>("rename")(from, to);
}

int linkat(int fromDir, const char *from, int toDir, const char *to, int flags) {
	if (Wants("link") && Fault("link", PathOf(fromDir, from), PathOf(toDir, to)))
		return -1;
	return Real<int (*)(int, const char *, int, const char *, int)>("linkat")(fromDir, from, toDir, to, flags);
}

int mkdirat(int dir, const char *path, mode_t mode) {
	if (Wants("mkdir") && Fault("mkdir", PathOf(dir, path)))
		return -1;
	return Real<int (*)(int, const char *, mode_t)>("mkdirat")(dir, path, mode);
}

int mkdir(const char *path, mode_t mode) {
	if (Wants("mkdir") && Fault("mkdir", PathOf(AT_FDCWD, path)))
		return -1;
	return Real<int (*)(const char *, mode_t)>("mkdir")(path, mode);
}

int unlinkat(int dir, const char *path, int flags) {
	if (Wants("unlink") && Fault("unlink", PathOf(dir, path)))
		return -1;
	return Real<int (*)(int, const char *, int)>("unlinkat")(dir, path, flags);
}

}  // extern "C"
