#include "mail/mend_pass.h"

#include <algorithm>

namespace mailsheaf::mend {

MendPass::MendPass(Pass pass, MendPlan& plan, MendOutput& out, const std::function<bool()>& tick)
    : pass_(pass), plan_(plan), out_(out), tick_(tick) {
  Push(0, true, false);
}

bool MendPass::Line(std::string_view head, bool whole) {
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

bool MendPass::Rest(std::string_view piece) {
  if (!Going(piece.size())) return false;
  Frame& f = *frames_.back();
  if (f.state == Frame::State::kHeader) return Hold(f, piece);
  f.line += piece.size();
  Put(f, piece);
  return out_.Ok();
}

bool MendPass::End(std::string_view eol) {
  if (in_delimiter_line_) {
    out_.Put(eol);
    in_delimiter_line_ = false;
  } else {
    pending_eol_ = eol;
  }
  return true;
}

bool MendPass::Finish() {
  if (!pending_eol_.empty() && !DeliverEnd(*frames_.back(), pending_eol_)) return false;
  pending_eol_.clear();
  while (!frames_.empty()) {
    if (!EndEntity()) return false;
  }
  return out_.Flush();
}

bool MendPass::Going(uint64_t bytes) {
  since_tick_ += bytes;
  if (since_tick_ >= kTickEvery && tick_) {
    since_tick_ = 0;
    if (!tick_()) plan_.stopped = true;
  }
  return !plan_.stopped && out_.Ok();
}

bool MendPass::Cannot(std::u16string reason) {
  if (plan_.reason.empty()) plan_.reason = std::move(reason);
  return false;
}

bool MendPass::IsDelimiterOf(const Frame& f, std::string_view line, bool& closing) {
  if ((f.state != Frame::State::kPreamble && f.state != Frame::State::kInPart) ||
      f.delimiter.empty() || line.substr(0, f.delimiter.size()) != f.delimiter) {
    return false;
  }
  std::string_view rest = line.substr(f.delimiter.size());
  closing = rest.substr(0, 2) == "--";
  if (closing) rest.remove_prefix(2);
  return AllBlank(rest);
}

MendPlan::Entity MendPass::Facts(const Frame& f) const {
  return !Survey() && f.id < plan_.entities.size() ? plan_.entities[f.id] : MendPlan::Entity();
}

bool MendPass::Push(int depth, bool is_message, bool covered, bool in_digest) {
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

void MendPass::Put(Frame& f, std::string_view text) {
  if (f.encoder) {
    f.encoder->Text(text);
  } else {
    out_.Put(text);
  }
}

void MendPass::Changed(const Frame& f, bool in_header) {
  ++edits_;
  if (f.covered) plan_.signature_broken = true;
  if (dkim_ && (f.depth > 0 || !in_header)) plan_.dkim_broken = true;
}

bool MendPass::Hold(Frame& f, std::string_view text) {
  if (f.header.size() + text.size() > kLargestHeader) {
    return Cannot(u"it has a line longer than 10,240 bytes and a header section too large to "
                  u"re-encode");
  }
  f.header.append(text);
  return true;
}

bool MendPass::StartLine(Frame& f, std::string_view head) {
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

bool MendPass::DeliverEnd(Frame& f, std::string_view eol) {
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

uint64_t MendPass::EndRegion(Frame& f) {
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

Delimiters MendPass::DelimitersAround(const Frame& last) const {
  Delimiters delimiters;
  for (const auto& f : frames_) {
    if (!f->delimiter.empty() && Facts(*f).has_parts) delimiters.push_back(f->delimiter);
    if (f.get() == &last) break;
  }
  return delimiters;
}

void MendPass::StartUnseen(Frame& f, bool too_long) {
  if (!too_long || !Facts(f).has_parts) return;
  f.encoder = WrapUnseen(out_, f.eol, DelimitersAround(f));
  Changed(f, false);
}

bool MendPass::Delimiter(size_t index, std::string_view line, bool closing) {
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

}  // namespace mailsheaf::mend
