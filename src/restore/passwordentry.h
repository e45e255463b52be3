// The password dialog's rules, without the widgets: the password is typed twice and the dialog
// closes (by "OK", "Cancel" or the close box) only when both edits hold the same text.
#pragma once

#include <QString>

namespace restore {

namespace passwordmsg {
inline constexpr const char* kCaption = "Password Dialog";
inline constexpr const char* kPrompt = "Enter same password twice:";
inline constexpr const char* kNotSame = "Not same password";
}  // namespace passwordmsg

class TPasswordEntry {
 public:
  // The label above the edits.
  QString label = QString::fromLatin1(passwordmsg::kPrompt);
  // The two masked edits.
  QString password;
  QString password2;
  // Where the caret goes: the first edit, at its start (on opening and after a mismatch).
  bool focusFirst = true;
  int caretPosition = 0;

  // The dialog is about to close. True when it may: both edits hold the same text. Otherwise the
  // label reads "Not same password", both edits are emptied and the first gets the focus.
  bool CanClose();
};

}  // namespace restore
