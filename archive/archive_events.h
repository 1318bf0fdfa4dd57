#pragma once
// How the archive writer talks to whoever drives it: the window, the packer and the tests each
// implement ArchiveEvents in a few lines. The writer never touches a window or a console.

#include <cstdint>
#include <string>

namespace mailsheaf {

// Where a write stands, handed along with every event so that no handler needs to reach back
// into the writer.
struct ArchiveProgress {
  // Bytes of the tar written so far, before compression: headers and padding count, so every
  // entry moves it; a file left out counts what its entry would have taken.
  uint64_t bytes_done = 0;
  uint64_t bytes_total = 0;     // what bytes_done will reach; 0 while not yet known
  std::u16string current_file;  // the message being stored, empty before the first
  int64_t messages_stored = 0;
};

// Raised synchronously on the thread that called WriteCompressedArchive, inside that call; the
// write waits while a handler runs. A handler ends the write by calling the writer's Stop().
class ArchiveEvents {
 public:
  virtual ~ArchiveEvents() = default;
  // Before each message is stored, and again while a long one is: kind is
  // kProgressKindMessage, value the message's full path as the platform writes it
  // (C:\Mail\Inbox\a.eml, /home/u/mail/Inbox/a.eml).
  virtual void ProgressInfo(const std::u16string& kind, const std::u16string& value,
                            const ArchiveProgress& progress) = 0;
  // Whenever the whole-number percentage of the archive written changes, and again with the
  // same value while a long message is stored: 0 first, 100 last, never going down.
  virtual void PercentDone(int32_t percent, const ArchiveProgress& progress) = 0;
};

inline constexpr char16_t kProgressKindMessage[] = u"Message";

}  // namespace mailsheaf
