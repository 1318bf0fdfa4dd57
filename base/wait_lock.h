#pragma once
// A lock with one condition to wait on, for threads that hand work to one another.
//
// Why not std::mutex and std::condition_variable: in the Windows build they come from the
// mingw-w64 pthreads layer, whose waits and wakes are kernel event objects. Under Wine every
// one of those is a round trip to the wineserver: a hand-over and back between two threads
// took about 100 us that way on the project's machine, against about 20 us here. The Windows
// side uses the system's slim locks and condition variables where it has them (Vista on),
// which Wine runs on futexes without the server; elsewhere the standard ones.

#include <memory>

namespace mailsheaf {

class WaitLock {
 public:
  WaitLock();
  ~WaitLock();
  WaitLock(const WaitLock&) = delete;
  WaitLock& operator=(const WaitLock&) = delete;

  void Lock();
  void Unlock();
  // With the lock held: lets it go until WakeAll (or for no reason: check the condition again)
  // and returns with it held.
  void Wait();
  void WakeAll();

  class Held {
   public:
    explicit Held(WaitLock& lock) : lock_(lock) { lock_.Lock(); }
    ~Held() { lock_.Unlock(); }
    Held(const Held&) = delete;
    Held& operator=(const Held&) = delete;

   private:
    WaitLock& lock_;
  };

 private:
  struct State;
  std::unique_ptr<State> state_;
};

}  // namespace mailsheaf
