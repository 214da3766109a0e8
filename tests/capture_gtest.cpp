#include <gtest/gtest.h>

#include "invariant.h"

std::string invariant::CaptureOutput(void (*body)()) {
  testing::internal::CaptureStdout();
  body();
  return testing::internal::GetCapturedStdout();
}
