#pragma once

namespace tulmo {

// Raises the process's soft limit of open descriptors to its hard limit. Every connected
// device holds a descriptor, and the usual soft limit (1,024) is below what a station
// serves. Returns the soft limit now in force, or -1 where the system has none.
long long raiseDescriptorLimit();

} // namespace tulmo
