// Test support: the message of the library exception a call raises.
#pragma once

#include <functional>
#include <string>

#include "platform/kovra_sysutils.h"

namespace kovra::testsupport {

// The message of the kovra::Exception f raises; "" when it raises none.
inline std::string MessageOf(const std::function<void()>& f) {
  try {
    f();
  } catch (const Exception& e) {
    return e.Message();
  }
  return "";
}

}  // namespace kovra::testsupport
