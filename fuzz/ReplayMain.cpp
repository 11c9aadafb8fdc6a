// Runs a fuzz target once on each input given: a file, or every file in a folder given. This
// is how the tests replay the seeds and the inputs that once found a fault, in any build.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size);

namespace fs = std::filesystem;

int main(int argc, char **argv) {
	std::vector<fs::path> inputs;
	for (int i = 1; i < argc; ++i) {
		std::error_code ec;
		fs::path p(argv[i]);
		if (fs::is_directory(p, ec)) {
			std::vector<fs::path> files;
			for (const fs::directory_entry &e : fs::directory_iterator(p, ec))
				if (e.is_regular_file())
					files.push_back(e.path());
			std::sort(files.begin(), files.end());
			inputs.insert(inputs.end(), files.begin(), files.end());
		} else if (fs::is_regular_file(p, ec)) {
			inputs.push_back(p);
		} else {
			std::fprintf(stderr, "%s: no such file or folder\n", argv[i]);
			return 1;
		}
	}
	for (const fs::path &p : inputs) {
		std::string bytes;
		std::FILE *f = std::fopen(p.c_str(), "rb");
		char buffer[65536];
		size_t n = 0;
		while (f && (n = std::fread(buffer, 1, sizeof buffer, f)) > 0)
			bytes.append(buffer, n);
		if (!f || std::ferror(f)) {
			std::fprintf(stderr, "%s: cannot read\n", p.c_str());
			return 1;
		}
		std::fclose(f);
		std::printf("%s\n", p.c_str());
		std::fflush(stdout);  // names the input if the target dies on it
		LLVMFuzzerTestOneInput(reinterpret_cast<const uint8_t *>(bytes.data()), bytes.size());
	}
	std::printf("%zu inputs replayed\n", inputs.size());
	return 0;
}
