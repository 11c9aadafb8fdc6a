// A scratch Orbiter root for the host's tests with the fake modules built beside them.
#pragma once

#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>

namespace fs = std::filesystem;

// An Orbiter-style root with one vessel class per fake module.
class FakeRoot {
public:
	FakeRoot() {
		dir_ = fs::temp_directory_path() / ("sendra-fake-root-" + std::to_string(::getpid()) + "-" + std::to_string(counter_++));
		fs::create_directories(dir_ / "Modules");
		fs::create_directories(dir_ / "Config" / "Vessels");
	}
	~FakeRoot() { fs::remove_all(dir_); }

	// A class "name" whose module is the fake module built as libFake<name>.so.
	void AddClass(const std::string &name) {
		fs::copy_file(fs::path(FAKE_MODULE_DIR) / ("libFake" + name + ".so"), dir_ / "Modules" / ("lib" + name + ".so"));
		Write("Config/Vessels/" + name + ".cfg", "ClassName = " + name + "\nModule = " + name + "\n");
	}
	void Write(const std::string &rel, const std::string &text) { std::ofstream(dir_ / rel) << text; }
	std::string path() const { return dir_.string(); }

private:
	fs::path dir_;
	static inline int counter_ = 0;
};
