// What the zip engine asks of the screen. The engine never shows a window itself: every box or
// dialog goes through OnHandleMessage when assigned, otherwise through this interface, which the
// program implements with its message boxes and tests implement with scripted answers.
#pragma once

#include <cstdint>
#include <string>

// Button sets and icons passed as flags of a message box.
enum TZipBoxFlags : uint32_t {
  zbOK = 0x00,
  zbOKCancel = 0x01,
  zbYesNo = 0x04,
  zbIconError = 0x10,
  zbIconQuestion = 0x20,
  zbIconWarning = 0x30,
};

// Button codes returned by a message box.
enum TZipBoxResult : int {
  zrOK = 1,
  zrCancel = 2,
  zrYes = 6,
  zrNo = 7,
};

// Identifiers of the boxes the engine shows (MessageID of OnHandleMessage).
enum TZipMessageId : int {
  zmUnknownMethod = 1,
  zmFileExists = 2,
  zmInsertDisk = 3,
  zmInflateOutOfMemory = 4,
  zmBadAesHeader = 5,
  zmDecoderMemory = 6,
};

// An open dialog of the engine: its title, its filter ("description|patterns" pairs, patterns
// separated by ";") and the folder it starts in.
struct TZipFileDialog {
  std::string Title;
  std::string Filter;
  std::string Folder;
};

class TZipHost {
 public:
  virtual ~TZipHost() = default;

  // Shows a modal box and returns the pressed button (TZipBoxResult).
  virtual int MessageBox(int messageId, const std::string& title, const std::string& text,
                         uint32_t flags) = 0;
  // Lets the user choose an archive file; returns false when cancelled.
  virtual bool ChooseArchiveFile(std::string& fileName) = 0;
  // Lets the user choose a file in the open dialog described; returns false when cancelled.
  virtual bool OpenFileDialog(const TZipFileDialog& dialog, std::string& fileName) = 0;
  // Lets the user choose a folder; returns false when cancelled.
  virtual bool ChooseFolder(std::string& folder) = 0;
  // Dispatches pending window events. Returns true when the application is quitting.
  virtual bool ProcessMessages() { return false; }
  // Waits while an operation is paused (the program dispatches events meanwhile).
  virtual void Sleep(int milliseconds);
};
