// The host's vessel object and the hot part at its front.
#include "sendra_host/HostVessel.h"

namespace host {

VesselHotData::VesselHotData(size_t journalCapacity)
	: HostObject(Kind::Vessel),
	  journal(journalCapacity),
	  animationStates(InlineArenaAllocator<double>(arena)),
	  animationsChanged(InlineArenaAllocator<uint64_t>(arena)),
	  lights(InlineArenaAllocator<LightEmitterPtr>(arena)),
	  beacons(InlineArenaAllocator<BEACONLIGHTSPEC *>(arena)) {
	// The first room of the lists, front to back in the arena; the emitters follow them there
	// as the module adds them.
	animationStates.reserve(kInlineAnimations);
	animationsChanged.reserve((kInlineAnimations + 63) / 64);
	lights.reserve(kInlineLights);
	beacons.reserve(kInlineBeacons);
	state.version = 2;
	state.status = 1;
}

VesselHotData::~VesselHotData() = default;

}  // namespace host

Vessel::Vessel(host::Simulation &s, const std::string &n, const std::string &c, int fm, size_t journalCapacity)
	: VesselHotData(journalCapacity), sim(s), name(n), className(c), flightModel(fm) {
	nameText.assign(name.begin(), name.end());
	nameText.push_back('\0');
	classText.assign(className.begin(), className.end());
	classText.push_back('\0');
}

Vessel::~Vessel() = default;
