// A rover that cannot be made for want of memory: the module runs without C++ exceptions, so
// ovcInit gives the rover up and returns null when any of its memory requests fails, and
// leaves nothing behind, neither memory nor an animation of the host's that would keep a freed
// transform. The module takes malloc from the process (on Windows from msvcrt.dll), so this
// program's own malloc stands in for the C library's and fails the module's requests one by one.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "OwnMalloc.h"
#include "RoverWorld.h"

#if SENDRA_OWN_MALLOC

namespace {

// While watching: the module's requests so far, the one to fail (1 for the first, 0 none) and
// the module's blocks not yet freed.
bool watching = false, inside = false;
int requests = 0, failAt = 0;
void *live[64];
int liveCount = 0;

bool FromModule(const void *caller) {
	Dl_info info;
	return dladdr(caller, &info) && info.dli_fname && std::strstr(info.dli_fname, "libSendra2016.so");
}

}  // namespace

extern "C" void *malloc(size_t size) {
	if (!watching || inside)
		return __libc_malloc(size);
	inside = true;
	bool module = FromModule(__builtin_return_address(0));
	inside = false;
	if (!module)
		return __libc_malloc(size);
	if (++requests == failAt)
		return nullptr;
	void *p = __libc_malloc(size);
	if (p && liveCount < 64)
		live[liveCount++] = p;
	return p;
}

extern "C" void free(void *p) {
	for (int i = 0; i < liveCount; ++i)
		if (live[i] == p) {
			live[i] = live[--liveCount];
			break;
		}
	__libc_free(p);
}

extern "C" void *calloc(size_t n, size_t size) { return __libc_calloc(n, size); }
extern "C" void *realloc(void *p, size_t size) { return __libc_realloc(p, size); }
#endif

namespace {

using testing_support::RoverWorld;

TEST(RoverAllocation, AFailedRequestGivesTheRoverUpAndLeavesNothingBehind) {
#if !SENDRA_OWN_MALLOC
	GTEST_SKIP() << "the sanitizers' malloc cannot be stood in for";
#else
	RoverWorld world;
	// A rover that is made: its requests (itself and its six roll transforms) all live on.
	watching = true;
	requests = failAt = liveCount = 0;
	Vessel *made = world.AddRover("Made");
	watching = false;
	const int all = requests;
	EXPECT_EQ(all, 7);
	EXPECT_EQ(liveCount, all);
	ASSERT_NE(host::VesselView(made).callbacks3(), nullptr);
	world.sim.TakeProblems();

	for (int n = 1; n <= all; ++n) {
		SCOPED_TRACE("request " + std::to_string(n) + " fails");
		watching = true;
		requests = liveCount = 0;
		failAt = n;
		Vessel *v = world.AddRover("R" + std::to_string(n));
		watching = false;
		EXPECT_EQ(requests, n) << "requests went on after a failed one";
		EXPECT_EQ(liveCount, 0) << "memory of the rover given up was kept";
		EXPECT_EQ(host::VesselView(v).callbacks(), nullptr);
		EXPECT_EQ(host::VesselView(v).animationCount(), 0u) << "the host keeps animations of a rover given up";
		std::vector<std::string> problems = world.sim.TakeProblems();
		ASSERT_EQ(problems.size(), 1u);
		EXPECT_NE(problems[0].find("ovcInit of module 'Sendra2016' returned null"), std::string::npos) << problems[0];
	}

	// The module is whole again: rovers made after the failures drive, and ending one frees all.
	watching = true;
	requests = failAt = liveCount = 0;
	Vessel *after = world.AddRover("After");
	world.Step(0.02, 5);
	world.sim.DeleteVessel(after);
	watching = false;
	EXPECT_EQ(requests, 7);
	EXPECT_EQ(liveCount, 0);
	(void)made;
#endif
}

}  // namespace
