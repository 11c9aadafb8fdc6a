// The hot part of a vessel's record: what a frame reads and writes of every vessel, kept
// together at the front of the record for the vessel's whole life, with an inline arena
// right after it for the small lists and objects the module declares (animation states and
// their change marks, light emitters, the lists of lights and beacons). A frame of many
// vessels then waits on a few neighbouring cache lines per vessel instead of on ten scattered
// allocations, and its passes prefetch them by address alone. The rest of the record (what
// the module declared once, names, meshes) is cold: a frame seldom touches it.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <new>
#include <utility>
#include <vector>

#include "Orbitersdk.h"
#include "sendra_host/Body.h"
#include "src/Journal.h"

namespace host {

class Visual;

// Always inlined: the prefetch helpers (a call to a function that only prefetches may be
// dropped as one without effect) and the fast paths of a frame.
#if defined(__GNUC__)
#define HOST_ALWAYS_INLINE inline __attribute__((always_inline))
#else
#define HOST_ALWAYS_INLINE inline
#endif

// Asks the caches for memory a later step reads; without effect on results.

HOST_ALWAYS_INLINE void Prefetch(const void *p) {
#if defined(__GNUC__)
	__builtin_prefetch(p);
#else
	(void)p;
#endif
}

// Four lines a turn: a pass prefetches some seventy lines a vessel, and the loop's own
// counting would otherwise cost about as much as the prefetches.
HOST_ALWAYS_INLINE void PrefetchRange(const void *p, size_t bytes) {
	const char *c = static_cast<const char *>(p);
	size_t at = 0;
	for (; at + 192 < bytes; at += 256) {
		Prefetch(c + at);
		Prefetch(c + at + 64);
		Prefetch(c + at + 128);
		Prefetch(c + at + 192);
	}
	for (; at < bytes; at += 64)
		Prefetch(c + at);
}

// A fixed arena inside the record, handed out front to back and never taken back: what a
// vessel keeps here it keeps for its life (a list that outgrows its first room moves to the
// heap and leaves the room unused). A request that does not fit gets null, and its owner
// falls back to the heap.
class InlineArena {
public:
	static constexpr size_t kBytes = 1536;

	InlineArena() = default;
	InlineArena(const InlineArena &) = delete;
	InlineArena &operator=(const InlineArena &) = delete;

	void *Allocate(size_t bytes, size_t align) noexcept {
		size_t at = (used_ + align - 1) / align * align;
		if (align > alignof(std::max_align_t) || at > kBytes || bytes > kBytes - at)
			return nullptr;
		used_ = at + bytes;
		return bytes_ + at;
	}
	bool Owns(const void *p) const noexcept {
		auto a = reinterpret_cast<uintptr_t>(p), b = reinterpret_cast<uintptr_t>(bytes_);
		return a >= b && a < b + kBytes;
	}
	const unsigned char *data() const noexcept { return bytes_; }
	size_t used() const noexcept { return used_; }

private:
	size_t used_ = 0;
	alignas(64) unsigned char bytes_[kBytes];
};

// A standard allocator over an inline arena, the heap's when the arena is full.
template <typename T>
class InlineArenaAllocator {
public:
	using value_type = T;

	explicit InlineArenaAllocator(InlineArena &arena) noexcept : arena_(&arena) {}
	template <typename U>
	InlineArenaAllocator(const InlineArenaAllocator<U> &other) noexcept : arena_(other.arena_) {}

	T *allocate(size_t n) {
		if (n <= InlineArena::kBytes / sizeof(T))
			if (void *p = arena_->Allocate(n * sizeof(T), alignof(T)))
				return static_cast<T *>(p);
		return std::allocator<T>().allocate(n);
	}
	void deallocate(T *p, size_t n) noexcept {
		if (!arena_->Owns(p))
			std::allocator<T>().deallocate(p, n);
	}

