#include "archive/long_lines.h"

#include <algorithm>
#include <vector>

#include "archive/header_fold.h"
#include "archive/mime_entity.h"

namespace mailsheaf {
namespace {

// What the re-encoding writes: body lines as MIME asks.
constexpr size_t kBodyLine = 76;
// Bytes between two calls of the tick within one long line.
constexpr size_t kTickEvery = 1 << 16;
// Real mail nests a few levels; past this the content is left as it is, so that no message can
// exhaust the stack or the time of a run.
constexpr int kDeepestPart = 100;

struct Edit {
  size_t begin = 0;
  size_t end = 0;
  std::string replacement;
};

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

// The body's own last line end, if it has one: kept where it was.
std::string_view TrailingEol(std::string_view body) {
  if (body.empty() || (body.back() != '\n' && body.back() != '\r')) return {};
  return body.size() >= 2 && body.substr(body.size() - 2) == "\r\n" ? body.substr(body.size() - 2)
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

class Mender {
 public:
  Mender(std::string_view message, const std::function<bool()>& tick)
      : message_(message), tick_(tick) {}

  void Visit(const MimeEntity& entity, bool is_message, int depth) {
    if (!Going(0)) return;
    if (depth == 0 && entity.Field("DKIM-Signature") != nullptr) dkim_body_ = entity.body_begin;
    if (depth > kDeepestPart) {
      if (LongestLine(Text(entity.begin, entity.end)) > kLongestAcceptedLine) {
        Cannot(u"it has a line longer than 10,240 bytes in parts nested deeper than 100 levels");
      }
      return;
    }
    const bool multipart = entity.type.rfind("multipart/", 0) == 0;
    const bool nested = entity.type == "message/rfc822" && Plain(entity.encoding);
    const std::string_view body = Text(entity.body_begin, entity.end);
    const bool long_leaf = !multipart && !nested && LongestLine(body) > kLongestAcceptedLine;
    const bool to_quoted_printable = long_leaf && Plain(entity.encoding);
    const HeaderField* encoding_field = entity.Field("Content-Transfer-Encoding");
    for (const HeaderField& field : entity.fields) {
      if (to_quoted_printable && &field == encoding_field) continue;  // replaced below
      FoldField(field, entity.eol);
    }
    if (multipart) {
      const MultipartLayout layout = SplitMultipart(message_, entity);
      if (layout.parts.empty()) {
        if (LongestLine(body) > kLongestAcceptedLine) {
          Cannot(u"it has a line longer than 10,240 bytes in a multipart body without its parts");
        }
        return;
      }
      boundaries_.push_back("--" + entity.boundary);
      WrapUnseen(layout.preamble, entity.eol);
      // The first part of a multipart/signed is what its signature covers, byte for byte.
      const bool is_signed = entity.type == "multipart/signed";
      for (const BodyRange& part : layout.parts) {
        const bool covered = is_signed && &part == &layout.parts.front();
        signed_depth_ += covered ? 1 : 0;
        Visit(ReadEntity(message_, part.begin, part.end), false, depth + 1);
        signed_depth_ -= covered ? 1 : 0;
      }
      WrapUnseen(layout.epilogue, entity.eol);
      boundaries_.pop_back();
      return;
    }
    if (nested) {
      Visit(ReadEntity(message_, entity.body_begin, entity.end), true, depth + 1);
      return;
    }
    if (!long_leaf) return;
    if (entity.type == "message/partial" || entity.type == "message/external-body") {
      // These must stay 7bit as they are (RFC 2046): re-encoded, the pieces no longer join.
      Cannot(u"it has a line longer than 10,240 bytes in a piece of a message split for "
             u"sending (" + std::u16string(entity.type.begin(), entity.type.end()) +
             u"), which must stay as it is");
      return;
    }
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
      const bool mime_version = is_message && !entity.has_mime_version;
      if (!entity.has_header_section) {
        // Text where the header should be: the new fields go in front, and all of the
        // original, its first line too, becomes the body.
        Replace(entity.begin, entity.begin,
                (mime_version ? "MIME-Version: 1.0" + entity.eol : std::string()) + field +
                    entity.eol);
        if (is_message) header_added_ = true;
        return;
      }
      if (encoding_field != nullptr) {
        Replace(encoding_field->begin, encoding_field->end, field);
      } else {
        Replace(entity.header_end, entity.header_end, field);
      }
      if (mime_version) Replace(entity.header_end, entity.header_end, "MIME-Version: 1.0" + entity.eol);
    } else {
      Cannot(u"it has a line longer than 10,240 bytes in a part whose encoding (" +
             std::u16string(entity.encoding.begin(), entity.encoding.end()) +
             u") cannot be re-written");
    }
  }

  MendedMessage Result() {
    MendedMessage result;
    if (stopped_) {
      result.stopped = true;
      return result;
    }
    if (!reason_.empty()) {
      result.outcome = MendedMessage::Outcome::kCannot;
      result.reason = reason_;
      return result;
    }
    // An insertion goes before a replacement that starts at the same place.
    std::stable_sort(edits_.begin(), edits_.end(), [](const Edit& a, const Edit& b) {
      return a.begin != b.begin ? a.begin < b.begin : a.end < b.end;
    });
    size_t at = 0;
    LineLengthCheck lines;
    const auto add = [&](MendedMessage::Piece piece) {
      const std::string_view bytes = piece.Bytes();
      if (bytes.empty()) return;
      lines.Feed(reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size());
      result.pieces.push_back(std::move(piece));
    };
    for (Edit& edit : edits_) {
      add({message_.substr(at, edit.begin - at), {}});
      add({{}, std::move(edit.replacement)});
      at = edit.end;
    }
    add({message_.substr(at), {}});
    if (lines.Longest() > kLongestAcceptedLine) {
      result.outcome = MendedMessage::Outcome::kCannot;
      result.reason = u"it has a line longer than 10,240 bytes outside the parts that can be "
                      u"re-encoded";
      result.pieces.clear();
      return result;
    }
    result.outcome = edits_.empty() ? MendedMessage::Outcome::kUnchanged
                                    : MendedMessage::Outcome::kMended;
    result.header_added = header_added_;
    result.signature_broken = signature_broken_;
    result.dkim_broken = dkim_broken_;
    return result;
  }

 private:
  // Calls the tick once a mebibyte has gone by since the last; false once it said no.
  bool Going(size_t done) {
    since_tick_ += done;
    if (!stopped_ && tick_ && since_tick_ >= (1u << 20)) {
      since_tick_ = 0;
      stopped_ = !tick_();
    }
    return !stopped_;
  }

  // Applies `per_line` to each line of the body, keeping every line end as it was.
  template <typename PerLine>
  std::string EachLine(std::string_view body, PerLine per_line) {
    std::string out;
    for (size_t pos = 0; pos < body.size() && Going(0);) {
      const MailLine line = LineAt(body, pos);
      per_line(line.text, out);
      out.append(line.end);
      Going(line.next - pos);
      pos = line.next;
    }
    return out;
  }

  static bool Plain(const std::string& encoding) {
    return encoding.empty() || encoding == "7bit" || encoding == "8bit" || encoding == "binary";
  }

  std::string_view Text(size_t begin, size_t end) const {
    return message_.substr(begin, end - begin);
  }

  // Whether a line starting with `text` would be read as a delimiter of an enclosing multipart.
  bool LooksLikeDelimiter(std::string_view text) const {
    return std::any_of(boundaries_.begin(), boundaries_.end(), [&](const std::string& b) {
      return text.substr(0, b.size()) == b;
    });
  }

  // Soft line breaks into one quoted-printable line (its line end not included), never inside
  // an =XX escape. A new line that would start like a delimiter gets its first dash encoded,
  // which decodes the same; otherwise a reader would end the part there.
  void SoftBreak(std::string_view line, const std::string& eol, std::string& out) const {
    for (bool first = true;; first = false) {
      size_t room = kBodyLine;
      if (!first && !line.empty() && line[0] == '-' && LooksLikeDelimiter(line)) {
        out.append("=2D");
        line.remove_prefix(1);
        room -= 3;
      }
      if (line.size() <= room) {
        out.append(line);
        return;
      }
      size_t cut = room - 1;  // room for the '='
      if (line[cut - 1] == '=') {
        cut -= 1;
      } else if (line[cut - 2] == '=') {
        cut -= 2;
      }
      out.append(line.substr(0, cut)).append("=").append(eol);
      line.remove_prefix(cut);
    }
  }

  // Plain text as quoted-printable with soft line breaks, in one pass: the encoded line is
  // never held apart from the output (for binary text it is three times the original).
  std::string QuotedPrintable(std::string_view body, const std::string& eol) {
    static const char kHex[] = "0123456789ABCDEF";
    return EachLine(body, [&](std::string_view line, std::string& out) {
      size_t column = 0;
      for (size_t i = 0; i < line.size(); ++i) {
        if (i % kTickEvery == kTickEvery - 1 && !Going(kTickEvery)) return;  // a long line
        const auto byte = static_cast<unsigned char>(line[i]);
        const bool last = i + 1 == line.size();
        const bool literal =
            (byte >= 33 && byte <= 126 && byte != '=') || (IsBlank(line[i]) && !last);
        // Room for this character and, unless it ends the line, a soft break after it.
        const size_t width = literal ? 1 : 3;
        if (column + width > (last ? kBodyLine : kBodyLine - 1)) {
          out.append("=").append(eol);
          column = 0;
        }
        // A new line that would start like a delimiter gets its first dash encoded.
        const bool dash = column == 0 && i > 0 && byte == '-' &&
                          LooksLikeDelimiter(line.substr(i));
        if (literal && !dash) {
          out.push_back(line[i]);
          ++column;
        } else {
          out.append({'=', kHex[byte >> 4], kHex[byte & 15]});
          column += 3;
        }
      }
    });
  }

  // The preamble and the epilogue are not shown by any reader: a long line there is cut into
  // shorter ones, never where the next would start like a delimiter.
  void WrapUnseen(const BodyRange& range, const std::string& eol) {
    const std::string_view text = Text(range.begin, range.end);
    if (LongestLine(text) <= kLongestAcceptedLine) return;
    Replace(range.begin, range.end, EachLine(text, [&](std::string_view line, std::string& out) {
              while (line.size() > kBodyLine) {
                size_t cut = kBodyLine;
                while (cut > 1 && LooksLikeDelimiter(line.substr(cut))) --cut;
                out.append(line.substr(0, cut)).append(eol);
                line.remove_prefix(cut);
              }
              out.append(line);
            }));
  }

  void FoldField(const HeaderField& field, const std::string& eol) {
    const std::string_view text = Text(field.begin, field.end);
    if (LongestLine(text) <= kLongestAcceptedLine) return;
    std::optional<std::string> folded = FoldedField(text, eol);
    if (!folded) {
      Cannot(u"a header line is longer than 10,240 bytes and has no white space to fold it at");
      return;
    }
    Replace(field.begin, field.end, std::move(*folded));
  }

  void Replace(size_t begin, size_t end, std::string replacement) {
    signature_broken_ = signature_broken_ || signed_depth_ > 0;
    dkim_broken_ = dkim_broken_ || (dkim_body_ != kNoBody && begin >= dkim_body_);
    edits_.push_back({begin, end, std::move(replacement)});
  }
  void Cannot(std::u16string reason) {
    if (reason_.empty()) reason_ = std::move(reason);
  }

  static constexpr size_t kNoBody = static_cast<size_t>(-1);

  std::string_view message_;
  const std::function<bool()>& tick_;
  size_t since_tick_ = 0;
  bool stopped_ = false;
  int signed_depth_ = 0;  // inside the signed part of a multipart/signed
  size_t dkim_body_ = kNoBody;  // where the body a DKIM signature covers begins
  bool signature_broken_ = false;
  bool dkim_broken_ = false;
  std::vector<Edit> edits_;
  std::vector<std::string> boundaries_;  // "--" and the boundary of each enclosing multipart
  std::u16string reason_;
  bool header_added_ = false;
};

}  // namespace

MendedMessage MendLongLines(std::string_view message, const std::function<bool()>& tick) {
  if (LongestLine(message) <= kLongestAcceptedLine) return {};
  Mender mender(message, tick);
  mender.Visit(ReadEntity(message, 0, message.size()), true, 0);
  return mender.Result();
}

}  // namespace mailsheaf

namespace mailsheaf {

uint64_t MendedMessage::Size() const {
  uint64_t size = 0;
  for (const Piece& piece : pieces) size += piece.Bytes().size();
  return size;
}

std::string MendedMessage::Bytes() const {
  std::string bytes;
  bytes.reserve(static_cast<size_t>(Size()));
  for (const Piece& piece : pieces) bytes.append(piece.Bytes());
  return bytes;
}

}  // namespace mailsheaf
