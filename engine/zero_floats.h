// A block of floats that starts as all zeros without a pass that writes
// them: the rank matrix's storage.
//
// At the largest inputs the matrix is some 200 MB that loading writes once
// from end to end. Zeroing it first (as std::vector does) touches every page
// twice, and on a guest whose page faults are dear, the 50000 first touches
// of 4 KiB pages cost more than reading the numbers. A large block here is
// fresh anonymous memory (zero by the system's promise), asked for in huge
// pages where the system offers them on request, so that loading's first
// touches are a few hundred; a small block comes from calloc.
#ifndef KORVELAN_ENGINE_ZERO_FLOATS_H_
#define KORVELAN_ENGINE_ZERO_FLOATS_H_

#include <cstddef>

namespace korvelan {

class ZeroFloats {
 public:
  ZeroFloats() = default;
  // `size` zeros. Throws std::bad_alloc when the memory is not there.
  explicit ZeroFloats(std::size_t size);
  ZeroFloats(const ZeroFloats& other);
  ZeroFloats& operator=(const ZeroFloats& other);
  ZeroFloats(ZeroFloats&& other) noexcept;
  ZeroFloats& operator=(ZeroFloats&& other) noexcept;
  ~ZeroFloats();

  std::size_t size() const { return size_; }
  float* data() { return data_; }
  const float* data() const { return data_; }
  float& operator[](std::size_t i) { return data_[i]; }
  float operator[](std::size_t i) const { return data_[i]; }

 private:
  void Release() noexcept;

  float* data_ = nullptr;
  std::size_t size_ = 0;
  bool mapped_ = false;  // from mmap (else calloc)
};

}  // namespace korvelan

#endif  // KORVELAN_ENGINE_ZERO_FLOATS_H_
