// The comparison of drive records that tools/windows/msvc-abi-drive.sh relies on: what must be
// equal is equal, what may round differently agrees within the tolerance and no further.
#include <gtest/gtest.h>

#include <sstream>

#include "RecordCompare.h"

namespace {

const char *const kExpected =
    "module version 160828\n"
    "t 0.050 Sendra-1 hud 10 327 66FF66 Current Ground Speed 0.00\n"
    "t 0.050 Sendra-1 parts 0 0.51500000000000035\n"
    "~ t 0.050 Sendra-1 pose 0.40962877544306914 0 -2.5 nan\n"
    "end\n";

smoke::RecordComparison Compare(const std::string &actual) {
	std::istringstream e(kExpected), a(actual);
	return smoke::CompareRecords(e, a, 1e-12);
}

std::string With(const std::string &from, const std::string &to) {
	std::string text = kExpected;
	text.replace(text.find(from), from.size(), to);
	return text;
}

TEST(RecordCompare, ContinuousWithinTheToleranceEverythingElseExactly) {
	struct Case {
		const char *what;
		std::string actual;
		bool agree;
	} cases[] = {
		{"the same record", kExpected, true},
		{"a position 1e-16 relative away", With("0.40962877544306914", "0.40962877544306919"), true},
		{"a position 4e-12 relative away", With("0.40962877544306914", "0.40962877544470000"), false},
		{"zero against a tiny number", With(" 0 -2.5", " 1e-300 -2.5"), false},
		{"a sign", With("-2.5", "2.5"), false},
		{"not a number against a number", With("nan", "0"), false},
		{"a part's state one unit in the last place away", With("0.51500000000000035", "0.51500000000000046"), false},
		{"a HUD text", With("Speed 0.00", "Speed 0.01"), false},
		{"a HUD position", With("10 327", "10 328"), false},
		{"another label on a continuous line", With("Sendra-1 pose", "Sendra-2 pose"), false},
		{"a number more on a continuous line", With(" nan\n", " nan 0\n"), false},
		{"a record cut short", With("end\n", ""), false},
		{"a record that goes on", std::string(kExpected) + "more\n", false},
	};
	for (const Case &c : cases) {
		smoke::RecordComparison r = Compare(c.actual);
		EXPECT_EQ(r.Agree(), c.agree) << c.what << ": " << r.Summary();
	}
}

TEST(RecordCompare, SummaryNamesTheLargestDifferenceAndTheFirstOne) {
	smoke::RecordComparison near = Compare(With("-2.5", "-2.5000000000001"));
	EXPECT_TRUE(near.Agree()) << near.Summary();
	EXPECT_NEAR(near.largest, 4e-14, 1e-15);
	EXPECT_NE(near.Summary().find("line 4, t 0.050 Sendra-1 pose, number 3"), std::string::npos) << near.Summary();

	smoke::RecordComparison far = Compare(With("Speed 0.00", "Speed 0.01"));
	ASSERT_FALSE(far.Agree());
	EXPECT_EQ(far.differenceCount, 1u);
	EXPECT_NE(far.Summary().find("DIFFER"), std::string::npos);
	EXPECT_NE(far.differences.front().find("line 2: expected \"t 0.050 Sendra-1 hud 10 327 66FF66 Current Ground Speed 0.00\""),
	          std::string::npos)
	    << far.differences.front();
}

}  // namespace
