#pragma once
// The total that the percentages are taken of: the bytes of the tar the writing walk will
// produce, headers and padding included, added up by a walk of the tree that does nothing else.
// It also sees every message's size before the writer gets there, so a message too large for
// the archive fails the write at once instead of after everything before it.
//
// Threading: beside the writer (the default) it runs on a thread of its own at the same time as
// the writing walk, calling the file-system seam from that thread; the writer does not wait for
// it, and until the total is known no percentage but the first 0 is raised. Before writing, it
// runs on the caller's thread inside Start, so the total is known from the first message on:
// what tests use to see every percentage without racing a thread.

#include <atomic>
#include <cstdint>
#include <string>
#include <thread>

#include "mail/tree_walk.h"

namespace mailsheaf {

class FileSystem;

enum class SizingWalk { kBesideTheWriter, kBeforeWriting };

class SizingWalker {
 public:
  SizingWalker(FileSystem& fs, SizingWalk mode) : fs_(fs), mode_(mode) {}
  ~SizingWalker() { Stop(); }
  SizingWalker(const SizingWalker&) = delete;
  SizingWalker& operator=(const SizingWalker&) = delete;

  // The walk takes its own copies: the writer may change its own afterwards.
  void Start(const std::u16string& root, const WalkExclusion& exclusion);
  // Ends the walk early if it still runs and waits for its thread. Safe to call again.
  void Stop();

  // True once the total is there to read; a walk that met a problem knows a total of 0 (the
  // writing walk meets the same problem and reports it).
  bool Known() const { return known_.load(std::memory_order_acquire); }
  uint64_t Total() const { return total_; }
  // Once Known: why the archive cannot be written, when the walk found out; else empty.
  const std::u16string& Refusal() const { return refusal_; }

 private:
  void Walk();

  FileSystem& fs_;
  const SizingWalk mode_;
  std::u16string root_;
  WalkExclusion exclusion_;
  std::thread thread_;
  std::atomic<bool> stop_{false};
  std::atomic<bool> known_{false};
  uint64_t total_ = 0;  // written before known_ is set, read only after
  std::u16string refusal_;  // likewise
};

}  // namespace mailsheaf
