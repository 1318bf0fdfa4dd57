#include "archive/long_lines.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "archive/mime_entity.h"

namespace mailsheaf {
namespace {

// What the re-encoding writes: body lines as MIME asks, header lines as mail allows.
constexpr size_t kBodyLine = 76;
constexpr size_t kHeaderLine = 998;

struct Edit {
  size_t begin = 0;
  size_t end = 0;
  std::string replacement;
};

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

// The body's own last line end, if it has one: kept where it was.
std::string_view TrailingEol(std::string_view body) {
  if (body.empty() || body.back() != '\n') return {};
  return body.size() >= 2 && body[body.size() - 2] == '\r' ? body.substr(body.size() - 2)
                                                           : body.substr(body.size() - 1);
}

std::string RewrapBase64(std::string_view body, const std::string& eol) {
  const std::string_view trail = TrailingEol(body);
  std::string text;
  for (char c : body.substr(0, body.size() - trail.size())) {
    if (c != ' ' && c != '\t' && c != '\r' && c != '\n') text.push_back(c);
  }
  std::string out;
  for (size_t at = 0; at < text.size(); at += kBodyLine) {
    if (at > 0) out += eol;
    out.append(text, at, kBodyLine);
  }
  return out.append(trail);
}

// Soft line breaks into one quoted-printable line (its line end not included), never inside an
// =XX escape.
void SoftBreak(std::string_view line, const std::string& eol, std::string& out) {
  while (line.size() > kBodyLine) {
    size_t cut = kBodyLine - 1;  // room for the '='
    if (line[cut - 1] == '=') {
      cut -= 1;
    } else if (line[cut - 2] == '=') {
      cut -= 2;
    }
    out.append(line.substr(0, cut)).append("=").append(eol);
    line.remove_prefix(cut);
  }
  out.append(line);
}

// Applies `per_line` to each line of the body, keeping every line end as it was.
template <typename PerLine>
std::string EachLine(std::string_view body, PerLine per_line) {
  std::string out;
  while (!body.empty()) {
    const size_t lf = body.find('\n');
    std::string_view line = body.substr(0, lf);
    std::string_view end;
    if (lf != std::string_view::npos) {
      const bool cr = !line.empty() && line.back() == '\r';
      if (cr) line.remove_suffix(1);
      end = body.substr(line.size(), cr ? 2 : 1);
    }
    per_line(line, out);
    out.append(end);
    body.remove_prefix(line.size() + end.size());
  }
  return out;
}

std::string QuotedPrintable(std::string_view body, const std::string& eol) {
  static const char kHex[] = "0123456789ABCDEF";
  return EachLine(body, [&](std::string_view line, std::string& out) {
    std::string encoded;
    for (size_t i = 0; i < line.size(); ++i) {
      const auto byte = static_cast<unsigned char>(line[i]);
      const bool last = i + 1 == line.size();
      if ((byte >= 33 && byte <= 126 && byte != '=') || (IsBlank(line[i]) && !last)) {
        encoded.push_back(line[i]);
      } else {
        encoded.push_back('=');
        encoded.push_back(kHex[byte >> 4]);
        encoded.push_back(kHex[byte & 15]);
      }
    }
    SoftBreak(encoded, eol, out);
  });
}

class Mender {
 public:
  explicit Mender(std::string_view message) : message_(message) {}

  void Visit(const MimeEntity& entity, bool is_message) {
    const bool multipart = entity.type.rfind("multipart/", 0) == 0;
    const bool nested = entity.type == "message/rfc822" && Plain(entity.encoding);
    const std::string_view body = Body(entity);
    const bool long_leaf = !multipart && !nested && LongestLine(body) > kLongestAcceptedLine;
    const bool to_quoted_printable = long_leaf && Plain(entity.encoding);
    const HeaderField* encoding_field = entity.Field("Content-Transfer-Encoding");
    for (const HeaderField& field : entity.fields) {
      if (to_quoted_printable && &field == encoding_field) continue;  // replaced below
      FoldField(field, entity.eol);
    }
    if (multipart) {
      const std::vector<BodyRange> parts = SplitMultipart(message_, entity);
      for (const BodyRange& part : parts) Visit(ReadEntity(message_, part.begin, part.end), false);
      if (parts.empty() && LongestLine(body) > kLongestAcceptedLine) {
        Cannot(u"it has a line longer than 10,240 bytes in a multipart body without its parts");
      }
      return;
    }
    if (nested) {
      Visit(ReadEntity(message_, entity.body_begin, entity.end), true);
      return;
    }
    if (!long_leaf) return;
    if (entity.encoding == "base64") {
      Replace(entity.body_begin, entity.end, RewrapBase64(body, entity.eol));
    } else if (entity.encoding == "quoted-printable") {
      Replace(entity.body_begin, entity.end,
              EachLine(body, [&](std::string_view line, std::string& out) {
                SoftBreak(line, entity.eol, out);
              }));
    } else if (to_quoted_printable) {
      Replace(entity.body_begin, entity.end, QuotedPrintable(body, entity.eol));
      const std::string field = "Content-Transfer-Encoding: quoted-printable" + entity.eol;
      if (encoding_field != nullptr) {
        Replace(encoding_field->begin, encoding_field->end, field);
      } else {
        Replace(entity.header_end, entity.header_end, field);
      }
      if (is_message && !entity.has_mime_version) {
        Replace(entity.header_end, entity.header_end, "MIME-Version: 1.0" + entity.eol);
      }
    } else {
      Cannot(u"it has a line longer than 10,240 bytes in a part whose encoding (" +
             std::u16string(entity.encoding.begin(), entity.encoding.end()) +
             u") cannot be re-written");
    }
  }

