// Finding the program's folder, its default Orbiter folder and scenarios by name.
#include "session/Paths.h"

#include <sys/stat.h>
#include <unistd.h>

#include "sendra_host/Text.h"

namespace sim {

std::string ProgramFolder() {
	char buf[4096];
	ssize_t n = ::readlink("/proc/self/exe", buf, sizeof buf - 1);
	if (n <= 0)
		return ".";
	std::string exe(buf, static_cast<size_t>(n));
	size_t slash = exe.rfind('/');
	return slash == std::string::npos ? std::string(".") : exe.substr(0, slash);
}

std::string DefaultRoot() {
	if (IsFolder(SENDRA_DEFAULT_ROOT))
		return SENDRA_DEFAULT_ROOT;
	return ProgramFolder() + "/orbiter";
}

bool Exists(const std::string &path) {
	struct stat st;
	return ::stat(path.c_str(), &st) == 0;
}

bool IsFolder(const std::string &path) {
	struct stat st;
	return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

std::optional<std::string> FindScenario(const std::string &name, const std::string &root) {
	if (name.empty())
		return std::nullopt;
	if (Exists(name))
		return name;
	if (name[0] == '/' || root.empty())
		return std::nullopt;
	std::string base = root + "/Scenarios/" + name;
	bool hasSuffix = name.size() >= 4 && host::EqualsNoCase(std::string_view(name).substr(name.size() - 4), ".scn");
	for (const std::string &candidate : {hasSuffix ? std::string() : base + ".scn", base}) {
		struct stat st;
		if (!candidate.empty() && ::stat(candidate.c_str(), &st) == 0 && S_ISREG(st.st_mode))
			return candidate;
	}
	return std::nullopt;
}

}  // namespace sim
