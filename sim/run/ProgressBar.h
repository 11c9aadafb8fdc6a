// The progress bar of long runs on a terminal.
#pragma once

#include <chrono>
#include <cstdint>
#include <ostream>

namespace sim {

// A bar on err, shown once a run has taken more than a second of wall time.
class ProgressBar {
public:
	// duration [s] of simulated time is the whole bar.
	ProgressBar(std::ostream &err, bool enabled, double duration);
	~ProgressBar() { Clear(); }
	ProgressBar(const ProgressBar &) = delete;
	ProgressBar &operator=(const ProgressBar &) = delete;

	// Redraws at most ten times a second; the clock is read every 64th frame only.
	void Update(uint64_t frame, double simt);
	bool shown() const { return shown_; }
	void Draw(double simt);
	// Takes the bar off its line.
	void Clear();

private:
	using Clock = std::chrono::steady_clock;
	std::ostream &err_;
	bool enabled_;
	double duration_;
	Clock::time_point start_, lastDraw_;
	bool shown_ = false;
};

}  // namespace sim
