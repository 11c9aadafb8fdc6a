// Reading a body's surface bases.
#include "src/Bases.h"

#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <cmath>

#include "sendra_host/ConfigFile.h"
#include "sendra_host/HostError.h"
#include "sendra_host/Text.h"
#include "src/FileNames.h"

namespace host {

namespace {

// The regular files named *.cfg in folder, in byte order.
std::vector<std::string> ConfigFiles(const std::string &folder) {
	std::vector<std::string> out;
	DIR *d = ::opendir(folder.c_str());
	if (!d)
		return out;
	while (dirent *e = ::readdir(d)) {
		std::string name = e->d_name;
		struct stat st;
		if (name.size() > 4 && EqualsNoCase(std::string_view(name).substr(name.size() - 4), ".cfg") &&
		    ::stat((folder + "/" + name).c_str(), &st) == 0 && S_ISREG(st.st_mode))
			out.push_back(folder + "/" + name);
	}
	::closedir(d);
	std::sort(out.begin(), out.end());
	return out;
}

bool IsPadObject(std::string_view type) {
	return EqualsNoCase(type, "LPAD1") || EqualsNoCase(type, "LPAD2") || EqualsNoCase(type, "LPAD2A");
}

}  // namespace

std::vector<SurfaceBase> ReadBases(const std::string &root, const Body &body, std::vector<std::string> &warnings) {
	std::vector<SurfaceBase> bases;
	for (const std::string &rel : body.baseFolders) {
		std::optional<std::string> folder = FindNoCase(root, "Config/" + rel, warnings);
		if (!folder)
			continue;
		for (const std::string &path : ConfigFiles(*folder)) {
			ConfigFile cfg;
			try {
				cfg = ConfigFile::Read(path);
			} catch (const HostError &e) {
				warnings.push_back(std::string(e.what()) + "; the base is passed over");
				continue;
			}
			// The first line names the format; files without it are no bases.
			if (!cfg.FirstLineStartsWith("BASE-V2.0"))
				continue;
			SurfaceBase base;
			base.file = path;
			std::optional<std::string> name = cfg.Value("Name");
			std::optional<VECTOR3> at;
			if (std::optional<std::string> loc = cfg.Value("Location"))
				if (auto n = LeadingNumbers(*loc, 2))
					at = _V((*n)[0], (*n)[1], 0);
			if (!name || name->empty() || !at) {
				warnings.push_back(HostError::Format(path, 0, "a base without a Name and a Location is passed over"));
				continue;
			}
			base.name = *name;
			base.lng = at->x * RAD;
			base.lat = at->y * RAD;
			// The objects of the list, each a line of its type up to its END.
			bool inPad = false;
			for (const ConfigFile::BlockLine &l : cfg.Block("OBJECTLIST").value_or(std::vector<ConfigFile::BlockLine>{})) {
				std::vector<std::string_view> w = SplitWords(l.text);
				if (w.empty())
					continue;
				if (EqualsNoCase(w[0], "END")) {
					inPad = false;
				} else if (IsPadObject(w[0])) {
					inPad = true;
					base.pads.push_back({base.lng, base.lat});
				} else if (inPad && EqualsNoCase(w[0], "POS")) {
					std::optional<std::vector<double>> p = LeadingNumbers(l.text.substr(3), 3);
					double r = body.radius;
					if (!p || !(r > 0) || std::cos(base.lat) == 0) {
						warnings.push_back(HostError::Format(path, l.line, "the pad's POS does not read; the pad is at the base's place"));
						continue;
					}
					base.pads.back() = {base.lng + (*p)[2] / (r * std::cos(base.lat)), base.lat - (*p)[0] / r};
				}
			}
			bases.push_back(std::move(base));
		}
	}
	return bases;
}

}  // namespace host
