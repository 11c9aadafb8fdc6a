// record_compare: compares the drive record of a build of the module under test with the
// expected one (module_smoke --record), numbers on "~" lines within a relative tolerance and
// every other line exactly. Prints one line with the outcome and the largest difference seen,
// then the first differences; exits 0 when the records agree, 1 when they differ, 2 on a usage
// error or a record that cannot be read.
//
// Usage: record_compare EXPECTED ACTUAL [--tolerance R]   (R defaults to 1e-12)
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

#include "RecordCompare.h"

int main(int argc, char **argv) {
	double tolerance = 1e-12;
	if (argc == 5 && std::string(argv[3]) == "--tolerance") {
		char *end;
		tolerance = std::strtod(argv[4], &end);
		if (*end || !std::isfinite(tolerance) || tolerance < 0) {
			std::fprintf(stderr, "record_compare: --tolerance: expected a number from 0 up, got '%s'\n", argv[4]);
			return 2;
		}
	} else if (argc != 3) {
		std::fprintf(stderr, "usage: record_compare EXPECTED ACTUAL [--tolerance R]\n");
		return 2;
	}
	std::ifstream expected(argv[1], std::ios::binary), actual(argv[2], std::ios::binary);
	for (int i : {1, 2})
		if (!(i == 1 ? expected : actual)) {
			std::fprintf(stderr, "record_compare: %s: cannot read the record\n", argv[i]);
			return 2;
		}
	smoke::RecordComparison r = smoke::CompareRecords(expected, actual, tolerance);
	if (expected.bad() || actual.bad()) {
		std::fprintf(stderr, "record_compare: a read error in %s or %s\n", argv[1], argv[2]);
		return 2;
	}
	std::printf("%s\n", r.Summary().c_str());
	for (const std::string &d : r.differences)
		std::printf("  %s\n", d.c_str());
	if (r.differenceCount > r.differences.size())
		std::printf("  ... and %zu more\n", r.differenceCount - r.differences.size());
	return r.Agree() ? 0 : 1;
}
