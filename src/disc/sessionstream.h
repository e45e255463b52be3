// The sectors of one new session, in the order they go to the medium: the metadata (MetaStream),
// the data of each new non-empty file in entry order (exactly its recorded size, the last sector
// padded with zeros), then zero sectors up to ImageSize. A file is read only up to its recorded
// size; one that is missing, unreadable or shorter than recorded ends the stream with an error
// naming it.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

class TDiscBurner;

class TSessionStream {
 public:
  // The burner's image must be built (WriteImageMetadata) and must stay unchanged while read.
  explicit TSessionStream(const TDiscBurner& burner);
  ~TSessionStream();
  TSessionStream(const TSessionStream&) = delete;
  TSessionStream& operator=(const TSessionStream&) = delete;

  // Fills up to maxSectors whole sectors into buffer; returns how many (0 at the end or after a
  // failure, which Error then tells).
  uint32_t Read(uint8_t* buffer, uint32_t maxSectors);
  const std::string& Error() const { return error_; }
  // True when the failure was a source file that could not be opened (FilePath names it).
  bool OpenFailed() const { return openFailed_; }
  // The file being read, or the last one opened.
  const std::string& FilePath() const { return path_; }
  uint64_t SectorsRead() const { return done_; }
  uint64_t TotalSectors() const { return total_; }

 private:
  bool OpenNextFile();
  void Fail(const std::string& text);

  const TDiscBurner& burner_;
  uint64_t total_ = 0, done_ = 0;
  uint64_t metaSectors_ = 0;
  size_t nextFile_ = 0;  // index into the entry array of the next file to open
  int fd_ = -1;
  std::string path_;  // the open file
  int64_t left_ = 0;  // bytes of the open file still to read
  bool failed_ = false;
  bool openFailed_ = false;
  std::string error_;
};

// Writes the session as an image file at path, replacing it only when complete: on any failure,
// or when progress returns false, the previous file stays untouched and error tells why.
// progress (optional) gets the sectors done and the total.
bool WriteSessionFile(TDiscBurner& burner, const std::string& path, std::string& error,
                      const std::function<bool(uint64_t done, uint64_t total)>& progress = {});
