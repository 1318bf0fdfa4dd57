#include <windows.h>

#include <condition_variable>
#include <mutex>

#include "base/wait_lock.h"

namespace mailsheaf {
namespace {

// The slim lock and condition variable calls, looked up once: Windows before Vista has none.
struct SlimCalls {
  using LockCall = VOID(WINAPI*)(PSRWLOCK);
  using SleepCall = BOOL(WINAPI*)(PCONDITION_VARIABLE, PSRWLOCK, DWORD, ULONG);
  using WakeCall = VOID(WINAPI*)(PCONDITION_VARIABLE);
  LockCall acquire = nullptr;
  LockCall release = nullptr;
  SleepCall sleep = nullptr;
  WakeCall wake_all = nullptr;
  bool present = false;

  SlimCalls() {
    const HMODULE kernel32 = GetModuleHandleW(L"kernel32.dll");
    if (kernel32 == nullptr) return;
    acquire = reinterpret_cast<LockCall>(
        reinterpret_cast<void*>(GetProcAddress(kernel32, "AcquireSRWLockExclusive")));
    release = reinterpret_cast<LockCall>(
        reinterpret_cast<void*>(GetProcAddress(kernel32, "ReleaseSRWLockExclusive")));
    sleep = reinterpret_cast<SleepCall>(
        reinterpret_cast<void*>(GetProcAddress(kernel32, "SleepConditionVariableSRW")));
    wake_all = reinterpret_cast<WakeCall>(
        reinterpret_cast<void*>(GetProcAddress(kernel32, "WakeAllConditionVariable")));
    present = acquire && release && sleep && wake_all;
  }
};

const SlimCalls& Slim() {
  static const SlimCalls calls;
  return calls;
}

}  // namespace

struct WaitLock::State {
  // Both start zeroed, which is their initial state; only one pair is used.
  SRWLOCK slim_lock = SRWLOCK_INIT;
  CONDITION_VARIABLE slim_condition = CONDITION_VARIABLE_INIT;
  std::mutex mutex;
  std::condition_variable condition;
  const SlimCalls& slim = Slim();
};

WaitLock::WaitLock() : state_(std::make_unique<State>()) {}
WaitLock::~WaitLock() = default;

void WaitLock::Lock() {
  if (state_->slim.present) {
    state_->slim.acquire(&state_->slim_lock);
  } else {
    state_->mutex.lock();
  }
}

void WaitLock::Unlock() {
  if (state_->slim.present) {
    state_->slim.release(&state_->slim_lock);
  } else {
    state_->mutex.unlock();
  }
}

void WaitLock::Wait() {
  if (state_->slim.present) {
    state_->slim.sleep(&state_->slim_condition, &state_->slim_lock, INFINITE, 0);
    return;
  }
  std::unique_lock<std::mutex> held(state_->mutex, std::adopt_lock);
  state_->condition.wait(held);
  held.release();
}

void WaitLock::WakeAll() {
  if (state_->slim.present) {
    state_->slim.wake_all(&state_->slim_condition);
  } else {
    state_->condition.notify_all();
  }
}

}  // namespace mailsheaf
