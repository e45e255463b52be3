// Multi-volume archives: a set of volume files read as one stream, and the writer that lays an
// archive out over volumes of bounded room.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "archive/arcunzip.h"
#include "archive/zipstream.h"

class TZipMedia;

// The volumes of a set read as one stream. Volume k (0-based) starts at address k << kShift, so
// an entry is found from its disk number and offset alone; a read that runs past the end of a
// volume continues at the start of the next one. Volumes are opened when first read, and only
// the one last read stays open.
class TVolumeSetStream : public THugeStream {
 public:
  static constexpr int kShift = 40;
  // The highest volume number an address can hold: addresses are 63-bit positions.
  static constexpr uint32_t kMaxDisk = (uint32_t{1} << (63 - kShift)) - 1;
  using TOpen = std::function<std::unique_ptr<THugeStream>(uint32_t disk)>;
  // A last disk beyond kMaxDisk is not a set this stream can read: EBadZipFile.
  TVolumeSetStream(uint32_t lastDisk, TOpen open);

  // Takes stream as volume disk, already open (the volume whose end record was read).
  void Seed(uint32_t disk, std::unique_ptr<THugeStream> stream);

  static int64_t Address(uint32_t disk, uint64_t offset) {
    return static_cast<int64_t>((static_cast<uint64_t>(disk) << kShift) + offset);
  }

  int64_t Size() override;
  size_t ReadAt(int64_t pos, void* buffer, size_t n) override;
  size_t WriteAt(int64_t, const void*, size_t) override { return 0; }
  void SetSize(int64_t) override;
  // Makes volume disk the open one.
  THugeStream& Volume(uint32_t disk);

 private:
  int64_t VolumeSize(uint32_t disk);
  uint32_t last_;
  TOpen open_;
  uint32_t openDisk_ = UINT32_MAX;
  std::unique_ptr<THugeStream> open1_;
  // The sizes of the volumes opened so far: a set's stated disk count never sizes anything.
  std::map<uint32_t, int64_t> sizes_;
};

// Lays an archive out over volumes: split parts side by side, or spanned volumes on removable
// media. Records that must stay whole move to the next volume when the room left cannot take
// them; entry data is copied in pieces and may cross any volume end.
class TVolumeWriter {
 public:
  struct TSettings {
    TZipMedia* Media = nullptr;
    // Split parts: the file name of part (1-based) of the given type.
    std::function<std::string(int part, TSplitPartType type)> Name;
    // Split parts: the size of the next part, asked each time a part is started.
    std::function<int64_t()> BlockSize;
    int64_t FirstRoom = 0;  // split: the room of part 1 (its size less what is kept free)
    // Spanned volumes: the name of volume (1-based) on the medium now in the drive (raises to
    // cancel), and the medium's preparation once an old file of that name is gone.
    bool Span = false;
    std::function<std::string(int volume)> Ask;
    std::function<void(int volume)> Prepare;
    int64_t FirstReserve = 0;  // spanned: room kept free on the first medium
    bool WriteLabels = false;
    std::function<void()> Between;  // between pieces of copied data
  };
  explicit TVolumeWriter(TSettings settings) : s_(std::move(settings)) {}
  ~TVolumeWriter();

  // Creates the first volume and writes the spanning signature.
  void Start();
  uint32_t Disk() const { return disk_; }
  int64_t Pos() const { return pos_; }
  int64_t Room() const { return room_; }
  // Places n bytes that must not be split, moving to the next volume first when they do not fit
  // (when more follows that must start on the same volume, keepWithNext asks for one byte more).
  // Returns the offset within the volume it lands on (Disk()).
  int64_t PlaceWhole(const void* p, size_t n, bool keepWithNext = false);
  // Copies n bytes of src from from on, crossing volume ends as needed.
  void Copy(THugeStream& src, int64_t from, int64_t n);
  // Moves to the next volume, which must take at least need bytes.
  void NextVolume(int64_t need = 1);
  // Closes the last volume and returns its name: a split set's last part gets its last-part
  // name, a spanned set's last medium its label. One volume alone is marked as a set of one (its
  // first bytes say so).
  std::string Finish();
  // Closes and removes the volumes written: nothing was stored in them.
  void Discard();
  // The names of the volumes written so far.
  const std::vector<std::string>& Names() const { return names_; }

 private:
  void Open(const std::string& name, int64_t room);
  // Spanned: asks for volume (1-based) until a medium other than the one just written can take
  // need bytes, and creates the volume file on it.
  void OpenSpanned(int volume, int64_t need);
  bool IsVolumeJustWritten(const std::string& name);
  void CloseVolume();
  void Write(const void* p, size_t n);
  TSettings s_;
  std::unique_ptr<THugeStream> out_;
  std::vector<std::string> names_;
  uint32_t disk_ = 0;
  int64_t pos_ = 0;
  int64_t room_ = 0;
  bool fresh_ = true;  // nothing but the signature on the volume yet
  // The volume closed last, to tell it from the next medium: its name, size, time, last bytes.
  std::string closedName_, closedTail_, tail_;
  int64_t closedSize_ = -1, closedTime_ = 0;
};
