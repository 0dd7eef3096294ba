#pragma once
#include <gtest/gtest.h>

#include <cstdlib>

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
    // Journals of actions and the list of what is not duplicates are the
    // test's own, never the user's.
    setenv("XDG_STATE_HOME", (dir / "state").c_str(), 1);
    setenv("XDG_DATA_HOME", (dir / "data").c_str(), 1);
  }
  void TearDown() override {
    ScanContext = TScanContext{};
    unsetenv("XDG_STATE_HOME");
    unsetenv("XDG_DATA_HOME");
  }

  RecordingWindow window;
  TempDir dir;
};

}  // namespace veldrano::testing
