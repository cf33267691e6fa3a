// A table of live objects named by opaque handles. Handle values are never reused and carry
// their kind in the top bits, so a stale handle or one of another kind finds nothing.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <unordered_map>

namespace platform {

// Kinds of handle, kept in bits 48 to 55 of the handle's value.
enum class HandleKind : uint8_t {
  kMemory = 1,
  kWindow,
  kMenu,
  kInstance,
  kDeviceContext,
  kBitmap,
  kPalette,
  kBrush,
  kIcon,
  kCursor,
  kThread,
  kSocket,
};

// Owns objects of type T. Lookups give a pointer that stays valid until the object is
// removed; callers serialise removal against use with their own lock (`mutex()`).
template <typename T>
class HandleTable {
 public:
  explicit HandleTable(HandleKind kind) : kind_(kind) {}

  template <typename H>
  H Add(std::unique_ptr<T> object) {
    uint64_t value = (uint64_t{static_cast<uint8_t>(kind_)} << 48) | ++serial_;
    objects_.emplace(value, std::move(object));
    return reinterpret_cast<H>(static_cast<uintptr_t>(value));
  }

  template <typename H>
  T* Find(H handle) const {
    auto it = objects_.find(static_cast<uint64_t>(reinterpret_cast<uintptr_t>(handle)));
    return it == objects_.end() ? nullptr : it->second.get();
  }

  template <typename H>
  std::unique_ptr<T> Remove(H handle) {
    auto it = objects_.find(static_cast<uint64_t>(reinterpret_cast<uintptr_t>(handle)));
    if (it == objects_.end()) return nullptr;
    std::unique_ptr<T> object = std::move(it->second);
    objects_.erase(it);
    return object;
  }

  std::mutex& mutex() { return mutex_; }

  template <typename F>
  void ForEach(F&& f) const {
    for (const auto& [value, object] : objects_) f(value, *object);
  }

 private:
  HandleKind kind_;
  uint64_t serial_ = 0;
  std::unordered_map<uint64_t, std::unique_ptr<T>> objects_;
  std::mutex mutex_;
};

// The kind encoded in a handle's value (0 when it carries none).
inline uint8_t KindOfHandle(const void* handle) {
  return static_cast<uint8_t>((reinterpret_cast<uintptr_t>(handle) >> 48) & 0xff);
}

}  // namespace platform
