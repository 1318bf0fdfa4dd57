#include "archive/message_reader.h"

#include <algorithm>

#include "archive/long_lines.h"
#include "archive/message_header.h"
#include "archive/tar_header.h"

namespace mailsheaf {
namespace {


}  // namespace

MessageReader::MessageReader(ArchiveFileSystem& fs) : fs_(fs), buffer_(kBufferSize) {}

bool MessageReader::ReadFailed(const std::u16string& reason, std::u16string& error) const {
  error = u"Cannot read the message " + path_ + u": " + reason;
  return false;
}

bool MessageReader::ChangedSize(std::u16string& error) const {
  error = u"The message " + path_ +
          u" changed size while it was being read; nothing was stored from it.";
  return false;
}

// Reads until `want` bytes are in, or the file ends.
bool MessageReader::ReadUpTo(size_t want, size_t& have, std::u16string& error) {
  have = 0;
  while (have < want) {
    std::u16string reason;
    const int64_t got = file_->Read(buffer_.data() + have, want - have, reason);
    if (got < 0) return ReadFailed(reason, error);
    if (got == 0) break;
    have += static_cast<size_t>(got);
  }
  return true;
}

bool MessageReader::Open(const std::u16string& path, std::u16string& error) {
  path_ = path;
  buffered_ = 0;
  std::u16string reason;
  file_ = fs_.OpenRead(path, reason);
  if (!file_) {
    error = u"Cannot open the message " + path + u": " + reason;
    return false;
  }
  size_ = file_->Size();
  if (size_ > kTarLargestNumber) {
    error = TooLargeReason(path);
    return false;
  }

  // Most messages fit in the first buffer, which then serves the header section, the line
  // check and the copy. A longer one is read through once for its line lengths (and a header
  // section longer than the buffer) and again from its start for the copy.
  const size_t first = static_cast<size_t>(std::min<uint64_t>(buffer_.size(), size_));
  size_t have = 0;
  if (!ReadUpTo(first, have, error)) return false;
  if (have < first) return ChangedSize(error);
  static const unsigned char kAppleDouble[] = {0x00, 0x05, 0x16, 0x07};
  apple_double_ = have >= 4 && std::equal(kAppleDouble, kAppleDouble + 4, buffer_.data());
  MessageHeaderScanner scanner;
  LineLengthCheck lines;
  scanner.Feed(buffer_.data(), have);
  lines.Feed(buffer_.data(), have);
  buffered_ = have;
  if (have < size_) {
    for (;;) {
      size_t more = 0;
      if (!ReadUpTo(buffer_.size(), more, error)) return false;
      if (more == 0) break;
      if (!scanner.Done()) scanner.Feed(buffer_.data(), more);
      lines.Feed(buffer_.data(), more);
      if (tick_ && !tick_()) return false;
    }
    if (!file_->Rewind(reason)) return ReadFailed(reason, error);
    buffered_ = 0;
  }
  scanner.Finish();
  longest_line_ = lines.Longest();
  time_ = UsableTime(scanner.Date().value_or(0));
  if (time_ == 0) time_ = UsableTime(file_->ModifiedTime());
  read_ = scanner.Read();
  return true;
}

bool MessageReader::ReadAll(std::string& content, std::u16string& error) {
  content.clear();
  content.reserve(static_cast<size_t>(size_));
  return CopyTo(
      [this, &content](const unsigned char* data, size_t size) {
        content.append(reinterpret_cast<const char*>(data), size);
        return !tick_ || tick_();
      },
      error);
}

bool MessageReader::CopyTo(const std::function<bool(const unsigned char*, size_t)>& put,
                           std::u16string& error) {
  uint64_t remaining = size_;
  size_t have = buffered_;
  buffered_ = 0;
  for (;;) {
    if (have > 0) {
      if (!put(buffer_.data(), have)) return false;
      remaining -= have;
    }
    if (remaining == 0) break;
    const size_t want = static_cast<size_t>(std::min<uint64_t>(buffer_.size(), remaining));
    if (!ReadUpTo(want, have, error)) return false;
    if (have == 0) return ChangedSize(error);
  }
  // The file must end where its size said it would, and must not have been rewritten in
  // place meanwhile: bytes of the same length could be half old, half new.
  size_t extra = 0;
  if (!ReadUpTo(1, extra, error)) return false;
  if (extra != 0) return ChangedSize(error);
  bool unchanged = false;
  std::u16string reason;
  if (!file_->Unchanged(unchanged, reason)) return ReadFailed(reason, error);
  if (!unchanged) {
    error = u"The message " + path_ + u" changed while it was read; nothing was stored from it.";
    return false;
  }
  return true;
}

}  // namespace mailsheaf
