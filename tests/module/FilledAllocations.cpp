// Every block that malloc hands out in this test program, the rovers that the module makes
// included, starts filled with a pattern instead of whatever the memory held: a field that the
// constructor leaves unset then shows as a strange value, not as the zero of fresh memory; and
// a block given back is filled with another, so that what is read after it was freed shows too.
// The blocks not yet given back are counted, so that a test can see what a deleted rover leaves
// behind. The program's malloc stands in for the C library's (which it calls), as the module
// takes malloc from the process; not under the sanitizers, whose malloc fills blocks and finds
// leaks itself.
#include "FilledAllocations.h"

#include <malloc.h>

#include <atomic>
#include <cstddef>
#include <cstring>

#include "OwnMalloc.h"

#if SENDRA_OWN_MALLOC

namespace {

std::atomic<long long> live{0};

void *Counted(void *p) {
	if (p)
		++live;
	return p;
}

}  // namespace

extern "C" void *malloc(size_t size) {
	void *p = __libc_malloc(size);
	if (p)
		std::memset(p, 0xA5, size);
	return Counted(p);
}

extern "C" void free(void *p) {
	if (!p)
		return;
	--live;
	std::memset(p, 0x5A, malloc_usable_size(p));
	__libc_free(p);
}

extern "C" void *calloc(size_t n, size_t size) { return Counted(__libc_calloc(n, size)); }

extern "C" void *realloc(void *p, size_t size) {
	void *q = __libc_realloc(p, size);
	if (!p && q)
		++live;  // as malloc
	else if (p && size == 0 && !q)
		--live;  // as free
	return q;
}

extern "C" void *memalign(size_t alignment, size_t size) { return Counted(__libc_memalign(alignment, size)); }
extern "C" void *aligned_alloc(size_t alignment, size_t size) { return memalign(alignment, size); }
extern "C" int posix_memalign(void **out, size_t alignment, size_t size) {
	void *p = memalign(alignment, size);
	if (!p)
		return 12;  // ENOMEM
	*out = p;
	return 0;
}

long long LiveAllocations() { return live; }
#else
long long LiveAllocations() { return -1; }
#endif