	friend bool operator==(const InlineArenaAllocator &a, const InlineArenaAllocator &b) { return a.arena_ == b.arena_; }
	friend bool operator!=(const InlineArenaAllocator &a, const InlineArenaAllocator &b) { return a.arena_ != b.arena_; }

private:
	template <typename U>
	friend class InlineArenaAllocator;
	InlineArena *arena_;
};

template <typename T>
using InlineVector = std::vector<T, InlineArenaAllocator<T>>;

// Deletes an emitter as the class it was made as (the SDK's light classes have no virtual
// destructor), and gives its memory back unless it lies in the arena it was made in.
struct LightEmitterDelete {
	const InlineArena *arena = nullptr;
	void operator()(LightEmitter *le) const;
};
using LightEmitterPtr = std::unique_ptr<LightEmitter, LightEmitterDelete>;

// Deletes a visual where its type is known (Visual.cpp), so that the vessel's record needs only
// its name.
struct VisualDelete {
	void operator()(Visual *visual) const;
};
using VisualPtr = std::unique_ptr<Visual, VisualDelete>;

// The hot part of a vessel's record; the vessel's record derives from it, so that it lies at
// the record's front (its object kind first). Both passes read the first line; a pre-step
// reads the first four lines alone (the surface body and the state), a post-step the first
// line and the one after the four (the animation states' place, the rudder, what else to
// prefetch). The rest is cold, and the arena last (see PrefetchFront).
struct alignas(64) VesselHotData : HostObject {
	explicit VesselHotData(size_t journalCapacity);
	~VesselHotData();
	VesselHotData(const VesselHotData &) = delete;
	VesselHotData &operator=(const VesselHotData &) = delete;

	// The first room in the arena of the lists below: a rover has 46 animations, four lights
	// and eight beacons.
	static constexpr size_t kInlineAnimations = 64, kInlineLights = 4, kInlineBeacons = 8;
	// The lines a pre-step reads, from the record's front.
	static constexpr size_t kPreStepLines = 4;

	// The first line (with the kind before them): what every host call of a callback reads.
	bool warnedNonFinitePose = false;   // an animation state was not finite (said once)
	bool warnedNonFiniteState = false;  // a landed state handed to the host was not finite (said once)
	VESSEL *iface = nullptr;  // what ovcInit returned, or the host's own plain interface
	Journal journal;
	// Then what the pre-step's surface calls read and write.
	Body *surfaceRef = nullptr;
	// State: the host keeps what the vessel was last given.
	VESSELSTATUS2 state{};  // version 2; list pointers always null

	// The post-step's line. Where the animation states and their change marks are, as the
	// lists below hold them (AddAnimationState keeps the two alike).
	alignas(64) double *stateData = nullptr;
	uint64_t *changedWords = nullptr;
	// The beacons' flags, which the module switches every step, when they lie within a few
	// lines of each other: from the first to past the last (none: 0 bytes; see AddBeacon).
	const char *beaconFlags = nullptr;
	// Rudder, -1..1: the target is what a program set plus the user's yaw keys of the last
	// keyboard step (focus vessel only), within -1..1; the level follows it with a lag of delay
	// seconds per full unit.
	double rudderTarget = 0;
	double rudderUser = 0, rudderLevel = 0;
	double RudderGoal() const { return std::clamp(rudderTarget + rudderUser, -1.0, 1.0); }
	uint32_t stateCount = 0;
	// The arena's lines a post-step touches, one bit a line: the animation states and marks in
	// use and each light emitter's owner and switch (see PrefetchPointed).
	uint32_t hotLines = 0;
	uint32_t beaconBytes = 0;
	bool rudderMoving = false;  // in the host's list of rudders that may not be at their goal

	DWORD adcMode = 0;  // control-surface mode (AFCMODE): the yaw keys move the rudder while bit 1 is set
	int rcsMode = 1;    // attitude thruster mode (RCSMODE): RCS_NONE, RCS_ROT or RCS_LIN; kept for saves
	// Per animation, the logical state as last set: side by side, as a frame sets many.
	InlineVector<double> animationStates;
	// Animations whose state or components changed since the visual last caught up, one bit
	// per animation by index: a frame's catch-up visits these only. There is a word for every
	// animation (AddAnimationState adds them), so marking one of the vessel's animations needs
	// no test.
	InlineVector<uint64_t> animationsChanged;
	void MarkAnimationChanged(UINT anim) { changedWords[anim / 64] |= uint64_t(1) << (anim % 64); }
	InlineVector<LightEmitterPtr> lights;
	InlineVector<BEACONLIGHTSPEC *> beacons;
	VisualPtr visual;
	uint32_t lightLines = 0;  // the emitters' part of hotLines
	// Room for the lists above and the light emitters (see AddLight). Last: see PrefetchFront.
	InlineArena arena;

	// A new animation's state, with a word of change marks for every 64.
	void AddAnimationState(double state);
	// Adds a beacon the module keeps.
	void AddBeacon(BEACONLIGHTSPEC *beacon);

	// Makes a light emitter of class L (args as its constructor takes them) in the arena, or on
	// the heap once the arena is full, and adds it to the vessel's lights.
	template <typename L, typename... Args>
	L *AddLight(Args &&...args) {
		lights.reserve(lights.size() + 1);  // the emitter is never left without an owner
		void *room = arena.Allocate(sizeof(L), alignof(L));
		L *le = room ? new (room) L(std::forward<Args>(args)...) : new L(std::forward<Args>(args)...);
		lights.emplace_back(le, LightEmitterDelete{&arena});
		NoteLight(*le);
		return le;
	}

