#include "mail/message_header.h"

#include <algorithm>
#include <cstring>

#include "mail/importer_rules.h"
#include "mail/mail_lines.h"
#include "mail/message_date.h"
#include "base/ascii.h"

namespace mailsheaf {
namespace {

std::string_view Trimmed(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
  return text;
}

// The flags of X-Mozilla-Status: hexadecimal digits (four, or eight where X-Mozilla-Status2 was
// folded in by some tools); nothing when unreadable.
std::optional<unsigned> HexFlags(std::string_view text) {
  text = Trimmed(text);
  if (text.empty() || text.size() > 8) return std::nullopt;
  unsigned value = 0;
  for (char c : text) {
    const char l = AsciiLower(c);
    if (l >= '0' && l <= '9') {
      value = value * 16 + static_cast<unsigned>(l - '0');
    } else if (l >= 'a' && l <= 'f') {
      value = value * 16 + static_cast<unsigned>(l - 'a' + 10);
    } else {
      return std::nullopt;
    }
  }
  return value;
}

}  // namespace

bool MessageHeaderScanner::Feed(const unsigned char* data, size_t size) {
  const char* text = reinterpret_cast<const char*>(data);
  if (size > 0 && cr_last_ && text[0] == '\n') {  // the LF of a CRLF split between pieces
    ++text;
    --size;
    ++seen_;
  }
  cr_last_ = false;
  while (size > 0 && !done_) {
    if (seen_ >= kLimit) {
      Finish();
      break;
    }
    const size_t room = std::min(size, kLimit - seen_);
    size_t take = 0;
    while (take < room && text[take] != '\n' && text[take] != '\r') ++take;
    const bool ended = take < room;
    const size_t keep = std::min(take, kFieldLimit - line_.size());
    line_.append(text, keep);
    line_too_long_ = line_too_long_ || keep < take;
    size_t used = take;
    if (ended) {
      used += text[take] == '\r' && take + 1 < size && text[take + 1] == '\n' ? 2 : 1;
      cr_last_ = text[take] == '\r' && used == take + 1 && take + 1 == size;
    }
    seen_ += used;
    text += used;
    size -= used;
    if (ended) {
      TakeLine(line_);
      line_.clear();
      line_too_long_ = false;
    }
  }
  return done_;
}

void MessageHeaderScanner::Finish() {
  if (done_) return;
  if (!line_.empty()) TakeLine(line_);
  EndField();
  done_ = true;
}

void MessageHeaderScanner::TakeLine(std::string_view line) {
  const bool first = first_line_;
  first_line_ = false;
  if (line.empty() || (first && !IsFieldLine(line) && !IsMboxFromLine(line))) {
    // The empty line that ends the header section, or text where the first field should be:
    // a message without header fields, all body.
    EndField();
    done_ = true;
    return;
  }
  if (line[0] == ' ' || line[0] == '\t') {  // a folded line: the field goes on
    if (field_ == Field::kOther) return;
    if (line_too_long_ || value_.size() + line.size() > kFieldLimit) {
      value_too_long_ = true;
    } else {
      value_.append(line);
    }
    return;
  }
  EndField();
  // The name, then optional white space (an obsolete form), then the colon.
  const size_t colon = line.find(':');
  if (colon == std::string_view::npos) return;
  const std::string_view name = Trimmed(line.substr(0, colon));
  if (SameAsciiLetters(name, "Date")) {
    if (date_seen_) return;
    field_ = Field::kDate;
  } else if (SameAsciiLetters(name, "X-Mozilla-Status")) {
    if (mozilla_status_) return;
    field_ = Field::kMozillaStatus;
  } else if (SameAsciiLetters(name, "Status")) {
    if (status_) return;
    field_ = Field::kStatus;
  } else if (SameAsciiLetters(name, "Received")) {
    field_ = Field::kReceived;
  } else if (SameAsciiLetters(name, "Message-ID")) {
    if (message_id_seen_) return;
    field_ = Field::kMessageId;
  } else {
    return;
  }
  value_.assign(line.substr(colon + 1));
  value_too_long_ = line_too_long_;
}

void MessageHeaderScanner::EndField() {
  const Field field = field_;
  field_ = Field::kOther;
  switch (field) {
    case Field::kDate:
      date_seen_ = true;
      if (!value_too_long_) date_ = ParseMessageDate(value_);
      break;
    case Field::kMozillaStatus:
      mozilla_status_ = value_;
      break;
    case Field::kStatus:
      status_ = value_;
      break;
    case Field::kMessageId:
      message_id_seen_ = true;
      if (!value_too_long_) message_id_ = Trimmed(value_);
      break;
    case Field::kReceived:
      if (!value_too_long_) {
        const size_t semicolon = value_.rfind(';');
        if (semicolon != std::string::npos) {
          const int64_t date = UsableTime(
              ParseMessageDate(std::string_view(value_).substr(semicolon + 1)).value_or(0));
          if (date > newest_received_) newest_received_ = date;
        }
      }
      break;
    case Field::kOther:
      break;
  }
}

bool MessageHeaderScanner::Read() const {
  if (mozilla_status_) {
    if (const std::optional<unsigned> flags = HexFlags(*mozilla_status_)) return (*flags & 1) != 0;
  }
  if (status_) return status_->find('R') != std::string::npos;
  return true;
}

}  // namespace mailsheaf
