// The HUD drawing surface of the stand-in: records every text a vessel draws, with its
// position and colour, instead of rasterising it.
#pragma once

#include <cstddef>
#include <string_view>
#include <vector>

#include "Orbitersdk.h"
#include "src/HostVessel.h"

namespace host {

class RecordingSketchpad : public oapi::Sketchpad {
public:
	// Texts go to v.hud over those of its last paint, in place: a text equal to the last
	// paint's at its place keeps its string as it is, so a HUD whose texts did not change is
	// recorded without a copy or an allocation. The text colour starts as the HUD's default
	// green.
	explicit RecordingSketchpad(Vessel &v) : oapi::Sketchpad(nullptr), vessel_(v), texts_(v.hud.texts) {}
	// The paint is over: what the last paint drew beyond this one's texts goes.
	~RecordingSketchpad() override { texts_.erase(texts_.begin() + static_cast<std::ptrdiff_t>(count_), texts_.end()); }
	RecordingSketchpad(const RecordingSketchpad &) = delete;
	RecordingSketchpad &operator=(const RecordingSketchpad &) = delete;

	DWORD SetTextColor(DWORD col) override {
		vessel_.Record(Op::Sketchpad_SetTextColor);
		DWORD previous = colour_;
		colour_ = col & 0xFFFFFF;
		return previous;
	}

	bool Text(int x, int y, const char *str, int len) override {
		vessel_.Record(Op::Sketchpad_Text);
		if (!str || len < 0)
			return false;
		const std::string_view text(str, static_cast<size_t>(len));
		if (count_ == texts_.size())
			texts_.emplace_back();
		HudText &t = texts_[count_++];
		if (t.text != text)
			t.text.assign(text);
		t.x = x;
		t.y = y;
		t.colour = colour_;
		return true;
	}

	DWORD colour() const { return colour_; }

private:
	Vessel &vessel_;
	std::vector<HudText> &texts_;
	size_t count_ = 0;  // the texts of this paint so far
	DWORD colour_ = 0x00FF00;
};

}  // namespace host
