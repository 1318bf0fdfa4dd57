#include "mail/header_fold.h"

#include <cctype>
#include <cstdint>
#include <cstring>
#include <vector>

#include "mail/mail_lines.h"
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

// How the bytes of a charset make characters: only where that is known can text in it be cut
// between two characters, and so into several encoded words that decode to the same.
enum class Charset { kUnknown, kUtf8, kSingleByte, kShiftJis, kEucJp, kGb18030, kDoubleByte };

Charset CharsetNamed(std::string_view name) {
  name = name.substr(0, name.find('*'));  // RFC 2231's language
  for (std::string_view n : {"UTF-8", "UTF8"}) {
    if (SameAsciiLetters(name, n)) return Charset::kUtf8;
  }
  for (std::string_view prefix : {"ISO-8859-", "WINDOWS-125", "CP125", "KOI8-"}) {
    if (name.size() > prefix.size() && SameAsciiLetters(name.substr(0, prefix.size()), prefix)) {
      return Charset::kSingleByte;
    }
  }
  for (std::string_view n : {"US-ASCII", "ASCII", "LATIN1", "TIS-620"}) {
    if (SameAsciiLetters(name, n)) return Charset::kSingleByte;
  }
  for (std::string_view n : {"SHIFT_JIS", "SHIFT-JIS", "SJIS", "CP932", "WINDOWS-31J"}) {
    if (SameAsciiLetters(name, n)) return Charset::kShiftJis;
  }
  if (SameAsciiLetters(name, "EUC-JP")) return Charset::kEucJp;
  for (std::string_view n : {"GB18030", "GBK", "GB2312", "CP936", "EUC-CN"}) {
    if (SameAsciiLetters(name, n)) return Charset::kGb18030;
  }
  for (std::string_view n : {"BIG5", "BIG5-HKSCS", "CP950", "EUC-KR", "CP949", "KS_C_5601-1987"}) {
    if (SameAsciiLetters(name, n)) return Charset::kDoubleByte;
  }
  return Charset::kUnknown;  // ISO-2022-JP and its kin keep a state no cut may break
}

// The bytes a character takes that begins at `at`; 0 when the text is not of that charset.
size_t CharacterLength(Charset charset, std::string_view text, size_t at) {
  const auto byte = [&](size_t i) { return static_cast<unsigned char>(text[i]); };
  const unsigned char lead = byte(at);
  size_t length = 1;
  switch (charset) {
    case Charset::kUnknown:
      return 0;
    case Charset::kUtf8:
    case Charset::kSingleByte:
      return 1;  // UTF-8 is cut after its characters are checked whole (Characters)
    case Charset::kShiftJis:
      length = (lead >= 0x81 && lead <= 0x9F) || (lead >= 0xE0 && lead <= 0xFC) ? 2 : 1;
      break;
    case Charset::kEucJp:
      length = lead == 0x8F ? 3 : (lead == 0x8E || lead >= 0xA1) ? 2 : 1;
      break;
    case Charset::kGb18030:
      length = lead >= 0x81 && lead <= 0xFE ? 2 : 1;
      if (length == 2 && at + 1 < text.size() && byte(at + 1) >= 0x30 && byte(at + 1) <= 0x39) {
        length = 4;
      }
      break;
    case Charset::kDoubleByte:
      length = lead >= 0x81 && lead <= 0xFE ? 2 : 1;
      break;
  }
  return at + length <= text.size() ? length : 0;
}

// The text cut into whole characters of its charset; nothing when they cannot be told apart
// (an unknown charset, raw bytes that are not UTF-8) or the text is not of it.
std::optional<std::vector<std::string_view>> Characters(std::string_view text, Charset charset) {
  std::vector<std::string_view> characters;
  if (charset == Charset::kUtf8) {
    bool utf8 = true;
    BytesToName(text, utf8);  // base/text's one rule for what is UTF-8
    if (!utf8) return std::nullopt;
    for (size_t at = 0; at < text.size();) {
      size_t end = at + 1;
      while (end < text.size() && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80) ++end;
      characters.push_back(text.substr(at, end - at));
      at = end;
    }
    return characters;
  }
  for (size_t at = 0; at < text.size();) {
    const size_t length = CharacterLength(charset, text, at);
    if (length == 0) return std::nullopt;
    characters.push_back(text.substr(at, length));
    at += length;
  }
  return characters;
}

