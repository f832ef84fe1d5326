#include "platform/com/module.h"

namespace com {

// The runtime's own objects (error objects, enumerators) count on the runtime library.
Module& ThisModule() {
  static Module module;
  return module;
}

}  // namespace com
