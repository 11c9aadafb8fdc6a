// The test program's own malloc (FilledAllocations.cpp).
#pragma once

// Blocks that malloc handed out and that are not yet given back; -1 where the program uses the
// sanitizers' malloc, which counts nothing here.
long long LiveAllocations();
