// The HUD drawing surface of the stand-in: records every text a vessel draws, with its
// position and colour, instead of rasterising it.
#pragma once

#include <vector>

#include "Orbitersdk.h"
#include "sendra_host/HostVessel.h"

namespace host {

class RecordingSketchpad : public oapi::Sketchpad {
public:
	// Texts go to v.hud; the text colour starts as the HUD's default green. The texts of an
	// earlier paint, if given, lend their strings' room to the new ones.
	explicit RecordingSketchpad(Vessel &v, std::vector<HudText> *earlier = nullptr)
		: oapi::Sketchpad(nullptr), vessel_(v), earlier_(earlier) {}

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
		HudText &t = vessel_.hud.texts.emplace_back();
		if (earlier_ && reused_ < earlier_->size())
			t.text.swap((*earlier_)[reused_++].text);
		t.x = x;
		t.y = y;
		t.colour = colour_;
		t.text.assign(str, static_cast<size_t>(len));
		return true;
	}

	DWORD colour() const { return colour_; }

private:
	Vessel &vessel_;
	std::vector<HudText> *earlier_;
	size_t reused_ = 0;
	DWORD colour_ = 0x00FF00;
};

}  // namespace host
