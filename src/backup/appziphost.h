// The zip engine's host in the program: its boxes are the program's message boxes, and while it
// works it keeps the window alive by dispatching pending events.
#pragma once

#include <chrono>
#include <string>

#include "archive/ziphost.h"

class TAppZipHost : public TZipHost {
 public:
  int MessageBox(int messageId, const std::string& title, const std::string& text,
                 uint32_t flags) override;
  // No file or folder is chosen through the engine: the program's commands name the archives
  // themselves (the repair command asks for both names before it calls the engine).
  bool ChooseArchiveFile(std::string&) override { return false; }
  bool OpenFileDialog(const TZipFileDialog&, std::string&) override { return false; }
  bool ChooseFolder(std::string&) override { return false; }
  // Dispatches pending events (at most every kDispatchInterval); true once the program has been
  // told to terminate.
  bool ProcessMessages() override;
  void Sleep(int milliseconds) override;

  static constexpr std::chrono::milliseconds kDispatchInterval{5};

 private:
  std::chrono::steady_clock::time_point lastDispatch_{};
};
