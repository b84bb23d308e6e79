// SPDX-License-Identifier: GPL-2.0-or-later
// How the C library keeps the large blocks that keep growing, such as the event-log viewer's
// text of a full day.
#pragma once

#include <cstddef>
#if defined(__GLIBC__)
#include <malloc.h>
#endif

namespace raid {

// glibc copies a growing block that sits on its heap byte for byte at each doubling, 20-45 ms for
// the viewer's on an 8 MB day, but moves one that has pages of its own by remapping them. Blocks
// of 1 MiB and more get their own pages from the start; glibc would otherwise raise that bound
// each time such a block is freed and keep the next ones on its heap. Call before any thread.
inline void GiveLargeBlocksTheirOwnPages() {
#if defined(__GLIBC__)
  mallopt(M_MMAP_THRESHOLD, 1 << 20);
#endif
}

}  // namespace raid
