#pragma once

#include <gtest/gtest.h>

#include <string>

namespace arm_test {

// Captures standard output until text() or the end of the scope, so a failed
// assertion cannot leave a capture open for the next one.
class StdoutCapture {
 public:
  StdoutCapture() { testing::internal::CaptureStdout(); }
  ~StdoutCapture() {
    if (open_) testing::internal::GetCapturedStdout();
  }
  std::string text() {
    open_ = false;
    return testing::internal::GetCapturedStdout();
  }

 private:
  bool open_ = true;
};

inline int countOf(const std::string& text, const std::string& needle) {
  int n = 0;
  for (size_t at = text.find(needle); at != std::string::npos; at = text.find(needle, at + 1)) ++n;
  return n;
}

}  // namespace arm_test
