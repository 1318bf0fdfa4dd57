#pragma once
// The recursive message scan: walks a folder tree depth-first, counts the messages (entries
// matching a pattern) and the folders below the root, and keeps the window's count line running
// while the window stays responsive.

#include <cstdint>
#include <stdexcept>
#include <string>

#include "fs/capabilities.h"

namespace mailsheaf {

// The scan's only way to the window.
class ScanHost {
 public:
  virtual ~ScanHost() = default;
  // Processes pending window messages once. Not "Yield": <windows.h> defines that as an empty
  // macro, a leftover of 16-bit Windows.
  virtual void YieldToQueue() = 0;
  virtual void SetCountCaption(const std::u16string& caption) = 0;  // LblCount's caption
  // After each folder's messages: how many the folder at `path` holds itself.
  virtual void FolderCounted(const std::u16string& /*path*/, int32_t /*messages*/) {}
};

// A counter would pass 2,147,483,647. The scan lets it through to its caller, abandoning the
// walk at every depth; the counters and the caption keep what was done until then.
class CounterOverflow : public std::overflow_error {
 public:
  CounterOverflow() : std::overflow_error("Overflow") {}
};

// Scans the folder Path through `system` (a trailing backslash is appended to Path when
// missing; the caller sees it).
// Every folder is listed twice: with "*" for its sub-folders, which are counted in
// FolderCounter, and with Pattern for its messages: each entry whose long name matches Pattern
// (an 8.3 alias that matches is not enough) sets the count caption to MessageCounter and then
// adds 1 to it. The sub-folders are walked afterwards, one by one, in
// listing order. A sub-folder that is a link leading to a folder being walked (the one that
// holds it or an ancestor) is counted but not walked again.
void ScanMessageFolder(System& system, std::u16string& Path, const std::u16string& Pattern,
                       int32_t& MessageCounter, int32_t& FolderCounter, ScanHost& host);

}  // namespace mailsheaf
