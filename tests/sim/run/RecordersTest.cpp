// The run's recorders through the library: numbers that read back exactly, and CSV fields
// quoted only when they need it.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>

#include "run/Recorders.h"

TEST(SimPieces, RealsReadBackExactlyAndFieldsAreQuotedOnlyWhenNeeded) {
	for (double v : {0.1 + 0.2, 2.166, 1e-300, 4.9e-324, -0.0, 123456789012345678.0, 1.5707963705062866}) {
		std::string text;
		sim::AppendReal(text, v);
		char printf17[64];
		std::snprintf(printf17, sizeof printf17, "%.17g", v);
		EXPECT_EQ(text, printf17);
		EXPECT_EQ(std::strtod(text.c_str(), nullptr), v) << text;
	}
	std::string row;
	for (const char *field : {"plain", "a,b", "say \"hi\"", "two\nlines", "", "=1+2", "@x", "a=b"}) {
		sim::AppendCsvField(row, field);
		row += ';';
	}
	EXPECT_EQ(row, "plain;\"a,b\";\"say \"\"hi\"\"\";\"two\nlines\";;\"=1+2\";\"@x\";a=b;");
}
