#pragma once
// What the parts of the IMAP session share (imap_session.cpp and its parts for connecting,
// mailboxes and appends): small readers and writers of the protocol's words. Only the session
// includes it.

#include <algorithm>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "base/ascii.h"
#include "base/report_text.h"
#include "base/text.h"
#include "mail/message_header.h"
#include "upload/imap_response.h"
#include "upload/imap_session.h"

namespace mailsheaf::imap_words {

inline std::string Base64(std::string_view bytes) {
  static constexpr char kAlphabet[] =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out;
  for (size_t i = 0; i < bytes.size(); i += 3) {
    uint32_t group = static_cast<uint32_t>(static_cast<unsigned char>(bytes[i])) << 16;
    if (i + 1 < bytes.size())
      group |= static_cast<uint32_t>(static_cast<unsigned char>(bytes[i + 1])) << 8;
    if (i + 2 < bytes.size()) group |= static_cast<unsigned char>(bytes[i + 2]);
    out += kAlphabet[(group >> 18) & 63];
    out += kAlphabet[(group >> 12) & 63];
    out += i + 1 < bytes.size() ? kAlphabet[(group >> 6) & 63] : '=';
    out += i + 2 < bytes.size() ? kAlphabet[group & 63] : '=';
  }
  return out;
}

inline bool StartsWithWord(std::string_view text, std::string_view word) {
  return text.size() >= word.size() && SameAsciiLetters(text.substr(0, word.size()), word) &&
         (text.size() == word.size() || text[word.size()] == ' ');
}

// "APPENDUID 38 12" or, for a batch, "APPENDUID 38 12:14,20" (RFC 4315: the UIDs in the order
// of the messages): the validity and exactly `count` UIDs, or nothing.
inline bool ParseAppendUid(const std::string& code, size_t count, uint32_t& validity,
                    std::vector<uint32_t>& uids) {
  uids.clear();
  if (!StartsWithWord(code, "APPENDUID")) return false;
  const std::string_view rest = std::string_view(code).substr(10);
  const size_t space = rest.find(' ');
  uint64_t v = 0;
  if (space == std::string_view::npos || !ParseImapNumber(rest.substr(0, space), UINT32_MAX, v)) {
    return false;
  }
  std::string_view set = rest.substr(space + 1);
  while (!set.empty()) {
    const size_t comma = std::min(set.find(','), set.size());
    const std::string_view range = set.substr(0, comma);
    set.remove_prefix(std::min(comma + 1, set.size()));
    const size_t colon = range.find(':');
    uint64_t first = 0, last = 0;
    if (!ParseImapNumber(range.substr(0, colon), UINT32_MAX, first)) return false;
    last = first;
    if (colon != std::string_view::npos &&
        !ParseImapNumber(range.substr(colon + 1), UINT32_MAX, last)) {
      return false;
    }
    if (first > last) std::swap(first, last);
    if (first == 0 || last - first >= count - uids.size()) return false;  // more than sent
    for (uint64_t uid = first; uid <= last; ++uid) uids.push_back(static_cast<uint32_t>(uid));
  }
  validity = static_cast<uint32_t>(v);
  return uids.size() == count;
}

// The server's own words for a response we could not take, escaped and cut short.
inline std::u16string ServerWords(std::string_view raw) {
  constexpr size_t kShown = 160;
  while (!raw.empty() && (raw.back() == '\n' || raw.back() == '\r')) raw.remove_suffix(1);
  const bool cut = raw.size() > kShown;
  return Shown(Utf8ToUtf16(raw.substr(0, kShown))) + (cut ? u"..." : u"");
}

// The Message-ID field's value in a header block, read by the same rule as the message's own
// (the resume check compares the two).
inline std::string MessageIdOf(std::string_view header) {
  MessageHeaderScanner scanner;
  scanner.Feed(reinterpret_cast<const unsigned char*>(header.data()), header.size());
  scanner.Finish();
  return scanner.MessageId();
}

// "\Seen" or a keyword: atom characters (RFC 3501, 9) after an optional backslash.
inline bool IsFlag(std::string_view flag) {
  if (!flag.empty() && flag.front() == '\\') flag.remove_prefix(1);
  if (flag.empty()) return false;
  for (char c : flag) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte <= 0x20 || byte >= 0x7f ||
        std::string_view("(){%*\"\\]").find(c) != std::string_view::npos) {
      return false;
    }
  }
  return true;
}

inline bool ProtocolFailure(const char* what, ImapError& error) {
  error = {ImapErrorKind::kProtocol, AsciiToUtf16(what)};
  return false;
}

}  // namespace mailsheaf::imap_words
