#include "upload/tree_upload_source.h"

#include "mail/folder_names.h"
#include "base/message_name.h"
#include "base/text.h"

namespace mailsheaf {
namespace {

std::u16string WithoutSlash(std::u16string path) {
  if (!path.empty() && path.back() == u'/') path.pop_back();
  return path;
}

class Counter final : public TreeVisitor {
 public:
  uint64_t messages = 0;
  uint64_t bytes = 0;
  bool OnFolder(const WalkFolder&) override { return true; }
  bool OnMessage(const WalkMessage& message) override {
    ++messages;
    bytes += message.listed_size;
    return true;
  }
  void OnProblem(std::u16string) override {}
};

}  // namespace

TreeUploadSource::TreeUploadSource(FileSystem& fs, std::u16string root, int64_t run_time)
    : fs_(fs), root_(std::move(root)), run_time_(run_time), message_(fs) {}

void TreeUploadSource::Count(uint64_t& messages, uint64_t& bytes) {
  Counter counter;
  WalkTree(fs_, root_, {}, counter);
  messages = counter.messages;
  bytes = counter.bytes;
}

bool TreeUploadSource::Walk(UploadVisitor& visitor, std::u16string& error) {
  visitor_ = &visitor;
  problem_.clear();
  top_folder_.clear();
  message_.SetTick([this] { return !visitor_->Stopped(); });
  const bool walked = WalkTree(fs_, root_, {}, *this);
  message_.Close();
  visitor_ = nullptr;
  error = problem_;
  return walked;
}

bool TreeUploadSource::CopyTo(const Put& put, std::u16string& error) {
  return message_.CopyTo(put, error);
}

bool TreeUploadSource::OnFolder(const WalkFolder& folder) {
  const std::u16string stored = WithoutSlash(Utf8ToUtf16(folder.stored));
  const std::u16string source = WithoutSlash(folder.source);
  open_folders_.Enter(folder);
  top_folder_ = stored.substr(0, stored.find(u'/'));
  return visitor_->OnFolder({stored, source});
}

bool TreeUploadSource::OnMessage(const WalkMessage& message) {
  SourceFile file;
  file.path = message.path;
  file.relative = message.folder + message.path.substr(message.path.rfind(fs_.Separator()) + 1);
  file.size = message.listed_size;
  file.time = message.listed_time;
  if (visitor_->Known(file)) return true;
  SourceMessage source;
  switch (message_.Prepare(message.path, run_time_, source.failure)) {
    case MessageToStore::Outcome::kStore:
      break;
    case MessageToStore::Outcome::kLeftOut:
      report_.left_out.push_back({message.path, message_.LeftOutWhy()});
      return true;
    case MessageToStore::Outcome::kFailed:
      return visitor_->OnMessage(file, source);
    case MessageToStore::Outcome::kStopped:
      return false;
  }
  source.note = next_note_++;
  // A folder's rename is told with its first message, as the archive stores its entry.
  open_folders_.StoreEach([this](const WalkFolder& f) {
    if (!f.renamed.empty()) {
      report_.renamed_folders.push_back({WithoutSlash(f.source),
                                         WithoutSlash(Utf8ToUtf16(f.stored)), f.renamed});
    }
    return true;
  });
  RunReport& notes = notes_[source.note];
  if (!message.renamed.empty()) {
    notes.renamed_messages.push_back({message.path, Utf8ToUtf16(message.stored),
                                      message.renamed});
  }
  message_.NoteIn(notes);
  notes.stored = 1;
  const std::u16string emptied = EmptiedSystemFolder(top_folder_);
  if (!emptied.empty() && !message.folder.empty()) ++notes.emptied[emptied];
  source.time = message_.Time();
  source.time_from_run = message_.TimeFromRun();
  source.seen = message_.Read();
  source.size = message_.Size();
  source.message_id = message_.MessageId();
  const bool going_on = visitor_->OnMessage(file, source);
  message_.Close();
  return going_on;
}

void TreeUploadSource::Settle(uint64_t note, bool added) {
  const auto found = notes_.find(note);
  if (found == notes_.end()) return;
  if (added) {
    const RunReport& n = found->second;
    report_.stored += n.stored;
    report_.renamed_messages.insert(report_.renamed_messages.end(), n.renamed_messages.begin(),
                                    n.renamed_messages.end());
    report_.refused.insert(report_.refused.end(), n.refused.begin(), n.refused.end());
    report_.reencoded.insert(report_.reencoded.end(), n.reencoded.begin(), n.reencoded.end());
    report_.signature_broken.insert(report_.signature_broken.end(), n.signature_broken.begin(),
                                    n.signature_broken.end());
    report_.dkim_broken += n.dkim_broken;
    report_.unread += n.unread;
    for (const auto& [folder, count] : n.emptied) report_.emptied[folder] += count;
  }
  notes_.erase(found);
}

void TreeUploadSource::OnLeftOut(const std::u16string& path, const std::u16string&,
                                 const std::u16string& why) {
  if (why.empty()) {
    const std::u16string name = path.substr(path.rfind(fs_.Separator()) + 1);
    ++report_.other_files[KindOfOtherFile(name)];
  } else {
    report_.left_out.push_back({path, why});
  }
}

void TreeUploadSource::OnProblem(std::u16string reason) { problem_ = std::move(reason); }

bool TreeUploadSource::Stopped() { return visitor_->Stopped(); }

}  // namespace mailsheaf
