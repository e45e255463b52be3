// The common ground of the main window's tests: private XDG folders below a scratch folder, the
// program folder looked up afresh, boxes that wait for their answers and, unless a test asks
// otherwise, default settings past the first run (no burner search, no help page).
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "app/mb.h"
#include "platform/programdir.h"
#include "testutil.h"

class WindowTestBase : public ::testing::Test {
 protected:
  // options: the [Options] lines of default.ini; nullptr writes no default file.
  explicit WindowTestBase(const char* options = "ClrDisk=0\n") : xdg_(tmp_.path()) {
    ResetProgramDirForTest();
    SetMbTerminating(false);
    if (options)
      testutil::WriteFile(ProgramDir() + "default.ini", std::string("[Options]\n") + options);
  }
  ~WindowTestBase() override {
    SetMbTerminating(false);
    ResetProgramDirForTest();
  }

  testutil::TempDir tmp_;
  testutil::IsolatedXdg xdg_;
};
