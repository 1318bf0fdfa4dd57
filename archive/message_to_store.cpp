#include "archive/message_to_store.h"

#include <algorithm>
#include <new>

#include "archive/importer_rules.h"

namespace mailsheaf {
namespace {

// Re-encoding holds the message in memory; past this it is stored as it is and reported.
constexpr uint64_t kLargestMended = 128 << 20;

constexpr char16_t kTooLargeToMend[] =
    u"it has a line longer than 10,240 bytes and is too large to re-encode";

}  // namespace

MessageToStore::MessageToStore(ArchiveFileSystem& fs) : fs_(fs), reader_(fs) {}

void MessageToStore::SetTick(std::function<bool()> tick) {
  tick_ = tick;
  reader_.SetTick(std::move(tick));
}

MessageToStore::Outcome MessageToStore::Prepare(const std::u16string& path, int64_t fallback_time,
                                                std::u16string& error) {
  Close();
  path_ = path;
  left_out_why_.clear();
  refused_.clear();
  mended_ = MendedMessage();
  if (!reader_.Open(path, error)) return error.empty() ? Outcome::kStopped : Outcome::kFailed;
  if (reader_.Size() == 0 || reader_.AppleDouble()) {
    left_out_why_ =
        reader_.Size() == 0
            ? u"it is empty, not a message"
            : u"it is a resource file left behind by a Mac (AppleDouble), not a message";
    reader_.Close();
    return Outcome::kLeftOut;
  }
  time_ = reader_.Time() ? reader_.Time() : fallback_time;
  if (reader_.LongestLine() <= kLongestAcceptedLine) return Outcome::kStore;
  if (reader_.Size() > kLargestMended) {
    refused_ = kTooLargeToMend;
    return Outcome::kStore;
  }
  bool stopped = false;
  if (!Mend(error, stopped)) return stopped ? Outcome::kStopped : Outcome::kFailed;
  return Outcome::kStore;
}

bool MessageToStore::Mend(std::u16string& error, bool& stopped) {
  try {
    const bool read = reader_.ReadAll(content_, error);
    reader_.Close();
    if (!read) {
      stopped = error.empty();
      return false;
    }
    mended_ = MendLongLines(content_, tick_);
  } catch (const std::bad_alloc&) {
    // Not a reason to lose the run: the message is stored as it is, and said.
    content_ = std::string();
    mended_ = MendedMessage();
    reader_.Close();
    refused_ = std::u16string(kTooLargeToMend) + u" in the memory this program has";
    return reader_.Open(path_, error);
  }
  if (mended_.stopped) {
    stopped = true;
    return false;
  }
  if (mended_.outcome == MendedMessage::Outcome::kCannot) refused_ = mended_.reason;
  if (mended_.outcome != MendedMessage::Outcome::kMended) mended_.pieces = {{content_, {}}};
  mending_ = true;
  return true;
}

uint64_t MessageToStore::Size() const { return mending_ ? mended_.Size() : reader_.Size(); }

void MessageToStore::NoteIn(RunReport& report) const {
  if (!reader_.Read()) ++report.unread;
  if (!refused_.empty()) report.refused.push_back({path_, refused_});
  if (mended_.signature_broken) report.signature_broken.push_back(path_);
  if (mended_.dkim_broken) ++report.dkim_broken;
  if (mended_.outcome == MendedMessage::Outcome::kMended) {
    report.reencoded.push_back(
        {path_, mended_.header_added ? u"it began with text instead of header fields; a header "
                                       u"section was put in front, and all of the text is its "
                                       u"body"
                                     : u""});
  }
}

bool MessageToStore::CopyTo(const std::function<bool(const unsigned char*, size_t)>& put,
                            std::u16string& error) {
  if (!mending_) {
    const bool copied = reader_.CopyTo(put, error);
    reader_.Close();
    return copied;
  }
  for (MendedMessage::Piece& piece : mended_.pieces) {
    const std::string_view bytes = piece.Bytes();
    for (size_t at = 0; at < bytes.size(); at += MessageReader::kBufferSize) {
      const size_t length = std::min(MessageReader::kBufferSize, bytes.size() - at);
      if (!put(reinterpret_cast<const unsigned char*>(bytes.data()) + at, length)) return false;
    }
    piece.replacement = std::string();  // handed on: its memory can go
  }
  return true;
}

void MessageToStore::Close() {
  reader_.Close();
  mending_ = false;
  content_ = std::string();
  mended_.pieces.clear();
}

}  // namespace mailsheaf
