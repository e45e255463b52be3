// The extra fields that carry what a Unix user expects back from an archive: the modification
// time in UTC (Info-ZIP extended timestamp 0x5455, and the NTFS times field 0x000A for times the
// 32-bit field cannot hold), the owner (Info-ZIP Unix field 0x7875), and the Unicode forms of a
// name and a comment (Info-ZIP 0x7075 and 0x6375).
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <ctime>
#include <string>

#include "archive/ziprecords.h"

inline constexpr uint16_t kExtTimeExtraId = 0x5455;    // "UT"
inline constexpr uint16_t kUnixOwnerExtraId = 0x7875;  // "ux"
inline constexpr uint16_t kNtfsExtraId = 0x000A;
inline constexpr uint16_t kUnicodeCommentExtraId = 0x6375;

// The fields written on every new entry, the same in its local header and its central record:
// 0x5455 with the modification time alone (flags 1) when it fits the field's signed 32 bits,
// otherwise 0x000A with the time in 100 ns steps since 1601 (modification, access and creation
// all set to it); and 0x7875 version 1 with 4-byte uid and gid.
std::string UnixExtraFields(int64_t mtime, uid_t uid, gid_t gid);

// The fields of extra that UnixExtraFields writes (0x5455, 0x000A, 0x7875), as they stand: the
// local header carries the central record's copy of them.
std::string UnixFieldsOf(const std::string& extra);

// The entry's modification time in seconds since the epoch: the 0x5455 field, else the 0x000A
// field, else the DOS date-time read as local time. exact is set when it came from one of the
// fields (a UTC time to the second). False when there is none (an invalid DOS date).
bool EntryModTime(const TZipHeaderInfo& h, std::time_t& out, bool* exact = nullptr);

// The owner the 0x7875 field names; false when the entry has none.
bool EntryOwner(const TZipHeaderInfo& h, uid_t& uid, gid_t& gid);

// The UTF-8 name of a 0x7075 field in extra that belongs to raw (version 1, the CRC-32 of raw),
// or "" when there is none or it does not belong.
std::string UnicodePathOf(const std::string& extra, const std::string& raw);

// The entry's comment as UTF-8 from its 0x6375 field when that belongs to the stored comment,
// otherwise the stored comment.
std::string EntryComment(const TZipHeaderInfo& h);

// True when the name a local header holds (with its extra field) is the entry's: the same bytes
// as the central record's, or the same name once a Unicode path field of either is taken.
bool LocalNameMatches(const TZipHeaderInfo& h, const std::string& localName,
                      const std::string& localExtra);

// True when a central record without a trailing "/" is a folder all the same: its Unix mode says
// so, or, without one, the MS-DOS directory attribute (0x10); and it holds no data.
bool FolderByAttribute(const TZipHeaderInfo& h);
