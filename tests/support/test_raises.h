// Test support: the message of an expected exception.
#pragma once

#include <string>

#include "platform/kovra_sysutils.h"

namespace kovra::testsupport {

// Runs f and returns the message of the E it raises ("" when it raises
// nothing); an exception of another type passes through and fails the test.
template <typename E = Exception, typename F>
std::string MessageOf(F&& f) {
  try {
    f();
  } catch (const E& e) {
    return e.Message();
  }
  return "";
}

}  // namespace kovra::testsupport
