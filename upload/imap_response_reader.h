#pragma once
// Cuts the server's byte stream into whole responses: a line, and when it ends in a literal's
// "{n}", the n bytes and the line that goes on after them, and so on. Every line, literal and
// the whole are bounded (ResponseLimits); the reader never holds more than one response and
// what arrived after it.

#include <string>

#include "upload/imap_response.h"
#include "upload/transport.h"

namespace mailsheaf {

enum class ReadOutcome { kOk, kClosed, kFailed, kMalformed, kStopped };

class ImapResponseReader {
 public:
  ImapResponseReader(Transport& transport, const ResponseLimits& limits)
      : transport_(transport), limits_(limits) {}

  // The next whole response into `raw` (literals inline, ending in CRLF). kClosed and kFailed
  // are the transport's, with its words in `error`; kMalformed is a response over a bound or
  // without a line end where one belongs.
  ReadOutcome Next(std::string& raw, std::u16string& error);

  // Bytes that arrived after the last response delivered: none may, after STARTTLS's OK.
  bool HasBuffered() const { return start_ < buffer_.size(); }
  void Clear();

 private:
  ReadOutcome Fill(std::u16string& error);

  Transport& transport_;
  const ResponseLimits& limits_;
  std::string buffer_;
  size_t start_ = 0;
};

}  // namespace mailsheaf
