#include "restore/versionfolder.h"

namespace restore {

QString NoSuffix(const QString& path) {
  // Positions counted from 1 as in the stored-path rule: p of "/#" (0 when absent), q of "#/".
  const qsizetype slashHash = path.indexOf(QLatin1String("/#"));
  const qsizetype hashSlash = path.indexOf(QLatin1String("#/"));
  if (hashSlash < 0) return path;
  const qsizetype p = slashHash < 0 ? 0 : slashHash + 1;
  const qsizetype q = hashSlash + 1;
  if (q - p != 10) return path;
  return path.left(p);
}

}  // namespace restore
