// Scratch folders for tests and benchmarks: a folder made fresh and private under the system's
// temporary folder (mkdtemp, so that no other user or run can take its name first), and an
// Orbiter folder laid out in one; each is removed with everything in it when it goes.
#pragma once

#include <stdlib.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

namespace scenes {

inline std::string ReadFile(const std::filesystem::path &path) {
	std::ifstream in(path, std::ios::binary);
	std::ostringstream s;
	s << in.rdbuf();
	return s.str();
}

inline void WriteFile(const std::filesystem::path &path, const std::string &text) {
	std::ofstream(path, std::ios::binary) << text;
}

class ScratchFolder {
public:
	// Throws std::runtime_error when no folder can be made.
	explicit ScratchFolder(const std::string &prefix = "sendra-scratch") {
		std::string tmpl = (std::filesystem::temp_directory_path() / (prefix + "-XXXXXX")).string();
		if (!::mkdtemp(tmpl.data()))
			throw std::runtime_error("cannot make a scratch folder " + tmpl + ": " + std::strerror(errno));
		dir_ = tmpl;
	}
	~ScratchFolder() {
		std::error_code ec;
		std::filesystem::remove_all(dir_, ec);
	}
	ScratchFolder(const ScratchFolder &) = delete;
	ScratchFolder &operator=(const ScratchFolder &) = delete;

	const std::filesystem::path &dir() const { return dir_; }
	std::string path() const { return dir_.string(); }
	std::filesystem::path operator/(const std::string &name) const { return dir_ / name; }
	void Write(const std::string &name, const std::string &text) const { WriteFile(dir_ / name, text); }
	std::string Read(const std::string &name) const { return ReadFile(dir_ / name); }
	// Names of the files in a folder under the scratch folder, sorted.
	std::vector<std::string> Files(const std::string &folder) const {
		std::vector<std::string> names;
		std::error_code ec;
		for (const auto &e : std::filesystem::directory_iterator(dir_ / folder, ec))
			names.push_back(e.path().filename().string());
		std::sort(names.begin(), names.end());
		return names;
	}

private:
	std::filesystem::path dir_;
};

// An Orbiter folder in a scratch folder: Config/Vessels, Modules, Meshes and Scenarios, and,
// in a program that knows the tree the build staged (SENDRA_ORBITER_ROOT), its solar system, as
// every Orbiter folder holds one (without it the host runs on its own three bodies, and says so).
class ScratchRoot : public ScratchFolder {
public:
	explicit ScratchRoot(const std::string &prefix = "sendra-root") : ScratchFolder(prefix) {
		for (const char *folder : {"Config/Vessels", "Modules", "Meshes", "Scenarios"})
			std::filesystem::create_directories(dir() / folder);
#ifdef SENDRA_ORBITER_ROOT
		AddSolarSystem(SENDRA_ORBITER_ROOT);
#endif
	}
	// The staged tree's Config/Sol.cfg and bodies' files, linked.
	void AddSolarSystem(const std::filesystem::path &staged) const {
		namespace fs = std::filesystem;
		for (const auto &e : fs::directory_iterator(staged / "Config"))
			if (e.is_regular_file())
				fs::create_symlink(e.path(), dir() / "Config" / e.path().filename());
	}
	// The class configuration Config/Vessels/<name>.cfg.
	void WriteClass(const std::string &name, const std::string &cfg) const {
		Write("Config/Vessels/" + name + ".cfg", cfg);
	}
	// The rover's class from the tree the build staged (staged): its configuration copied, its
	// module and every mesh linked.
	void AddStagedRover(const std::filesystem::path &staged) const {
		namespace fs = std::filesystem;
		fs::copy_file(staged / "Config/Vessels/Sendra2016.cfg", dir() / "Config/Vessels/Sendra2016.cfg");
		fs::create_symlink(staged / "Modules/libSendra2016.so", dir() / "Modules/libSendra2016.so");
		for (const auto &mesh : fs::directory_iterator(staged / "Meshes"))
			fs::create_symlink(mesh.path(), dir() / "Meshes" / mesh.path().filename());
	}
};

}  // namespace scenes
