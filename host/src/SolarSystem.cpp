// Reading the solar system of an Orbiter folder's Config/.
#include "src/SolarSystem.h"

#include <sys/stat.h>

#include "sendra_host/ConfigFile.h"
#include "sendra_host/HostError.h"
#include "sendra_host/Text.h"
#include "src/FileNames.h"
#include "src/TwoBody.h"

namespace host {

namespace {

bool IsFile(const std::optional<std::string> &path) {
	struct stat st;
	return path && ::stat(path->c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

// The body of file Config/<cfgName>.cfg, which the system file lists at line.
std::unique_ptr<Body> ReadBody(const std::string &root, const ConfigFile &system, const std::string &key,
                               const std::string &cfgName, SolarSystem &out) {
	std::optional<std::string> path = FindNoCase(root, "Config/" + cfgName + ".cfg", out.warnings);
	if (!IsFile(path))
		throw HostError(system.path(), system.LineOf(key),
		                key + ": no configuration file for body '" + cfgName + "' (" + root + "/Config/" + cfgName +
		                    ".cfg)");
	ConfigFile cfg = ConfigFile::Read(*path);
	auto body = std::make_unique<Body>(cfg.Value("Name").value_or(cfgName), cfg.Number("Size").value_or(0));
	std::optional<double> mass = cfg.Number("Mass");
	body->mass = mass.value_or(0);
	body->gm = kGravitationalConstant * body->mass;
	if (mass && !(body->gm > 0))  // as the real host reads it, a body without gravity
		out.warnings.push_back(HostError::Format(*path, cfg.LineOf("Mass"),
		                                         "Mass: " + FormatShortest(*mass) + " kg is not a positive mass; nothing can orbit " +
		                                             body->name + ", and a vessel in flight about it is refused"));
	body->rotationPeriod = cfg.Number("SidRotPeriod").value_or(0);
	body->rotationOffset = cfg.Number("SidRotOffset").value_or(0);
	body->obliquity = cfg.Number("Obliquity").value_or(0);
	body->lan = cfg.Number("LAN").value_or(0);
	body->lanMjd = cfg.Number("LAN_MJD").value_or(body->lanMjd);
	body->precessionPeriod = cfg.Number("PrecessionPeriod").value_or(0);
	body->precessionLan = cfg.Number("PrecessionLAN").value_or(0);
	body->precessionObliquity = cfg.Number("PrecessionObliquity").value_or(0);
	if (auto block = cfg.Block("SURFBASE")) {
		for (const ConfigFile::BlockLine &l : *block) {
			std::vector<std::string_view> w = SplitWords(l.text);
			if (w.size() == 2 && EqualsNoCase(w[0], "DIR"))
				body->baseFolders.emplace_back(w[1]);
			else
				out.warnings.push_back(HostError::Format(*path, l.line, "'" + l.text + "' is passed over: the stand-in " +
				                                                            "host reads a body's bases from DIR lines"));
		}
	} else {
		body->baseFolders.push_back(body->name + "/Base");
	}
	for (std::string &w : cfg.TakeWarnings())
		out.warnings.push_back(std::move(w));
	return body;
}

// The bodies the items prefix1, prefix2, ... name, up to the first missing number.
std::vector<std::string> Listed(const ConfigFile &system, const std::string &prefix) {
	std::vector<std::string> names;
	for (int i = 1;; ++i) {
		std::optional<std::string> v = system.Value(prefix + std::to_string(i));
		if (!v)
			return names;
		names.push_back(*v);
	}
}

}  // namespace

SolarSystem ReadSolarSystem(const std::string &root, const std::string &system) {
	SolarSystem out;
	std::optional<std::string> path = FindNoCase(root, "Config/" + system + ".cfg", out.warnings);
	if (!IsFile(path)) {
		out.bodies = MakeSolarSystem();
		out.warnings.push_back(root + "/Config/" + system + ".cfg: no solar system in this Orbiter folder; the " +
		                       "stand-in host uses its own Earth, Moon and Mars");
		return out;
	}
	ConfigFile file = ConfigFile::Read(*path);
	int n = 0;
	for (const std::string &star : Listed(file, "Star"))
		out.bodies.push_back(ReadBody(root, file, "Star" + std::to_string(++n), star, out));
	n = 0;
	for (const std::string &planet : Listed(file, "Planet")) {
		out.bodies.push_back(ReadBody(root, file, "Planet" + std::to_string(++n), planet, out));
		// A planet sees the Sun from its own place, its moons from the planet's.
		const std::string orbit = out.bodies.back()->name;
		out.bodies.back()->orbit = orbit;
		int m = 0;
		for (const std::string &moon : Listed(file, planet + ":Moon")) {
			out.bodies.push_back(ReadBody(root, file, planet + ":Moon" + std::to_string(++m), moon, out));
			out.bodies.back()->orbit = orbit;
		}
	}
	return out;
}

}  // namespace host
