#include "mail/long_lines.h"

#include <algorithm>
#include <memory>

#include "mail/body_encoders.h"
#include "mail/header_fold.h"
#include "mail/line_splitter.h"
#include "mail/mend_output.h"
#include "mail/mime_entity.h"

namespace mailsheaf {
namespace {

// Real mail nests a few levels; past this the content is left as it is, so that no message can
// exhaust the stack or the time of a run.
constexpr int kDeepestPart = 100;
// Held while it is read and folded; real header sections are a few KiB.
constexpr size_t kLargestHeader = 4 << 20;
// What the survey keeps per part is small, but not nothing.
constexpr size_t kMostParts = 1 << 20;
constexpr uint64_t kTickEvery = 1 << 20;

using Outcome = MendPlan::Outcome;

enum class Pass { kSurvey, kCount, kWrite };

bool Plain(const std::string& encoding) {
  return encoding.empty() || encoding == "7bit" || encoding == "8bit" || encoding == "binary";
}

bool AllBlank(std::string_view text) {
  return std::all_of(text.begin(), text.end(), [](char c) { return c == ' ' || c == '\t'; });
}

char EolKind(std::string_view eol) { return eol == "\r\n" ? 'c' : eol == "\n" ? 'n' : 'r'; }
std::string EolText(char kind) { return kind == 'n' ? "\n" : kind == 'r' ? "\r" : "\r\n"; }

struct Frame {
  enum class State { kHeader, kLeaf, kPreamble, kInPart, kEpilogue, kNested, kOpaque };
  State state = State::kHeader;
  size_t id = 0;
  int depth = 0;
  bool is_message = false;  // the message itself, or the body of a message/rfc822
  bool covered = false;     // inside what a multipart/signed signs
  bool in_digest = false;   // a part of a multipart/digest: message/rfc822 unless it says
  std::string header;       // the header section, held until it has ended
  bool header_ended = false;
  bool first_line = true;
  std::string first_eol;
  std::string eol = "\r\n";
  std::string type;
  std::string encoding;
  std::string delimiter;  // of a multipart: "--" and its boundary
  bool is_signed = false;
  size_t parts = 0;
  bool unfoldable_encoding_field = false;
  std::unique_ptr<BodyEncoder> encoder;
  bool line_open = false;
  uint64_t line = 0;      // the open line's length so far
  uint64_t longest = 0;   // of the region being read
  uint64_t whole = 0;     // of a multipart's whole body
};

// One pass over the message's lines: the parts are found as they stream by, an enclosing
// delimiter ending whatever is open inside it, and each line goes to its part as it is or
// through the part's encoder. The line end before a delimiter belongs to the delimiter, so
// each line end is held until the next line shows whose it is.
class MendPass final : public LineSink {
 public:
  MendPass(Pass pass, MendPlan& plan, MendOutput& out, const std::function<bool()>& tick)
      : pass_(pass), plan_(plan), out_(out), tick_(tick) {
    Push(0, true, false);
  }

  bool Line(std::string_view head, bool whole) override {
    if (!Going(head.size())) return false;
    bool closing = false;
    // An enclosing delimiter ends whatever is open inside it, the outermost first.
    for (size_t i = 0; whole && i < frames_.size(); ++i) {
      if (IsDelimiterOf(*frames_[i], head, closing)) return Delimiter(i, head, closing);
    }
    Frame* top = frames_.back().get();
    if (!pending_eol_.empty()) {
      if (!DeliverEnd(*top, pending_eol_)) return false;
      pending_eol_.clear();
    }
    if (top->state == Frame::State::kHeader && top->header_ended) {
      if (!EndHeader(*top)) return false;
      top = frames_.back().get();
      // A multipart whose first delimiter follows its header at once.
      if (whole && IsDelimiterOf(*top, head, closing)) {
        return Delimiter(frames_.size() - 1, head, closing);
      }
    }
    return StartLine(*top, head);
  }

  bool Rest(std::string_view piece) override {
    if (!Going(piece.size())) return false;
    Frame& f = *frames_.back();
    if (f.state == Frame::State::kHeader) return Hold(f, piece);
    f.line += piece.size();
    Put(f, piece);
    return out_.Ok();
  }

  bool End(std::string_view eol) override {
    if (in_delimiter_line_) {
      out_.Put(eol);
      in_delimiter_line_ = false;
    } else {
      pending_eol_ = eol;
    }
    return true;
  }

  // After the last line.
  bool Finish() {
    if (!pending_eol_.empty() && !DeliverEnd(*frames_.back(), pending_eol_)) return false;
    pending_eol_.clear();
    while (!frames_.empty()) {
      if (!EndEntity()) return false;
    }
    return out_.Flush();
  }

  size_t edits() const { return edits_; }

 private:
  bool Going(uint64_t bytes) {
    since_tick_ += bytes;
    if (since_tick_ >= kTickEvery && tick_) {
      since_tick_ = 0;
      if (!tick_()) plan_.stopped = true;
    }
    return !plan_.stopped && out_.Ok();
  }

