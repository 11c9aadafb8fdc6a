// Room inside a vessel's own record for the small things a frame reads and writes of every
// vessel besides the record's own fields: its animation states and their change marks, its
// light emitters and the lists of its lights and beacons. Kept there, they lie beside the
// record's per-frame fields instead of each in an allocation of its own somewhere in the heap,
// and a frame of many vessels waits on a few neighbouring cache lines per vessel instead of
// on ten scattered ones.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <new>

namespace host {

// Handed out front to back and never taken back: what a vessel keeps here it keeps for its
// life (a list that grows past its first room moves to the heap and leaves the room unused).
// A request that does not fit gets null, and its owner goes to the heap as before.
class FrameBlock {
public:
	static constexpr size_t kBytes = 1536;

	FrameBlock() = default;
	FrameBlock(const FrameBlock &) = delete;
	FrameBlock &operator=(const FrameBlock &) = delete;

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

// A standard allocator over a frame block, the heap's when the block is full.
template <typename T>
class FrameAllocator {
public:
	using value_type = T;

	explicit FrameAllocator(FrameBlock &block) noexcept : block_(&block) {}
	template <typename U>
	FrameAllocator(const FrameAllocator<U> &other) noexcept : block_(other.block_) {}

	T *allocate(size_t n) {
		if (n <= FrameBlock::kBytes / sizeof(T))
			if (void *p = block_->Allocate(n * sizeof(T), alignof(T)))
				return static_cast<T *>(p);
		return std::allocator<T>().allocate(n);
	}
	void deallocate(T *p, size_t n) noexcept {
		if (!block_->Owns(p))
			std::allocator<T>().deallocate(p, n);
	}

	friend bool operator==(const FrameAllocator &a, const FrameAllocator &b) { return a.block_ == b.block_; }
	friend bool operator!=(const FrameAllocator &a, const FrameAllocator &b) { return a.block_ != b.block_; }

private:
	template <typename U>
	friend class FrameAllocator;
	FrameBlock *block_;
};

}  // namespace host
