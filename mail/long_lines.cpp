#include "mail/long_lines.h"

#include <algorithm>
#include <memory>

#include "mail/mend_pass.h"

namespace mailsheaf {
namespace {

using Outcome = MendPlan::Outcome;
using mend::MendPass;
using mend::Pass;

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
