// Exceptions of the zip engine. Whole-operation failures raise a class of the EArcZipException
// family carrying the user-visible message; per-file problems go through OnSkippingFile instead.
#pragma once

#include <stdexcept>
#include <string>

class EArcZipException : public std::runtime_error {
 public:
  explicit EArcZipException(const std::string& message) : std::runtime_error(message) {}
};

#define ARCZIP_EXCEPTION(Name, DefaultText)                                  \
  class Name : public EArcZipException {                                     \
   public:                                                                   \
    Name() : EArcZipException(DefaultText) {}                                \
    explicit Name(const std::string& message) : EArcZipException(message) {} \
  };

ARCZIP_EXCEPTION(EBadZipFile, "Not a valid zip file!")
ARCZIP_EXCEPTION(EIncompleteZip, "Incomplete Zip File")
ARCZIP_EXCEPTION(ENotAZipFile, "Not a valid zip file!")
ARCZIP_EXCEPTION(EFatalUnzipError, "Premature end of file reached")
ARCZIP_EXCEPTION(EUserCanceled, "User Aborted Operation")
ARCZIP_EXCEPTION(EBiggerThanUncompressed, "File is larger than uncompressed size!")
ARCZIP_EXCEPTION(ENotEnoughRoom, "Not enough room to write archive")
ARCZIP_EXCEPTION(ECantWriteUCF, "Cant write uncompressed file")
ARCZIP_EXCEPTION(ECanceledUnzipToBuffer, "User Aborted Operation")
ARCZIP_EXCEPTION(EConfigFileSaveError, "Unable to save Zip Configuration File to disk")

#undef ARCZIP_EXCEPTION

// A part of a split set that is not there; Part is its file name.
class EMissingVolume : public EArcZipException {
 public:
  explicit EMissingVolume(const std::string& part)
      : EArcZipException("Part " + part + " of the split set is missing"), Part(part) {}
  std::string Part;
};

// Texts of the engine's messages that several places raise.
namespace zipmsg {
inline constexpr const char* kUserAborted = "User Aborted Operation";
inline constexpr const char* kNotAZip = "Not a valid zip file!";
inline constexpr const char* kUserCanceledZip = "User canceled Zip operation";
inline constexpr const char* kUserCanceledZipName = "User canceled setting zip file name.";
inline constexpr const char* kUserCanceledDestDir = "User canceled Set Desination Directory";
inline constexpr const char* kUserCanceledNewDisk = "User canceled loading new disk.";
inline constexpr const char* kUnknownMethod = "Unknown Compression Method";
inline constexpr const char* kBadAesHeader = "Damaged AES encryption header";
inline constexpr const char* kZipErrorTitle = "Zip Error";
inline constexpr const char* kFileExistsTitle = "File Exists Alert";
inline constexpr const char* kInflateOutOfMemory = "*** inflate out of memory ***";
}  // namespace zipmsg

// An index outside the entry list: "Index %d is out of range".
class EListIndexError : public std::out_of_range {
 public:
  explicit EListIndexError(int index)
      : std::out_of_range("Index " + std::to_string(index) + " is out of range") {}
};
