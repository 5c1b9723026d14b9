#pragma once

namespace lumetrove {

/// Hands memory that has been freed back to the system. The C library keeps freed memory for the next
/// allocation, in a heap of its own for every thread that allocated; a program idle in the tray after
/// letting go of images and recognition engines would otherwise stay as large as it was at its busiest.
/// Takes a few milliseconds; any thread.
void returnFreedMemoryToSystem();

/// Makes every large block (a screen image, its encoding) a mapping of its own, which goes back to the system
/// as soon as it is freed. The C library otherwise raises that size to the largest block freed so far, after
/// which screen-sized images come from its heaps and stay there once freed: after a run of captures the program
/// would rest several megabytes larger than before it. Call once, at start, before other threads allocate.
void returnLargeBlocksWhenFreed();

/// Makes every thread allocate from the one heap that `returnFreedMemoryToSystem` can give back in full. The C
/// library otherwise gives each thread that allocates a heap of its own, and its trim gives back only the free
/// pages between the blocks of such a heap, never its free end: the rows a list load read on a worker thread
/// stayed resident after the window closed to the tray (about 240 bytes a screenshot, 24 MiB at 100k).
/// Call once, at start, before other threads allocate.
void useOneHeapForAllThreads();

} // namespace lumetrove
