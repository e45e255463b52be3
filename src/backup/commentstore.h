// Storing an archive's comment: set on the engine, then the archive rewritten with it.
#pragma once

#include <string>

class TArcZip;

// The engine's ArchiveComment := comment, then the archive is written (SaveArchiveChanges).
// The engine must have read the archive (ReadArchive); raises as SaveArchiveChanges does.
void SaveArchiveComment(TArcZip& zip, const std::string& comment);
