#pragma once

namespace store {

// Gives the memory the program has freed back to the system. The C library
// keeps freed blocks for later use, and once it has seen large lists come
// and go it keeps even a list of tens of megabytes that was let go resident
// until a list of that size comes again; called after a large list of rows
// is let go, so that what the process holds follows what it shows.
void returnFreedMemory();

} // namespace store
