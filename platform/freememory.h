#pragma once
// Handing freed heap back to the system. The allocator keeps what a large command freed (the
// paths it gathered, a finished scan's inputs) as part of the process's resident memory until
// something else reuses it.

namespace platform {

// Returns the free pages of every heap to the system. Takes a few milliseconds on a heap of
// 100,000 tracks; call it after a large command, not in a loop.
void returnFreedMemory();

}  // namespace platform
