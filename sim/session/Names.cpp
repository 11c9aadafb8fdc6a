// The closest name to a misspelt one, and an Orbiter folder's scenarios as its launcher lists them.
#include "session/Names.h"

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <fstream>

#include "sendra_host/Text.h"

namespace sim {

namespace {

const size_t kDescriptionBytes = 64 * 1024;  // read of a scenario for its description
const size_t kAboutLength = 400;             // [bytes] kept of a description's first sentence
const size_t kHints = 3;                     // scenario names a hint offers at most

std::string Lower(std::string s) {
	for (char &c : s)
		c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
	return s;
}

bool ByNameNoCase(const std::string &a, const std::string &b) {
	std::string la = Lower(a), lb = Lower(b);
	return la != lb ? la < lb : a < b;
}

// The description's first sentence, its lines joined; empty without a BEGIN_DESC block.
std::string About(const std::filesystem::path &file) {
	std::ifstream in(file, std::ios::binary);
	std::string text(kDescriptionBytes, '\0');
	in.read(text.data(), static_cast<std::streamsize>(text.size()));
	text.resize(static_cast<size_t>(std::max<std::streamsize>(0, in.gcount())));
	std::string about;
	bool inside = false;
	for (size_t at = 0; at < text.size();) {
		size_t end = text.find('\n', at);
		std::string_view line = host::Trim(std::string_view(text).substr(at, end == std::string::npos ? end : end - at));
		at = end == std::string::npos ? text.size() : end + 1;
		if (!inside) {
			inside = host::StartsWithNoCase(line, "BEGIN_DESC");
			continue;
		}
		if (host::StartsWithNoCase(line, "END_DESC"))
			break;
		if (line.empty() && !about.empty())
			break;  // the first paragraph
		about += (about.empty() || line.empty() ? "" : " ") + std::string(line);
	}
	// The first sentence: up to the first full stop that ends a word.
	if (size_t stop = about.find(". "); stop != std::string::npos)
		about.resize(stop + 1);
	about = host::Printable(about);
	if (about.size() > kAboutLength) {
		size_t cut = about.rfind(' ', kAboutLength);
		about = about.substr(0, cut == std::string::npos ? kAboutLength : cut) + " ...";
	}
	return about;
}

bool IsScenarioFile(const std::filesystem::directory_entry &e) {
	std::error_code ec;
	const std::string name = e.path().filename().string();
	return e.is_regular_file(ec) && name.size() > 4 &&
	       host::EqualsNoCase(std::string_view(name).substr(name.size() - 4), ".scn");
}

void List(const std::filesystem::path &folder, const std::string &prefix, int depth, std::vector<ScenarioEntry> &out) {
	std::error_code ec;
	std::vector<std::string> folders, files;
	for (std::filesystem::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
		const std::string name = it->path().filename().string();
		if (it->is_directory(ec) && !it->is_symlink(ec))
			folders.push_back(name);
		else if (IsScenarioFile(*it))
			files.push_back(name);
	}
	std::sort(folders.begin(), folders.end(), ByNameNoCase);
	std::sort(files.begin(), files.end(), ByNameNoCase);
	const int kMaxDepth = 16;
	for (const std::string &f : folders)
		if (depth < kMaxDepth && out.size() < kMaxListed)
			List(folder / f, prefix + f + "/", depth + 1, out);
	for (const std::string &f : files)
		if (out.size() < kMaxListed)
			out.push_back({prefix + f.substr(0, f.size() - 4), About(folder / f)});
}

}  // namespace

size_t EditDistance(const std::string &a, const std::string &b) {
	std::vector<std::vector<size_t>> d(a.size() + 1, std::vector<size_t>(b.size() + 1));
	for (size_t i = 0; i <= a.size(); ++i)
		d[i][0] = i;
	for (size_t j = 0; j <= b.size(); ++j)
		d[0][j] = j;
	for (size_t i = 1; i <= a.size(); ++i)
		for (size_t j = 1; j <= b.size(); ++j) {
			d[i][j] = std::min({d[i - 1][j] + 1, d[i][j - 1] + 1, d[i - 1][j - 1] + (a[i - 1] == b[j - 1] ? 0 : 1)});
			if (i > 1 && j > 1 && a[i - 1] == b[j - 2] && a[i - 2] == b[j - 1])
				d[i][j] = std::min(d[i][j], d[i - 2][j - 2] + 1);
		}
	return d[a.size()][b.size()];
}

std::optional<std::string> Closest(const std::string &word, const std::vector<std::string> &names) {
	const std::string *best = nullptr;
	size_t bestDistance = 0;
	for (const std::string &n : names) {
		size_t d = EditDistance(word, n);
		if (!best || d < bestDistance)
			best = &n, bestDistance = d;
	}
	if (!best || bestDistance > std::max<size_t>(1, word.size() / 3))
		return std::nullopt;
	return *best;
}

std::vector<ScenarioEntry> ListScenarios(const std::string &root) {
	std::vector<ScenarioEntry> out;
	if (!root.empty())
		List(std::filesystem::path(root) / "Scenarios", "", 0, out);
	return out;
}

std::vector<std::string> ClosestScenarios(const std::string &word, const std::string &root) {
	std::string w = Lower(word);
	if (w.size() > 4 && w.compare(w.size() - 4, 4, ".scn") == 0)
		w.resize(w.size() - 4);
	std::vector<std::pair<size_t, std::string>> near;
	for (const ScenarioEntry &e : ListScenarios(root)) {
		std::string name = Lower(e.name);
		size_t slash = name.rfind('/');
		size_t d = std::min(EditDistance(w, name), slash == std::string::npos ? name.size() : EditDistance(w, name.substr(slash + 1)));
		if (d <= std::max<size_t>(1, w.size() / 3))
			near.emplace_back(d, e.name);
	}
	std::stable_sort(near.begin(), near.end(), [](const auto &a, const auto &b) { return a.first < b.first; });
	std::vector<std::string> names;
	for (size_t i = 0; i < near.size() && i < kHints; ++i)
		names.push_back(near[i].second);
	return names;
}

std::string ScenarioHint(const std::string &word, const std::string &root) {
	std::vector<std::string> names = ClosestScenarios(word, root);
	if (names.empty())
		return ListScenarios(root).empty() ? std::string() : "; 'sendra-sim list' shows the scenarios there";
	std::string s = "; did you mean the scenario";
	for (size_t i = 0; i < names.size(); ++i)
		s += std::string(i == 0 ? " '" : i + 1 == names.size() ? "' or '" : "', '") + names[i];
	return s + "'?";
}

}  // namespace sim
