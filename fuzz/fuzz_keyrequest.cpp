// A request text, as the gateway takes it off a connection, through loading, reading the seven
// values and deriving the encoder fields and line. Every input ends in a gateway error or in a
// well-framed line with no control character inside the frame, never in both, never in another
// exception, a crash or a leak.

#include "FuzzCheck.h"
#include "gateway/base/Errors.h"
#include "gateway/base/LineEncoding.h"
#include "gateway/protocol/EncoderLine.h"
#include "gateway/protocol/KeyRequestDocument.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>

namespace {

using namespace gateway;

// A fixed year keeps a finding reproducible on any day.
constexpr int currentYear = 2020;
constexpr char16_t stx = 0x02;
constexpr char16_t etx = 0x03;
constexpr char16_t eot = 0x04;
// STX, "200000001", key type code, "9999   ", "1", encoder code, "FF", "0", two date fields,
// "0000000000000*209", ETX, EOT: everything but the room, key count and folio texts.
constexpr std::size_t fixedLineLength = 1 + 9 + 3 + 7 + 1 + 2 + 2 + 1 + 10 + 10 + 17 + 2;

void checkLine(const KeyRequestValues& values, const EncoderFields& fields, const Text& line)
{
    FUZZ_CHECK(line.size() == fixedLineLength + fields.roomField.size() + values.keyCount.size() +
                                  values.folio.size());
    FUZZ_CHECK(line.front() == stx);
    FUZZ_CHECK(line[line.size() - 2] == etx && line.back() == eot);
    // No control character between the frame's ends: the lock system sees one command line.
    for (std::size_t i = 1; i + 2 < line.size(); ++i) {
        FUZZ_CHECK(line[i] >= 0x20 && line[i] != 0x7F);
    }
    FUZZ_CHECK(fields.roomField.size() >= 15);
    FUZZ_CHECK(fields.keyTypeCode == u"001" || fields.keyTypeCode == u"003");
    FUZZ_CHECK(fields.encoderCode == u"76" || fields.encoderCode == u"17");
    for (const Text* date : {&fields.fromDateField, &fields.toDateField}) {
        FUZZ_CHECK(date->size() == 10);
        for (char16_t c : *date) {
            FUZZ_CHECK(c >= u'0' && c <= u'9');
        }
    }
    // The wire form: one byte per code unit and the line end.
    FUZZ_CHECK(encodeLine(line).size() == line.size() + 2);
}

void run(TextView request)
{
    std::optional<Text> line;
    bool failed = false;
    try {
        KeyRequestValues values = readKeyRequest(request);
        EncoderFields fields = deriveFields(values, currentYear);
        line = assembleLine(fields, values.folio);
        checkLine(values, fields, *line);
    } catch (const Exception& error) {
        failed = true;
        FUZZ_CHECK(error.what() != nullptr);
    }
    FUZZ_CHECK(failed != line.has_value());
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    // As the handler takes it: one character per byte, bytes above 0x7F as U+FFFD.
    run(decodeBytes(bytes));
    // As UTF-8, so characters beyond ASCII reach the parser and the fields too.
    run(fromUtf8(bytes));
    return 0;
}