  bool Cannot(std::u16string reason) {
    if (plan_.reason.empty()) plan_.reason = std::move(reason);
    return false;
  }

  bool Survey() const { return pass_ == Pass::kSurvey; }

  static bool IsDelimiterOf(const Frame& f, std::string_view line, bool& closing) {
    if ((f.state != Frame::State::kPreamble && f.state != Frame::State::kInPart) ||
        f.delimiter.empty() || line.substr(0, f.delimiter.size()) != f.delimiter) {
      return false;
    }
    std::string_view rest = line.substr(f.delimiter.size());
    closing = rest.substr(0, 2) == "--";
    if (closing) rest.remove_prefix(2);
    return AllBlank(rest);
  }
  MendPlan::Entity Facts(const Frame& f) const {
    return !Survey() && f.id < plan_.entities.size() ? plan_.entities[f.id] : MendPlan::Entity();
  }

  bool Push(int depth, bool is_message, bool covered, bool in_digest = false) {
    if (next_id_ >= kMostParts) {
      return Cannot(u"it has a line longer than 10,240 bytes and too many parts to re-encode");
    }
    auto frame = std::make_unique<Frame>();
    frame->id = next_id_++;
    if (Survey()) plan_.entities.emplace_back();
    frame->depth = depth;
    frame->is_message = is_message;
    frame->covered = covered;
    frame->in_digest = in_digest;
    if (depth > kDeepestPart) frame->state = Frame::State::kOpaque;
    frames_.push_back(std::move(frame));
    return true;
  }

  void Put(Frame& f, std::string_view text) {
    if (f.encoder) {
      f.encoder->Text(text);
    } else {
      out_.Put(text);
    }
  }

  // A change to the message: what it breaks.
  void Changed(const Frame& f, bool in_header) {
    ++edits_;
    if (f.covered) plan_.signature_broken = true;
    if (dkim_ && (f.depth > 0 || !in_header)) plan_.dkim_broken = true;
  }

  bool Hold(Frame& f, std::string_view text) {
    if (f.header.size() + text.size() > kLargestHeader) {
      return Cannot(u"it has a line longer than 10,240 bytes and a header section too large to "
                    u"re-encode");
    }
    f.header.append(text);
    return true;
  }

  bool StartLine(Frame& f, std::string_view head) {
    if (f.state == Frame::State::kHeader) {
      if (f.first_line && !head.empty() && !IsFieldLine(head) && !IsMboxFromLine(head)) {
        StartWithoutHeader(f);
      } else {
        f.first_line = false;
        if (head.empty()) f.header_ended = true;
        return Hold(f, head);
      }
    }
    f.first_line = false;
    f.line_open = true;
    f.line = head.size();
    Put(f, head);
    return out_.Ok();
  }

  bool DeliverEnd(Frame& f, std::string_view eol) {
    if (f.first_eol.empty()) f.first_eol = eol;
    if (f.state == Frame::State::kHeader) return Hold(f, eol);
    f.longest = std::max(f.longest, f.line);
    f.line = 0;
    f.line_open = false;
    if (f.encoder) {
      f.encoder->EndLine(eol);
    } else {
      out_.Put(eol);
    }
    return true;
  }

  // Closes the region being read (a body, a preamble, an epilogue); its longest line.
  uint64_t EndRegion(Frame& f) {
    if (f.line_open) {
      f.longest = std::max(f.longest, f.line);
      f.line_open = false;
      if (f.encoder) f.encoder->EndLine("");
    }
    if (f.encoder) {
      f.encoder->Finish();
      f.encoder.reset();
    }
    const uint64_t longest = f.longest;
    f.longest = f.line = 0;
    f.whole = std::max(f.whole, longest);
    return longest;
  }

  Delimiters DelimitersAround(const Frame& last) const {
    Delimiters delimiters;
    for (const auto& f : frames_) {
      if (!f->delimiter.empty() && Facts(*f).has_parts) delimiters.push_back(f->delimiter);
      if (f.get() == &last) break;
    }
    return delimiters;
  }

  // A preamble or an epilogue, which no reader shows: wrapped when a line there is too long.
  void StartUnseen(Frame& f, bool too_long) {
    if (!too_long || !Facts(f).has_parts) return;
    f.encoder = WrapUnseen(out_, f.eol, DelimitersAround(f));
    Changed(f, false);
  }

  bool Delimiter(size_t index, std::string_view line, bool closing) {
    while (frames_.size() > index + 1) {
      if (!EndEntity()) return false;
    }
    Frame& f = *frames_[index];
    if (f.state == Frame::State::kPreamble) {
      const uint64_t longest = EndRegion(f);
      if (Survey()) plan_.entities[f.id].long_preamble = longest > kLongestAcceptedLine;
    }
    if (Survey() && !closing) plan_.entities[f.id].has_parts = true;
    f.whole = std::max<uint64_t>(f.whole, line.size());
    out_.Put(pending_eol_);
    pending_eol_.clear();
    out_.Put(line);
    in_delimiter_line_ = true;
    if (closing) {
      f.state = Frame::State::kEpilogue;
      StartUnseen(f, Facts(f).long_epilogue);
      return out_.Ok();
    }
    f.state = Frame::State::kInPart;
    // The first part of a multipart/signed is what its signature covers, byte for byte.
    const bool covered = f.covered || (f.is_signed && f.parts == 0);
    ++f.parts;
    return Push(f.depth + 1, false, covered, f.type == "multipart/digest") && out_.Ok();
  }

