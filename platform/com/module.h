// The lock count of one loaded library. Each shared object that implements COM classes defines
// its own `com::ThisModule()` (symbols are hidden, so every library binds its own); objects,
// class objects with outside references and LockServer raise it, and DllCanUnloadNow reads it.
#pragma once

#include <atomic>

#include "platform/com/types.h"

namespace com {

class Module {
 public:
  LONG Lock() { return ++locks_; }
  LONG Unlock() { return --locks_; }
  LONG LockCount() const { return locks_.load(); }

 private:
  std::atomic<LONG> locks_{0};
};

// Defined once per library (or test executable) that makes COM objects.
Module& ThisModule();

}  // namespace com
