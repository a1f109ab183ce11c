#pragma once

namespace store {

// Gives the memory the program has freed back to the system. The C library
// keeps freed blocks for later use, and once it has seen large lists come
// and go it keeps even a list of tens of megabytes that was let go resident
// until a list of that size comes again; called after a large list of rows
// is let go, so that what the process holds follows what it shows.
void returnFreedMemory();

// Has the C library map every block of a mebibyte or more apart from its
// heap, and unmap it as soon as it is freed. By default it raises that
// limit to the size of the large blocks it has seen freed (up to 32 MB), so
// that lists of millions of rowids end up in its heap and their memory
// stays with the process after they are let go. Set once per process.
void mapLargeBlocksApart();

} // namespace store
