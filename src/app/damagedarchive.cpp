#include "app/damagedarchive.h"

#include "app/mb.h"
#include "app/pathbytes.h"
#include "archive/arczip.h"

namespace {

QString S(const char* s) {
  return QString::fromLatin1(s);
}

}  // namespace

QString DirectoryDamageText(const TArcUnZip& zip) {
  return PathText(zip.DirectoryDamage());
}

QString DamagedRewriteRefusal(TArcZip& zip, bool userThere) {
  if (zip.DirectoryDamage().empty()) return {};
  const QString name = PathText(zip.ZipName());
  const QString damage = DirectoryDamageText(zip);
  // No box waits for a user who is not there: the default answer, No, is taken without one.
  if (userThere && !MbUnattended() &&
      MbMessage(S(damagedmsg::kRewriteQuestion).arg(name, damage), S(damagedmsg::kCaption), false,
                MB_YESNO + MB_ICONEXCLAMATION + MB_DEFBUTTON2) == IDYES) {
    zip.RewriteDamaged = true;
    return {};
  }
  return S(damagedmsg::kNotChanged).arg(name, damage);
}

bool ConfirmDamagedRewrite(TArcZip& zip) {
  const QString refusal = DamagedRewriteRefusal(zip, true);
  if (refusal.isEmpty()) return true;
  // Answered by the unattended sink at once; a user who said No has been told enough.
  if (MbUnattended()) MbMessage(refusal, S(damagedmsg::kCaption), false, MB_ICONERROR);
  return false;
}
