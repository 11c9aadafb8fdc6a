// Drawing the progress bar: a line of 40 cells redrawn in place.
#include "run/ProgressBar.h"

#include <algorithm>
#include <string>

#include "sendra_host/Text.h"

namespace sim {

ProgressBar::ProgressBar(std::ostream &err, bool enabled, double duration)
	: err_(err), enabled_(enabled), duration_(duration), start_(Clock::now()), lastDraw_(start_) {}

void ProgressBar::Update(uint64_t frame, double simt) {
	if (!enabled_ || (frame & 63) != 0)
		return;
	Clock::time_point now = Clock::now();
	if (now - start_ < std::chrono::seconds(1) || (shown_ && now - lastDraw_ < std::chrono::milliseconds(100)))
		return;
	lastDraw_ = now;
	Draw(simt);
}

void ProgressBar::Draw(double simt) {
	double fraction = duration_ > 0 ? std::clamp(simt / duration_, 0.0, 1.0) : 1.0;
	const int width = 40;
	int filled = static_cast<int>(fraction * width);
	err_ << '\r' << '[' << std::string(static_cast<size_t>(filled), '#')
	     << std::string(static_cast<size_t>(width - filled), ' ') << "] "
	     << host::Format("%3d%%  t=%.1f of %.1f s", static_cast<int>(fraction * 100), simt, duration_) << std::flush;
	shown_ = true;
}

void ProgressBar::Clear() {
	if (shown_)
		err_ << "\r\033[K" << std::flush;
	shown_ = false;
}

}  // namespace sim
