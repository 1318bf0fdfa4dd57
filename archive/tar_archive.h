#pragma once
// The archive writer the window drives: a folder tree of messages into one gzip-compressed GNU
// tar that a Zimbra account imports. One instance writes one archive at a time.

#include <cstdint>
#include <memory>
#include <string>

namespace mailsheaf {

class ArchiveFileSystem;

// Raised synchronously on the thread that called WriteCompressedArchive, inside that call.
class ArchiveEvents {
 public:
  virtual ~ArchiveEvents() = default;
  // Before each message is stored: kind is kProgressKindMessage, value the message's full path
  // as the platform writes it (C:\Mail\Inbox\a.eml, /home/u/mail/Inbox/a.eml).
  virtual void ProgressInfo(const std::u16string& kind, const std::u16string& value) = 0;
  // Whenever the whole-number percentage of message bytes done changes: 0 first, 100 last.
  // Setting abort stops the write: it returns 0 and leaves nothing behind.
  virtual void PercentDone(int32_t percent, bool& abort) = 0;
};

inline constexpr char16_t kProgressKindMessage[] = u"Message";

class TarArchive {
 public:
  // The machine's file system, compressing on all cores.
  explicit TarArchive(ArchiveEvents* events);
  // Any file system; threads <= 1 compresses on the calling thread (same bytes as in parallel).
  TarArchive(ArchiveEvents* events, ArchiveFileSystem& file_system, unsigned threads);
  ~TarArchive();
  TarArchive(const TarArchive&) = delete;
  TarArchive& operator=(const TarArchive&) = delete;

  // "gnu" is the only format; any other value makes the next write return 0.
  void SetArchiveFormat(const std::u16string& format);
  // 1 when the path names an existing folder that can be listed (with or without a trailing
  // separator), else 0. The folder becomes the root of the next write.
  int32_t AddRootFolder(const std::u16string& path);
  // 1 when the whole archive is written and in place at `destination`, else 0: then no
  // temporary file is left and a file that was already at the destination is untouched.
  int32_t WriteCompressedArchive(const std::u16string& destination);
  // Why the last call returned 0, with the path involved; empty after a success.
  const std::u16string& LastErrorText() const { return last_error_; }
  // Stops the workers and removes the temporary file of a write in progress, leaving the
  // destination as it was. Meant for an event handler that is about to end the process; the
  // write then returns 0. At any other time it does nothing.
  void DiscardUnfinished();

  // What the last write stored: messages, folders below the root, archive bytes. While a write
  // runs (from the event handlers) the counts so far.
  int64_t MessagesStored() const { return messages_stored_; }
  int64_t FoldersStored() const { return folders_stored_; }
  uint64_t ArchiveSize() const { return archive_size_; }
  // Message bytes stored so far in the running write, and the total expected (0 until known).
  uint64_t BytesDone() const { return bytes_done_; }
  uint64_t BytesTotal() const { return bytes_total_; }

 private:
  struct Run;

  bool Write(Run& run);
  bool Fail(std::u16string reason);

  ArchiveEvents* events_;
  ArchiveFileSystem& file_system_;
  unsigned threads_;

  std::u16string format_ = u"gnu";
  std::u16string root_;
  std::u16string last_error_;
  int64_t messages_stored_ = 0;
  int64_t folders_stored_ = 0;
  uint64_t archive_size_ = 0;
  uint64_t bytes_done_ = 0;
  uint64_t bytes_total_ = 0;

  Run* run_ = nullptr;  // the write in progress, if any
};

}  // namespace mailsheaf
