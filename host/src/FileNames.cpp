// Finding an Orbiter folder's files whatever the letter case of their names.
#include "src/FileNames.h"

#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>

#include "sendra_host/Text.h"

namespace host {

namespace {

// The names in dir that equal name without regard to case, in byte order.
std::vector<std::string> Matches(const std::string &dir, const std::string &name) {
	std::vector<std::string> out;
	DIR *d = ::opendir(dir.c_str());
	if (!d)
		return out;
	while (dirent *e = ::readdir(d))
		if (EqualsNoCase(e->d_name, name))
			out.emplace_back(e->d_name);
	::closedir(d);
	std::sort(out.begin(), out.end());
	return out;
}

}  // namespace

std::optional<std::string> FindNoCase(const std::string &folder, const std::string &relative,
                                      std::vector<std::string> &notes) {
	std::string path = folder;
	std::string rel = relative;
	std::replace(rel.begin(), rel.end(), '\\', '/');
	bool any = false;
	for (size_t at = 0; at <= rel.size();) {
		size_t slash = rel.find('/', at);
		std::string part = rel.substr(at, slash == std::string::npos ? std::string::npos : slash - at);
		at = slash == std::string::npos ? rel.size() + 1 : slash + 1;
		if (part.empty())
			continue;
		if (part == "." || part == "..")
			return std::nullopt;
		std::vector<std::string> found = Matches(path.empty() ? "." : path, part);
		if (found.empty())
			return std::nullopt;
		std::string taken = std::find(found.begin(), found.end(), part) != found.end() ? part : found.front();
		if (found.size() > 1) {
			std::string names;
			for (size_t i = 0; i < found.size(); ++i)
				names += (i == 0 ? "'" : i + 1 == found.size() ? " and '" : ", '") + found[i] + "'";
			notes.push_back((path.empty() ? "." : path) + ": " + names + " differ only in letter case; '" + taken +
			                "' was taken");
		}
		path += (path.empty() || path.back() == '/' ? "" : "/") + taken;
		any = true;
	}
	if (!any)
		return std::nullopt;
	return path;
}

}  // namespace host
