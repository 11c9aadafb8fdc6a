// For a test program that puts its own malloc in front of the C library's (the module takes
// malloc from the process): SENDRA_OWN_MALLOC is 0 under AddressSanitizer, whose malloc must
// stay, and 1 otherwise; with it, the C library's own entry points to call.
#pragma once

#include <cstddef>

#if defined(__has_feature)
#if __has_feature(address_sanitizer)
#define SENDRA_OWN_MALLOC 0
#endif
#endif
#if !defined(SENDRA_OWN_MALLOC) && defined(__SANITIZE_ADDRESS__)
#define SENDRA_OWN_MALLOC 0
#endif
#ifndef SENDRA_OWN_MALLOC
#define SENDRA_OWN_MALLOC 1
#endif

#if SENDRA_OWN_MALLOC
extern "C" void *__libc_malloc(size_t size);
extern "C" void __libc_free(void *p);
extern "C" void *__libc_calloc(size_t n, size_t size);
extern "C" void *__libc_realloc(void *p, size_t size);
extern "C" void *__libc_memalign(size_t alignment, size_t size);
#endif
