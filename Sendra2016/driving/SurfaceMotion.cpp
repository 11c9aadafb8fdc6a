// The rover's own ground motion: every step it takes its state from the host, moves over
// the surface by its speed, gear and swivel, steers, pitches along the terrain and hands the
// new landed state back to the host.
#include <cmath>
#include <cstring>

#include "../module/Sendra2016.h"

namespace {

const double TURN_RATE_STEP = 1e-5;      // [rad per step] growth of the heading change
const double DEFLECTION_STEP = 0.005;    // [fraction of a turn per step]
const double DEFLECTION_LIMIT = 0.125;   // [fraction of a turn], 45 degrees
const double PROBE_SPACING = 4.0;        // [m] between the front and rear terrain probes

MATRIX3 Product(const MATRIX3 &a, const MATRIX3 &b) {
	MATRIX3 r;
	for (int i = 0; i < 3; ++i)
		for (int j = 0; j < 3; ++j)
			r.data[3 * i + j] = a.data[3 * i] * b.data[j] + a.data[3 * i + 1] * b.data[3 + j] +
			                    a.data[3 * i + 2] * b.data[6 + j];
	return r;
}

// Heading decreases; the wheels deflect toward positive.
void TurnLeft(Sendra2016 &r) {
	r.turnRate += TURN_RATE_STEP;
	r.vs.surf_hdg -= r.turnRate;
	if (r.vs.surf_hdg < 0)
		r.vs.surf_hdg += 2 * PI;
	r.steerDeflection += DEFLECTION_STEP;
	if (r.steerDeflection > DEFLECTION_LIMIT)
		r.steerDeflection = DEFLECTION_LIMIT;
}

// Heading increases; the wheels deflect toward negative.
void TurnRight(Sendra2016 &r) {
	r.steerDeflection -= DEFLECTION_STEP;
	if (r.steerDeflection < -DEFLECTION_LIMIT)
		r.steerDeflection = -DEFLECTION_LIMIT;
	r.turnRate += TURN_RATE_STEP;
	r.vs.surf_hdg += r.turnRate;
	if (r.vs.surf_hdg > 2 * PI)
		r.vs.surf_hdg -= 2 * PI;
}

void Centre(Sendra2016 &r) {
	if (std::fabs(r.steerDeflection) <= DEFLECTION_STEP)
		r.steerDeflection = 0;
	else if (r.steerDeflection < 0)
		r.steerDeflection += DEFLECTION_STEP;
	else
		r.steerDeflection -= DEFLECTION_STEP;
	r.turnRate = 0;
}

// sense +1: forward gear; -1: reverse, where the same input turns the heading the other way.
void Steer(Sendra2016 &r, int sense) {
	int input = r.steerInput * sense;
	if (input < 0)
		TurnLeft(r);
	else if (input > 0)
		TurnRight(r);
	else
		Centre(r);
}

// Moves the surface position by the step's distance; sign +1 ahead, -1 back. With the
// wheels swivelled, the swivel angle is an absolute bearing from north.
void Travel(Sendra2016 &r, double sign, double swivelSin, double swivelCos) {
	double bearingSin, bearingCos;
	if (r.turnProc == 0) {
		bearingSin = std::sin(r.vs.surf_hdg);
		bearingCos = std::cos(r.vs.surf_hdg);
	} else {
		bearingSin = swivelSin;
		bearingCos = swivelCos;
	}
	double dt = oapiGetSimStep();
	r.latStepDeg = dt * r.groundSpeed * bearingCos / r.metresPerDegree;
	r.lngStepDeg = dt * r.groundSpeed * bearingSin / r.metresPerDegree;
	r.vs.surf_lat += sign * r.latStepDeg * RAD;
	r.vs.surf_lng += sign * r.lngStepDeg * RAD;
}

// Elevation at a probe offset (x across, z along the heading) from the surface position;
// cosH and sinH are the cosine and sine of the heading surfacePos.z.
double ProbeElevation(Sendra2016 &r, double cosH, double sinH, double x, double z) {
	double lng = r.surfacePos.x, lat = r.surfacePos.y;
	double probeLat = lat + (z * cosH - x * sinH) / r.metresPerDegree * RAD;
	double probeLng = lng + (z * sinH + x * cosH) / r.metresPerDegree * RAD;
	return oapiSurfaceElevation(r.GetSurfaceRef(), probeLng, probeLat);
}

// The cosine and sine of an angle; a zero angle (most of the step's rotations have two) skips
// the library calls, whose results for it are exactly 1 and the zero itself.
void CosSin(double a, double &c, double &s) {
	if (a == 0) {
		c = 1;
		s = a;
	} else {
		c = std::cos(a);
		s = std::sin(a);
	}
}

}  // namespace