	// What the frame's passes ask the caches for, some vessels ahead of the one they reach:
	// the lines the pass reads of the fields, by address alone, nothing of the record read.
	HOST_ALWAYS_INLINE void PrefetchFront(bool postStep) const {
		if (postStep) {
			Prefetch(this);
			Prefetch(&stateData);
		} else {
			PrefetchRange(this, kPreStepLines * 64);
		}
	}
	// What the fields point to, once PrefetchFront's lines have arrived: the first kilobyte of
	// the module's object (its size is the module's own; a guess that costs nothing if wrong)
	// and, for a post-step, the arena's lines it touches and the beacons' flags, which the
	// module switches every step.
	HOST_ALWAYS_INLINE void PrefetchPointed(bool postStep) const {
		const size_t moduleBytes = 1024;
		if (iface)
			PrefetchRange(iface, moduleBytes);
		if (postStep) {
#if defined(__GNUC__)
			for (uint32_t lines = hotLines; lines != 0; lines &= lines - 1)
				Prefetch(arena.data() + 64 * static_cast<size_t>(__builtin_ctz(lines)));
#endif
			if (beaconBytes != 0)
				PrefetchRange(beaconFlags, beaconBytes);
		}
	}
	// The rudder's fields, one line.
	HOST_ALWAYS_INLINE void PrefetchRudder() const { Prefetch(&rudderTarget); }
	// What the visual-range pass reads: the body, the position and the visual.
	HOST_ALWAYS_INLINE void PrefetchVisualRange() const {
		Prefetch(&surfaceRef);
		Prefetch(&state.surf_lat);
		Prefetch(&visual);
	}

private:
	// The arena's lines of bytes..bytes+n, one bit a line; none for memory outside it.
	uint32_t ArenaLines(const void *bytes, size_t n) const;
	// Takes a new emitter's owner and switch into hotLines (Lights.cpp, which knows them).
	void NoteLight(const LightEmitter &le);
};

// The layout the prefetches above rely on. offsetof of a type with a base is conditionally
// supported; GCC and Clang give the plain offsets of a type without virtual bases.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Winvalid-offsetof"
static_assert(offsetof(VesselHotData, arena) + sizeof(InlineArena) == sizeof(VesselHotData),
              "the arena must be the hot data's last member");
static_assert(InlineArena::kBytes / 64 <= 32, "hotLines has a bit for every line of the arena");
// PrefetchFront: what every call reads lies on the first line; what a pre-step reads within
// its lines, and what only a post-step reads on the line after them.
static_assert(offsetof(VesselHotData, warnedNonFinitePose) < 64 && offsetof(VesselHotData, iface) < 64 &&
                  offsetof(VesselHotData, journal) + sizeof(Journal) <= 64,
              "the fields every call reads must lie on the record's first line");
static_assert(offsetof(VesselHotData, state) + sizeof(VESSELSTATUS2) <= VesselHotData::kPreStepLines * 64 &&
                  offsetof(VesselHotData, surfaceRef) < offsetof(VesselHotData, state),
              "what a pre-step reads must lie on its lines");
static_assert(offsetof(VesselHotData, stateData) == VesselHotData::kPreStepLines * 64 &&
                  offsetof(VesselHotData, rudderMoving) < (VesselHotData::kPreStepLines + 1) * 64,
              "what a post-step reads must lie on the line after the pre-step's");
// PrefetchRudder: the rudder's fields share that line.
static_assert(offsetof(VesselHotData, rudderTarget) / 64 == offsetof(VesselHotData, rudderMoving) / 64 &&
                  offsetof(VesselHotData, rudderTarget) < offsetof(VesselHotData, rudderUser) &&
                  offsetof(VesselHotData, rudderUser) < offsetof(VesselHotData, rudderLevel) &&
                  offsetof(VesselHotData, rudderLevel) < offsetof(VesselHotData, rudderMoving),
              "the rudder's fields must lie on one cache line");
// PrefetchVisualRange: the position's longitude and latitude share one line.
static_assert((offsetof(VesselHotData, state) + offsetof(VESSELSTATUS2, surf_lng)) / 64 ==
                  (offsetof(VesselHotData, state) + offsetof(VESSELSTATUS2, surf_lat) + sizeof(double) - 1) / 64,
              "the position's longitude and latitude must lie on one cache line");
#pragma GCC diagnostic pop

}  // namespace host
