// The run's recorders through the library: numbers that read back exactly in their shortest
// form, CSV fields quoted only when they need it, sizes as the outputs' line says them.
#include <gtest/gtest.h>

#include <utility>
#include <cstdlib>

#include "output/OutputFiles.h"
#include "run/Recorders.h"

TEST(SimPieces, RealsReadBackExactlyAndFieldsAreQuotedOnlyWhenNeeded) {
	// The shortest text that reads back as the same double.
	const std::pair<double, const char *> reals[] = {
		{0.1 + 0.2, "0.30000000000000004"}, {0.04, "0.04"}, {2.166, "2.166"}, {1e-300, "1e-300"}, {4.9e-324, "5e-324"},
		{-0.0, "-0"}, {123456789012345678.0, "123456789012345680"}, {1.5707963705062866, "1.5707963705062866"}};
	for (const auto &[v, shortest] : reals) {
		std::string text;
		sim::AppendReal(text, v);
		EXPECT_EQ(text, shortest);
		EXPECT_EQ(std::strtod(text.c_str(), nullptr), v) << text;
	}
	std::string row;
	for (const char *field : {"plain", "a,b", "say \"hi\"", "two\nlines", "", "=1+2", "@x", "a=b"}) {
		sim::AppendCsvField(row, field);
		row += ';';
	}
	EXPECT_EQ(row, "plain;\"a,b\";\"say \"\"hi\"\"\";\"two\nlines\";;\"=1+2\";\"@x\";a=b;");
}

TEST(SimPieces, SizesReadAsAPersonReadsThem) {
	const std::pair<uint64_t, const char *> sizes[] = {
		{0, "0 B"},           {999, "999 B"},       {1000, "1.00 kB"},      {73745, "73.7 kB"},
		{693408, "693 kB"},   {999499, "999 kB"},   {999500, "1.00 MB"},    {3296112, "3.30 MB"},
		{1100000000, "1.10 GB"}, {UINT64_MAX, "18.4 EB"}};
	for (const auto &[bytes, text] : sizes)
		EXPECT_EQ(sim::SizeText(bytes), text) << bytes;
}
