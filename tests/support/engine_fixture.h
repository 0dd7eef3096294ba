#pragma once
#include <gtest/gtest.h>

#include "scan/scan_context.h"
#include "support/recording_window.h"
#include "support/temp_dir.h"

namespace veldrano::testing {

// Starts each test from a fresh ScanContext reporting to a recorder, with a
// scratch directory of its own.
class EngineTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ScanContext = TScanContext{};
    ScanContext.Window = &window;
    // A run that keeps hashes keeps them here, never in the user's cache.
    ScanContext.HashCacheFolder = dir / "cache/veldrano/";
  }
  void TearDown() override { ScanContext = TScanContext{}; }

  RecordingWindow window;
  TempDir dir;
};

}  // namespace veldrano::testing
