// The media an archive's volumes are written to and read from. The engine asks it for the room on
// a medium, its label, and for the volume files themselves, so that spanned and split archives can
// be written and read over simulated media in tests exactly as over real ones.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "archive/arcunzip.h"
#include "archive/zipstream.h"

class IVolumeService;

class TZipMedia {
 public:
  // Facts come from service; the platform's default when none is given.
  explicit TZipMedia(IVolumeService* service = nullptr);
  virtual ~TZipMedia() = default;

  virtual int64_t FreeBytes(const std::string& path);
  virtual int64_t ClusterSize(const std::string& path);
  virtual int64_t LargestFile(const std::string& path);
  virtual bool IsRemovable(const std::string& path);
  virtual std::string ReadLabel(const std::string& path);
  virtual bool WriteLabel(const std::string& path, const std::string& label);

  virtual bool Exists(const std::string& path);
  // Size and last-write time of an existing volume file; false when it cannot be read.
  virtual bool Stat(const std::string& path, int64_t& size, int64_t& modTimeNs);
  virtual bool Remove(const std::string& path);
  virtual bool Rename(const std::string& from, const std::string& to);
  // A new, empty volume file (an existing one is cut); raises std::system_error on failure.
  virtual std::unique_ptr<THugeStream> CreateVolume(const std::string& path);
  // An existing volume file for reading; raises std::system_error on failure.
  virtual std::unique_ptr<THugeStream> OpenVolume(const std::string& path);

  // What one volume file on the medium holding path may take: its free space, never more than the
  // largest file its file system can hold; 0 when the free space cannot be told.
  int64_t Room(const std::string& path);

 private:
  IVolumeService* service_;
};

// The base name of a set's volumes: the archive name without the extension of its file-name part
// (the text from its last dot on). "week.1.zip" gives "week.1"; a name without a dot is its own.
std::string VolumeBaseName(const std::string& zipName);

// The name of split part partNum (1-based) when no handler names it: bmClassic base.001,
// base.002, ...; bmStandard base.zip for the last part and base.zip.z01, ... for the others.
std::string DefaultPartName(const std::string& base, int partNum, TSplitPartType type,
                            TBlockMode mode);

// The names the program gives split parts: base.z01, base.z02, ... and base.zip for the last.
std::string ProgramPartName(const std::string& base, int partNum, TSplitPartType type);

// The label of spanned volume number (1-based): "PKBACK# 001".
std::string SpanVolumeLabel(int volume);
// True when label names the volume: it ends in the volume number as three digits.
bool SpanLabelMatches(const std::string& label, int volume);
