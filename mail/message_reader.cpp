#include "mail/message_reader.h"

#include <algorithm>

#include "mail/long_lines.h"
#include "mail/message_header.h"
#include "mail/importer_rules.h"

namespace mailsheaf {

MessageReader::MessageReader(FileSystem& fs) : fs_(fs), buffer_(kBufferSize) {}

bool MessageReader::ReadFailed(const std::u16string& reason, std::u16string& error) const {
  error = u"Cannot read the message " + path_ + u": " + reason;
  return false;
}

bool MessageReader::ChangedSize(std::u16string& error) const {
  error = u"The message " + path_ +
          u" changed size while it was being read; nothing was stored from it.";
  return false;
}

// Reads into `at` until `want` bytes are in, or the file ends.
bool MessageReader::ReadUpTo(unsigned char* at, size_t want, size_t& have, std::u16string& error) {
  have = 0;
  while (have < want) {
    std::u16string reason;
    const int64_t got = file_->Read(at + have, want - have, reason);
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
  if (TooLargeToStore(size_)) {
    error = TooLargeReason(path);
    return false;
  }

  // One pass for the header section and the line lengths. A message up to kHeldInMemory is
  // kept whole in the buffer from that pass, which then serves the copy too; a longer one is
  // read again from its start for the copy.
  held_ = size_ <= kHeldInMemory;
  if (held_ && buffer_.size() < size_) buffer_.resize(static_cast<size_t>(size_));
  MessageHeaderScanner scanner;
  LineLengthCheck lines;
  uint64_t total = 0;
  for (;;) {
    const size_t want = held_ ? static_cast<size_t>(std::min<uint64_t>(kBufferSize, size_ - total))
                              : kBufferSize;
    unsigned char* at = buffer_.data() + (held_ ? total : 0);
    size_t got = 0;
    if (want > 0 && !ReadUpTo(at, want, got, error)) return false;
    if (got == 0) break;
    if (total == 0) {
      static const unsigned char kAppleDouble[] = {0x00, 0x05, 0x16, 0x07};
      apple_double_ = got >= 4 && std::equal(kAppleDouble, kAppleDouble + 4, at);
    } else if (tick_ && !tick_()) {
      return false;
    }
    if (!scanner.Done()) scanner.Feed(at, got);
    lines.Feed(at, got);
    total += got;
  }
  if (total < size_) return ChangedSize(error);
  if (held_) {
    buffered_ = static_cast<size_t>(total);
  } else if (!file_->Rewind(reason)) {
    return ReadFailed(reason, error);
  }
  scanner.Finish();
  longest_line_ = lines.Longest();
  // Each fallback stays the same from run to run, so that a message is dated alike every time
  // (the resume check compares dates, and the same folder packs to the same bytes).
  time_ = UsableTime(scanner.Date().value_or(0));
  if (time_ == 0) time_ = UsableTime(file_->ModifiedTime());
  if (time_ == 0) time_ = scanner.NewestReceived();
  if (time_ == 0) time_ = UsableTime(file_->ChangeTime());
  read_ = scanner.Read();
  message_id_ = scanner.MessageId();
  return true;
}

bool MessageReader::Rewind(std::u16string& error) {
  if (held_) {
    buffered_ = static_cast<size_t>(size_);
    return true;
  }
  std::u16string reason;
  return file_->Rewind(reason) || ReadFailed(reason, error);
}

bool MessageReader::CopyTo(const std::function<bool(const unsigned char*, size_t)>& put,
                           std::u16string& error) {
  if (held_) {
    // Already in memory: handed on in pieces, so that progress moves along as it goes.
    for (size_t at = 0; at < buffered_; at += kBufferSize) {
      if (!put(buffer_.data() + at, std::min(kBufferSize, buffered_ - at))) return false;
    }
    buffered_ = 0;
  } else {
    for (uint64_t remaining = size_; remaining > 0;) {
      const size_t want = static_cast<size_t>(std::min<uint64_t>(kBufferSize, remaining));
      size_t have = 0;
      if (!ReadUpTo(buffer_.data(), want, have, error)) return false;
      if (have == 0) return ChangedSize(error);
      if (!put(buffer_.data(), have)) return false;
      remaining -= have;
    }
  }
  // The file must end where its size said it would, and must not have been rewritten in
  // place meanwhile: bytes of the same length could be half old, half new.
  unsigned char past_the_end = 0;
  size_t extra = 0;
  if (!ReadUpTo(&past_the_end, 1, extra, error)) return false;
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
