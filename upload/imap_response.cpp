#include "upload/imap_response.h"

#include "base/ascii.h"

namespace mailsheaf {
namespace {

bool IsStatus(std::string_view word) {
  return word == "OK" || word == "NO" || word == "BAD" || word == "BYE" || word == "PREAUTH";
}

// Items of the data part, one after another, in a recursive descent bounded in depth and count.
class ItemParser {
 public:
  ItemParser(std::string_view text, const ResponseLimits& limits) : text_(text), limits_(limits) {}

  bool ParseAll(std::vector<ImapItem>& items, std::string& why) {
    if (!ParseSequence(items, 0, why)) return false;
    if (at_ < text_.size()) return Fail("a ')' with no '(' before it", why);
    return true;
  }

 private:
  bool ParseSequence(std::vector<ImapItem>& items, size_t depth, std::string& why) {
    for (;;) {
      while (at_ < text_.size() && text_[at_] == ' ') ++at_;
      if (at_ >= text_.size() || text_[at_] == ')') return true;
      if (++count_ > limits_.max_items) return Fail("more items than allowed", why);
      ImapItem item;
      if (!ParseItem(item, depth, why)) return false;
      items.push_back(std::move(item));
    }
  }

  bool ParseItem(ImapItem& item, size_t depth, std::string& why) {
    const char c = text_[at_];
    if (c == '(') {
      if (depth + 1 > limits_.max_depth) return Fail("lists nested too deep", why);
      ++at_;
      item.kind = ImapItem::Kind::kList;
      if (!ParseSequence(item.items, depth + 1, why)) return false;
      if (at_ >= text_.size()) return Fail("a list without its ')'", why);
      ++at_;
      return true;
    }
    if (c == '"') return ParseQuoted(item, why);
    if (c == '{') return ParseLiteral(item, why);
    return ParseAtom(item, why);
  }

  bool ParseQuoted(ImapItem& item, std::string& why) {
    item.kind = ImapItem::Kind::kString;
    for (++at_; at_ < text_.size(); ++at_) {
      char c = text_[at_];
      if (c == '"') {
        ++at_;
        return true;
      }
      if (c == '\r' || c == '\n') break;
      if (c == '\\') {
        if (++at_ >= text_.size()) break;
        c = text_[at_];
      }
      item.text += c;
    }
    return Fail("a quoted string without its end", why);
  }

  bool ParseLiteral(ImapItem& item, std::string& why) {
    const size_t close = text_.find('}', at_);
    if (close == std::string_view::npos) return Fail("a literal without its '}'", why);
    uint64_t size = 0;
    std::string_view digits = text_.substr(at_ + 1, close - at_ - 1);
    if (!digits.empty() && digits.back() == '+') digits.remove_suffix(1);
    if (!ParseImapNumber(digits, limits_.max_literal, size)) {
      return Fail("a literal size that is not a number within bounds", why);
    }
    if (text_.substr(close + 1, 2) != "\r\n" || text_.size() - close - 3 < size) {
      return Fail("a literal shorter than its size", why);
    }
    item.kind = ImapItem::Kind::kString;
    item.text = std::string(text_.substr(close + 3, size));
    at_ = close + 3 + size;
    return true;
  }

  // An atom runs to a space or a parenthesis, except inside brackets: BODY[HEADER.FIELDS (X)]
  // and BODY[]<0> are one item each, as the server's FETCH keys.
  bool ParseAtom(ImapItem& item, std::string& why) {
    const size_t start = at_;
    int brackets = 0;
    for (; at_ < text_.size(); ++at_) {
      const char c = text_[at_];
      if (c == '[') ++brackets;
      if (c == ']' && brackets > 0) --brackets;
      if (c == '"' && brackets > 0) {
        // A quoted header name a server echoes: BODY[HEADER.FIELDS ("MESSAGE-ID")].
        const size_t end = text_.find('"', at_ + 1);
        if (end == std::string_view::npos) break;
        at_ = end;
        continue;
      }
      if (c == '\r' || c == '\n' || c == '"' || c == '{') break;
      if (brackets == 0 && (c == ' ' || c == '(' || c == ')')) break;
    }
    if (at_ == start || brackets != 0) return Fail("an unreadable item", why);
    item.text = std::string(text_.substr(start, at_ - start));
    item.kind = SameAsciiLetters(item.text, "NIL") ? ImapItem::Kind::kNil : ImapItem::Kind::kAtom;
    if (item.kind == ImapItem::Kind::kNil) item.text.clear();
    return true;
  }

  static bool Fail(const char* reason, std::string& why) {
    why = reason;
    return false;
  }

  std::string_view text_;
  const ResponseLimits& limits_;
  size_t at_ = 0;
  size_t count_ = 0;
};

void SplitStatus(std::string_view rest, ImapResponse& response) {
  response.text = std::string(rest);
  const size_t space = rest.find(' ');
  std::string_view words = space == std::string_view::npos ? "" : rest.substr(space + 1);
  if (words.empty() || words.front() != '[') return;
  // A code holds at most one level of parentheses (PERMANENTFLAGS (...)), never a ']'.
  const size_t close = words.find(']');
  if (close != std::string_view::npos) response.code = std::string(words.substr(1, close - 1));
}

}  // namespace

bool ImapItem::IsAtom(std::string_view name) const {
  return kind == Kind::kAtom && SameAsciiLetters(text, name);
}

bool ParseImapNumber(std::string_view text, uint64_t limit, uint64_t& value) {
  if (text.empty() || text.size() > 20) return false;
  value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    const uint64_t digit = static_cast<uint64_t>(c - '0');
    if (value > (limit - digit) / 10) return false;
    value = value * 10 + digit;
  }
  return true;
}

bool ParseImapResponse(std::string_view raw, const ResponseLimits& limits, ImapResponse& response,
                       std::string& why) {
  response = ImapResponse{};
  if (raw.size() < 2 || raw.substr(raw.size() - 2) != "\r\n") {
    why = "a response without its line end";
    return false;
  }
  raw.remove_suffix(2);
  const size_t space = raw.find(' ');
  response.tag = std::string(raw.substr(0, space));
  std::string_view rest = space == std::string_view::npos ? "" : raw.substr(space + 1);
  if (response.tag.empty()) {
    why = "a response without a tag";
    return false;
  }
  if (response.tag == "+") {
    response.kind = ImapResponse::Kind::kContinuation;
    response.text = std::string(rest);
    return true;
  }
  const size_t word_end = rest.find(' ');
  std::string word = AsciiUpper(rest.substr(0, word_end));
  if (IsStatus(word)) {
    response.kind = ImapResponse::Kind::kStatus;
    response.status = word;
    SplitStatus(rest, response);
    return true;
  }
  if (response.tag != "*") {
    why = "a tagged response without OK, NO or BAD";
    return false;
  }
  uint64_t number = 0;
  if (ParseImapNumber(word, UINT32_MAX, number)) {
    response.has_number = true;
    response.number = static_cast<uint32_t>(number);
    rest = word_end == std::string_view::npos ? "" : rest.substr(word_end + 1);
    const size_t name_end = rest.find(' ');
    word = AsciiUpper(rest.substr(0, name_end));
    rest = name_end == std::string_view::npos ? "" : rest.substr(name_end);
  } else {
    rest = word_end == std::string_view::npos ? "" : rest.substr(word_end);
  }
  if (word.empty()) {
    why = "untagged data without a name";
    return false;
  }
  response.name = word;
  return ItemParser(rest, limits).ParseAll(response.items, why);
}

}  // namespace mailsheaf
