// Errors of the stand-in host: every problem with a user's file or module is reported as
// "file:line: what is wrong" (line 0 when no line applies) and never crashes the host.
#pragma once

#include <stdexcept>
#include <string>

namespace host {

class HostError : public std::runtime_error {
public:
	explicit HostError(const std::string &what) : std::runtime_error(what) {}
	HostError(const std::string &file, long line, const std::string &what)
		: std::runtime_error(Format(file, line, what)) {}

	static std::string Format(const std::string &file, long line, const std::string &what) {
		return line > 0 ? file + ":" + std::to_string(line) + ": " + what : file + ": " + what;
	}
};

}  // namespace host
