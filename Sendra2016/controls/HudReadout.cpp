// The rover's three lines on the host's head-up display: speed, gear and swivel angle.
#include "../module/Sendra2016.h"

namespace {

const DWORD READOUT_COLOUR = 0x66FF66;  // light green, 0xBBGGRR
// Per pixel of HUD height: the positions below are for a HUD 768 pixels high. The factor is
// a little below 1/768 on purpose, so that there the truncated products fall one pixel short
// (lines at 311, 327 and 343), where the rover's lines have always stood.
const double HUD_SCALE = 0.00130208;
const double WIDE_RATIO = 0.7284;      // H / W below this (wider than about 1.373:1) shifts the lines

void Line(oapi::Sketchpad *skp, int x, int y, const char *text, int len) {
	skp->SetTextColor(READOUT_COLOUR);
	skp->Text(x, y, text, len);
}

}  // namespace

bool Sendra2016::clbkDrawHUD(int mode, const HUDPAINTSPEC *hps, oapi::Sketchpad *skp) {
	VESSEL3::clbkDrawHUD(mode, hps, skp);

	double scale = hps->H * HUD_SCALE;
	int xOff = 0, yOff = 0;
	if ((double)hps->H / (double)hps->W < WIDE_RATIO) {
		yOff = (int)(scale * -88);
		xOff = ((hps->W * 16) / 1024) * 10;
	}
	int x = xOff + 10;
	int yGear = yOff + (int)(scale * 312);
	int ySpeed = yOff + (int)(scale * 328);
	int ySwivel = yOff + (int)(scale * 344);

	char text[64];
	Line(skp, x, ySpeed, text, FormatText(text, sizeof text, "Current Ground Speed %0.2f", groundSpeed));
	if (gearForward == 1)
		Line(skp, x, yGear, "Forward Gear", 12);
	if (gearReverse == 1)
		Line(skp, x, yGear, "Reverse Gear", 12);
	if (gearNeutral == 1)
		Line(skp, x, yGear, "Neutral Gear", 12);
	Line(skp, x, ySwivel, text, FormatText(text, sizeof text, "Turn Angle: %d", turnAngle));
	return true;
}
