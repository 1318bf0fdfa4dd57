#include "archive/gzip_block_pool.h"

#include <algorithm>

namespace mailsheaf {

GzipBlockPool::GzipBlockPool(size_t slots, size_t block_size, size_t window,
                             size_t output_size) {
  for (size_t i = 0; i < slots; ++i) {
    auto block = std::make_unique<GzipBlock>();
    block->input.resize(block_size);
    block->dictionary.resize(window);
    block->output.resize(output_size);
    free_.push_back(block.get());
    blocks_.push_back(std::move(block));
  }
}

GzipBlock* GzipBlockPool::TakeFree() {
  WaitLock::Held held(lock_);
  while (!stopped_ && !failed_ && free_.empty()) lock_.Wait();
  if (stopped_ || failed_) return nullptr;
  GzipBlock* block = free_.back();
  free_.pop_back();
  block->input_size = 0;
  return block;
}

void GzipBlockPool::Queue(GzipBlock& block) {
  WaitLock::Held held(lock_);
  queued_.push_back(&block);
  lock_.WakeAll();
}

GzipBlock* GzipBlockPool::TakeQueued() {
  WaitLock::Held held(lock_);
  while (!stopped_ && queued_.empty()) lock_.Wait();
  if (stopped_) return nullptr;
  GzipBlock* block = queued_.front();
  queued_.pop_front();
  return block;
}

void GzipBlockPool::PutCompressed(GzipBlock& block) {
  WaitLock::Held held(lock_);
  compressed_.push_back(&block);
  lock_.WakeAll();
}

GzipBlock* GzipBlockPool::TakeCompressed(uint64_t sequence) {
  WaitLock::Held held(lock_);
  auto next = compressed_.end();
  for (;;) {
    next = std::find_if(compressed_.begin(), compressed_.end(),
                        [sequence](const GzipBlock* b) { return b->sequence == sequence; });
    if (stopped_ || next != compressed_.end()) break;
    lock_.Wait();
  }
  if (stopped_) return nullptr;
  GzipBlock* block = *next;
  compressed_.erase(next);
  return block;
}

void GzipBlockPool::Free(GzipBlock& block) {
  WaitLock::Held held(lock_);
  free_.push_back(&block);
  lock_.WakeAll();
}

void GzipBlockPool::Stop() {
  WaitLock::Held held(lock_);
  stopped_ = true;
  lock_.WakeAll();
}

void GzipBlockPool::Fail() {
  WaitLock::Held held(lock_);
  failed_ = true;
  lock_.WakeAll();
}

bool GzipBlockPool::Failed() {
  WaitLock::Held held(lock_);
  return failed_;
}

bool GzipBlockPool::Open() {
  WaitLock::Held held(lock_);
  return !failed_ && !stopped_;
}

}  // namespace mailsheaf
