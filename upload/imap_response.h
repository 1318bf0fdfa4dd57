#pragma once
// One server response taken apart (RFC 3501, 7 and 9): who it answers (a tag, "*" or "+"),
// a status with its bracketed code and the server's own words, or data items.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace mailsheaf {

// Every length that comes from the network is bounded by one of these.
struct ResponseLimits {
  size_t max_line = 64 * 1024;               // one line, between literals
  size_t max_literal = 128u * 1024 * 1024;   // one literal
  size_t max_response = 160u * 1024 * 1024;  // lines and literals together
  size_t max_items = 100000;                 // atoms, strings and lists in one response
  size_t max_depth = 16;                     // lists within lists
};

struct ImapItem {
  enum class Kind { kAtom, kString, kNil, kList };
  Kind kind = Kind::kAtom;
  std::string text;                          // an atom or a string (quoted or literal), undone
  std::vector<ImapItem> items;               // a list's members
  bool IsAtom(std::string_view name) const;  // an atom of that name, in any case
};

struct ImapResponse {
  enum class Kind { kContinuation, kStatus, kData };
  Kind kind = Kind::kData;
  std::string tag;     // "*" untagged, "+" for a continuation, else the command's tag
  std::string status;  // OK, NO, BAD, BYE or PREAUTH, upper case
  std::string text;    // a status's words after the tag, verbatim: "NO [OVERQUOTA] Quota ..."
  std::string code;    // inside a status's brackets: "APPENDUID 38 12"
  // Data: "* 12 EXISTS" has number 12 and name EXISTS; "* LIST (...)" only the name.
  bool has_number = false;
  uint32_t number = 0;
  std::string name;             // upper case
  std::vector<ImapItem> items;  // what follows the name
};

// `raw` is one whole response as the reader delivers it, literals inline after their
// "{n}\r\n", ending in CRLF. False with the reason in `why` when it is malformed or over a
// bound.
bool ParseImapResponse(std::string_view raw, const ResponseLimits& limits, ImapResponse& response,
                       std::string& why);

// The decimal number of an atom, false past `limit` or for anything but digits.
bool ParseImapNumber(std::string_view text, uint64_t limit, uint64_t& value);

}  // namespace mailsheaf
