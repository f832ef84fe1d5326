// The module lock of the program: the remote client makes COM objects of its own (proxies, and
// the DOM objects of the value layer it links), which count themselves here.
#include "platform/com/module.h"

namespace com {

Module& ThisModule() {
  static Module module;
  return module;
}

}  // namespace com
