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

} // namespace lumetrove
