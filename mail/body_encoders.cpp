#include "mail/body_encoders.h"

#include <algorithm>

namespace mailsheaf {
namespace {

// What the re-encoding writes: body lines as MIME asks.
constexpr size_t kBodyLine = 76;

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

class Base64Encoder final : public BodyEncoder {
 public:
  Base64Encoder(MendOutput& out, std::string eol) : out_(out), eol_(std::move(eol)) {}

  void Text(std::string_view piece) override {
    if (!piece.empty()) trail_.clear();
    for (char c : piece) {
      if (IsBlank(c)) continue;
      if (line_.size() == kBodyLine) {
        out_.Put(line_);
        line_.clear();
        ended_ = false;
      }
      if (line_.empty() && wrote_ && !ended_) {
        out_.Put(eol_);
        ended_ = true;
      }
      line_.push_back(c);
      wrote_ = true;
    }
  }
  void EndLine(std::string_view eol) override {
    if (!eol.empty()) trail_ = eol;
  }
  void Finish() override {
    out_.Put(line_);
    out_.Put(trail_);
  }

 private:
  MendOutput& out_;
  const std::string eol_;
  std::string line_;   // the output line being filled
  bool wrote_ = false;
  bool ended_ = false;  // the line end after the last full line is out
  std::string trail_;  // the body's last line end, while nothing has followed it
};

// Holds the text of the current line from the first byte not yet encoded, so that an encoder
// can look ahead as far as a soft break and a delimiter reach.
class WindowedEncoder : public BodyEncoder {
 public:
  WindowedEncoder(MendOutput& out, std::string eol, Delimiters delimiters)
      : out_(out), eol_(std::move(eol)), delimiters_(std::move(delimiters)) {
    size_t longest = 0;
    for (const std::string& d : delimiters_) longest = std::max(longest, d.size());
    lookahead_ = kBodyLine + longest + 4;
  }

  void Text(std::string_view piece) override {
    window_.append(piece);
    if (window_.size() - done_ >= 2 * lookahead_ + (64 << 10)) {
      Drain(false);
      window_.erase(0, done_);
      done_ = 0;
    }
  }
  void EndLine(std::string_view eol) override {
    Drain(true);
    out_.Put(eol);
    window_.clear();
    done_ = 0;
    at_line_start_ = true;
    line_pos_ = 0;
  }

 protected:
  // Encodes from done_ on; with `complete` false, stops while fewer than lookahead_ bytes are
  // left, since the line may go on.
  virtual void Drain(bool complete) = 0;

  bool LooksLikeDelimiter(std::string_view text) const {
    return std::any_of(delimiters_.begin(), delimiters_.end(), [&](const std::string& d) {
      return text.substr(0, d.size()) == d;
    });
  }
  std::string_view Rest() const { return std::string_view(window_).substr(done_); }
  bool Enough(bool complete) const { return complete || window_.size() - done_ >= lookahead_; }

  MendOutput& out_;
  const std::string eol_;
  const Delimiters delimiters_;
  size_t lookahead_ = 0;
  std::string window_;
  size_t done_ = 0;
  bool at_line_start_ = true;  // no output line of this line has been written yet
  uint64_t line_pos_ = 0;      // bytes of this line encoded so far
};

class SoftBreakEncoder final : public WindowedEncoder {
 public:
  using WindowedEncoder::WindowedEncoder;

 private:
  void Drain(bool complete) override {
    while (Enough(complete)) {
      std::string_view line = Rest();
      size_t room = kBodyLine;
      const bool first = at_line_start_;
      if (!first && !line.empty() && line[0] == '-' && LooksLikeDelimiter(line)) {
        // Decodes the same, and the new line no longer starts like a delimiter.
        out_.Put("=2D");
        line.remove_prefix(1);
        ++done_;
        room -= 3;
      }
      if (line.size() <= room) {  // only when complete: lookahead_ exceeds any room
        out_.Put(line);
        done_ += line.size();
        return;
      }
      size_t cut = room - 1;  // room for the '='
      if (line[cut - 1] == '=') {
        cut -= 1;
      } else if (line[cut - 2] == '=') {
        cut -= 2;
      }
      out_.Put(line.substr(0, cut));
      out_.Put("=");
      out_.Put(eol_);
      done_ += cut;
      at_line_start_ = false;
    }
  }
};

class QuotedPrintableEncoder final : public WindowedEncoder {
 public:
  using WindowedEncoder::WindowedEncoder;

 private:
  void Drain(bool complete) override {
    static const char kHex[] = "0123456789ABCDEF";
    std::string chunk;
    while (done_ < window_.size() && Enough(complete)) {
      const std::string_view rest = Rest();
      const auto byte = static_cast<unsigned char>(rest[0]);
      const bool last = complete && rest.size() == 1;
      const bool literal = (byte >= 33 && byte <= 126 && byte != '=') || (IsBlank(rest[0]) && !last);
      // Room for this character and, unless it ends the line, a soft break after it.
      const size_t width = literal ? 1 : 3;
      if (column_ + width > (last ? kBodyLine : kBodyLine - 1)) {
        chunk.append("=").append(eol_);
        column_ = 0;
      }
      // A new line that would start like a delimiter gets its first dash encoded.
      const bool dash = column_ == 0 && line_pos_ > 0 && byte == '-' && LooksLikeDelimiter(rest);
      if (literal && !dash) {
        chunk.push_back(rest[0]);
        ++column_;
      } else {
        chunk.append({'=', kHex[byte >> 4], kHex[byte & 15]});
        column_ += 3;
      }
      ++done_;
      ++line_pos_;
      if (chunk.size() >= 4096) {
        out_.Put(chunk);
        chunk.clear();
      }
    }
    out_.Put(chunk);
    if (complete) column_ = 0;
  }

  size_t column_ = 0;
};

class UnseenWrapper final : public WindowedEncoder {
 public:
  using WindowedEncoder::WindowedEncoder;

 private:
  void Drain(bool complete) override {
    while (Enough(complete)) {
      const std::string_view line = Rest();
      if (line.size() <= kBodyLine) {  // only when complete
        out_.Put(line);
        done_ += line.size();
        return;
      }
      size_t cut = kBodyLine;
      while (cut > 1 && LooksLikeDelimiter(line.substr(cut))) --cut;
      out_.Put(line.substr(0, cut));
      out_.Put(eol_);
      done_ += cut;
    }
  }
};

}  // namespace

std::unique_ptr<BodyEncoder> Base64Rewrap(MendOutput& out, std::string eol) {
  return std::make_unique<Base64Encoder>(out, std::move(eol));
}
std::unique_ptr<BodyEncoder> SoftBreaks(MendOutput& out, std::string eol, Delimiters delimiters) {
  return std::make_unique<SoftBreakEncoder>(out, std::move(eol), std::move(delimiters));
}
std::unique_ptr<BodyEncoder> QuotedPrintable(MendOutput& out, std::string eol,
                                             Delimiters delimiters) {
  return std::make_unique<QuotedPrintableEncoder>(out, std::move(eol), std::move(delimiters));
}
std::unique_ptr<BodyEncoder> WrapUnseen(MendOutput& out, std::string eol, Delimiters delimiters) {
  return std::make_unique<UnseenWrapper>(out, std::move(eol), std::move(delimiters));
}

}  // namespace mailsheaf
