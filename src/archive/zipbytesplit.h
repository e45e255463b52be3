// Byte-split sets: one archive cut into pieces NAME.001, NAME.002, ... (as 7-Zip's volume option
// writes them), read as one stream when the first piece is named. Unlike split and spanned sets,
// the archive inside knows nothing of the cut: its offsets count from the start of the first
// piece across the pieces.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "archive/zipstream.h"

class TZipMedia;

// The pieces of the set whose first piece is named first: first, then the numbers after it for as
// long as they exist. Empty when first does not end in ".001" or no second piece exists (a lone
// ".001" file is read as it is).
std::vector<std::string> ByteSplitPieces(TZipMedia& media, const std::string& first);

class TByteSplitStream : public THugeStream {
 public:
  // Raises std::system_error when a piece cannot be read.
  TByteSplitStream(TZipMedia& media, std::vector<std::string> pieces);

  int64_t Size() override { return starts_.back(); }
  size_t ReadAt(int64_t pos, void* buffer, size_t n) override;
  size_t WriteAt(int64_t, const void*, size_t) override { return 0; }
  void SetSize(int64_t) override;
  // The first piece's time, as the archive's name is the first piece's.
  int64_t ModTimeNs() override { return firstTime_; }
  const std::vector<std::string>& Pieces() const { return pieces_; }

 private:
  TZipMedia& media_;
  std::vector<std::string> pieces_;
  std::vector<int64_t> starts_;  // where each piece starts, then the total size
  int64_t firstTime_ = 0;
  size_t open_ = SIZE_MAX;
  std::unique_ptr<THugeStream> piece_;
};

// The text of the refusal to rewrite a byte-split set in place.
inline constexpr const char* kByteSplitRewrite =
    "This archive is cut into pieces (.001, .002, ...) and cannot be changed in place: nothing "
    "was written. Join the pieces into one archive first, or write a new archive.";
