#include "exec/bytes.h"

#include <sys/mman.h>

#include <utility>

namespace tovrel::exec {

Bytes::~Bytes() {
  if (data_) ::munmap(data_, capacity_);
}

Bytes::Bytes(Bytes&& other) noexcept
    : data_(std::exchange(other.data_, nullptr)),
      size_(std::exchange(other.size_, 0)),
      capacity_(std::exchange(other.capacity_, 0)) {}

Bytes& Bytes::operator=(Bytes&& other) noexcept {
  if (this != &other) {
    Bytes gone(std::move(*this));
    data_ = std::exchange(other.data_, nullptr);
    size_ = std::exchange(other.size_, 0);
    capacity_ = std::exchange(other.capacity_, 0);
  }
  return *this;
}

std::span<char> Bytes::room(std::size_t want) {
  if (capacity_ - size_ >= want) return {data_ + size_, capacity_ - size_};
  std::size_t capacity = capacity_ ? capacity_ : kReadChunk;
  while (capacity - size_ < want) {
    if (capacity > SIZE_MAX / 2) return {};
    capacity *= 2;
  }
  // Pages are only paid for once written, so doubling the reserve costs address space only.
  void* grown =
      data_ ? ::mremap(data_, capacity_, capacity, MREMAP_MAYMOVE)
            : ::mmap(nullptr, capacity, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (grown == MAP_FAILED) return {};
  data_ = static_cast<char*>(grown);
  capacity_ = capacity;
  return {data_ + size_, capacity_ - size_};
}

}  // namespace tovrel::exec
