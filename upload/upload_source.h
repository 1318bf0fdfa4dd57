#pragma once
// What the upload sees of the tree: folders in walk order and their messages, already made
// ready to store. The caller owns the walk and its rules; the upload owns only the mailbox side.

#include <cstdint>
#include <functional>
#include <string>

namespace mailsheaf {

struct SourceFolder {
  // Its path as it should appear in the account, levels joined by "/" ("Sent/2019"); empty
  // for the chosen folder itself, whose messages go into the Inbox.
  std::u16string stored;
  std::u16string source;  // its path as the file system names it, for the report
};

// A message file as the walk lists it, before it is read.
struct SourceFile {
  std::u16string path;      // as the file system names it, for the report
  std::u16string relative;  // below the chosen folder, "/"-separated: the journal's name for it
  uint64_t size = 0;        // as listed
  int64_t time = 0;         // its modification time as listed
};

struct SourceMessage {
  int64_t time = 0;  // the internal date, seconds since 1970 UTC
  bool time_from_run = false;  // nothing of the message or its file gave a usable date
  bool seen = false;
  uint64_t size = 0;       // the bytes CopyTo hands on
  std::string message_id;  // the top-level Message-ID as written; empty when none
  // Non-empty when the message could not be read: it is then counted as not added, with this.
  std::u16string failure;
  // The source's name for what its report says of this message; handed back to Settle.
  uint64_t note = 0;
};

class UploadVisitor {
 public:
  virtual ~UploadVisitor() = default;
  // False ends the walk.
  virtual bool OnFolder(const SourceFolder& folder) = 0;
  // Before the message is read: true when it is known to be in the account already, so that it
  // is neither read nor sent.
  virtual bool Known(const SourceFile& file) = 0;
  // The message's bytes are there through the source's CopyTo until this returns.
  virtual bool OnMessage(const SourceFile& file, const SourceMessage& message) = 0;
  virtual bool Stopped() = 0;
};

class UploadSource {
 public:
  using Put = std::function<bool(const unsigned char*, size_t)>;
  virtual ~UploadSource() = default;
  // A cheap first pass for the progress: messages and their listed bytes.
  virtual void Count(uint64_t& messages, uint64_t& bytes) = 0;
  // The whole walk; false with the reason in `error` when it could not get through the tree
  // (an empty error when the visitor ended it).
  virtual bool Walk(UploadVisitor& visitor, std::u16string& error) = 0;
  // The bytes of the message being visited, once. False with the reason when it cannot be read
  // or changed meanwhile; false with no reason when `put` said no.
  virtual bool CopyTo(const Put& put, std::u16string& error) = 0;
  // What the source would report of a message (re-encoded, stored as unread...) is true only
  // of a message this run added: once its fate is known, `added` keeps those notes or drops
  // them. Once for each message handed over.
  virtual void Settle(uint64_t note, bool added) = 0;
};

}  // namespace mailsheaf
