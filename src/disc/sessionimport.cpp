// Reading back the directory tree of a session already on the disc, so that a new session keeps
// the earlier files visible: the Joliet tree when the session has one, else the primary tree.
// Read-back files become entries whose data stays where it is on the disc.
//
// The sectors come from the disc and are not trusted: every record is checked against its
// sector, every extent against the volume, a directory is read at most once (so a directory that
// points back at an ancestor cannot recurse), nesting stops at 255 levels and the whole read-back
// at a fixed number of sectors. What cannot be read is left out with a message; the burn goes on
// with the rest.
#include <algorithm>
#include <cstring>
#include <ctime>
#include <unordered_set>

#include "disc/discburner.h"
#include "disc/rockridge.h"

namespace {

constexpr uint32_t kSector = 2048;
constexpr uint32_t kMaxDepth = 255;
// Directory sectors one read-back may read: more than the largest tree the builder can hold
// (8 191 directories of one sector, and 65 535 records of at most 255 bytes, about 16 000).
constexpr uint32_t kMaxImportSectors = 20480;

uint32_t Le32At(const uint8_t* p) {
  return uint32_t{p[0]} | uint32_t{p[1]} << 8 | uint32_t{p[2]} << 16 | uint32_t{p[3]} << 24;
}

uint32_t SectorsOf(uint64_t bytes) {
  return static_cast<uint32_t>((bytes + kSector - 1) / kSector);
}

// UTF-8 of a UCS-2 (UTF-16) big-endian identifier; pairs of surrogates become one character,
// lone surrogates "_".
std::string NameFromUcs2Be(const uint8_t* p, size_t bytes) {
  std::string out;
  auto put = [&out](char32_t c) {
    if (c < 0x80) {
      out.push_back(static_cast<char>(c));
    } else if (c < 0x800) {
      out.push_back(static_cast<char>(0xC0 | (c >> 6)));
      out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else if (c < 0x10000) {
      out.push_back(static_cast<char>(0xE0 | (c >> 12)));
      out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else {
      out.push_back(static_cast<char>(0xF0 | (c >> 18)));
      out.push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    }
  };
  const size_t n = bytes / 2;
  for (size_t i = 0; i < n; ++i) {
    const char16_t c = static_cast<char16_t>(p[2 * i] << 8 | p[2 * i + 1]);
    if (c >= 0xD800 && c <= 0xDBFF && i + 1 < n) {
      const char16_t d = static_cast<char16_t>(p[2 * i + 2] << 8 | p[2 * i + 3]);
      if (d >= 0xDC00 && d <= 0xDFFF) {
        put(0x10000 + ((char32_t{c} - 0xD800) << 10) + (d - 0xDC00));
        ++i;
        continue;
      }
    }
    put(c >= 0xD800 && c <= 0xDFFF ? U'_' : c);
  }
  return out;
}

}  // namespace

struct TDiscBurner::TImport {
  bool Joliet = false;
  bool Rock = false;       // the primary tree, with its Rock Ridge fields
  uint32_t Skip = 0;       // bytes before the fields of every System Use area
  uint32_t VolumeEnd = 0;  // sectors of the volume: every extent lies below
  uint32_t SectorsLeft = kMaxImportSectors;
  bool Stop = false;
  std::unordered_set<uint32_t> Read;  // directory extents read so far
  std::vector<uint8_t> Sector = std::vector<uint8_t>(kSector);
};

void TDiscBurner::DropImported() {
  bool any = false;
  for (const auto& d : dirs_) {
    TFEntry* prev = nullptr;
    for (TFEntry* e = d->FirstChild; e;) {
      TFEntry* next = e->Next;
      if (e->Imported && !e->Directory) {
        (prev ? prev->Next : d->FirstChild) = next;
        if (d->LastChild == e) d->LastChild = prev;
        d->Names.Release(e->ShortName, e->JolietName);
        d->Files.erase(e->Key);
        any = true;
      } else {
        prev = e;
      }
      e = next;
    }
  }
  if (any) {
    files_.erase(std::remove_if(files_.begin(), files_.end(),
                                [](TFEntry* f) {
                                  if (!f->Imported) return false;
                                  delete f;
                                  return true;
                                }),
                 files_.end());
  }
  // Deepest first (a folder is made after its parent), so emptied parents go too.
  for (size_t i = dirs_.size(); i-- > 1;) {
    TDEntry* d = dirs_[i].get();
    if (d->Imported && !d->FirstChild) {
      RemoveSubtree(d);
      any = true;
    }
  }
  if (any) {
    imageBuilt_ = false;
    prepared_ = false;
  }
}

TDiscBurner::TEntryResult TDiscBurner::AddImported(TDEntry* dir, const std::string& name,
                                                   uint32_t location, uint32_t size,
                                                   int64_t dateTime, bool hidden,
                                                   const rr::TEntryInfo* info) {
  // A file added for this session keeps its place and its new data; the earlier one stays on
  // the disc, no longer listed. (Taking the earlier one over would leave the new data out.)
  if (dir->Files.count(name)) return TEntryResult::Refused;
  std::string longName = name.find('.') == std::string::npos ? name + "." : name;
  std::string shortName = dir->Names.ShortName83(longName, true);
  std::u16string jolietName;
  const uint32_t attr = hidden ? 0x02u : 0u;
  if (OnAddFile) {
    bool skip = false;
    const std::string givenLong = longName, givenShort = shortName;
    OnAddFile(this, "", longName, shortName, dateTime, attr, size, skip);
    if (skip) return TEntryResult::Refused;
    if (shortName != givenShort) shortName = dir->Names.FixShortName(shortName, true);
    if (longName != givenLong) jolietName = dir->Names.JolietName(longName, true);
  }
  if (files_.size() >= maxFiles_) {
    DebugMessage("MAXIMUM FILES CAN BE " + std::to_string(maxFiles_), dmCapacity);
    return TEntryResult::Full;
  }
  TFEntry* entry = NewFile(dir, name, shortName, longName, jolietName);
  entry->DataSize = entry->RecordedSize = size;
  entry->Attr = attr;
  entry->DateTime = dateTime;
  entry->Imported = 1;
  entry->IsoLocation = entry->JolietLocation = size == 0 ? 0 : location;
  if (info) {
    if (info->HasMode) entry->Mode = info->Mode;
    entry->Uid = info->Uid;
    entry->Gid = info->Gid;
    entry->ATime = info->ATime;
    entry->CTime = info->CTime;
    if (info->HasLink) {
      entry->IsLink = true;
      entry->LinkTarget = info->Link;
      entry->DataSize = entry->RecordedSize = 0;
      entry->IsoLocation = entry->JolietLocation = 0;
    }
  }
  imageBuilt_ = false;
  prepared_ = false;
  return TEntryResult::Added;
}

bool TDiscBurner::ImportExtent(TImport& im, TDEntry* dir, uint32_t extent, uint32_t size) {
  const uint32_t sectors = SectorsOf(size);
  const std::string where = dir->FullPath;
  auto problem = [&](const std::string& what, const std::string& name) {
    DebugMessage(">>> ERROR IMPORTING SESSION, " + what + "\n\r" + where +
                     (name.empty() || where == "/" ? "" : "/") + name,
                 dmPath);
  };
  std::string multiExtent;  // the name of a file recorded in several extents, left out
  const rr::TSectorReader readSector = [&](uint32_t lba, uint8_t* out) {
    if (im.SectorsLeft == 0) return false;
    --im.SectorsLeft;
    return ReadSectors(lba, 1, out) == SS_COMP;
  };
  for (uint32_t s = 0; s < sectors && !im.Stop; ++s) {
    if (im.SectorsLeft == 0) {
      DebugMessage(">>> ERROR IMPORTING SESSION, DIRECTORIES TOO LARGE", dmPath);
      im.Stop = true;
      break;
    }
    --im.SectorsLeft;
    uint8_t* sector = im.Sector.data();
    if (ReadSectors(extent + s, 1, sector) != SS_COMP) {
      DebugMessage(">>> ERROR IMPORTING SESSION, CANNOT READ SECTOR " + std::to_string(extent + s),
                   dmPath);
      return true;  // the rest of this directory is lost; its siblings may still be read
    }
    // The records of this sector: ones still to read lie in a copy, as reading a subdirectory
    // reuses the buffer.
    const std::vector<uint8_t> copy(sector, sector + kSector);
    const uint8_t* p = copy.data();
    uint32_t off = 0;
    while (off < kSector - 33 && !im.Stop) {
      const uint32_t len = p[off];
      if (len == 0) break;  // the rest of the sector is padding
      const uint32_t idLen = off + 32 < kSector ? p[off + 32] : 0;
      if (len < 34 || off + len > kSector || 33 + idLen > len) {
        problem("DIRECTORY RECORD OVERRUNS ITS SECTOR", "");
        break;
      }
      const uint8_t* r = p + off;
      off += len;
      const uint8_t* id = r + 33;
      if (idLen == 1 && (id[0] == 0 || id[0] == 1)) continue;  // "." and ".."
      const uint8_t flags = r[25];
      std::string name = im.Joliet ? NameFromUcs2Be(id, idLen)
                                   : std::string(reinterpret_cast<const char*>(id), idLen);
      if (im.Joliet ? idLen > 214 : idLen >= 240) {
        DebugMessage("ERROR IMPORTING SESSION, FILE NAME LENGTH EXCEEDS 120 CHARS\n\r" + name,
                     dmPath);
        continue;
      }
      rr::TEntryInfo info;
      if (im.Rock) {
        const size_t su = DirRecordLength(idLen) + im.Skip;
        if (su < len) rr::ReadSystemUse(r + su, len - su, im.VolumeEnd, readSector, info);
        // A relocated folder is read at its real place, through the record that points to it.
        if (info.Relocated) continue;
      }
      bool isDir = (flags & 0x02) != 0;
      if (info.HasName) {
        if (info.Name.size() > 255) {
          problem("FILE NAME LONGER THAN 255 BYTES", "");
          continue;
        }
        name = info.Name;
      } else {
        name = name.substr(0, name.find(';'));
        // A primary-tree name without an extension is recorded with a trailing ".".
        if (!im.Joliet && !isDir && name.size() > 1 && name.back() == '.') name.pop_back();
      }
      // Paths on the disc are joined with "/", and names end at a zero byte.
      std::replace(name.begin(), name.end(), '/', '_');
      std::replace(name.begin(), name.end(), '\0', '_');
      if (name.empty() || name == "." || name == "..") {
        problem("INVALID NAME", name);
        continue;
      }
      if (flags & 0x04) continue;  // an associated file (another system's resource data)
      if (!multiExtent.empty() && name == multiExtent) continue;
      multiExtent.clear();
      if (flags & 0x80) {
        // Only the last extent of such a file carries no flag: none of its pieces is taken.
        problem("FILE IN SEVERAL EXTENTS", name);
        multiExtent = name;
        continue;
      }
      uint64_t location = uint64_t{Le32At(r + 2)} + r[1];  // after extended attributes
      uint32_t dataLength = Le32At(r + 10);
      const bool hidden = (flags & 0x01) != 0;
      const int64_t date = info.HasTimes ? info.MTime : rr::RecordDate(r + 18);
      if (info.HasChild) {
        // The place of a relocated folder: its size is in its own "." record.
        std::vector<uint8_t> first(kSector);
        if (info.Child >= im.VolumeEnd || !readSector(info.Child, first.data())) {
          problem("EXTENT OUTSIDE THE DISC", name);
          continue;
        }
        isDir = true;
        location = info.Child;
        dataLength = Le32At(first.data() + 10);
      }
      if (!isDir && info.HasLink) {
        if (AddImported(dir, name, 0, 0, date, hidden, &info) == TEntryResult::Full) im.Stop = true;
        continue;
      }
      const bool inside = location + SectorsOf(dataLength) <= im.VolumeEnd;
      if (!isDir) {
        if (dataLength > 0 && !inside) {
          problem("EXTENT OUTSIDE THE DISC", name);
          continue;
        }
        if (AddImported(dir, name, static_cast<uint32_t>(location), dataLength, date, hidden,
                        im.Rock ? &info : nullptr) == TEntryResult::Full)
          im.Stop = true;
        continue;
      }
      if (dataLength == 0 || !inside) {
        problem("EXTENT OUTSIDE THE DISC", name);
        continue;
      }
      if (!im.Read.insert(static_cast<uint32_t>(location)).second) {
        problem("DIRECTORY LOOP", name);
        continue;
      }
      if (dir->Level + 1 > kMaxDepth) {
        problem("DIRECTORIES NESTED TOO DEEPLY", name);
        continue;
      }
      TDEntry* sub = FindDir((dir->FullPath == "/" ? "" : dir->FullPath) + "/" + name);
      const bool made = sub == nullptr;
      if (made) {
        sub = NewDir(dir, name, dir->Names.ShortName13(name), date, 0x10 | (hidden ? 0x02 : 0));
        if (!sub) {
          im.Stop = true;
          break;
        }
        sub->Imported = true;
        if (info.HasMode) {
          TFEntry* rec = sub->Record.get();
          rec->Mode = info.Mode;
          rec->Uid = info.Uid;
          rec->Gid = info.Gid;
          rec->ATime = info.ATime;
          rec->CTime = info.CTime;
        }
      }
      if (!ImportExtent(im, sub, static_cast<uint32_t>(location), dataLength)) im.Stop = true;
      // The relocation folder holds only relocated folders, read at their places: it goes.
      if (made && im.Rock && !sub->FirstChild) RemoveSubtree(sub);
    }
  }
  return !im.Stop;
}

void TDiscBurner::ImportSessionTree() {
  if (ImageLocked()) return;
  DropImported();
  if (ImportSession == 0) return;
  const int count = SessionCount();
  if (count <= 0) return;
  const int session = ImportSession < 0 || ImportSession > count ? count : ImportSession;
  const std::string number = std::to_string(session);
  DebugMessage(">>> IMPORTING SESSION # " + number, dmInfo);
  uint8_t track[40] = {};
  uint32_t got = 0;
  if (ReadTrackInfo(static_cast<uint32_t>(session), track, &got) != SS_COMP || got < 12) {
    DebugMessage(">>> ERROR IMPORTING SESSION # " + number, dmPath);
    return;
  }
  const uint32_t start = BigEndian(track + 8, 4);

  // The primary tree when it has Rock Ridge (the real names, modes, times and links), else the
  // Joliet tree, else the primary tree with its ISO names.
  TImport im;
  struct TVolume {
    bool Found = false;
    uint32_t End = 0, RootExtent = 0, RootSize = 0;
  } primary, joliet;
  for (uint32_t lba = 16; lba <= 36; ++lba) {
    uint8_t* d = im.Sector.data();
    if (uint64_t{start} + lba > 0xFFFFFFFFu || ReadSectors(start + lba, 1, d) != SS_COMP) break;
    if (std::memcmp(d + 1, "CD001", 5) != 0) continue;
    if (d[0] == 255) break;
    // A supplementary descriptor is Joliet only with one of the Joliet escape sequences.
    const bool isJoliet = d[0] == 2 && d[88] == 0x25 && d[89] == 0x2F &&
                          (d[90] == 0x40 || d[90] == 0x43 || d[90] == 0x45);
    TVolume& v = d[0] == 1 ? primary : joliet;
    if ((d[0] != 1 && !isJoliet) || v.Found) continue;
    v.Found = true;
    v.End = Le32At(d + 80);
    v.RootExtent = Le32At(d + 156 + 2) + d[156 + 1];
    v.RootSize = Le32At(d + 156 + 10);
  }
  if (primary.Found && primary.RootSize > 0 && primary.RootExtent < primary.End &&
      ReadSectors(primary.RootExtent, 1, im.Sector.data()) == SS_COMP) {
    // SUSP marks its use with "SP" first in the root's "." record.
    const uint8_t* dot = im.Sector.data();
    rr::TEntryInfo info;
    if (dot[0] > 34 && dot[32] == 1)
      rr::ReadSystemUse(dot + 34, std::min<size_t>(dot[0] - 34, 7), primary.End, {}, info);
    im.Rock = info.HasSP;
    im.Skip = info.Skip;
  }
  const TVolume& chosen = im.Rock || !joliet.Found ? primary : joliet;
  const bool found = chosen.Found;
  im.Joliet = !im.Rock && joliet.Found;
  im.VolumeEnd = chosen.End;
  const uint32_t rootExtent = chosen.RootExtent, rootSize = chosen.RootSize;
  if (!found) {
    DebugMessage(">>> ERROR IMPORTING SESSION " + number + " (ISO IMAGE NOT FOUND)", dmPath);
    return;
  }
  if (rootSize == 0 || uint64_t{rootExtent} + SectorsOf(rootSize) > im.VolumeEnd) {
    DebugMessage(">>> ERROR IMPORTING SESSION, EXTENT OUTSIDE THE DISC\n\r/", dmPath);
    return;
  }
  im.Read.insert(rootExtent);
  ImportExtent(im, Root(), rootExtent, rootSize);
}

void TDiscBurner::DropOverwritten() {
  // Read-back data at or after the new session's start would be overwritten by it (a disc whose
  // next writable address is not past its volume): such files are left out rather than listed
  // with the new session's bytes.
  bool any = false;
  for (TFEntry* f : files_) {
    if (!f->Imported || f->DataSize == 0) continue;
    if (uint64_t{f->IsoLocation} + SectorsOf(static_cast<uint64_t>(f->DataSize)) > nwa_) {
      any = true;
      break;
    }
  }
  if (!any) return;
  for (const auto& d : dirs_) {
    TFEntry* prev = nullptr;
    for (TFEntry* e = d->FirstChild; e;) {
      TFEntry* next = e->Next;
      const bool overwritten =
          e->Imported && !e->Directory && e->DataSize > 0 &&
          uint64_t{e->IsoLocation} + SectorsOf(static_cast<uint64_t>(e->DataSize)) > nwa_;
      if (overwritten) {
        DebugMessage(">>> ERROR IMPORTING SESSION, DATA WOULD BE OVERWRITTEN\n\r" + d->FullPath +
                         (d->FullPath == "/" ? "" : "/") + e->Key,
                     dmPath);
        (prev ? prev->Next : d->FirstChild) = next;
        if (d->LastChild == e) d->LastChild = prev;
        d->Names.Release(e->ShortName, e->JolietName);
        d->Files.erase(e->Key);
        e->Imported = 2;  // marked for deletion below
      } else {
        prev = e;
      }
      e = next;
    }
  }
  files_.erase(std::remove_if(files_.begin(), files_.end(),
                              [](TFEntry* f) {
                                if (f->Imported != 2) return false;
                                delete f;
                                return true;
                              }),
               files_.end());
}
