#include "restore/passwordentry.h"

namespace restore {

bool TPasswordEntry::CanClose() {
  if (password == password2) return true;
  label = QString::fromLatin1(passwordmsg::kNotSame);
  password.clear();
  password2.clear();
  focusFirst = true;
  caretPosition = 0;
  return false;
}

}  // namespace restore
