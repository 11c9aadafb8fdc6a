// The test program's own operator new (FilledAllocations.cpp).
#pragma once

// Allocations made through operator new and not yet released.
long long LiveAllocations();
