// The host's vessel object and the hot part at its front.
#include "src/HostVessel.h"

namespace host {

VesselHotData::VesselHotData(size_t journalCapacity)
	: HostObject(Kind::Vessel),
	  journal(journalCapacity),
	  animationStates(InlineArenaAllocator<double>(arena)),
	  animationsChanged(InlineArenaAllocator<uint64_t>(arena)),
	  lights(InlineArenaAllocator<LightEmitterPtr>(arena)),
	  beacons(InlineArenaAllocator<BEACONLIGHTSPEC *>(arena)) {
	// The first room of the lists, front to back in the arena, the change marks right before
	// the states, so that a post-step's marks and states share their lines; the emitters
	// follow the lists there as the module adds them.
	animationsChanged.reserve((kInlineAnimations + 63) / 64);
	animationStates.reserve(kInlineAnimations);
	lights.reserve(kInlineLights);
	beacons.reserve(kInlineBeacons);
	state.version = 2;
	state.status = 1;
}

VesselHotData::~VesselHotData() = default;

uint32_t VesselHotData::ArenaLines(const void *bytes, size_t n) const {
	if (n == 0 || !arena.Owns(bytes))
		return 0;
	size_t first = static_cast<size_t>(static_cast<const unsigned char *>(bytes) - arena.data());
	size_t last = std::min(first + n - 1, InlineArena::kBytes - 1);
	uint32_t lines = 0;
	for (size_t line = first / 64; line <= last / 64; ++line)
		lines |= uint32_t(1) << line;
	return lines;
}

void VesselHotData::AddAnimationState(double initial) {
	animationStates.push_back(initial);
	if (animationStates.size() > 64 * animationsChanged.size())
		animationsChanged.push_back(0);
	stateData = animationStates.data();
	stateCount = static_cast<uint32_t>(animationStates.size());
	changedWords = animationsChanged.data();
	hotLines = lightLines | ArenaLines(stateData, stateCount * sizeof(double)) |
	           ArenaLines(changedWords, animationsChanged.size() * sizeof(uint64_t));
}

void VesselHotData::AddBeacon(BEACONLIGHTSPEC *beacon) {
	beacons.push_back(beacon);
	// The flags' span, kept for the prefetch while it is a few lines: beacons spread wider are
	// not asked for early.
	const uintptr_t kMostBytes = 1024;
	uintptr_t flag = reinterpret_cast<uintptr_t>(&beacon->active);
	if (beacons.size() == 1) {
		beaconFlags = reinterpret_cast<const char *>(flag);
		beaconBytes = 1;
		return;
	}
	if (beaconBytes == 0)
		return;
	uintptr_t first = reinterpret_cast<uintptr_t>(beaconFlags), last = first + beaconBytes - 1;
	first = std::min(first, flag);
	last = std::max(last, flag);
	beaconFlags = reinterpret_cast<const char *>(first);
	beaconBytes = last - first < kMostBytes ? static_cast<uint32_t>(last - first + 1) : 0;
}

}  // namespace host

Vessel::Vessel(host::Simulation &s, const std::string &n, const std::string &c, int fm, size_t journalCapacity)
	: VesselHotData(journalCapacity), sim(s), name(n), className(c), flightModel(fm) {
	nameText.assign(name.begin(), name.end());
	nameText.push_back('\0');
	classText.assign(className.begin(), className.end());
	classText.push_back('\0');
}

Vessel::~Vessel() = default;
