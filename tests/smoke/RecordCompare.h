// The comparison of two drive records (module_smoke --record): line by line, every line equal,
// except the lines beginning with "~", whose numbers may differ by a relative tolerance.
#pragma once

#include <istream>
#include <string>
#include <vector>

namespace smoke {

struct RecordComparison {
	size_t lines = 0;   // lines compared
	size_t values = 0;  // numbers compared within the tolerance
	std::vector<std::string> differences;  // the first few, each naming its line
	size_t differenceCount = 0;
	double tolerance = 0;
	double largest = 0;    // the largest relative difference of two numbers seen
	std::string largestAt;  // the line and field where it was seen
	bool Agree() const { return differenceCount == 0; }
	std::string Summary() const;  // one line: the outcome and the largest difference
};

// Compares the record under test with the expected one. Two numbers a and b agree when
// |a - b| <= tolerance * max(|a|, |b|); numbers that are not finite must be written alike.
RecordComparison CompareRecords(std::istream &expected, std::istream &actual, double tolerance);

}  // namespace smoke
