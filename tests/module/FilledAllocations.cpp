// Every allocation of the test program, the rovers that the module makes included, starts
// filled with a pattern instead of whatever the allocator had: a field that the constructor
// leaves unset then shows as a strange value, not as the zero of fresh memory. The module
// resolves operator new to this one, as a library does to the program's.
#include <cstdlib>
#include <cstring>
#include <new>

namespace {

void *Filled(std::size_t size) {
	void *p = std::malloc(size ? size : 1);
	if (!p)
		throw std::bad_alloc();
	std::memset(p, 0xA5, size);
	return p;
}

}  // namespace

void *operator new(std::size_t size) { return Filled(size); }
void *operator new[](std::size_t size) { return Filled(size); }
void operator delete(void *p) noexcept { std::free(p); }
void operator delete[](void *p) noexcept { std::free(p); }
void operator delete(void *p, std::size_t) noexcept { std::free(p); }
void operator delete[](void *p, std::size_t) noexcept { std::free(p); }
