/*
 * A lean host pool for the benchmarks: boot services whose AllocatePool and
 * FreePool are malloc and free, with nothing tracked but a count of the
 * allocations. The driver's BootServices points at it once installed.
 */
#ifndef TOLVANE_BENCHMARKS_LEAN_POOL_H
#define TOLVANE_BENCHMARKS_LEAN_POOL_H

#include <cstddef>

namespace LeanPool {

/* Points the driver's BootServices (and SystemTable) at the lean pool. */
void Install();

/* Allocations made since the program started. */
std::size_t AllocationCount();

} // namespace LeanPool

#endif
