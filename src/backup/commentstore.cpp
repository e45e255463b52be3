#include "backup/commentstore.h"

#include "archive/arczip.h"

void SaveArchiveComment(TArcZip& zip, const std::string& comment) {
  zip.SetArchiveComment(comment);
  zip.SaveArchiveChanges();
}