  void StartWithoutHeader(Frame& f) {
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

  bool EndHeader(Frame& f) {
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

  // Ends the innermost entity; what the survey learnt of it is kept.
  bool EndEntity() {
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

  bool HeaderRefused() {
    return Cannot(
        u"a header line is longer than 10,240 bytes and has no white space to fold it at");
  }

  const Pass pass_;
  MendPlan& plan_;
  MendOutput& out_;
  const std::function<bool()>& tick_;
  std::vector<std::unique_ptr<Frame>> frames_;
  std::string pending_eol_;
  bool in_delimiter_line_ = false;
  size_t next_id_ = 0;
  bool dkim_ = false;
  size_t edits_ = 0;
  uint64_t since_tick_ = 0;
};

// One pass from the source's first byte. False with the reason when the source failed; false
// with none when the pass stopped (a refusal, a stop, the output said no).
bool RunPass(Pass pass, MendSource& source, MendPlan& plan, MendOutput& out,
             const std::function<bool()>& tick, std::u16string& error, size_t& edits) {
  MendPass mend(pass, plan, out, tick);
  LineSplitter lines(mend);
  const bool read = source.ReadThrough([&](std::string_view piece) { return lines.Feed(piece); },
                                       error);
  if (!read) return false;
  if (!lines.Finish() || !mend.Finish()) return false;
  edits = mend.edits();
  return true;
}

class TextSource final : public MendSource {
 public:
  explicit TextSource(std::string_view text) : text_(text) {}
  bool ReadThrough(const std::function<bool(std::string_view)>& take, std::u16string&) override {
    for (size_t at = 0; at < text_.size(); at += 1 << 16) {
      if (!take(text_.substr(at, 1 << 16))) return false;
    }
    return true;
  }

 private:
  std::string_view text_;
};

}  // namespace

bool PlanMend(MendSource& source, const std::function<bool()>& tick, MendPlan& plan,
              std::u16string& error) {
  plan = MendPlan();
  size_t edits = 0;
  MendOutput ignored = MendOutput::Ignored();
  if (!RunPass(Pass::kSurvey, source, plan, ignored, tick, error, edits)) {
    if (!error.empty() || plan.stopped) return false;
  }
  if (!plan.reason.empty()) {
    std::u16string reason = std::move(plan.reason);
    plan = MendPlan();
    plan.outcome = Outcome::kCannot;
    plan.reason = std::move(reason);
    return true;
  }
  plan.header_added = plan.signature_broken = plan.dkim_broken = false;  // the count decides
  MendOutput counted;
  if (!RunPass(Pass::kCount, source, plan, counted, tick, error, edits)) {
    if (!error.empty() || plan.stopped) return false;
    std::u16string reason = std::move(plan.reason);
    plan = MendPlan();
    plan.outcome = Outcome::kCannot;
    plan.reason = std::move(reason);
    return true;
  }
  plan.size = counted.Size();
  if (counted.LongestLine() > kLongestAcceptedLine) {
    plan = MendPlan();
    plan.outcome = Outcome::kCannot;
    plan.reason = u"it has a line longer than 10,240 bytes outside the parts that can be "
                  u"re-encoded";
  } else {
    plan.outcome = edits == 0 ? Outcome::kUnchanged : Outcome::kMended;
  }
  return true;
}

bool WriteMend(MendSource& source, const MendPlan& plan,
               const std::function<bool(std::string_view)>& take,
               const std::function<bool()>& tick, std::u16string& error) {
  MendPlan writing = plan;
  size_t edits = 0;
  MendOutput out(take);
  if (!RunPass(Pass::kWrite, source, writing, out, tick, error, edits)) return false;
  if (out.Size() != plan.size) {
    error = u"changed while it was re-encoded; nothing was stored from it.";
    return false;
  }
  return true;
}

MendedMessage MendLongLines(std::string_view message, const std::function<bool()>& tick) {
  MendedMessage mended;
  if (LongestLine(message) <= kLongestAcceptedLine) return mended;
  TextSource source(message);
  std::u16string error;
  MendPlan& plan = mended;
  if (!PlanMend(source, tick, plan, error)) {
    mended.stopped = true;
    return mended;
  }
  if (mended.outcome != Outcome::kMended) return mended;
  if (!WriteMend(source, plan, [&](std::string_view piece) {
        mended.bytes.append(piece);
        return true;
      }, tick, error)) {
    mended.stopped = true;
  }
  return mended;
}

}  // namespace mailsheaf