constexpr char kHex[] = "0123456789ABCDEF";
constexpr char kBase64[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

std::string QEncoded(std::string_view bytes) {
  std::string encoded;
  for (char c : bytes) {
    const auto byte = static_cast<unsigned char>(c);
    if (c == ' ') {
      encoded.push_back('_');
    } else if (byte > 32 && byte < 127 && c != '=' && c != '?' && c != '_') {
      encoded.push_back(c);
    } else {
      encoded.append({'=', kHex[byte >> 4], kHex[byte & 15]});
    }
  }
  return encoded;
}

std::string BEncoded(std::string_view bytes) {
  std::string encoded;
  for (size_t i = 0; i < bytes.size(); i += 3) {
    uint32_t group = static_cast<uint32_t>(static_cast<unsigned char>(bytes[i])) << 16;
    if (i + 1 < bytes.size()) group |= static_cast<uint32_t>(static_cast<unsigned char>(bytes[i + 1])) << 8;
    if (i + 2 < bytes.size()) group |= static_cast<unsigned char>(bytes[i + 2]);
    encoded += kBase64[(group >> 18) & 63];
    encoded += kBase64[(group >> 12) & 63];
    encoded += i + 1 < bytes.size() ? kBase64[(group >> 6) & 63] : '=';
    encoded += i + 2 < bytes.size() ? kBase64[group & 63] : '=';
  }
  return encoded;
}

// The characters as encoded words of the charset, separated by spaces, each at most 75
// characters long and each whole characters.
std::string EncodedWords(const std::vector<std::string_view>& characters,
                         std::string_view charset, char encoding) {
  const std::string open = "=?" + std::string(charset) + "?" + encoding + "?";
  const auto encode = [encoding](std::string_view bytes) {
    return encoding == 'B' ? BEncoded(bytes) : QEncoded(bytes);
  };
  std::string words;
  std::string bytes;  // of the word being made
  const auto close = [&] {
    if (bytes.empty()) return;
    if (!words.empty()) words.push_back(' ');
    words.append(open).append(encode(bytes)).append("?=");
    bytes.clear();
  };
  for (std::string_view character : characters) {
    if (!bytes.empty() &&
        open.size() + encode(bytes + std::string(character)).size() + 2 > kEncodedWord) {
      close();
    }
    bytes += character;
  }
  close();
  return words;
}

// New encoded words for text of the field itself: UTF-8 only, as other bytes say nothing of
// their charset.
std::optional<std::string> EncodedWords(std::string_view text) {
  const auto characters = Characters(text, Charset::kUtf8);
  if (!characters) return std::nullopt;
  return EncodedWords(*characters, "UTF-8", 'Q');
}

// One encoded word too long for a line, as several in its own charset and encoding that decode
// to the same bytes (white space between encoded words is not part of the text); nothing when
// its charset's characters cannot be told apart or it does not decode.
std::optional<std::string> SplitEncodedWord(std::string_view word) {
  const std::string_view inner = word.substr(2, word.size() - 4);
  const size_t q1 = inner.find('?');
  const size_t q2 = q1 == std::string_view::npos ? q1 : inner.find('?', q1 + 1);
  if (q2 == std::string_view::npos || q2 != q1 + 2 || inner.find('?', q2 + 1) != std::string_view::npos) {
    return std::nullopt;
  }
  const std::string_view charset = inner.substr(0, q1);
  const char encoding = static_cast<char>(std::toupper(static_cast<unsigned char>(inner[q1 + 1])));
  const std::string_view text = inner.substr(q2 + 1);
  std::string bytes;
  if (encoding == 'Q') {
    for (size_t i = 0; i < text.size(); ++i) {
      if (text[i] == '_') {
        bytes.push_back(' ');
      } else if (text[i] == '=') {
        const auto hex = [&](size_t j) -> int {
          if (j >= text.size()) return -1;
          const char c = static_cast<char>(std::toupper(static_cast<unsigned char>(text[j])));
          const char* found = std::strchr(kHex, c);
          return c != '\0' && found != nullptr ? static_cast<int>(found - kHex) : -1;
        };
        const int high = hex(i + 1), low = hex(i + 2);
        if (high < 0 || low < 0) return std::nullopt;
        bytes.push_back(static_cast<char>(high * 16 + low));
        i += 2;
      } else {
        bytes.push_back(text[i]);
      }
    }
  } else if (encoding == 'B') {
    uint32_t group = 0;
    int bits = 0;
    size_t pad = 0;
    for (char c : text) {
      if (c == '=') {
        ++pad;
        continue;
      }
      const char* found = c != '\0' ? std::strchr(kBase64, c) : nullptr;
      if (found == nullptr || pad > 0) return std::nullopt;
      group = (group << 6) | static_cast<uint32_t>(found - kBase64);
      bits += 6;
      if (bits >= 8) {
        bits -= 8;
        bytes.push_back(static_cast<char>((group >> bits) & 0xFF));
      }
    }
  } else {
    return std::nullopt;
  }
  const auto characters = Characters(bytes, CharsetNamed(charset));
  if (!characters) return std::nullopt;
  return EncodedWords(*characters, charset, encoding);
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
    if (IsEncodedWord(text)) {
      const std::optional<std::string> split = SplitEncodedWord(text);
      if (!split) return std::nullopt;
      out.append(*split);
      after_encoded = true;
      continue;
    }
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
