// Copying bytes out of a file mapping that another process may shrink meanwhile.
#pragma once

#include <cstddef>

namespace harvix {

// Copies `size` bytes from a mapped file into `destination`. Returns false instead of
// letting the process die when the pages are gone because the file was truncated after
// it was mapped (the kernel reports that as SIGBUS on the access).
[[nodiscard]] bool GuardedCopy(void* destination, const void* source, std::size_t size);

} // namespace harvix
