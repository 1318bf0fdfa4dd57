#include <condition_variable>
#include <mutex>

#include "base/wait_lock.h"

namespace mailsheaf {

struct WaitLock::State {
  std::mutex mutex;
  std::condition_variable condition;
};

WaitLock::WaitLock() : state_(std::make_unique<State>()) {}
WaitLock::~WaitLock() = default;

void WaitLock::Lock() { state_->mutex.lock(); }
void WaitLock::Unlock() { state_->mutex.unlock(); }

void WaitLock::Wait() {
  std::unique_lock<std::mutex> held(state_->mutex, std::adopt_lock);
  state_->condition.wait(held);
  held.release();
}

void WaitLock::WakeAll() { state_->condition.notify_all(); }

}  // namespace mailsheaf
