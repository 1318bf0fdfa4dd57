#include "mail/message_to_store.h"

#include "mail/importer_rules.h"

#include <new>

namespace mailsheaf {

// The message's file, read again from its start for each pass of the mend.
class MessageToStore::Source final : public MendSource {
 public:
  explicit Source(MessageReader& reader) : reader_(reader) {}
  bool ReadThrough(const std::function<bool(std::string_view)>& take,
                   std::u16string& error) override {
    return reader_.Rewind(error) &&
           reader_.CopyTo(
               [&take](const unsigned char* data, size_t size) {
                 return take(std::string_view(reinterpret_cast<const char*>(data), size));
               },
               error);
  }

 private:
  MessageReader& reader_;
};

MessageToStore::MessageToStore(FileSystem& fs) : reader_(fs) {}

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
  plan_ = MendPlan();
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
  if (reader_.LongestLine() <= kLongestAcceptedLine) {
    NoteTooLargeToImport();
    return Outcome::kStore;
  }
  Source source(reader_);
  try {
    if (!PlanMend(source, tick_, plan_, error)) {
      return error.empty() ? Outcome::kStopped : Outcome::kFailed;
    }
  } catch (const std::bad_alloc&) {
    // The mend holds little, but a run is never lost to memory: stored as it is, and said.
    plan_ = MendPlan();
    refused_ = u"it has a line longer than 10,240 bytes and is too large to re-encode in the "
               u"memory this program has";
    return Outcome::kStore;
  }
  if (plan_.outcome == MendPlan::Outcome::kCannot) refused_ = plan_.reason;
  if (plan_.outcome == MendPlan::Outcome::kMended && TooLargeToStore(plan_.size)) {
    // One message never costs the others: as it is, it still fits.
    plan_ = MendPlan();
    refused_ = u"it has a line longer than 10,240 bytes, and re-encoded it would be larger than "
               u"an archive entry can be (8 GiB): it is stored as it is";
  }
  if (plan_.outcome != MendPlan::Outcome::kMended) plan_.entities.clear();
  NoteTooLargeToImport();
  return Outcome::kStore;
}

void MessageToStore::NoteTooLargeToImport() {
  if (!TooLargeToImport(Size())) return;
  const std::u16string why = u"it is 2 GiB or larger, and Zimbra takes an entry's size as a "
                             u"32-bit number, so it cannot import it";
  refused_ = refused_.empty() ? why : refused_ + u"; and " + why;
}

uint64_t MessageToStore::Size() const {
  return plan_.outcome == MendPlan::Outcome::kMended ? plan_.size : reader_.Size();
}

void MessageToStore::NoteIn(RunReport& report) const {
  if (!reader_.Read()) ++report.unread;
  if (!refused_.empty()) report.refused.push_back({path_, refused_});
  if (plan_.outcome != MendPlan::Outcome::kMended) return;
  if (plan_.signature_broken) report.signature_broken.push_back(path_);
  if (plan_.dkim_broken) ++report.dkim_broken;
  report.reencoded.push_back(
      {path_, plan_.header_added ? u"it began with text instead of header fields; a header "
                                   u"section was put in front, and all of the text is its body"
                                 : u""});
}

bool MessageToStore::CopyTo(const std::function<bool(const unsigned char*, size_t)>& put,
                            std::u16string& error) {
  bool copied = false;
  if (plan_.outcome == MendPlan::Outcome::kMended) {
    Source source(reader_);
    copied = WriteMend(
        source, plan_,
        [&put](std::string_view piece) {
          return put(reinterpret_cast<const unsigned char*>(piece.data()), piece.size());
        },
        tick_, error);
    if (!copied && !error.empty() && error.find(path_) == std::u16string::npos) {
      error = u"The message " + path_ + u" " + error;
    }
  } else {
    copied = reader_.Rewind(error) && reader_.CopyTo(put, error);
  }
  reader_.Close();
  return copied;
}

void MessageToStore::Close() { reader_.Close(); }

}  // namespace mailsheaf
