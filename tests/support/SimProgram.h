// Running the built sendra-sim as a subprocess in a scratch folder, and reading what it wrote.
#pragma once

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include "Scenes.h"
#include "Scratch.h"

namespace sim_testing {

struct ProgramResult {
	int status = -1;  // exit status; -1 if it did not exit normally
	int signal = 0;   // the signal that ended it, if one did
	std::string out, err;
};

// How the program is started besides its arguments. Every signal has its default disposition
// and none is blocked, as a user's shell starts a program, unless asked otherwise.
struct Launch {
	// Files it writes are limited to this size: writes beyond fail as on a full disk (or raise
	// SIGXFSZ), even for root, which ignores permissions.
	rlim_t fileBytes = RLIM_INFINITY;
	rlim_t addressBytes = RLIM_INFINITY;  // its address space: allocations beyond fail
	enum class Stdout { File, DevFull, ClosedPipe };
	Stdout stdoutTo = Stdout::File;  // a capture file, /dev/full, or a pipe nobody reads
	bool pipeIgnored = false;        // started with SIGPIPE ignored, as some parents do
	std::vector<int> blocked;        // signals blocked when it starts, as a parent may leave them
	// Run in the child before the program starts (a mount namespace of its own); false ends
	// the child with status 126.
	std::function<bool()> inChild;
	// Rules of the fault-injecting wrapper of its file calls (tests/support/FaultShim.cpp);
	// empty: none.
	std::string faults;
};

// In a child about to start a program: every signal at its default disposition and none
// blocked, as a user's shell starts one, whatever the test program itself was started with (a
// background job of a non-interactive shell ignores SIGINT, nohup SIGHUP, a parent may block).
inline void AsAShellStarts() {
	for (int sig = 1; sig < NSIG; ++sig)
		if (sig != SIGKILL && sig != SIGSTOP)
			std::signal(sig, SIG_DFL);  // fails, harmlessly, for the C library's own
	sigset_t none;
	sigemptyset(&none);
	::sigprocmask(SIG_SETMASK, &none, nullptr);
}

// In a child about to become sendra-sim: the fault-injecting wrapper with these rules.
inline void InjectFaults(const std::string &faults) {
	if (faults.empty())
		return;
	::setenv("LD_PRELOAD", SENDRA_FAULT_SHIM, 1);
	::setenv("SENDRA_FAULTS", faults.c_str(), 1);
}

// Waits until the child pid has stopped itself (a STOP rule of the wrapper): a barrier at an
// exact step of its work. False if it ended instead.
inline bool WaitStopped(pid_t pid) {
	int status = 0;
	return ::waitpid(pid, &status, WUNTRACED) == pid && WIFSTOPPED(status);
}

using scenes::ReadFile;
using scenes::WriteFile;

inline std::vector<std::string> Lines(const std::string &text) {
	std::vector<std::string> lines;
	std::istringstream in(text);
	for (std::string line; std::getline(in, line);)
		lines.push_back(line);
	return lines;
}

// Splits one CSV line on commas; fields with quotes are unquoted as RFC 4180 says.
inline std::vector<std::string> CsvFields(const std::string &line) {
	std::vector<std::string> fields(1);
	bool quoted = false;
	for (size_t i = 0; i < line.size(); ++i) {
		char c = line[i];
		if (quoted) {
			if (c == '"' && i + 1 < line.size() && line[i + 1] == '"')
				fields.back() += '"', ++i;
			else if (c == '"')
				quoted = false;
			else
				fields.back() += c;
		} else if (c == '"') {
			quoted = true;
		} else if (c == ',') {
			fields.emplace_back();
		} else {
			fields.back() += c;
		}
	}
	return fields;
}

// A scratch folder that the program runs in; removed with everything in it.
class Scratch : public scenes::ScratchFolder {
public:
	Scratch() : ScratchFolder("sendra-sim-test") {}

