#pragma once

// Heap allocations made through operator new since the program started, to
// show that no report allocates per fix.
long AllocationCount();
