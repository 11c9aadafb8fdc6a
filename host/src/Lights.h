// Light emitters owned by the host: created active, switched by the module.
#pragma once

#include "OrbiterAPI.h"

class Vessel;

namespace host {

// The vessel an emitter belongs to, or null.
::Vessel *OwnerVessel(const LightEmitter &le);

// Switches an emitter as the host itself does (no journal entry).
void SetLightActive(LightEmitter &le, bool on);
bool LightActive(const LightEmitter &le);

// Read access to the members of the SDK's light classes for the host's records.
struct LightInfo {
	LightEmitter::TYPE type;
	VECTOR3 pos, dir;
	double range;
	double att[3];
	double umbra, penumbra;
	COLOUR4 diffuse, specular, ambient;
	bool active;
};
LightInfo DescribeLight(const LightEmitter &le);

}  // namespace host
