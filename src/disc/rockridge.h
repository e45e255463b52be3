// Rock Ridge on the ISO 9660 tree: the System Use fields (IEEE P1281 SUSP, IEEE P1282 RRIP 1.12)
// that give Linux readers the real names, modes, owners, times and symbolic links, and the
// relocation of folders deeper than eight levels. Built here, laid into directory records and
// continuation areas by Place, and read back from a disc by ReadSystemUse.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace rr {

using TField = std::vector<uint8_t>;

// "SP": marks the root's "." record as using SUSP (no bytes skipped).
TField SP();
// "ER": names the extension (RRIP 1.12).
TField ER();
// "PX": mode, links, owner, group and serial number.
TField PX(uint32_t mode, uint32_t links, uint32_t uid, uint32_t gid, uint32_t serial);
// "TF": modification, access and attribute-change times in the 7-byte form.
TField TF(int64_t mtime, int64_t atime, int64_t ctime);
// "NM": the name as its bytes, in as many fields as it needs.
std::vector<TField> NM(const std::string& name);
// "SL": a symbolic link's target split into components, in as many fields as it needs.
std::vector<TField> SL(const std::string& target);
// "CL" (a relocated folder's place), "PL" (its real parent), "RE" (the relocated record).
TField CL(uint32_t extent);
TField PL(uint32_t extent);
TField RE();

// Continuation areas, packed into consecutive sectors from Start; with Out set (the buffer of
// those sectors) their bytes are written, else only counted.
struct TContinuation {
  uint32_t Start = 0;
  uint8_t* Out = nullptr;
  uint32_t Sector = 0, Offset = 0;  // where the next area goes, relative to Start
  uint32_t Sectors() const { return Sector + (Offset > 0 ? 1 : 0); }
};

// Lays fields into a record's System Use area of at most room bytes, in order; what does not fit
// goes into continuation areas (each within one sector, chained by "CE"). Returns the area's
// bytes, padded to an even length.
std::vector<uint8_t> Place(const std::vector<TField>& fields, size_t room, TContinuation& ce);

// The 7-byte recording date of an instant: local time with the offset from Greenwich in force
// then. RecordDate reads it back (0 for an unrecorded date).
void PutRecordDate(uint8_t* p, int64_t t);
int64_t RecordDate(const uint8_t* p);

// What the System Use fields of one record say.
struct TEntryInfo {
  bool HasMode = false;
  uint32_t Mode = 0, Uid = 0, Gid = 0;
  bool HasTimes = false;
  int64_t MTime = 0, ATime = 0, CTime = 0;
  bool HasName = false;
  std::string Name;
  bool HasLink = false;
  std::string Link;
  bool HasChild = false;
  uint32_t Child = 0;      // "CL": the extent of the folder that stands here
  bool Relocated = false;  // "RE": listed where the folder was moved to, not where it belongs
  bool HasSP = false;
  uint32_t Skip = 0;  // the SP's bytes to skip at the start of every other area
};

// Reads the System Use area (after skip bytes), following "CE" areas through read (one sector;
// false when it cannot be read) within the volume. At most 32 continuation areas per record; a
// field that overruns its area ends it.
using TSectorReader = std::function<bool(uint32_t lba, uint8_t* sector)>;
void ReadSystemUse(const uint8_t* area, size_t length, uint32_t volumeEnd,
                   const TSectorReader& read, TEntryInfo& out);

}  // namespace rr
