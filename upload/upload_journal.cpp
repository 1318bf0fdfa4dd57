#include "upload/upload_journal.h"

#include <charconv>
#include <vector>

#include "base/report_text.h"
#include "base/text.h"

namespace mailsheaf {
namespace {

constexpr size_t kFields = 13;  // "e" and twelve numbers

void PutHex(std::string& out, uint64_t value) {
  char text[17];
  for (int i = 15; i >= 0; --i, value >>= 4) text[i] = "0123456789abcdef"[value & 15];
  out.append(text, 16);
}

template <typename Number>
bool TakeNumber(std::string_view text, int base, Number& value) {
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value, base);
  return ec == std::errc() && end == text.data() + text.size();
}

}  // namespace

bool UploadJournal::NoteSending(uint64_t mailbox, std::u16string& error) {
  unsettled_.insert(mailbox);
  return Mark('f', mailbox, error);
}

bool UploadJournal::NoteSettled(uint64_t mailbox, std::u16string& error) {
  unsettled_.erase(mailbox);
  return Mark('c', mailbox, error);
}

bool UploadJournal::Mark(char kind, uint64_t mailbox, std::u16string& error) {
  if (file_ == nullptr) return true;
  std::string line = wrote_ ? "" : "\n";
  wrote_ = true;
  line += kind;
  line += ' ';
  PutHex(line, mailbox);
  line += "\t\n";
  return file_->Append(line, error);
}

uint64_t UploadJournal::Key(uint64_t mailbox, uint64_t path) {
  return mailbox * 0x9E3779B97F4A7C15ull ^ path;
}

bool UploadJournal::Load(std::u16string& error) {
  if (file_ == nullptr) return true;
  return file_->ReadLines(
      [this](std::string_view line) {
        const size_t tab = line.find('\t');
        if (tab == std::string_view::npos) return;
        std::string_view rest = line.substr(0, tab);
        std::string_view fields[kFields];
        size_t count = 0;
        while (!rest.empty() && count < kFields) {
          const size_t space = std::min(rest.find(' '), rest.size());
          fields[count++] = rest.substr(0, space);
          rest.remove_prefix(std::min(space + 1, rest.size()));
        }
        uint64_t mailbox = 0;
        if (count == 2 && (fields[0] == "f" || fields[0] == "c") &&
            TakeNumber(fields[1], 16, mailbox)) {
          if (fields[0] == "f") {
            unsettled_.insert(mailbox);
          } else {
            unsettled_.erase(mailbox);
          }
          return;
        }
        if (count != kFields || !rest.empty() || fields[0] != "e") return;
        JournalEntry e;
        int date_compared = 0;
        if (TakeNumber(fields[1], 16, e.mailbox) && TakeNumber(fields[2], 16, e.path) &&
            TakeNumber(fields[3], 10, e.uid_validity) && TakeNumber(fields[4], 10, e.uid) &&
            TakeNumber(fields[5], 10, e.file_size) && TakeNumber(fields[6], 10, e.file_time) &&
            TakeNumber(fields[7], 16, e.digest) && TakeNumber(fields[8], 16, e.content.id) &&
            TakeNumber(fields[9], 10, e.content.date) && TakeNumber(fields[10], 10, date_compared) &&
            TakeNumber(fields[11], 10, e.content.size) &&
            TakeNumber(fields[12], 10, e.content.bare_size)) {
          e.content.date_compared = date_compared != 0;
          Keep(e);
        }
      },
      error);
}

void UploadJournal::Keep(const JournalEntry& entry) {
  const auto [found, added] = by_key_.try_emplace(Key(entry.mailbox, entry.path), entries_.size());
  if (!added) {
    entries_[found->second] = entry;
    return;
  }
  entries_.push_back(entry);
  by_mailbox_[entry.mailbox].push_back(found->second);
}

const JournalEntry* UploadJournal::Find(uint64_t mailbox, uint64_t path) const {
  const auto found = by_key_.find(Key(mailbox, path));
  if (found == by_key_.end()) return nullptr;
  const JournalEntry& e = entries_[found->second];
  return e.mailbox == mailbox && e.path == path ? &e : nullptr;
}

void UploadJournal::ForMailbox(uint64_t mailbox, uint32_t uid_validity,
                               const std::function<void(const JournalEntry&)>& each) const {
  const auto found = by_mailbox_.find(mailbox);
  if (found == by_mailbox_.end()) return;
  for (size_t at : found->second) {
    const JournalEntry& e = entries_[at];
    if (e.mailbox == mailbox && e.uid_validity == uid_validity) each(e);
  }
}

bool UploadJournal::AnyWithoutUid(uint64_t mailbox, uint32_t uid_validity) const {
  bool any = false;
  ForMailbox(mailbox, uid_validity, [&any](const JournalEntry& e) { any = any || e.uid == 0; });
  return any;
}

bool UploadJournal::Note(const JournalEntry& entry, std::u16string_view mailbox,
                         std::u16string_view path, std::u16string& error) {
  Keep(entry);
  if (file_ == nullptr) return true;
  // A line a killed run cut short ends before this run's first.
  std::string line = wrote_ ? "e " : "\ne ";
  wrote_ = true;
  PutHex(line, entry.mailbox);
  line += ' ';
  PutHex(line, entry.path);
  for (const uint64_t n : {uint64_t{entry.uid_validity}, uint64_t{entry.uid}, entry.file_size}) {
    line += ' ' + std::to_string(n);
  }
  line += ' ' + std::to_string(entry.file_time) + ' ';
  PutHex(line, entry.digest);
  line += ' ';
  PutHex(line, entry.content.id);
  line += ' ' + std::to_string(entry.content.date) + ' ' +
          (entry.content.date_compared ? "1 " : "0 ") + std::to_string(entry.content.size) + ' ' +
          std::to_string(entry.content.bare_size) + '\t' + Utf16ToUtf8(Shown(mailbox)) + '\t' +
          Utf16ToUtf8(Shown(path)) + '\n';
  return file_->Append(line, error);
}

}  // namespace mailsheaf
