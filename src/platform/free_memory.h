#pragma once

namespace orvane::platform {

// Hands the heap's free pages back to the system. The allocator keeps what
// a burst of work (a popover shown, a sync's replies) freed; for a program
// that idles in the tray all day that is memory held for nothing.
void returnFreeHeapMemory();

} // namespace orvane::platform