	// Starts sendra-sim with args in the scratch folder, its stdout and stderr going to the
	// files beside the folder (so that a long output cannot block it). Returns the child's pid,
	// or -1.
	pid_t Start(const std::vector<std::string> &args, const Launch &launch) const {
		std::filesystem::path outPath = stdoutPath(), errPath = stderrPath();
		pid_t pid = ::fork();
		if (pid == 0) {
			int o = launch.stdoutTo == Launch::Stdout::DevFull ? ::open("/dev/full", O_WRONLY)
			                                                   : ::open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
			int e = ::open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
			if (launch.stdoutTo == Launch::Stdout::ClosedPipe) {
				int p[2];
				if (::pipe(p) != 0)
					::_exit(127);
				::close(p[0]);
				o = p[1];
			}
			if (o < 0 || e < 0 || ::chdir(dir().c_str()) != 0)
				::_exit(127);
			::dup2(o, 1);
			::dup2(e, 2);
			AsAShellStarts();
			if (launch.pipeIgnored)
				std::signal(SIGPIPE, SIG_IGN);
			sigset_t blocked;
			sigemptyset(&blocked);
			for (int sig : launch.blocked)
				sigaddset(&blocked, sig);
			::sigprocmask(SIG_SETMASK, &blocked, nullptr);
			if (launch.inChild && !launch.inChild())
				::_exit(126);
			if (launch.fileBytes != RLIM_INFINITY) {
				rlimit limit{launch.fileBytes, launch.fileBytes};
				::setrlimit(RLIMIT_FSIZE, &limit);
			}
			if (launch.addressBytes != RLIM_INFINITY) {
				rlimit limit{launch.addressBytes, launch.addressBytes};
				::setrlimit(RLIMIT_AS, &limit);
			}
			InjectFaults(launch.faults);
			std::vector<char *> argv{const_cast<char *>(SENDRA_SIM_PROGRAM)};
			for (const std::string &a : args)
				argv.push_back(const_cast<char *>(a.c_str()));
			argv.push_back(nullptr);
			::execv(SENDRA_SIM_PROGRAM, argv.data());
			::_exit(127);
		}
		return pid;
	}
	pid_t Start(const std::vector<std::string> &args, rlim_t fileBytes = RLIM_INFINITY) const {
		Launch launch;
		launch.fileBytes = fileBytes;
		return Start(args, launch);
	}
	std::filesystem::path stdoutPath() const { return path() + ".stdout"; }
	std::filesystem::path stderrPath() const { return path() + ".stderr"; }
	// What a finished child wrote; the capture files are removed.
	void Collect(ProgramResult &r) const {
		r.out = ReadFile(stdoutPath());
		r.err = ReadFile(stderrPath());
		std::filesystem::remove(stdoutPath());
		std::filesystem::remove(stderrPath());
	}

	// Waits for a started child to end and collects what it wrote.
	ProgramResult Finish(pid_t pid) const {
		ProgramResult r;
		int status = 0;
		if (pid > 0 && ::waitpid(pid, &status, 0) == pid) {
			if (WIFEXITED(status))
				r.status = WEXITSTATUS(status);
			else if (WIFSIGNALED(status))
				r.signal = WTERMSIG(status);
		}
		Collect(r);
		return r;
	}

	// Runs sendra-sim with args in the scratch folder to its end.
	ProgramResult Run(const std::vector<std::string> &args, const Launch &launch) const {
		return Finish(Start(args, launch));
	}
	ProgramResult Run(const std::vector<std::string> &args, rlim_t fileBytes = RLIM_INFINITY) const {
		return Finish(Start(args, fileBytes));
	}
};

// The real Orbiter folder of the fixtures (its Config/ and Scenarios/, without meshes or
// modules) laid over the one the build staged, as folder inside s; returns its path.
inline std::string ReleaseRoot(const Scratch &s, const std::string &folder = "orbiter") {
	namespace fs = std::filesystem;
	fs::copy(SENDRA_ORBITER_ROOT, s / folder, fs::copy_options::recursive);
	fs::copy(fs::path(SENDRA_FIXTURES) / "orbiter-release", s / folder,
	         fs::copy_options::recursive | fs::copy_options::overwrite_existing);
	return (s / folder).string();
}

using scenes::Rover;
using scenes::RoverScenario;

}  // namespace sim_testing
