#include "archive/atomic_output.h"

#include <random>

#include "mail/temporary_name.h"

namespace mailsheaf {

bool AtomicOutput::Create(const std::u16string& destination, std::u16string& error) {
  const char16_t separator = fs_.Separator();
  if (destination.empty()) {
    error = u"No destination file was given.";
    return false;
  }
  if (destination.back() == separator || fs_.IsFolder(destination)) {
    error = u"The destination " + destination + u" is a folder, not a file name.";
    return false;
  }
  const size_t cut = destination.rfind(separator);
  destination_ = destination;
  folder_ = destination.substr(0, cut + 1);
  name_ = destination.substr(cut + 1);
  if (!fs_.IsFolder(folder_)) {
    error = u"The destination folder " + folder_ + u" does not exist.";
    return false;
  }
  std::u16string reason = u"no free temporary name";
  if (ChooseTemporaryName()) file_ = fs_.CreateNew(folder_ + temporary_name_, reason);
  if (!file_) {
    temporary_name_.clear();
    error = u"Cannot create a file in the destination folder " + folder_ + u": " + reason;
    return false;
  }
  return true;
}

bool AtomicOutput::ChooseTemporaryName() {
  std::random_device seed;
  std::mt19937 random(seed());
  for (int attempt = 0; attempt < 100; ++attempt) {
    std::u16string name = TemporaryName(name_, static_cast<uint32_t>(random()));
    if (!fs_.Exists(folder_ + name)) {
      temporary_name_ = std::move(name);
      return true;
    }
  }
  return false;
}

bool AtomicOutput::Put(const unsigned char* data, size_t size) {
  return file_ && file_->Write(data, size, error_);
}

bool AtomicOutput::Seal(std::u16string& error) {
  std::u16string reason;
  if (!file_ || !file_->Commit(reason)) {
    error = u"Cannot write " + what_ + u" " + destination_ + u": " + reason;
    file_.reset();
    return false;
  }
  return true;
}

bool AtomicOutput::PutInPlace(std::u16string& error) {
  std::u16string reason;
  const bool moved = file_ && file_->MoveOver(name_, reason);
  file_.reset();
  if (!moved) {
    error = u"Cannot put " + what_ + u" in place at " + destination_ + u": " + reason;
    return false;
  }
  return true;
}

void AtomicOutput::Discard() {
  if (file_) file_->Close();
  file_.reset();
}

}  // namespace mailsheaf
