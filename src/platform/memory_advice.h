#pragma once

#include <cstddef>

namespace veltrane {

// Asks the kernel to back the whole 2 MiB pages within [data, data + bytes)
// with huge pages when they are first written. Filling tens of megabytes
// then costs a few dozen page faults instead of one per 4 KiB, which on a
// virtual machine is most of the time it takes. Only advice: where the
// kernel has no such pages to give, nothing changes.
void AdviseHugePages(const void* data, std::size_t bytes);

} // namespace veltrane
