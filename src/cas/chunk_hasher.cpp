#include "cas/chunk_hasher.h"

#include <system_error>

namespace tovrel::cas {

ChunkHasher::ChunkHasher() : buffers_(std::make_unique_for_overwrite<char[]>(kSlots * kChunk)) {
  try {
    thread_ = std::thread([this] { run(); });
  } catch (const std::system_error&) {
    // No thread to be had: submit() hashes in the caller's thread instead.
  }
}

ChunkHasher::~ChunkHasher() { stop(); }

char* ChunkHasher::next() {
  if (!holding_) {
    free_.acquire();
    holding_ = true;
  }
  return buffers_.get() + fill_ * kChunk;
}

void ChunkHasher::submit(std::size_t size) {
  (void)next();
  holding_ = false;
  sizes_[fill_] = size;
  if (thread_.joinable()) {
    filled_.release();
  } else {
    hash_slot(fill_);
    free_.release();
  }
  fill_ = (fill_ + 1) % kSlots;
}

void ChunkHasher::hash_slot(std::size_t slot) {
  hash_.update({buffers_.get() + slot * kChunk, sizes_[slot]});
}

void ChunkHasher::run() {
  for (std::size_t slot = 0;; slot = (slot + 1) % kSlots) {
    filled_.acquire();
    if (sizes_[slot] == kStop) return;
    hash_slot(slot);
    free_.release();
  }
}

void ChunkHasher::stop() {
  if (!thread_.joinable()) return;
  (void)next();
  holding_ = false;
  sizes_[fill_] = kStop;
  filled_.release();
  thread_.join();
}

std::string ChunkHasher::finish() {
  stop();
  return crypto::digest_hex(hash_.finish());
}

}  // namespace tovrel::cas