MATRIX3 RotationMatrix(VECTOR3 angles) {
	double cx, sx, cy, sy, cz, sz;
	CosSin(angles.x, cx, sx);
	CosSin(angles.y, cy, sy);
	CosSin(angles.z, cz, sz);
	return _M(cz * cy, -sz * cy, sy,
	          cx * sz + sx * sy * cz, cx * cz - sx * sy * sz, -sx * cy,
	          sx * sz - cx * sy * cz, sx * cz + cx * sy * sz, cx * cy);
}

// The step's length is read where the rover travels, from oapiGetSimStep, which in the
// pre-step is the same simdt: the keyboard callbacks, which get no step length, read that same
// function, so every rate of the rover comes from one source.
void Sendra2016::clbkPreStep(double simt, double simdt, double mjd) {
	(void)simt;
	(void)simdt;
	(void)mjd;
	planetRadius = oapiGetSize(GetSurfaceRef());
	planetCircumference = planetRadius * 2.0 * PI;
	metresPerDegree = planetCircumference / 360;
	UpdateSurfaceState();
}

void Sendra2016::UpdateSurfaceState() {
	std::memset(&vs, 0, sizeof(vs));
	vs.version = 2;
	GetStatusEx(&vs);

	double swivel = turnProc * 2 * PI;
	double swivelSin = std::sin(swivel), swivelCos = std::cos(swivel);

	if (gearForward == 1) {
		Steer(*this, +1);
		Travel(*this, +1, swivelSin, swivelCos);
	}
	if (neutralFrom == 1 && gearNeutral == 1)
		Travel(*this, +1, swivelSin, swivelCos);
	if (neutralFrom == 2 && gearNeutral == 1)
		Travel(*this, -1, swivelSin, swivelCos);
	if (gearReverse == 1) {
		Steer(*this, -1);
		Travel(*this, -1, swivelSin, swivelCos);
	}

	// Terrain probes 2 m ahead and behind on the centre line give the body's pitch. The front
	// elevation is the mean of the front probe and its mirror image across the centre line,
	// which at x = 0 is the same point: a front probe moved off the centre line then pitches
	// the body along the line between both front sides instead of leaning it to one.
	frontProbe = _V(0, 1, 2);
	rearProbe = _V(0, 1, -2);
	surfacePos = _V(vs.surf_lng, vs.surf_lat, vs.surf_hdg);
	double cosH = std::cos(surfacePos.z), sinH = std::sin(surfacePos.z);
	double front = ProbeElevation(*this, cosH, sinH, frontProbe.x, frontProbe.z);
	double frontMirror = ProbeElevation(*this, cosH, sinH, -frontProbe.x, frontProbe.z);
	double rear = ProbeElevation(*this, cosH, sinH, 0, rearProbe.z);
	terrainRoll = 0;
	terrainPitch = std::atan2((front + frontMirror) * 0.5 - rear, PROBE_SPACING);

	// Planet frame -> horizon -> heading -> body pitched along the terrain.
	double lng = surfacePos.x, lat = surfacePos.y, h = surfacePos.z;
	MATRIX3 p = Product(Product(Product(RotationMatrix(_V(0, 90 * RAD - lng, 0)), RotationMatrix(_V(-lat, 0, 0))),
	                            RotationMatrix(_V(0, 0, 180 * RAD + h))),
	                    RotationMatrix(_V(90 * RAD - terrainPitch, 0, terrainRoll)));
	vs.arot.x = std::atan2(p.m23, p.m33);
	vs.arot.y = -std::asin(p.m13);
	vs.arot.z = std::atan2(p.m12, p.m11);
	vs.vrot.x = rideHeight;
	DefSetStateEx(&vs);
}
