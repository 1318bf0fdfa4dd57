#include "archive/sizing_walk.h"

#include "mail/importer_rules.h"
#include "archive/tar_header.h"

namespace mailsheaf {
namespace {

class SizingVisitor final : public TreeVisitor {
 public:
  explicit SizingVisitor(const std::atomic<bool>& stop) : stop_(stop) {}
  bool OnFolder(const WalkFolder& folder) override {
    total += TarEntryBytes(folder.stored.size(), 0);
    return true;
  }
  bool OnMessage(const WalkMessage& message) override {
    if (TooLargeToStore(message.listed_size)) {
      refusal = TooLargeReason(message.path);
      return false;
    }
    total += TarEntryBytes(message.stored.size(), message.listed_size);
    return true;
  }
  // Not reported: the writing walk meets the same problem and reports it.
  void OnProblem(std::u16string) override {}
  bool Stopped() override { return stop_.load(std::memory_order_relaxed); }

  uint64_t total = kTarEndSize;
  std::u16string refusal;

 private:
  const std::atomic<bool>& stop_;
};

}  // namespace

void SizingWalker::Start(const std::u16string& root, const WalkExclusion& exclusion) {
  Stop();
  root_ = root;
  exclusion_ = exclusion;
  stop_ = false;
  known_ = false;
  total_ = 0;
  refusal_.clear();
  if (mode_ == SizingWalk::kBeforeWriting) {
    Walk();
  } else {
    thread_ = std::thread([this] { Walk(); });
  }
}

void SizingWalker::Walk() {
  SizingVisitor visitor(stop_);
  total_ = WalkTree(fs_, root_, exclusion_, visitor) ? visitor.total : 0;
  refusal_ = std::move(visitor.refusal);
  known_.store(true, std::memory_order_release);
}

void SizingWalker::Stop() {
  stop_ = true;
  if (thread_.joinable()) thread_.join();
}

}  // namespace mailsheaf
