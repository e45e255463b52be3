// Upper-case texts for failed SCSI requests: request status, host adapter status, SCSI status and
// the sense data's key and additional sense code.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "disc/scsi.h"

// The standards' description of an ASC/ASCQ pair, or nullptr when the pair has no fixed text.
const char* AscAscqDescription(uint8_t asc, uint8_t ascq);
size_t AscAscqTableSize();

// The description of a pair, or "ASC,ASCQ" in decimal when it has no fixed text.
std::string AscAscqText(uint8_t asc, uint8_t ascq);

// The text of a finished request: empty for a pending or completed one. Busy is set when the
// target reported BUSY status.
std::string RequestFailureText(const TScsiRequest& request, bool& busy);

// The text of sense data read as far as `length` bytes: the sense key's text, then the pair's
// description in parentheses when the additional sense length is not zero.
std::string SenseText(const uint8_t* sense, size_t length);
