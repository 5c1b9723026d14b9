#pragma once

namespace lumetrove {

/// Hands memory that has been freed back to the system. The C library keeps freed memory for the next
/// allocation, in a heap of its own for every thread that allocated; a program idle in the tray after
/// letting go of images and recognition engines would otherwise stay as large as it was at its busiest.
/// Takes a few milliseconds; any thread.
void returnFreedMemoryToSystem();

} // namespace lumetrove
