#pragma once
// The slots of the parallel gzip member and who holds each one: every hand-over between the
// caller, the compressors and the writer happens here, under one lock. The design as a whole is
// told at the top of gzip_member_writer.cpp.

#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <vector>

#include "base/wait_lock.h"

namespace mailsheaf {

// One block of input with everything its compression needs, so that no slot depends on another.
// Only the slot's present holder touches it.
struct GzipBlock {
  uint64_t sequence = 0;
  bool last = false;
  bool failed = false;  // the compressor could not deflate it
  std::vector<unsigned char> input;
  size_t input_size = 0;
  std::vector<unsigned char> dictionary;  // the input that precedes it, at most one window
  size_t dictionary_size = 0;
  std::vector<unsigned char> output;
  size_t output_size = 0;
  uint32_t crc = 0;  // of its input alone
};

class GzipBlockPool {
 public:
  // Every buffer is made here, once: the pool never grows.
  GzipBlockPool(size_t slots, size_t block_size, size_t window, size_t output_size);
  GzipBlockPool(const GzipBlockPool&) = delete;
  GzipBlockPool& operator=(const GzipBlockPool&) = delete;

  // The caller's, to fill: waits for a free slot and returns it empty; null once stopped or
  // failed.
  GzipBlock* TakeFree();
  // A filled block, for any compressor.
  void Queue(GzipBlock& block);
  // A compressor's: waits for a queued block; null once stopped.
  GzipBlock* TakeQueued();
  void PutCompressed(GzipBlock& block);
  // The writer's: waits until the block numbered `sequence` is compressed; null once stopped.
  GzipBlock* TakeCompressed(uint64_t sequence);
  void Free(GzipBlock& block);

  // Every wait returns null from now on. Safe to call again.
  void Stop();
  // The sink failed: the caller gets no more slots, while the compressors and the writer go on
  // handing back the slots they hold, so that no one waits forever.
  void Fail();
  bool Failed();
  // Neither stopped nor failed: the caller may go on filling.
  bool Open();

 private:
  std::vector<std::unique_ptr<GzipBlock>> blocks_;

  // Every change of holder wakes all waiting threads: each waits for one thing and checks it.
  WaitLock lock_;
  std::vector<GzipBlock*> free_;
  std::deque<GzipBlock*> queued_;
  std::vector<GzipBlock*> compressed_;
  bool stopped_ = false;
  bool failed_ = false;
};

}  // namespace mailsheaf
