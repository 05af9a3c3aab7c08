#pragma once

// A page bump allocator for syntax trees. Nodes are never freed one by one:
// the whole arena goes at once, so everything allocated here must be
// trivially destructible (checked at compile time).

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <new>
#include <span>
#include <type_traits>
#include <utility>

namespace tovix::luau::arena {

// A read-only view of arena-allocated children: pointer plus size.
template <typename T>
struct Array {
  T* data = nullptr;
  std::size_t size = 0;

  [[nodiscard]] T* begin() const { return data; }
  [[nodiscard]] T* end() const { return data + size; }
  [[nodiscard]] bool empty() const { return size == 0; }
  [[nodiscard]] T& operator[](std::size_t i) const { return data[i]; }
};

class Arena {
 public:
  Arena() = default;
  Arena(const Arena&) = delete;
  Arena& operator=(const Arena&) = delete;
  Arena(Arena&& other) noexcept;
  Arena& operator=(Arena&& other) noexcept;
  ~Arena();

  // Raw storage; never fails short of the process running out of memory.
  // `align` is a power of two.
  [[nodiscard]] void* allocate(std::size_t size, std::size_t align) {
    auto address = reinterpret_cast<std::uintptr_t>(cursor_);
    std::uintptr_t aligned = (address + (align - 1)) & ~(std::uintptr_t{align} - 1);
    if (aligned + size <= reinterpret_cast<std::uintptr_t>(limit_) && cursor_ != nullptr) {
      cursor_ = reinterpret_cast<char*>(aligned + size);
      used_ += size;
      return reinterpret_cast<void*>(aligned);
    }
    return allocate_page(size, align);
  }

  template <typename T, typename... Args>
  [[nodiscard]] T* make(Args&&... args) {
    static_assert(std::is_trivially_destructible_v<T>, "arena values are never destroyed");
    return new (allocate(sizeof(T), alignof(T))) T(std::forward<Args>(args)...);
  }

  template <typename T>
  [[nodiscard]] Array<T> copy(std::span<const T> items) {
    static_assert(std::is_trivially_destructible_v<T>, "arena values are never destroyed");
    static_assert(std::is_trivially_copyable_v<T>, "arena arrays are copied bytewise");
    if (items.empty()) return {};
    T* data = static_cast<T*>(allocate(sizeof(T) * items.size(), alignof(T)));
    std::memcpy(static_cast<void*>(data), items.data(), sizeof(T) * items.size());
    return {data, items.size()};
  }

  // Bytes handed out so far (for tests and benchmarks).
  [[nodiscard]] std::size_t used() const { return used_; }

 private:
  struct Page {
    Page* next;
    std::size_t capacity;
  };
  static constexpr std::size_t PAGE_SIZE = 64 * 1024;

  void* allocate_page(std::size_t size, std::size_t align);
  void release();

  Page* pages_ = nullptr;
  char* cursor_ = nullptr;
  char* limit_ = nullptr;
  std::size_t used_ = 0;
};

}  // namespace tovix::luau::arena
