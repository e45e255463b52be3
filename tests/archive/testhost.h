// A scripted host for engine tests: answers boxes and dialogs from queues, records what was
// shown, and lets a test run code whenever the engine dispatches messages.
#pragma once

#include <deque>
#include <functional>
#include <string>
#include <vector>

#include "archive/ziphost.h"

class ScriptedHost : public TZipHost {
 public:
  struct Box {
    int id;
    std::string title, text;
    uint32_t flags;
  };
  std::vector<Box> boxes;
  std::deque<int> answers;                 // button codes, in order
  std::deque<std::string> files, folders;  // "" = cancel
  std::vector<TZipFileDialog> dialogs;     // the open dialogs shown (answered from files)
  std::function<void()> onProcessMessages;
  int processed = 0;
  int slept = 0;

  int MessageBox(int id, const std::string& title, const std::string& text,
                 uint32_t flags) override {
    boxes.push_back({id, title, text, flags});
    if (answers.empty()) return zrCancel;
    int a = answers.front();
    answers.pop_front();
    return a;
  }
  bool ChooseArchiveFile(std::string& name) override { return Next(files, name); }
  bool OpenFileDialog(const TZipFileDialog& dialog, std::string& name) override {
    dialogs.push_back(dialog);
    return Next(files, name);
  }
  bool ChooseFolder(std::string& folder) override { return Next(folders, folder); }
  bool ProcessMessages() override {
    ++processed;
    if (onProcessMessages) onProcessMessages();
    return false;
  }
  void Sleep(int) override {
    ++slept;
    if (onProcessMessages) onProcessMessages();
  }

 private:
  static bool Next(std::deque<std::string>& q, std::string& out) {
    if (q.empty() || q.front().empty()) {
      if (!q.empty()) q.pop_front();
      return false;
    }
    out = q.front();
    q.pop_front();
    return true;
  }
};
