#include "engine/zero_floats.h"

#include <sys/mman.h>

#include <algorithm>
#include <cstdlib>
#include <new>
#include <utility>

namespace korvelan {

namespace {

// From this size on a block is mapped on its own (glibc would map it too,
// but zero it through calloc's checks and without the huge-page request).
constexpr std::size_t kMapBytes = std::size_t{4} << 20;

}  // namespace

ZeroFloats::ZeroFloats(std::size_t size) : size_(size) {
  if (size == 0) return;
  if (size > static_cast<std::size_t>(-1) / sizeof(float)) throw std::bad_alloc();
  const std::size_t bytes = size * sizeof(float);
  if (bytes >= kMapBytes) {
    void* p = mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (p == MAP_FAILED) throw std::bad_alloc();
#ifdef MADV_HUGEPAGE
    // A request only: where huge pages are off or short, 4 KiB pages serve.
    madvise(p, bytes, MADV_HUGEPAGE);
#endif
    data_ = static_cast<float*>(p);
    mapped_ = true;
    return;
  }
  data_ = static_cast<float*>(std::calloc(size, sizeof(float)));
  if (data_ == nullptr) throw std::bad_alloc();
}

ZeroFloats::ZeroFloats(const ZeroFloats& other) : ZeroFloats(other.size_) {
  std::copy(other.data_, other.data_ + other.size_, data_);
}

ZeroFloats& ZeroFloats::operator=(const ZeroFloats& other) {
  if (this != &other) *this = ZeroFloats(other);
  return *this;
}

ZeroFloats::ZeroFloats(ZeroFloats&& other) noexcept
    : data_(std::exchange(other.data_, nullptr)),
      size_(std::exchange(other.size_, 0)),
      mapped_(std::exchange(other.mapped_, false)) {}

ZeroFloats& ZeroFloats::operator=(ZeroFloats&& other) noexcept {
  if (this != &other) {
    Release();
    data_ = std::exchange(other.data_, nullptr);
    size_ = std::exchange(other.size_, 0);
    mapped_ = std::exchange(other.mapped_, false);
  }
  return *this;
}

ZeroFloats::~ZeroFloats() { Release(); }

void ZeroFloats::Release() noexcept {
  if (data_ == nullptr) return;
  if (mapped_) {
    munmap(data_, size_ * sizeof(float));
  } else {
    std::free(data_);
  }
  data_ = nullptr;
  size_ = 0;
  mapped_ = false;
}

}  // namespace korvelan
