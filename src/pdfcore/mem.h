// Ownership of blocks that come from the C allocator: the library takes memory with malloc
// and friends so that exhaustion is a null pointer it can report, never an exception.
#pragma once

#include <cstdlib>
#include <memory>

struct c_free {
  void operator()(void *p) const noexcept { std::free(p); }
};

template <class T>
using c_ptr = std::unique_ptr<T, c_free>;
