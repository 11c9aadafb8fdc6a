// The five cockpit camera stations of the rover's generic cockpit view.
#include "../module/Sendra2016.h"

namespace {

struct CameraStationRow {
	double offset[3];     // [m] vessel frame
	double direction[3];  // default view direction
};

const CameraStationRow CAMERA_STATIONS[5] = {
	{{0, 0.7, 3.121}, {0, 0, 1}},     // centre front, looking ahead
	{{-0.6, 0.48, 1.412}, {0, 0, 1}},  // left of centre, further back
	{{0.6, 0.48, 1.412}, {0, 0, 1}},   // right of centre, further back
	{{0, -0.52, 2.512}, {0, 0, 1}},   // low at the front
	{{0, 0.27, -1.46}, {0, 0, -1}},   // behind the centre, looking backwards
};

}  // namespace

void Sendra2016::SetCameraStation(int station) {
	if ((unsigned)station > 4)
		return;
	const CameraStationRow &row = CAMERA_STATIONS[station];
	SetCameraDefaultDirection(_V(row.direction[0], row.direction[1], row.direction[2]));
	SetCameraOffset(_V(row.offset[0], row.offset[1], row.offset[2]));
	oapiCameraSetCockpitDir(0, 0, false);
}
