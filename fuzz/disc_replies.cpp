// Fuzz target: arbitrary bytes as a drive's replies. Every command the device layer sends gets the
// next reply from the input: a status byte, a length and that many data bytes, then sense bytes;
// selection, capabilities, disc type, the disc queries and the waits all run on them.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>

#include "disc/scsidevice.h"

namespace {

class TReplayTransport : public IScsiTransport {
 public:
  TReplayTransport(const uint8_t* data, size_t size) : data_(data), size_(size) {}

  std::vector<TScsiDriveEntry> Discover() override {
    return {{10, 0, 0, 5, "sr0", "FUZZ", "DRIVE", "1"}, {2, 1, 0, 4, "sr1", "", "", ""}};
  }

  void Send(TScsiRequest& r, uint32_t) override {
    const uint8_t kind = Next();
    const uint32_t length = std::min<uint32_t>(Next() | (Next() << 8), r.BufferLength);
    // The transfer and the reply's own length fields disagree as they like.
    for (uint32_t i = 0; i < length && r.BufferPointer; ++i) r.BufferPointer[i] = Next();
    r.Transferred = std::min<uint32_t>(length + (kind & 0x80 ? Next() : 0), r.BufferLength);
    switch (kind & 7) {
      case 0:
      case 1:
      case 2:
        r.Status = SS_COMP;
        break;
      case 3:
        r.Status = SS_PENDING;  // never completes
        break;
      case 4:
        r.Status = SS_ERR;
        r.TargetStatus = Next();
        r.AdapterStatus = (kind & 0x40) ? Next() : 0;
        r.SenseReturned = std::min<uint8_t>(Next(), sizeof r.Sense);
        for (uint8_t i = 0; i < r.SenseReturned; ++i) r.Sense[i] = Next();
        break;
      default:
        r.Status = Next();
        break;
    }
  }

 private:
  uint8_t Next() { return pos_ < size_ ? data_[pos_++] : 0; }
  const uint8_t* data_;
  size_t size_;
  size_t pos_ = 0;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  TVirtualDiscClock clock;
  TSCSIDevice dev;
  dev.SetClock(&clock);
  dev.OnDebugMessage = [](TSCSIDevice*, const std::string& m, uint8_t) {
    if (m.empty()) __builtin_trap();
  };
  dev.SetTransport(std::make_unique<TReplayTransport>(data, size));
  dev.InitTransport();
  dev.SelectDevice(dev.DeviceList.empty() ? "10:0:0,sr0: " : dev.DeviceList[0]);
  if (dev.Adapter == 254) {
    dev.Adapter = 10, dev.Target = 0, dev.Lun = 0;
  }
  size_t sum = 0;
  sum += static_cast<size_t>(dev.DiscType());
  sum += dev.IsErasable() ? 1 : 0;
  sum += static_cast<size_t>(dev.SessionCount() + dev.DiscStatus());
  sum += dev.FreeSectors() + dev.DiscCapacity() + dev.LastSessionStart() +
         dev.NextWritableAddress();
  const TDisc disc = dev.GetDiscInfo();
  sum += disc.Capacity + disc.Used + disc.MediaName.size();
  sum += dev.MaxWriteSpeed() + dev.CurrentWriteSpeed();
  sum += dev.SetWriteParameters(true, true, dev.DiscType()) ? 1 : 0;
  sum += dev.WaitReady(20000, 1000) ? 1 : 0;
  // A failure always has a text.
  TScsiRequest r;
  r.CdbLength = 6;
  const uint8_t status = dev.ExecCommand(r, 1000);
  if (status != SS_COMP && status != SS_PENDING && status != SS_NO_TRANSPORT &&
      dev.LastError().empty())
    __builtin_trap();
  return sum == 42 ? 0 : 0;
}
