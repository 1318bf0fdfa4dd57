#include "upload/imap_response_reader.h"

#include "base/ascii.h"
#include "base/text.h"

namespace mailsheaf {
namespace {

constexpr size_t kReadChunk = 64 * 1024;

// The size of the literal a line ends with ("... {123}"), or false when it ends in none.
bool TrailingLiteral(std::string_view line, const ResponseLimits& limits, uint64_t& size,
                     bool& too_big) {
  too_big = false;
  if (line.empty() || line.back() != '}') return false;
  const size_t open = line.rfind('{');
  if (open == std::string_view::npos) return false;
  std::string_view digits = line.substr(open + 1, line.size() - open - 2);
  if (!digits.empty() && digits.back() == '+') digits.remove_suffix(1);
  for (char c : digits) {
    if (c < '0' || c > '9') return false;
  }
  if (digits.empty()) return false;
  too_big = !ParseImapNumber(digits, limits.max_literal, size);
  return true;
}

// A continuation or a status response (RFC 3501, 9: resp-text) holds no literal: a "{2}" at the
// end of its text is text.
bool IsTextLine(std::string_view line) {
  if (line.starts_with("+")) return true;
  const size_t space = line.find(' ');
  if (space == std::string_view::npos) return false;
  std::string_view word = line.substr(space + 1);
  word = word.substr(0, word.find(' '));
  for (std::string_view status : {"OK", "NO", "BAD", "BYE", "PREAUTH"}) {
    if (SameAsciiLetters(word, status)) return true;
  }
  return false;
}

ReadOutcome TooLong(const std::u16string& what, size_t bound, std::u16string& error) {
  error = u"The server sent " + what + u" larger than " +
          DecimalText(static_cast<long long>(bound)) + u" bytes";
  return ReadOutcome::kMalformed;
}

}  // namespace

void ImapResponseReader::Clear() {
  buffer_.clear();
  start_ = 0;
}

ReadOutcome ImapResponseReader::Fill(std::u16string& error) {
  if (start_ > 0) {
    buffer_.erase(0, start_);
    start_ = 0;
  }
  const size_t old_size = buffer_.size();
  buffer_.resize(old_size + kReadChunk);
  size_t received = 0;
  const TransportStatus status =
      transport_.ReadSome(buffer_.data() + old_size, kReadChunk, received, error);
  buffer_.resize(old_size + received);
  if (status == TransportStatus::kClosed) return ReadOutcome::kClosed;
  if (status == TransportStatus::kFailed) return ReadOutcome::kFailed;
  if (status == TransportStatus::kStopped) return ReadOutcome::kStopped;
  return ReadOutcome::kOk;
}

ReadOutcome ImapResponseReader::Next(std::string& raw, std::u16string& error) {
  raw.clear();
  size_t literals = 0;
  for (;;) {
    // One line, up to and with its CRLF.
    size_t searched = 0;  // bytes after start_ known to hold no CRLF
    size_t end;
    while ((end = buffer_.find("\r\n", start_ + searched)) == std::string::npos) {
      if (buffer_.size() - start_ > limits_.max_line)
        return TooLong(u"a line", limits_.max_line, error);
      searched = buffer_.size() - start_;
      if (searched > 0) --searched;  // the CR may have come without its LF yet
      const ReadOutcome filled = Fill(error);
      if (filled != ReadOutcome::kOk) return filled;
    }
    const std::string_view line(buffer_.data() + start_, end - start_);
    if (line.size() > limits_.max_line) return TooLong(u"a line", limits_.max_line, error);
    uint64_t size = 0;
    bool too_big = false;
    const bool literal =
        (literals > 0 || !IsTextLine(line)) && TrailingLiteral(line, limits_, size, too_big);
    if (too_big) return TooLong(u"a literal", limits_.max_literal, error);
    raw.append(line.data(), line.size() + 2);
    start_ = end + 2;
    if (raw.size() + (literal ? size : 0) > limits_.max_response) {
      return TooLong(u"a response", limits_.max_response, error);
    }
    if (!literal) return ReadOutcome::kOk;
    if (++literals > limits_.max_items) {
      error = u"The server sent a response with more literals than allowed";
      return ReadOutcome::kMalformed;
    }
    // The literal's bytes, whatever they hold.
    while (buffer_.size() - start_ < size) {
      raw.append(buffer_, start_, buffer_.size() - start_);
      size -= buffer_.size() - start_;
      start_ = buffer_.size();
      const ReadOutcome filled = Fill(error);
      if (filled != ReadOutcome::kOk) return filled;
    }
    raw.append(buffer_, start_, size);
    start_ += size;
  }
}

}  // namespace mailsheaf
