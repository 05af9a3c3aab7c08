#include "tovix/luau/arena.h"

namespace tovix::luau::arena {

namespace {

// Page headers are padded to this so that the data after them is aligned for
// anything a node can hold.
constexpr std::size_t HEADER = alignof(std::max_align_t) > 16 ? alignof(std::max_align_t) : 16;

}  // namespace

Arena::Arena(Arena&& other) noexcept
    : pages_(std::exchange(other.pages_, nullptr)),
      cursor_(std::exchange(other.cursor_, nullptr)),
      limit_(std::exchange(other.limit_, nullptr)),
      used_(std::exchange(other.used_, 0)) {}

Arena& Arena::operator=(Arena&& other) noexcept {
  if (this != &other) {
    release();
    pages_ = std::exchange(other.pages_, nullptr);
    cursor_ = std::exchange(other.cursor_, nullptr);
    limit_ = std::exchange(other.limit_, nullptr);
    used_ = std::exchange(other.used_, 0);
  }
  return *this;
}

Arena::~Arena() { release(); }

void Arena::release() {
  while (pages_ != nullptr) {
    Page* next = pages_->next;
    ::operator delete(pages_);
    pages_ = next;
  }
  cursor_ = limit_ = nullptr;
}

void* Arena::allocate_page(std::size_t size, std::size_t align) {
  // A request larger than a page gets a page of its own; the current page
  // keeps serving small requests afterwards.
  std::size_t capacity = size + align > PAGE_SIZE ? size + align : PAGE_SIZE;
  auto* page = static_cast<Page*>(::operator new(HEADER + capacity));
  page->capacity = capacity;
  char* data = reinterpret_cast<char*>(page) + HEADER;
  auto address = reinterpret_cast<std::uintptr_t>(data);
  std::uintptr_t aligned = (address + (align - 1)) & ~(std::uintptr_t{align} - 1);
  used_ += size;
  if (capacity != PAGE_SIZE && pages_ != nullptr) {
    // Keep the dedicated page behind the current one.
    page->next = pages_->next;
    pages_->next = page;
    return reinterpret_cast<void*>(aligned);
  }
  page->next = pages_;
  pages_ = page;
  cursor_ = reinterpret_cast<char*>(aligned + size);
  limit_ = data + capacity;
  return reinterpret_cast<void*>(aligned);
}

}  // namespace tovix::luau::arena
