#pragma once
// What this machine has put into one account: for each message, the mailbox, the source file
// (its path below the chosen folder, its size and time then, a digest of the bytes sent) and
// the UID the server gave it (APPENDUID, RFC 4315) under the mailbox's UIDVALIDITY. A line is
// written as each APPEND is confirmed, so that a run killed anywhere loses at most what was in
// flight. A later run skips exactly the messages whose UID the mailbox still holds, whatever
// the server did to their bytes; a file whose path, size and time are unchanged is skipped
// without being read, as rsync does.
//
// The journal's lines: "e" and twelve numbers (hex digests, decimal counts), then a tab and
// the mailbox and the path as the report shows them, for a person reading it; "f" and "c"
// with a mailbox's digest when messages start going there and when all have their answers. A line that
// cannot be read (cut short by a killed run) is passed over; the latest line for a mailbox and
// path holds. Memory: about 120 bytes a message the journal knows.

#include <cstdint>
#include <deque>
#include <functional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>

#include "upload/stored_index.h"

namespace mailsheaf {

// The journal's file: the seam to the platform's files, which the caller provides.
class JournalFile {
 public:
  virtual ~JournalFile() = default;
  // Each line written so far, without its "\n". A journal not there yet has none. False with
  // the reason when it cannot be read.
  virtual bool ReadLines(const std::function<void(std::string_view)>& line,
                         std::u16string& error) = 0;
  // Adds the bytes at the end; in the system's hands (safe from a killed process) on return.
  virtual bool Append(std::string_view bytes, std::u16string& error) = 0;
};

struct JournalEntry {
  uint64_t mailbox = 0;  // DigestOf the mailbox's name on the server
  uint64_t path = 0;     // DigestOf the source file's path below the chosen folder
  uint32_t uid_validity = 0;
  uint32_t uid = 0;      // 0 when the server did not say (no UIDPLUS)
  uint64_t file_size = 0;
  int64_t file_time = 0;
  uint64_t digest = 0;   // of the bytes sent
  ContentKey content;    // for a server that gives no UIDs
};

class UploadJournal {
 public:
  // Without a file the journal lives for this run only.
  explicit UploadJournal(JournalFile* file) : file_(file) {}

  bool Load(std::u16string& error);
  const JournalEntry* Find(uint64_t mailbox, uint64_t path) const;
  // Every entry of a mailbox under its present UIDVALIDITY.
  void ForMailbox(uint64_t mailbox, uint32_t uid_validity,
                  const std::function<void(const JournalEntry&)>& each) const;
  // Keeps the entry and writes its line. False with the reason when the line could not be
  // written (the entry is kept for this run all the same).
  bool Note(const JournalEntry& entry, std::u16string_view mailbox, std::u16string_view path,
            std::u16string& error);

  // Messages are about to go into a mailbox, and, later, every one sent there has its answer.
  // A mailbox marked sending and never settled had a run end with messages in flight (killed,
  // stopped, cut off): the server may still be storing them.
  bool NoteSending(uint64_t mailbox, std::u16string& error);
  bool NoteSettled(uint64_t mailbox, std::u16string& error);
  bool Unsettled(uint64_t mailbox) const { return unsettled_.contains(mailbox); }
  // Some entry of the mailbox has no UID (its server gave none): only content finds it.
  bool AnyWithoutUid(uint64_t mailbox, uint32_t uid_validity) const;

 private:
  void Keep(const JournalEntry& entry);
  bool Mark(char kind, uint64_t mailbox, std::u16string& error);
  static uint64_t Key(uint64_t mailbox, uint64_t path);

  JournalFile* file_;
  bool wrote_ = false;
  std::deque<JournalEntry> entries_;
  std::unordered_map<uint64_t, size_t> by_key_;  // Key(mailbox, path) -> entries_
  std::unordered_map<uint64_t, std::vector<size_t>> by_mailbox_;
  std::unordered_set<uint64_t> unsettled_;
};

}  // namespace mailsheaf
