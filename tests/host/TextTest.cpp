// The host's checked conversions refuse partial, out-of-range and non-finite numbers.
#include <gtest/gtest.h>

#include "sendra_host/Text.h"

namespace {

TEST(Text, NumbersMustBeWholeAndFinite) {
	EXPECT_EQ(host::ParseDouble(" 1.5 "), 1.5);
	EXPECT_EQ(host::ParseDouble("-2e3"), -2000.0);
	EXPECT_FALSE(host::ParseDouble("1.5x"));
	EXPECT_FALSE(host::ParseDouble(""));
	EXPECT_FALSE(host::ParseDouble("nan"));
	EXPECT_FALSE(host::ParseDouble("inf"));
	EXPECT_FALSE(host::ParseDouble("1e400"));
	EXPECT_EQ(host::ParseInteger("+42"), 42);
	EXPECT_FALSE(host::ParseInteger("4.2"));
	EXPECT_FALSE(host::ParseInteger("99999999999999999999"));
	auto n = host::ParseNumbers("1 2\t3", 3);
	ASSERT_TRUE(n);
	EXPECT_EQ((*n)[2], 3.0);
	EXPECT_FALSE(host::ParseNumbers("1 2", 3));
	EXPECT_FALSE(host::ParseNumbers("1 2 3 4", 3));
}

TEST(Text, CaseInsensitiveMatchingAndShortestFormatting) {
	EXPECT_TRUE(host::StartsWithNoCase("doorl 1", "DOORL"));
	EXPECT_FALSE(host::StartsWithNoCase("DOO", "DOORL"));
	EXPECT_TRUE(host::EqualsNoCase("End", "END"));
	EXPECT_EQ(host::Trim(host::StripComment(std::string_view("  POS 1 2 ; comment"))), "POS 1 2");
	EXPECT_EQ(host::FormatShortest(static_cast<double>(static_cast<float>(3.14159265358979323846 / 2))),
	          "1.5707963705062866");
	EXPECT_EQ(host::Format("%0.4f", 1e300).size(), 306u);
}

TEST(Text, PrintableEscapesWhatATerminalWouldActOn) {
	const std::pair<std::string, std::string> cases[] = {
		{"plain Caf\xC3\xA9 \xE2\x82\xAC", "plain Caf\xC3\xA9 \xE2\x82\xAC"},  // UTF-8 stays
		{"\x1b[2J\r\n\t\x7F", "\\x1b[2J\\x0d\\x0a\\x09\\x7f"},           // C0 controls and DEL
		{"\xC2\x9B" "2J \xC2\x9F\xC2\xA0", "\\u009b2J \\u009f\xC2\xA0"},           // C1 in UTF-8; NBSP is text
		{"\x9B" "2J Caf\xE9\x9F", "\\x9b2J Caf\xE9\\x9f"},                          // bare C1 bytes; Latin-1
	};
	for (const auto &[in, out] : cases)
		EXPECT_EQ(host::Printable(in), out) << in;
}

}  // namespace
