// A fixture for tests of the JPEG graphic: each test runs on a 32-bit display
// with the graphic's default settings, and what was set before is put back.
#pragma once

#include <gtest/gtest.h>

#include "picture/jpeg/Jpeg.h"
#include "toolkit/Graphics.h"

class TJpegSettingsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    FSavedDisplay = DisplayInfo();
    FSavedDefaults = DefaultJpegSettings();
    DisplayInfo().BitsPerPixel = 32;
    DefaultJpegSettings() = TJPEGDefaults{};
  }
  void TearDown() override {
    DisplayInfo() = FSavedDisplay;
    DefaultJpegSettings() = FSavedDefaults;
  }

 private:
  TDisplayInfo FSavedDisplay;
  TJPEGDefaults FSavedDefaults;
};
