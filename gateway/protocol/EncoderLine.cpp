#include "gateway/protocol/EncoderLine.h"

#include "gateway/base/Errors.h"
#include "gateway/base/ReadableText.h"
#include "gateway/protocol/DateTimeConversion.h"
#include "gateway/protocol/RoomNumber.h"

#include <algorithm>

namespace gateway {

namespace {

constexpr std::size_t roomFieldWidth = 15;
constexpr char16_t stx = 0x02;
constexpr char16_t etx = 0x03;
constexpr char16_t eot = 0x04;

// A control character in a value would end or split the command line on the lock system's
// side (a CR LF makes it two commands); blanks and other characters go in as they are.
void requireNoControlCharacters(TextView value, const char* what)
{
    const bool control =
        std::any_of(value.begin(), value.end(), [](char16_t c) { return c < 0x20 || c == 0x7F; });
    if (control) {
        throw EConvertError("'" + readableText(value) + "' is not a valid " + what +
                            ": control characters cannot go into the encoder command line");
    }
}

} // namespace

Text keyTypeCode(TextView keyType)
{
    return keyType == u"0" ? u"001" : u"003";
}

Text roomField(TextView room)
{
    Text field(room);
    if (field.size() < roomFieldWidth) {
        field.append(roomFieldWidth - field.size(), u' ');
    }
    return field;
}

Text encoderCode(std::int32_t roomNumber)
{
    return roomNumber < 2000 ? u"76" : u"17";
}

Text keyCountField(TextView keyCount)
{
    return u"0" + Text(keyCount);
}

EncoderFields deriveFields(const KeyRequestValues& values, int currentYear)
{
    EncoderFields fields;
    requireNoControlCharacters(values.room, "room");
    fields.roomField = roomField(values.room);
    requireNoControlCharacters(values.folio, "folio");
    requireNoControlCharacters(values.keyCount, "key count");
    fields.keyCountField = keyCountField(values.keyCount);
    fields.fromDateField = convertDateTime(values.fromDateTime, currentYear);
    fields.toDateField = convertDateTime(values.toDateTime, currentYear);
    fields.keyTypeCode = keyTypeCode(values.keyType);
    fields.encoderCode = encoderCode(readRoomNumber(fields.roomField));
    return fields;
}

Text assembleLine(TextView keyTypeCode, TextView roomField, TextView encoderCode,
                  TextView keyCountField, TextView firstDateField, TextView secondDateField,
                  TextView folio)
{
    Text line;
    line += stx;
    line += u"200000001";
    line += keyTypeCode;
    line += u"9999   ";
    line += roomField;
    line += u"1";
    line += encoderCode;
    line += u"FF";
    line += keyCountField;
    line += firstDateField;
    line += secondDateField;
    line += u"0000000000000*209";
    line += folio;
    line += etx;
    line += eot;
    return line;
}

Text assembleLine(const EncoderFields& fields, TextView folio)
{
    // The lock system asks for the to date-time in both date positions, so that is what goes
    // there; the from date-time is still converted, so a request with a malformed one fails
    // like any other bad request instead of making a key.
    return assembleLine(fields.keyTypeCode, fields.roomField, fields.encoderCode,
                        fields.keyCountField, fields.toDateField, fields.toDateField, folio);
}

Text summaryLine(TextView roomField, TextView fromDateField, TextView toDateField)
{
    Text line = u"Room = [";
    line += roomField;
    line += u"] From = [";
    line += fromDateField;
    line += u"] To = [";
    line += toDateField;
    line += u"]";
    return line;
}

TestCommand testCommand()
{
    // The date carries its year: the current one plays no part.
    constexpr TextView dateTime = u"2020-07-16 14:00:00";
    constexpr int anyYear = 2020;
    Text room = roomField(u"1110");
    Text firstDate = convertDateTime(dateTime, anyYear);
    Text secondDate = convertDateTime(dateTime, anyYear);
    return {assembleLine(u"001", room, u"76", u"01", firstDate, firstDate, u"123456"),
            summaryLine(room, firstDate, secondDate)};
}

} // namespace gateway
