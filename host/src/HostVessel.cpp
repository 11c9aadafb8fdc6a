// The host's vessel object.
#include "sendra_host/HostVessel.h"

Vessel::Vessel(host::Simulation &s, const std::string &n, const std::string &c, int fm, size_t journalCapacity)
	: HostObject(Kind::Vessel),
	  journal(journalCapacity),
	  animationStates(host::FrameAllocator<double>(frameBlock)),
	  animationsChanged(host::FrameAllocator<uint64_t>(frameBlock)),
	  lights(host::FrameAllocator<host::LightEmitterPtr>(frameBlock)),
	  beacons(host::FrameAllocator<BEACONLIGHTSPEC *>(frameBlock)),
	  sim(s),
	  name(n),
	  className(c),
	  flightModel(fm) {
	// The first room of the frame's lists, front to back in the frame block; the emitters
	// follow them there as the module adds them. A rover has about fifty animations, four
	// lights and eight beacons.
	animationStates.reserve(kFrameAnimations);
	animationsChanged.reserve((kFrameAnimations + 63) / 64);
	lights.reserve(kFrameLights);
	beacons.reserve(kFrameBeacons);
	nameText.assign(name.begin(), name.end());
	nameText.push_back('\0');
	classText.assign(className.begin(), className.end());
	classText.push_back('\0');
	state.version = 2;
	state.status = 1;
}

Vessel::~Vessel() = default;
