// A long drive recorded every frame: the trajectory file holds every frame, streamed as the
// drive goes, with the last row at the drive's end.
#include <gtest/gtest.h>

#include "SimProgram.h"

namespace {

using sim_testing::Scratch;

TEST(SimLongDrive, RecordingEveryFrameKeepsEveryFrameOfAFiveMinuteDrive) {
	Scratch scratch;
	scratch.Write("drive.txt", "0 tap NUMPAD8\n0 key ADD down\n5 key ADD up\n60 rudder 1\n70 rudder 0\n");
	const int frames = 5 * 60 * 60;  // five minutes at 60 frames a second
	sim_testing::ProgramResult r = scratch.Run({"--quiet", "--script", "drive.txt", "--duration", "300", "--dt",
	                                            "0.016666666666666666", "--terrain", "flat", "--out", "out"});
	ASSERT_EQ(r.status, 0) << r.err;
	std::string csv = scratch.Read("out/trajectory.csv");
	size_t rows = 0;
	size_t lastStart = 0;
	for (size_t i = 0; i < csv.size(); ++i)
		if (csv[i] == '\n') {
			++rows;
			if (i + 1 < csv.size())
				lastStart = i + 1;
		}
	EXPECT_EQ(rows, static_cast<size_t>(frames) + 1);  // the header and one row per frame
	std::vector<std::string> last = sim_testing::CsvFields(csv.substr(lastStart, csv.size() - lastStart - 1));
	ASSERT_GT(last.size(), 2u);
	EXPECT_EQ(last[0], std::to_string(frames));
	EXPECT_NEAR(std::stod(last[1]), 300.0, 1e-6);
	// The rover drove: keypad plus held for 300 frames took it to its top speed of 2.78 m/s
	// within five seconds, kept for the rest of the five minutes.
	EXPECT_GT(std::stod(last[4]) * 1.738e6, 100.0);
}

}  // namespace
