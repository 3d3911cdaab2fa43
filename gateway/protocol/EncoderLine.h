#pragma once

#include "gateway/base/Text.h"
#include "gateway/protocol/KeyRequestValues.h"

#include <cstdint>

namespace gateway {

// The fields of one encoder command line derived from a key request.
struct EncoderFields
{
    Text keyTypeCode;   // "001" for key type exactly "0", else "003"
    Text roomField;     // room left-justified in 15 characters, never cut
    Text encoderCode;   // "76" below room 2000, "17" from 2000
    Text keyCountField; // "0" + key count text
    Text fromDateField; // shown in the summary line only
    Text toDateField;   // both date positions of the line
};

Text keyTypeCode(TextView keyType);
Text roomField(TextView room);
Text encoderCode(std::int32_t roomNumber);
Text keyCountField(TextView keyCount);

// Derives in this order, stopping at the first failure: room field, folio and key count
// field (each refused when it holds a control character: code below 32, or 127), from
// date-time, to date-time, key type code, room number. Throws EConvertError.
// currentYear completes dates written without a year or with a short one.
EncoderFields deriveFields(const KeyRequestValues& values, int currentYear);

// STX "200000001" keyType "9999   " room "1" encoder "FF" keyCount date1 date2
// "0000000000000*209" folio ETX EOT.
Text assembleLine(TextView keyTypeCode, TextView roomField, TextView encoderCode,
                  TextView keyCountField, TextView firstDateField, TextView secondDateField,
                  TextView folio);
Text assembleLine(const EncoderFields& fields, TextView folio);

// "Room = [%s] From = [%s] To = [%s]"
Text summaryLine(TextView roomField, TextView fromDateField, TextView toDateField);

// The operator's fixed test command: room "1110", "2020-07-16 14:00:00" in both date
// positions, key type code "001", encoder code "76", key count field "01", folio "123456".
struct TestCommand
{
    Text line;
    Text summary;
};
TestCommand testCommand();

} // namespace gateway
