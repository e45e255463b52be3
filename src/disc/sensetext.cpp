#include "disc/sensetext.h"

#include <algorithm>

std::string AscAscqText(uint8_t asc, uint8_t ascq) {
  if (const char* text = AscAscqDescription(asc, ascq)) return text;
  return std::to_string(asc) + "," + std::to_string(ascq);
}

std::string SenseText(const uint8_t* sense, size_t length) {
  if (length == 0) return "CHECK CONDITION";
  const uint8_t responseCode = sense[0] & 0x7F;
  // No sense data came back at all: the check condition is all there is to say.
  if (responseCode == 0) return "CHECK CONDITION";
  if (responseCode != 0x70 && responseCode != 0x71) return "UNKNOWN";
  if (length < 3) return "UNKNOWN";
  static const char* const kKeyText[16] = {
      nullptr,          "RECOVERED ERROR", "NOT READY",      "MEDIUM ERROR",
      "HARDWARE ERROR", "ILLEGAL REQUEST", "UNIT ATTENTION", "DATA PROTECT",
      "ERASE CHECK",    "UNKNOWN",         "COPYABORTED",    "ABORTED COMMAND",
      "UNKNOWN",        "VOLUME OVERFLOW", "MISCOMPARE",     "RESERVED"};
  const uint8_t key = sense[2] & 0x0F;
  std::string text;
  if (key == 0) {
    if (sense[2] & 0x80)
      text = "FILEMARK";
    else if (sense[2] & 0x40)
      text = "END OF MEDIA";
    else if (sense[2] & 0x20)
      text = "ILLEGAL LENGTH";
    else
      text = "NO ADDITIONAL SENSE INFORMATION";
  } else {
    text = kKeyText[key];
  }
  // The pair is named only when the drive said there is more and actually sent it.
  if (length >= 14 && sense[7] != 0) text += " (" + AscAscqText(sense[12], sense[13]) + ")";
  return text;
}

std::string RequestFailureText(const TScsiRequest& r, bool& busy) {
  switch (r.Status) {
    case SS_PENDING:
    case SS_COMP:
      return "";
    case SS_ABORTED:
    case SS_ABORT_FAIL:
      return "OPERATION ABORTED BY USER";
    case SS_INVALID_CMD:
      return "INVALID REQUEST";
    case SS_INVALID_HA:
      return "INVALID HOST ADAPTER";
    case SS_NO_DEVICE:
      return "NO DEVICE";
    case SS_INVALID_SRB:
      return "INVALID SRB";
    case SS_BUFFER_ALIGN:
      return "BUFFER ALIGNMENT";
    case SS_ASPI_IS_BUSY:
      return "ASPI IS BUSY";
    case SS_BUFFER_TOO_BIG:
      return "BUFFER TOO BIG";
    case SS_ERR:
      break;
    default:
      return "UNKNOWN";
  }
  switch (r.AdapterStatus) {
    case HASTAT_OK:
      break;
    case HASTAT_TIMEOUT:
      return "COMMAND TIMEOUT";
    case HASTAT_COMMAND_TIMEOUT:
      return "SRB TIMEOUT";
    case HASTAT_MESSAGE_REJECT:
      return "MESSAGE REJECT";
    case HASTAT_BUS_RESET:
      return "BUS RESET";
    case HASTAT_PARITY_ERROR:
      return "PARITY ERROR";
    case HASTAT_REQUEST_SENSE_FAILED:
      return "REQUEST SENSE FAILED";
    case HASTAT_SEL_TO:
      return "SELECTION TIMEOUT";
    case HASTAT_DO_DU:
      return "DATA OVERRUN";
    case HASTAT_BUS_FREE:
      return "UNEXPECTED BUS FREE";
    default:
      return "UNKNOWN";
  }
  switch (r.TargetStatus) {
    case STATUS_GOOD:
    case STATUS_CHKCOND:
      return SenseText(r.Sense, std::min<size_t>(r.SenseReturned, sizeof r.Sense));
    case STATUS_BUSY:
      busy = true;
      return "TARGET BUSY";
    case STATUS_RESCONF:
      return "TARGET RESERVATION CONFLICT";
    case STATUS_QUEUE_FULL:
      return "TARGET QUEUE FULL";
    default:
      return "UNKNOWN";
  }
}
