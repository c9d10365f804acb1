// What only Linux asks of its file system, beside the calls of system.hpp.
#pragma once

namespace drop {

// Whether the folder open as `folder` is on a FUSE mount, whose syncfs may flush nothing of what
// the mount's program keeps: there each file is flushed on its own (fsync reaches that program).
bool flushes_each(int folder);

}  // namespace drop
