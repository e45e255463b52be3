// A transport whose one drive answers from a script: every request is recorded and handed to a
// function that fills the reply. Tests of the device layer use it where the emulated drive would
// hide the detail under test.
#pragma once

#include <cstring>
#include <functional>
#include <vector>

#include "disc/scsi.h"

struct TRecordedRequest {
  std::vector<uint8_t> Cdb;
  uint8_t Flags = 0;
  uint32_t Length = 0;
  uint32_t TimeoutMs = 0;
  std::vector<uint8_t> Out;  // data-out bytes
};

class TScriptedTransport : public IScsiTransport {
 public:
  std::vector<TScsiDriveEntry> Drives{{2, 0, 0, 5, "sr0", "", "", ""}};
  std::function<void(TScsiRequest&)> Answer = [](TScsiRequest& r) { r.Status = SS_COMP; };
  std::vector<TRecordedRequest>* Log = nullptr;
  int Aborts = 0;

  std::vector<TScsiDriveEntry> Discover() override { return Drives; }
  void Send(TScsiRequest& r, uint32_t timeoutMs) override {
    if (Log) {
      TRecordedRequest rec;
      rec.Cdb.assign(r.Cdb, r.Cdb + r.CdbLength);
      rec.Flags = r.Flags;
      rec.Length = r.BufferLength;
      rec.TimeoutMs = timeoutMs;
      if ((r.Flags & SRB_DIR_OUT) && r.BufferPointer)
        rec.Out.assign(r.BufferPointer, r.BufferPointer + r.BufferLength);
      Log->push_back(rec);
    }
    r.Status = SS_COMP;
    r.Transferred = r.BufferLength;
    Answer(r);
  }
  void Abort(TScsiRequest&) override { ++Aborts; }
};

// Fills a check condition with fixed-format sense data.
inline void CheckCondition(TScsiRequest& r, uint8_t key, uint8_t asc, uint8_t ascq) {
  r.Status = SS_ERR;
  r.TargetStatus = STATUS_CHKCOND;
  std::memset(r.Sense, 0, sizeof r.Sense);
  r.Sense[0] = 0x70;
  r.Sense[2] = key;
  r.Sense[7] = 10;
  r.Sense[12] = asc;
  r.Sense[13] = ascq;
  r.SenseReturned = 18;
  r.Transferred = 0;
}
