// Failure texts of finished requests: request status, adapter status, SCSI status, sense key and
// additional sense code.
#include <gtest/gtest.h>

#include "disc/sensetext.h"
#include "scripted.h"

namespace {

std::string TextOf(uint8_t status, uint8_t adapter = 0, uint8_t target = 0, bool* busy = nullptr) {
  TScsiRequest r;
  r.Status = status;
  r.AdapterStatus = adapter;
  r.TargetStatus = target;
  bool b = false;
  std::string text = RequestFailureText(r, b);
  if (busy) *busy = b;
  return text;
}

TEST(FailureText, EveryRequestAdapterAndTargetStatus) {
  const struct {
    uint8_t Status, Adapter, Target;
    const char* Text;
  } rows[] = {
      {SS_PENDING, 0, 0, ""},
      {SS_COMP, 0, 0, ""},
      {SS_ABORTED, 0, 0, "OPERATION ABORTED BY USER"},
      {SS_ABORT_FAIL, 0, 0, "OPERATION ABORTED BY USER"},
      {SS_INVALID_CMD, 0, 0, "INVALID REQUEST"},
      {SS_INVALID_HA, 0, 0, "INVALID HOST ADAPTER"},
      {SS_NO_DEVICE, 0, 0, "NO DEVICE"},
      {SS_INVALID_SRB, 0, 0, "INVALID SRB"},
      {SS_BUFFER_ALIGN, 0, 0, "BUFFER ALIGNMENT"},
      {SS_ASPI_IS_BUSY, 0, 0, "ASPI IS BUSY"},
      {SS_BUFFER_TOO_BIG, 0, 0, "BUFFER TOO BIG"},
      {0x77, 0, 0, "UNKNOWN"},
      {SS_ERR, 9, 0, "COMMAND TIMEOUT"},
      {SS_ERR, 11, 0, "SRB TIMEOUT"},
      {SS_ERR, 13, 0, "MESSAGE REJECT"},
      {SS_ERR, 14, 0, "BUS RESET"},
      {SS_ERR, 15, 0, "PARITY ERROR"},
      {SS_ERR, 16, 0, "REQUEST SENSE FAILED"},
      {SS_ERR, 17, 0, "SELECTION TIMEOUT"},
      {SS_ERR, 18, 0, "DATA OVERRUN"},
      {SS_ERR, 19, 0, "UNEXPECTED BUS FREE"},
      {SS_ERR, 0, 8, "TARGET BUSY"},
      {SS_ERR, 0, 0x18, "TARGET RESERVATION CONFLICT"},
      {SS_ERR, 0, 0x28, "TARGET QUEUE FULL"},
      // A check condition without sense data keeps a text: a failure never reads as empty.
      {SS_ERR, 0, 2, "CHECK CONDITION"},
  };
  for (const auto& row : rows) {
    bool busy = true;
    EXPECT_EQ(TextOf(row.Status, row.Adapter, row.Target, &busy), row.Text)
        << int(row.Status) << "/" << int(row.Adapter) << "/" << int(row.Target);
    EXPECT_EQ(busy, row.Target == 8) << row.Text;
  }
}

TEST(FailureText, SenseKeysBitsAndPairs) {
  auto sense = [](uint8_t response, uint8_t byte2, uint8_t addLength, uint8_t asc, uint8_t ascq,
                  uint8_t returned = 18) {
    TScsiRequest r;
    r.Status = SS_ERR;
    r.TargetStatus = STATUS_CHKCOND;
    r.Sense[0] = response;
    r.Sense[2] = byte2;
    r.Sense[7] = addLength;
    r.Sense[12] = asc;
    r.Sense[13] = ascq;
    r.SenseReturned = returned;
    bool busy = false;
    return RequestFailureText(r, busy);
  };
  const struct {
    std::string Got;
    const char* Want;
  } rows[] = {
      {sense(0x70, 0x02, 10, 0x3A, 0x01), "NOT READY (MEDIUM NOT PRESENT - TRAY CLOSED)"},
      {sense(0x70, 0x02, 10, 0x04, 0x00),
       "NOT READY (LOGICAL UNIT NOT READY, CAUSE NOT REPORTABLE)"},
      {sense(0x70, 0x02, 10, 0x04, 0x08),
       "NOT READY (LOGICAL UNIT NOT READY, LONG WRITE IN PROGRESS)"},
      {sense(0x70, 0x05, 10, 0x21, 0x02), "ILLEGAL REQUEST (INVALID ADDRESS FOR WRITE)"},
      {sense(0x70, 0x05, 10, 0x24, 0x00), "ILLEGAL REQUEST (INVALID FIELD IN CDB)"},
      {sense(0x70, 0x05, 10, 0x2C, 0x00), "ILLEGAL REQUEST (COMMAND SEQUENCE ERROR)"},
      {sense(0x70, 0x05, 10, 0x30, 0x05),
       "ILLEGAL REQUEST (CANNOT WRITE MEDIUM - INCOMPATIBLE FORMAT)"},
      {sense(0x70, 0x02, 10, 0x3A, 0x00), "NOT READY (MEDIUM NOT PRESENT)"},
      {sense(0x70, 0x05, 10, 0x64, 0x00), "ILLEGAL REQUEST (ILLEGAL MODE FOR THIS TRACK)"},
      {sense(0x70, 0x03, 10, 0x72, 0x00), "MEDIUM ERROR (SESSION FIXATION ERROR)"},
      {sense(0x71, 0x03, 10, 0x73, 0x03), "MEDIUM ERROR (POWER CALIBRATION AREA ERROR)"},
      {sense(0xF0, 0x07, 10, 0x27, 0x00), "DATA PROTECT (WRITE PROTECTED)"},
      {sense(0x70, 0x06, 10, 0x28, 0x00),
       "UNIT ATTENTION (NOT READY TO READY CHANGE, MEDIUM MAY HAVE CHANGED)"},
      {sense(0x70, 0x05, 10, 0x7F, 0x7F), "ILLEGAL REQUEST (127,127)"},
      {sense(0x70, 0x04, 10, 0x40, 0x05), "HARDWARE ERROR (64,5)"},
      {sense(0x70, 0x01, 0, 0x17, 0x01), "RECOVERED ERROR"},
      {sense(0x70, 0x80, 0, 0, 0), "FILEMARK"},
      {sense(0x70, 0x40, 0, 0, 0), "END OF MEDIA"},
      {sense(0x70, 0x20, 0, 0, 0), "ILLEGAL LENGTH"},
      {sense(0x70, 0x00, 10, 0, 0),
       "NO ADDITIONAL SENSE INFORMATION (NO ADDITIONAL SENSE INFORMATION)"},
      {sense(0x70, 0x08, 0, 0, 0), "ERASE CHECK"},
      {sense(0x70, 0x09, 0, 0, 0), "UNKNOWN"},
      {sense(0x70, 0x0A, 0, 0, 0), "COPYABORTED"},
      {sense(0x70, 0x0B, 0, 0, 0), "ABORTED COMMAND"},
      {sense(0x70, 0x0C, 0, 0, 0), "UNKNOWN"},
      {sense(0x70, 0x0D, 0, 0, 0), "VOLUME OVERFLOW"},
      {sense(0x70, 0x0E, 0, 0, 0), "MISCOMPARE"},
      {sense(0x70, 0x0F, 0, 0, 0), "RESERVED"},
      {sense(0x72, 0x02, 10, 0x3A, 0), "UNKNOWN"},
      // Sense cut short before the pair: the key alone, never bytes that did not arrive.
      {sense(0x70, 0x02, 10, 0x3A, 0x01, 8), "NOT READY"},
  };
  for (const auto& row : rows) EXPECT_EQ(row.Got, row.Want);
}

}  // namespace
