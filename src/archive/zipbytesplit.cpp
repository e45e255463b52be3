#include "archive/zipbytesplit.h"

#include <algorithm>
#include <system_error>

#include "archive/zipmedia.h"

namespace {

// The name of piece number (1-based) beside first ("x.zip.001"): at least three digits.
std::string PieceName(const std::string& first, int number) {
  std::string digits = std::to_string(number);
  if (digits.size() < 3) digits.insert(0, 3 - digits.size(), '0');
  return first.substr(0, first.size() - 3) + digits;
}

}  // namespace

std::vector<std::string> ByteSplitPieces(TZipMedia& media, const std::string& first) {
  const size_t slash = first.rfind('/');
  const std::string base = slash == std::string::npos ? first : first.substr(slash + 1);
  if (base.size() < 5 || base.compare(base.size() - 4, 4, ".001") != 0) return {};
  std::vector<std::string> pieces{first};
  while (pieces.size() < 100000) {
    std::string next = PieceName(first, static_cast<int>(pieces.size()) + 1);
    if (!media.Exists(next)) break;
    pieces.push_back(std::move(next));
  }
  if (pieces.size() < 2) return {};
  return pieces;
}

TByteSplitStream::TByteSplitStream(TZipMedia& media, std::vector<std::string> pieces)
    : media_(media), pieces_(std::move(pieces)) {
  starts_.push_back(0);
  for (size_t k = 0; k < pieces_.size(); ++k) {
    int64_t size = 0, time = 0;
    if (!media_.Stat(pieces_[k], size, time))
      throw std::system_error(std::make_error_code(std::errc::no_such_file_or_directory),
                              pieces_[k]);
    if (k == 0) firstTime_ = time;
    starts_.push_back(starts_.back() + size);
  }
}

size_t TByteSplitStream::ReadAt(int64_t pos, void* buffer, size_t n) {
  auto* out = static_cast<uint8_t*>(buffer);
  size_t done = 0;
  while (done < n && pos >= 0 && pos < Size()) {
    // The piece holding pos: the last one starting at or before it.
    const size_t k = static_cast<size_t>(std::upper_bound(starts_.begin(), starts_.end() - 1, pos) -
                                         starts_.begin() - 1);
    if (k != open_) {
      piece_.reset();
      open_ = SIZE_MAX;
      piece_ = media_.OpenVolume(pieces_[k]);
      open_ = k;
    }
    const int64_t in = pos - starts_[k];
    const size_t want = static_cast<size_t>(
        std::min<int64_t>(static_cast<int64_t>(n - done), starts_[k + 1] - pos));
    const size_t got = piece_->ReadAt(in, out + done, want);
    done += got;
    pos += static_cast<int64_t>(got);
    if (got < want) break;  // the piece is shorter than it was
  }
  return done;
}

void TByteSplitStream::SetSize(int64_t) {
  throw std::system_error(std::make_error_code(std::errc::read_only_file_system),
                          "byte-split archive");
}
