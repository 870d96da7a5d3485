// The message of the CException a piece of test code raises: the kernel
// object tests, on Linux and under Wine, check failures by their words.
#pragma once

#include <functional>
#include <string>

#include "support/Exception.h"

namespace ostrel::test {

inline std::wstring Raised(const std::function<void()>& fn) {
  try {
    fn();
  } catch (const CException& e) {
    return e.GetMessage();
  }
  return L"(nothing raised)";
}

}  // namespace ostrel::test
