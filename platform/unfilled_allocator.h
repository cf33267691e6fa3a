// An allocator that leaves a vector's new elements unfilled, for large buffers of plain
// values that are written whole before they are read (a camera frame's rows, a picture):
// resizing them then costs no pass over their memory.
#pragma once

#include <memory>
#include <new>
#include <utility>

namespace platform {

template <typename T>
struct UnfilledAllocator : std::allocator<T> {
  template <typename U>
  struct rebind {
    using other = UnfilledAllocator<U>;
  };
  template <typename U>
  void construct(U* place) noexcept {
    ::new (static_cast<void*>(place)) U;
  }
  template <typename U, typename... Arguments>
  void construct(U* place, Arguments&&... arguments) {
    ::new (static_cast<void*>(place)) U(std::forward<Arguments>(arguments)...);
  }
};

}  // namespace platform
