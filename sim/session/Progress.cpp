// Drawing the progress bar: a line of 40 cells redrawn in place, with the time left.
#include "session/Progress.h"

#include <algorithm>
#include <cmath>

#include "sendra_host/Text.h"

namespace sim {

std::string DurationText(double s) {
	if (!(s < 1e9))
		return "ages";
	if (s < 10)
		return "a few seconds";
	if (s < 90)
		return host::Format("about %d s", static_cast<int>(std::lround(s / 5) * 5));
	const long minutes = std::lround(s / 60);
	if (minutes < 60)
		return host::Format("about %ld min", minutes);
	const long hours = minutes / 60;
	if (hours < 48)
		return host::Format("about %ld h %02ld min", hours, minutes % 60);
	return host::Format("about %ld days", std::lround(s / 86400));
}

ProgressBar::ProgressBar(std::ostream &err, bool enabled, double total, std::function<std::string(double)> said)
	: err_(err), enabled_(enabled), total_(total), said_(std::move(said)), start_(Clock::now()), lastDraw_(start_) {}

std::function<std::string(double)> ProgressBar::SimulatedTime(double duration) {
	return [duration](double simt) { return host::Format("t=%.1f of %.1f s", simt, duration); };
}

void ProgressBar::Update(uint64_t step, double done) {
	if (!enabled_ || (step & 63) != 0)
		return;
	Clock::time_point now = Clock::now();
	if (now - start_ < std::chrono::seconds(1) || (shown_ && now - lastDraw_ < std::chrono::milliseconds(100)))
		return;
	lastDraw_ = now;
	Draw(done);
}

void ProgressBar::Draw(double done) {
	double fraction = total_ > 0 ? std::clamp(done / total_, 0.0, 1.0) : 1.0;
	const int width = 40;
	int filled = static_cast<int>(fraction * width);
	const double elapsed = std::chrono::duration<double>(Clock::now() - start_).count();
	std::string left = fraction > 0 && fraction < 1 ? "  " + DurationText(elapsed * (1 - fraction) / fraction) + " left"
	                                                : std::string();
	err_ << '\r' << '[' << std::string(static_cast<size_t>(filled), '#')
	     << std::string(static_cast<size_t>(width - filled), ' ') << "] "
	     << host::Format("%3d%%  ", static_cast<int>(fraction * 100)) << said_(done) << left << "\033[K" << std::flush;
	shown_ = true;
}

void ProgressBar::Clear() {
	if (shown_)
		err_ << "\r\033[K" << std::flush;
	shown_ = false;
}

}  // namespace sim
