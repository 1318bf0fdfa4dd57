#include "archive/header_fold.h"

#include <vector>

#include "archive/mail_lines.h"
#include "base/ascii.h"
#include "base/text.h"

namespace mailsheaf {
namespace {

// Mail allows header lines up to this; the importer far more.
constexpr size_t kHeaderLine = 998;
// RFC 2047: an encoded word is at most 75 characters.
constexpr size_t kEncodedWord = 75;

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

bool Unstructured(std::string_view name) {
  while (!name.empty() && IsBlank(name.back())) name.remove_suffix(1);
  for (std::string_view known : {"Subject", "Comments", "Content-Description", "Thread-Topic"}) {
    if (SameAsciiLetters(name, known)) return true;
  }
  return false;
}

bool IsEncodedWord(std::string_view word) {
  return word.size() >= 8 && word.substr(0, 2) == "=?" && word.substr(word.size() - 2) == "?=";
}

// The text cut into whole UTF-8 characters; nothing when it is not UTF-8 (its charset is then
// unknown, and no encoded word could say it exactly).
std::optional<std::vector<std::string_view>> Utf8Characters(std::string_view text) {
  bool utf8 = true;
  BytesToName(text, utf8);  // base/text's one rule for what is UTF-8
  if (!utf8) return std::nullopt;
  std::vector<std::string_view> characters;
  for (size_t at = 0; at < text.size();) {
    size_t end = at + 1;
    while (end < text.size() && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80) ++end;
    characters.push_back(text.substr(at, end - at));
    at = end;
  }
  return characters;
}

// The text as "Q" encoded words separated by spaces, each whole characters.
std::optional<std::string> EncodedWords(std::string_view text) {
  static const char kHex[] = "0123456789ABCDEF";
  static constexpr std::string_view kOpen = "=?UTF-8?Q?";
  const auto characters = Utf8Characters(text);
  if (!characters) return std::nullopt;
  std::string words;
  std::string word;
  const auto close = [&] {
    if (word.empty()) return;
    if (!words.empty()) words.push_back(' ');
    words.append(kOpen).append(word).append("?=");
    word.clear();
  };
  for (std::string_view character : *characters) {
    std::string encoded;
    for (char c : character) {
      const auto byte = static_cast<unsigned char>(c);
      if (c == ' ') {
        encoded.push_back('_');
      } else if (byte > 32 && byte < 127 && c != '=' && c != '?' && c != '_') {
        encoded.push_back(c);
      } else {
        encoded.append({'=', kHex[byte >> 4], kHex[byte & 15]});
      }
    }
    if (kOpen.size() + word.size() + encoded.size() + 2 > kEncodedWord) close();
    word += encoded;
  }
  close();
  return words;
}

// Line ends before white space, keeping lines within kHeaderLine where the white space allows.
std::string FoldAtBlanks(std::string_view field, const std::string& eol) {
  std::string out;
  for (size_t pos = 0; pos < field.size();) {
    const MailLine line = LineAt(field, pos);
    const std::string_view text = line.text;
    size_t start = 0;
    while (text.size() - start > kHeaderLine) {
      // The last white space within the limit, else the first one past it.
      size_t cut = text.find_last_of(" \t", start + kHeaderLine);
      if (cut == std::string_view::npos || cut <= start) {
        cut = text.find_first_of(" \t", start + kHeaderLine + 1);
      }
      if (cut == std::string_view::npos) break;
      out.append(text.substr(start, cut - start)).append(eol);
      start = cut;
    }
    out.append(text.substr(start)).append(line.end);
    pos = line.next;
  }
  return out;
}

// The field unfolded, every word too long for a line turned into encoded words. White space
// between two encoded words vanishes when they are decoded, so where a long word meets an
// encoded word (of the original, or one just made), that white space goes inside the new ones.
std::optional<std::string> WithLongWordsEncoded(std::string_view field, const std::string& eol) {
  std::string unfolded;
  std::string_view end_of_field;
  for (size_t pos = 0; pos < field.size();) {
    const MailLine line = LineAt(field, pos);
    unfolded.append(line.text);
    end_of_field = line.end;
    pos = line.next;
  }
  const size_t colon = unfolded.find(':');
  struct Token {
    std::string_view text;
    bool blank;
  };
  std::vector<Token> tokens;
  const std::string_view value = std::string_view(unfolded).substr(colon + 1);
  for (size_t at = 0; at < value.size();) {
    const bool blank = IsBlank(value[at]);
    size_t next = at;
    while (next < value.size() && IsBlank(value[next]) == blank) ++next;
    tokens.push_back({value.substr(at, next - at), blank});
    at = next;
  }
  std::string out = unfolded.substr(0, colon + 1);
  bool after_encoded = false;  // the last word written is an encoded word
  for (size_t i = 0; i < tokens.size(); ++i) {
    const std::string_view text = tokens[i].text;
    if (tokens[i].blank || text.size() <= kHeaderLine) {
      out.append(text);
      if (!tokens[i].blank) after_encoded = IsEncodedWord(text);
      continue;
    }
    if (IsEncodedWord(text)) return std::nullopt;  // its decoded form is unknown here
    const bool joins_before = after_encoded && i >= 1 && tokens[i - 1].blank;
    const bool joins_after = i + 2 < tokens.size() && IsEncodedWord(tokens[i + 2].text) &&
                             tokens[i + 2].text.size() <= kHeaderLine;
    std::string plain;
    if (joins_before) {
      plain.append(tokens[i - 1].text);
      out.resize(out.size() - tokens[i - 1].text.size());
      out.push_back(' ');
    }
    plain.append(text);
    if (joins_after) plain.append(tokens[i + 1].text);
    const std::optional<std::string> words = EncodedWords(plain);
    if (!words) return std::nullopt;
    out.append(*words);
    after_encoded = true;
    if (joins_after) {
      out.push_back(' ');
      ++i;  // its white space is inside the encoded words now
    }
  }
  out.append(end_of_field.empty() ? std::string_view() : std::string_view(eol));
  return FoldAtBlanks(out, eol);
}

}  // namespace

std::optional<std::string> FoldedField(std::string_view field, const std::string& eol) {
  std::string folded = FoldAtBlanks(field, eol);
  if (LongestLine(folded) <= kLongestAcceptedLine) return folded;
  const size_t colon = field.find(':');
  if (colon == std::string_view::npos || !Unstructured(field.substr(0, colon))) {
    return std::nullopt;
  }
  std::optional<std::string> encoded = WithLongWordsEncoded(field, eol);
  if (!encoded || LongestLine(*encoded) > kLongestAcceptedLine) return std::nullopt;
  return encoded;
}

}  // namespace mailsheaf
