// Storing an archive's comment.
//
// With an engine that rewrites archives (SaveArchiveChanges), the comment is set on the engine
// and the archive rewritten. Without one, the end record at the end of the file is rewritten in
// place: its comment length and the comment are the last bytes of every single-file archive, so
// nothing before them changes.
#pragma once

#include <string>

class TArcUnZip;

// Rewrites the comment behind the end record of the archive the engine has read (ZipName) and
// sets it on the engine. Raises EArcZipException when the file cannot be written or its end
// record is not where the engine read it.
void WriteEndRecordComment(TArcUnZip& zip, const std::string& comment);

// The engine's ArchiveComment := comment, then the archive is written. The engine must have read
// the archive (ReadArchive).
template <class Zip>
void SaveArchiveComment(Zip& zip, const std::string& comment) {
  if constexpr (requires(Zip & z) { z.SaveArchiveChanges(); }) {
    zip.SetArchiveComment(comment);
    zip.SaveArchiveChanges();
  } else {
    WriteEndRecordComment(zip, comment);
  }
}
