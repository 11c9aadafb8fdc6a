// Comparing two drive records.
#include "RecordCompare.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <sstream>

namespace smoke {

namespace {

const size_t kKeptDifferences = 8;  // differences described; the rest are counted
const size_t kShownCharacters = 160;

std::vector<std::string> Words(const std::string &line) {
	std::istringstream in(line);
	std::vector<std::string> words;
	for (std::string w; in >> w;)
		words.push_back(w);
	return words;
}

bool Number(const std::string &word, double &x) {
	char *end = nullptr;
	x = std::strtod(word.c_str(), &end);
	return !word.empty() && end == word.c_str() + word.size();
}

std::string Shown(const std::string &line) {
	return line.size() <= kShownCharacters ? line : line.substr(0, kShownCharacters) + "...";
}

std::string Scientific(double x) {
	char text[32];
	std::snprintf(text, sizeof text, "%.2g", x);
	return text;
}

class Comparer {
public:
	Comparer(RecordComparison &r, double tolerance) : r_(r), tolerance_(tolerance) {}

	void Differ(size_t line, const std::string &what) {
		if (r_.differenceCount++ < kKeptDifferences)
			r_.differences.push_back("line " + std::to_string(line) + ": " + what);
	}

	void Exact(size_t line, const std::string &expected, const std::string &actual) {
		if (expected != actual)
			Differ(line, "expected \"" + Shown(expected) + "\", got \"" + Shown(actual) + "\"");
	}

	// A "~" line: its label (the words up to the last that is not a number) equal, then the
	// numbers after it within the tolerance.
	void Continuous(size_t line, const std::string &expected, const std::string &actual) {
		std::vector<std::string> e = Words(expected), a = Words(actual);
		size_t labelEnd = 0;
		double x;
		for (size_t i = 0; i < e.size(); ++i)
			if (!Number(e[i], x))
				labelEnd = i + 1;
		std::string label;
		for (size_t i = 1; i < labelEnd; ++i)
			label += (i > 1 ? " " : "") + e[i];
		if (e.size() != a.size() || !std::equal(e.begin(), e.begin() + labelEnd, a.begin())) {
			Exact(line, expected, actual);
			return;
		}
		for (size_t i = labelEnd; i < e.size(); ++i) {
			double p, q;
			const std::string where = label + ", number " + std::to_string(i - labelEnd + 1);
			if (!Number(e[i], p) || !Number(a[i], q)) {
				Differ(line, where + ": expected " + e[i] + ", got " + a[i]);
				continue;
			}
			++r_.values;
			if (!std::isfinite(p) || !std::isfinite(q)) {
				if (e[i] != a[i])
					Differ(line, where + ": expected " + e[i] + ", got " + a[i]);
				continue;
			}
			double scale = std::max(std::fabs(p), std::fabs(q));
			double relative = p == q ? 0.0 : std::fabs(p - q) / scale;
			if (relative > r_.largest) {
				r_.largest = relative;
				r_.largestAt = "line " + std::to_string(line) + ", " + where;
			}
			if (!(relative <= tolerance_))
				Differ(line, where + ": expected " + e[i] + ", got " + a[i] + " (relative difference " +
				                 Scientific(relative) + ")");
		}
	}

private:
	RecordComparison &r_;
	double tolerance_;
};

}  // namespace

RecordComparison CompareRecords(std::istream &expected, std::istream &actual, double tolerance) {
	RecordComparison r;
	r.tolerance = tolerance;
	Comparer compare(r, tolerance);
	std::string e, a;
	for (;;) {
		bool haveE = static_cast<bool>(std::getline(expected, e));
		bool haveA = static_cast<bool>(std::getline(actual, a));
		if (!haveE && !haveA)
			break;
		++r.lines;
		if (!haveA) {
			compare.Differ(r.lines, "the record ends here; expected \"" + Shown(e) + "\"");
			break;
		}
		if (!haveE) {
			compare.Differ(r.lines, "the record goes on past the expected end: \"" + Shown(a) + "\"");
			break;
		}
		if (e.compare(0, 2, "~ ") == 0 && a.compare(0, 2, "~ ") == 0)
			compare.Continuous(r.lines, e, a);
		else
			compare.Exact(r.lines, e, a);
	}
	return r;
}

std::string RecordComparison::Summary() const {
	std::string largestText =
	    "largest difference " + Scientific(largest) + " relative" + (largest > 0 ? " (" + largestAt + ")" : "");
	if (Agree())
		return "agree: " + std::to_string(lines) + " lines, " + std::to_string(values) + " numbers within " +
		       Scientific(tolerance) + " relative; " + largestText;
	return "DIFFER: " + std::to_string(differenceCount) + " difference(s) in " + std::to_string(lines) +
	       " lines, the first at " + differences.front() + "; " + largestText;
}

}  // namespace smoke
