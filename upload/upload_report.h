#pragma once
// What an upload did, per mailbox, in plain words for the user. Every message queued ends in
// exactly one of: added, already there, refused (with the server's words) or not added (with
// why), so that the numbers never say more than happened.

#include <cstdint>
#include <string>
#include <vector>

namespace mailsheaf {

struct UploadReport {
  struct Noted {
    std::u16string path;
    std::u16string why;  // the server's own words for a refusal
  };
  struct Mailbox {
    std::u16string name;                  // the server's name for it
    std::vector<std::u16string> sources;  // the source folders that went into it
    std::vector<std::u16string> notes;    // names changed or merged on the way
    int64_t queued = 0;
    int64_t already_there = 0;
    int64_t added = 0;
    std::vector<Noted> refused;    // the server said NO or BAD
    std::vector<Noted> not_added;  // never sent, or sent and never answered
    std::vector<std::u16string> nul_replaced;  // added with their NUL bytes as 0x80
    int64_t server_count = -1;     // messages it holds at the end; -1 when not known
    bool made = false;             // this run made it
    std::u16string unusable;       // why its messages could not go in (the server's words)
  };

  std::u16string account;  // "user at host"
  std::vector<Mailbox> mailboxes;
  std::vector<std::u16string> notices;  // of the run as a whole: how it resumed, the quota
  std::u16string failure;  // what ended the run early, when something did
  bool stopped = false;
  int reconnects = 0;

  int64_t Total(int64_t Mailbox::* field) const;
  int64_t Refused() const;
  int64_t NotAdded() const;
  // Everything queued is in the account: added or already there.
  bool Complete() const { return failure.empty() && !stopped && Refused() == 0 && NotAdded() == 0; }
};

// What a report file of ours begins with; a file that does not is never replaced.
inline constexpr char kUploadReportSignature[] = "Mailsheaf put ";

// The report as text, `eol` ending every line; its first line begins with the signature.
std::u16string UploadReportText(const UploadReport& report, const std::u16string& eol);

}  // namespace mailsheaf
