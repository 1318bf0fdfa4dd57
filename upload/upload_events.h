#pragma once
// How the upload talks to whoever drives it (the packer now, the window next). Raised on the
// thread that runs the upload, inside Run; the upload waits while a handler runs. A handler
// ends the run by calling the uploader's Stop(), or StopRequested says so.

#include <cstdint>
#include <string>

namespace mailsheaf {

struct UploadProgress {
  uint64_t messages_done = 0;  // added, already there, refused or failed
  uint64_t messages_total = 0;  // from the counting pass; 0 while not known
  uint64_t bytes_done = 0;      // listed bytes of the messages done
  uint64_t bytes_total = 0;
  uint64_t bytes_sent = 0;      // bytes that went to the server
  std::u16string current_file;
  std::u16string status;        // "Connecting", "Reconnecting (2 of 5)", empty while appending
};

class UploadEvents {
 public:
  virtual ~UploadEvents() = default;
  // Before each message, and when the run's state changes.
  virtual void Progress(const UploadProgress& progress) = 0;
  // Asked often, from the thread of the run, also while it waits on the network: true stops
  // the run as Uploader::Stop does. Lets a Ctrl+C be heard whatever the server does.
  virtual bool StopRequested() { return false; }
};

}  // namespace mailsheaf
