#pragma once
// SHA-256 on a thread of its own, over chunks that the caller reads into the hasher's buffers:
// the caller's reading and writing of a large content overlap its hashing, so a store costs
// about the longer of the two instead of their sum.

#include <array>
#include <cstddef>
#include <memory>
#include <semaphore>
#include <string>
#include <thread>

#include "crypto/sha256.h"

namespace tovrel::cas {

// One caller thread fills and submits buffers in turn; the hashing thread reads them in the
// same order. Where no thread can be started, each chunk is hashed as it is submitted.
class ChunkHasher {
 public:
  static constexpr std::size_t kChunk = 256 << 10;

  ChunkHasher();
  // Waits for the hashing in flight.
  ~ChunkHasher();
  ChunkHasher(const ChunkHasher&) = delete;
  ChunkHasher& operator=(const ChunkHasher&) = delete;

  // A buffer of kChunk bytes to fill; waits while every buffer is still being hashed. It stays
  // the caller's to read until the next call.
  char* next();
  // Hashes the first `size` bytes of the buffer `next` returned.
  void submit(std::size_t size);
  // The digest of everything submitted, as 64 lowercase hexadecimal characters.
  std::string finish();

 private:
  static constexpr std::size_t kSlots = 8;
  static constexpr std::size_t kStop = static_cast<std::size_t>(-1);

  void hash_slot(std::size_t slot);
  void run();
  void stop();

  crypto::Sha256 hash_;
  std::unique_ptr<char[]> buffers_;
  std::array<std::size_t, kSlots> sizes_{};
  std::size_t fill_ = 0;  // the slot the caller fills next
  bool holding_ = false;  // whether the caller holds slot fill_
  std::counting_semaphore<kSlots> free_{kSlots};
  std::counting_semaphore<kSlots> filled_{0};
  std::thread thread_;
};

}  // namespace tovrel::cas
