// The progress bar of long work on a terminal: a run's drive, render's drive up to its moment,
// a scenario's loading.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <ostream>
#include <string>

namespace sim {

// "about 2 min 10 s", the time work still takes [s], rounded to what a reader needs.
std::string DurationText(double seconds);

// A bar on err of 40 cells redrawn in place, with the share done, what the work says of how far
// along it is and the time left at its pace so far; shown once the work has taken more than a
// second of wall time.
class ProgressBar {
public:
	// total: the whole work in the unit Update counts (simulated seconds, vessels); said(done)
	// says how far along, as "t=12.0 of 60.0 s".
	ProgressBar(std::ostream &err, bool enabled, double total, std::function<std::string(double done)> said);
	~ProgressBar() { Clear(); }
	ProgressBar(const ProgressBar &) = delete;
	ProgressBar &operator=(const ProgressBar &) = delete;

	// Redraws at most ten times a second; the clock is read every 64th step only.
	void Update(uint64_t step, double done);
	bool shown() const { return shown_; }
	void Draw(double done);
	// Takes the bar off its line.
	void Clear();

	// The bar of a drive over duration [s] of simulated time.
	static std::function<std::string(double)> SimulatedTime(double duration);

private:
	using Clock = std::chrono::steady_clock;
	std::ostream &err_;
	bool enabled_;
	double total_;
	std::function<std::string(double)> said_;
	Clock::time_point start_, lastDraw_;
	bool shown_ = false;
};

}  // namespace sim