  MendedMessage Result() {
    MendedMessage result;
    if (!reason_.empty()) {
      result.outcome = MendedMessage::Outcome::kCannot;
      result.reason = reason_;
      return result;
    }
    std::stable_sort(edits_.begin(), edits_.end(),
                     [](const Edit& a, const Edit& b) { return a.begin < b.begin; });
    size_t at = 0;
    for (const Edit& edit : edits_) {
      result.bytes.append(message_.substr(at, edit.begin - at)).append(edit.replacement);
      at = edit.end;
    }
    result.bytes.append(message_.substr(at));
    if (LongestLine(result.bytes) > kLongestAcceptedLine) {
      result.outcome = MendedMessage::Outcome::kCannot;
      result.reason = u"it has a line longer than 10,240 bytes outside the parts that can be "
                      u"re-encoded";
      result.bytes.clear();
      return result;
    }
    result.outcome = edits_.empty() ? MendedMessage::Outcome::kUnchanged
                                    : MendedMessage::Outcome::kMended;
    return result;
  }

 private:
  static bool Plain(const std::string& encoding) {
    return encoding.empty() || encoding == "7bit" || encoding == "8bit" || encoding == "binary";
  }

  std::string_view Body(const MimeEntity& entity) const {
    return message_.substr(entity.body_begin, entity.end - entity.body_begin);
  }

  // A header line over the limit gets line ends before white space, lines of at most 998 bytes
  // where the white space allows; unfolding gives the same value back.
  void FoldField(const HeaderField& field, const std::string& eol) {
    const std::string_view text = message_.substr(field.begin, field.end - field.begin);
    if (LongestLine(text) <= kLongestAcceptedLine) return;
    const std::string folded = EachLine(text, [&](std::string_view line, std::string& out) {
      size_t start = 0;
      while (line.size() - start > kHeaderLine) {
        // The last white space within the limit, else the first one past it.
        size_t cut = line.find_last_of(" \t", start + kHeaderLine);
        if (cut == std::string_view::npos || cut <= start) {
          cut = line.find_first_of(" \t", start + kHeaderLine + 1);
        }
        if (cut == std::string_view::npos) break;
        out.append(line.substr(start, cut - start)).append(eol);
        start = cut;
      }
      out.append(line.substr(start));
    });
    if (LongestLine(folded) > kLongestAcceptedLine) {
      Cannot(u"a header line is longer than 10,240 bytes and has no white space to fold it at");
      return;
    }
    Replace(field.begin, field.end, folded);
  }

  void Replace(size_t begin, size_t end, std::string replacement) {
    edits_.push_back({begin, end, std::move(replacement)});
  }
  void Cannot(std::u16string reason) {
    if (reason_.empty()) reason_ = std::move(reason);
  }

  std::string_view message_;
  std::vector<Edit> edits_;
  std::u16string reason_;
};

}  // namespace

void LineLengthCheck::Feed(const unsigned char* data, size_t size) {
  const unsigned char* end = data + size;
  while (data < end) {
    const void* found = std::memchr(data, '\n', static_cast<size_t>(end - data));
    const auto* lf = static_cast<const unsigned char*>(found);
    const size_t run = static_cast<size_t>((lf ? lf : end) - data);
    if (run > 0) cr_last_ = data[run - 1] == '\r';
    current_ += run;
    if (lf == nullptr) return;
    const size_t length = current_ - (cr_last_ ? 1 : 0);
    longest_ = std::max(longest_, length);
    current_ = 0;
    cr_last_ = false;
    data = lf + 1;
  }
}

size_t LongestLine(std::string_view text) {
  LineLengthCheck check;
  check.Feed(reinterpret_cast<const unsigned char*>(text.data()), text.size());
  return check.Longest();
}

MendedMessage MendLongLines(std::string_view message) {
  if (LongestLine(message) <= kLongestAcceptedLine) return {};
  Mender mender(message);
  mender.Visit(ReadEntity(message, 0, message.size()), true);
  return mender.Result();
}

}  // namespace mailsheaf
