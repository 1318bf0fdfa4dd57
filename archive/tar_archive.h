#pragma once
// The archive writer the window and the packer drive: a folder tree of messages into one
// gzip-compressed GNU tar that a Zimbra account imports. One instance writes one archive at a
// time. It is made of parts with one job each: the walk (tree_walk.h) with the sizing walk
// (sizing_walk.h) beside it, the message reader (message_reader.h), the tar headers
// (tar_header.h), the parallel gzip member (gzip_member_writer.h) and the atomic output
// (atomic_output.h).

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <thread>

#include "archive/archive_events.h"
#include "mail/run_report.h"
#include "archive/sizing_walk.h"

namespace mailsheaf {

class FileSystem;

struct ArchiveOptions {
  // Compressing threads; 1 or fewer compresses on the calling thread (same bytes either way).
  unsigned threads = 1;
  SizingWalk sizing = SizingWalk::kBesideTheWriter;
  // Where the time comes from, for the events repeated during a long message; the steady
  // clock when empty.
  std::function<std::chrono::steady_clock::time_point()> clock = nullptr;
};

// However long one message takes, the events come at least this often: the window's bar
// moves, it repaints, and a Stop is asked about within a moment.
inline constexpr std::chrono::milliseconds kEventInterval{250};

class TarArchive {
 public:
  // The machine's file system, compressing on all cores.
  explicit TarArchive(ArchiveEvents* events);
  TarArchive(ArchiveEvents* events, FileSystem& file_system, ArchiveOptions options);
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

  // How many messages each folder held when they were counted before the write (by folder
  // below the root, "/"-separated and ending in "/"; "" for the root): the report then says
  // where any of them went. Empty, as it starts, when they were not counted.
  void SetCountedMessages(std::map<std::u16string, int64_t> counted) {
    counted_ = std::move(counted);
  }

  // The one way to end a write: the write returns 0 and leaves the destination as it was. Any
  // thread may call it; the writer notices at its next event or piece of a message. Called from
  // an event handler, the temporary file is already gone when Stop returns, so the handler may
  // end the process right away. Outside a write it does nothing.
  void Stop();

  // What the last write stored: messages, folders below the root, compressed archive bytes.
  int64_t MessagesStored() const { return messages_stored_; }
  int64_t FoldersStored() const { return folders_stored_; }
  uint64_t ArchiveSize() const { return archive_size_; }
  // What the last successful write adjusted or left out, and where it wrote that down (empty
  // when there was nothing to tell, or when the file could not be written: then why).
  const RunReport& Report() const { return report_; }
  const std::u16string& ReportFile() const { return report_file_; }
  const std::u16string& ReportFileError() const { return report_error_; }

 private:
  class Run;
  bool Fail(std::u16string reason);

  ArchiveEvents* events_;
  FileSystem& file_system_;
  ArchiveOptions options_;

  std::u16string format_ = u"gnu";
  std::u16string root_;
  std::map<std::u16string, int64_t> counted_;
  std::u16string last_error_;
  int64_t messages_stored_ = 0;
  int64_t folders_stored_ = 0;
  uint64_t archive_size_ = 0;
  RunReport report_;
  std::u16string report_file_;
  std::u16string report_error_;

  std::atomic<bool> stop_requested_{false};
  // The write in progress, if any, and the thread running it: only that thread touches the run.
  std::atomic<Run*> run_{nullptr};
  std::atomic<std::thread::id> writing_thread_{};
};

}  // namespace mailsheaf
