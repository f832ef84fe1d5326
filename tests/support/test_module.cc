// The module lock of a test executable that makes objects of its own.
#include "platform/com/module.h"

namespace com {
Module& ThisModule() {
  static Module module;
  return module;
}
}  // namespace com
