#pragma once
// One message, from opening its file to its last byte: the date from its header section, then
// its contents, checked to be exactly as long as the file said when it was opened.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "mail/file_system.h"

namespace mailsheaf {

class MessageReader {
 public:
  static constexpr size_t kBufferSize = 256 * 1024;
  // Messages up to this size are read once and kept; longer ones are read twice.
  static constexpr uint64_t kHeldInMemory = 8 << 20;

  explicit MessageReader(FileSystem& fs);

  // Called after each piece read while Open reads a long message through; false stops the
  // read (Open then returns false with no reason). Lets the writer raise its events meanwhile.
  void SetTick(std::function<bool()> tick) { tick_ = std::move(tick); }

  // Opens the message and reads it through once: its header fields, its line lengths, and (up
  // to kHeldInMemory) its bytes for the copy. False with the reason (the message's path in it)
  // when it cannot be opened or read, or is too large to store.
  bool Open(const std::u16string& path, std::u16string& error);
  uint64_t Size() const { return size_; }
  // The time to store: the `Date:` field, else the file's own time, else the newest date of its
  // `Received:` fields, else the time the file last changed; 0 when none is usable.
  int64_t Time() const { return time_; }
  // Whether the message says it has been read (see MessageHeaderScanner::Read).
  bool Read() const { return read_; }
  // The top-level Message-ID (see MessageHeaderScanner::MessageId).
  const std::string& MessageId() const { return message_id_; }
  // The longest line of the whole message, in bytes between line ends.
  uint64_t LongestLine() const { return longest_line_; }
  // Begins with the AppleDouble signature: a resource file a Mac left behind, not a message.
  bool AppleDouble() const { return apple_double_; }

  // Hands the whole message to `put`, piece by piece. False with a reason when a read fails or
  // the file turns out longer or shorter than at Open, or rewritten since; false with no
  // reason when `put` said no.
  bool CopyTo(const std::function<bool(const unsigned char*, size_t)>& put, std::u16string& error);
  // Back to the first byte, so that CopyTo can hand on the message again.
  bool Rewind(std::u16string& error);
  void Close() { file_.reset(); }

 private:
  bool ReadUpTo(unsigned char* at, size_t want, size_t& have, std::u16string& error);
  bool ReadFailed(const std::u16string& reason, std::u16string& error) const;
  bool ChangedSize(std::u16string& error) const;

  FileSystem& fs_;
  std::function<bool()> tick_;
  std::vector<unsigned char> buffer_;
  std::unique_ptr<ReadableFile> file_;
  std::u16string path_;
  uint64_t size_ = 0;
  int64_t time_ = 0;
  bool read_ = true;
  std::string message_id_;
  uint64_t longest_line_ = 0;
  bool apple_double_ = false;
  bool held_ = false;    // the whole message is in buffer_
  size_t buffered_ = 0;  // bytes at the start of buffer_ not yet handed on
};

}  // namespace mailsheaf
