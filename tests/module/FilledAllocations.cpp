// Every allocation of the test program, the rovers that the module makes included, starts
// filled with a pattern instead of whatever the allocator had: a field that the constructor
// leaves unset then shows as a strange value, not as the zero of fresh memory. The module
// resolves operator new to this one, as a library does to the program's. The allocations not
// yet released are counted, so that a test can see what a rover leaves behind.
#include "FilledAllocations.h"

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <new>

namespace {

std::atomic<long long> live{0};

void *Filled(std::size_t size) {
	void *p = std::malloc(size ? size : 1);
	if (!p)
		throw std::bad_alloc();
	std::memset(p, 0xA5, size);
	++live;
	return p;
}

void Release(void *p) noexcept {
	if (!p)
		return;
	--live;
	std::free(p);
}

}  // namespace

long long LiveAllocations() { return live; }

void *operator new(std::size_t size) { return Filled(size); }
void *operator new[](std::size_t size) { return Filled(size); }
void operator delete(void *p) noexcept { Release(p); }
void operator delete[](void *p) noexcept { Release(p); }
void operator delete(void *p, std::size_t) noexcept { Release(p); }
void operator delete[](void *p, std::size_t) noexcept { Release(p); }
