// What each part becomes as its header section or its body ends: left as it is, re-encoded, a
// multipart opened, a message inside entered, or a refusal with its reason.

#include "mail/header_fold.h"
#include "mail/mend_pass.h"
#include "mail/mime_entity.h"

namespace mailsheaf::mend {

void MendPass::StartWithoutHeader(Frame& f) {
  f.state = Frame::State::kLeaf;
  f.eol = EolText(Facts(f).eol);
  if (!Facts(f).long_body) return;
  // Text where the header should be: the new fields go in front, and all of the original,
  // its first line too, becomes the body.
  if (f.is_message) {
    out_.Put("MIME-Version: 1.0" + f.eol);
    plan_.header_added = true;
  }
  out_.Put("Content-Transfer-Encoding: quoted-printable" + f.eol + f.eol);
  Changed(f, true);
  f.encoder = QuotedPrintable(out_, f.eol, DelimitersAround(f));
  Changed(f, false);
}

bool MendPass::EndHeader(Frame& f) {
  const MimeEntity entity = ReadEntity(f.header, 0, f.header.size());
  const std::string_view header = f.header;
  f.eol = entity.eol;
  f.type = entity.type;
  // RFC 2046, 5.1.5: a digest's part without a Content-Type is a message.
  if (f.in_digest && entity.Field("Content-Type") == nullptr) f.type = "message/rfc822";
  f.encoding = entity.encoding;
  if (f.depth == 0 && entity.Field("DKIM-Signature") != nullptr) dkim_ = true;
  const bool multipart = f.type.rfind("multipart/", 0) == 0;
  // A message inside may not be re-encoded as a whole (RFC 2046, 5.2.1; RFC 6532 for
  // message/global): it is mended inside, as a message of its own.
  const bool nested =
      (f.type == "message/rfc822" || f.type == "message/global") && Plain(f.encoding);
  const bool long_leaf = !multipart && !nested && Facts(f).long_body;
  const bool to_quoted_printable = long_leaf && Plain(f.encoding);
  const HeaderField* encoding_field = entity.Field("Content-Transfer-Encoding");
  const std::string new_encoding_field = "Content-Transfer-Encoding: quoted-printable" + f.eol;

  size_t at = 0;
  for (const HeaderField& field : entity.fields) {
    out_.Put(header.substr(at, field.begin - at));
    at = field.end;
    const std::string_view text = header.substr(field.begin, field.end - field.begin);
    if (to_quoted_printable && &field == encoding_field) {
      out_.Put(new_encoding_field);
      Changed(f, true);
      continue;
    }
    if (LongestLine(text) <= kLongestAcceptedLine) {
      out_.Put(text);
      continue;
    }
    const std::optional<std::string> folded = FoldedField(text, f.eol);
    if (folded) {
      out_.Put(*folded);
      Changed(f, true);
    } else if (&field == encoding_field && Survey() && !multipart && !nested &&
               Plain(f.encoding)) {
      // Replaced, not folded, if the body turns out to need quoted-printable.
      f.unfoldable_encoding_field = true;
      out_.Put(text);
    } else {
      return HeaderRefused();
    }
  }
  out_.Put(header.substr(at, entity.header_end - at));
  if (to_quoted_printable) {
    if (encoding_field == nullptr) out_.Put(new_encoding_field);
    if (f.is_message && !entity.has_mime_version) out_.Put("MIME-Version: 1.0" + f.eol);
    Changed(f, true);
  }
  out_.Put(header.substr(entity.header_end));
  f.header = std::string();

  if (multipart) {
    f.state = Frame::State::kPreamble;
    if (!entity.boundary.empty()) f.delimiter = "--" + entity.boundary;
    f.is_signed = f.type == "multipart/signed";
    StartUnseen(f, Facts(f).long_preamble);
    return true;
  }
  if (nested) {
    f.state = Frame::State::kNested;
    return Push(f.depth + 1, true, f.covered);
  }
  f.state = Frame::State::kLeaf;
  if (!long_leaf) return true;
  if (f.encoding == "base64") {
    f.encoder = Base64Rewrap(out_, f.eol);
  } else if (f.encoding == "quoted-printable") {
    f.encoder = SoftBreaks(out_, f.eol, DelimitersAround(f));
  } else if (to_quoted_printable) {
    f.encoder = QuotedPrintable(out_, f.eol, DelimitersAround(f));
  }
  if (f.encoder) Changed(f, false);
  return true;
}

bool MendPass::EndEntity() {
  Frame& f = *frames_.back();
  if (f.state == Frame::State::kHeader) {
    if (f.first_line) StartWithoutHeader(f);  // nothing at all: an empty body
    else if (!EndHeader(f)) return false;
    if (frames_.back().get() != &f && !EndEntity()) return false;  // a message/rfc822's
  }
  MendPlan::Entity* facts = Survey() ? &plan_.entities[f.id] : nullptr;
  if (facts) facts->eol = f.first_eol.empty() ? 0 : EolKind(f.first_eol);
  const auto too_long = [](uint64_t longest) { return longest > kLongestAcceptedLine; };
  switch (f.state) {
    case Frame::State::kLeaf: {
      const bool long_body = too_long(EndRegion(f));
      if (!facts) break;
      facts->long_body = long_body;
      if (!long_body) {
        if (f.unfoldable_encoding_field) return HeaderRefused();
        break;
      }
      if (f.type == "message/partial" || f.type == "message/external-body") {
        // These must stay 7bit as they are (RFC 2046): re-encoded, the pieces no longer join.
        return Cannot(u"it has a line longer than 10,240 bytes in a piece of a message split "
                      u"for sending (" + std::u16string(f.type.begin(), f.type.end()) +
                      u"), which must stay as it is");
      }
      if (f.encoding != "base64" && f.encoding != "quoted-printable" && !Plain(f.encoding)) {
        return Cannot(u"it has a line longer than 10,240 bytes in a part whose encoding (" +
                      std::u16string(f.encoding.begin(), f.encoding.end()) +
                      u") cannot be re-written");
      }
      break;
    }
    case Frame::State::kPreamble:
    case Frame::State::kEpilogue: {
      const bool epilogue = f.state == Frame::State::kEpilogue;
      const bool long_region = too_long(EndRegion(f));
      if (!facts) break;
      (epilogue ? facts->long_epilogue : facts->long_preamble) = long_region;
      if (!facts->has_parts && too_long(f.whole)) {
        return Cannot(
            u"it has a line longer than 10,240 bytes in a multipart body without its parts");
      }
      break;
    }
    case Frame::State::kOpaque:
      if (too_long(EndRegion(f)) && facts) {
        return Cannot(
            u"it has a line longer than 10,240 bytes in parts nested deeper than 100 levels");
      }
      break;
    case Frame::State::kHeader:
    case Frame::State::kInPart:
    case Frame::State::kNested:
      break;
  }
  frames_.pop_back();
  return out_.Ok();
}

bool MendPass::HeaderRefused() {
  return Cannot(
      u"a header line is longer than 10,240 bytes and has no white space to fold it at");
}

}  // namespace mailsheaf::mend
