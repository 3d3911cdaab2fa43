// Micro benchmarks of the steps of one key request that need no socket.

#include "gateway/base/LineEncoding.h"
#include "gateway/platform/ProcessFacts.h"
#include "gateway/protocol/DateTimeConversion.h"
#include "gateway/protocol/EncoderLine.h"
#include "gateway/protocol/KeyAnswer.h"
#include "gateway/protocol/KeyRequestDocument.h"
#include "tools/support/WorkedExample.h"

#include <benchmark/benchmark.h>

using namespace gateway;

namespace {

namespace example = tools::workedExample;

// Fields and line, with the current year given, as a table test would.
void deriveAndAssembleLine(benchmark::State& state)
{
    const KeyRequestValues values = example::values();
    for (auto _ : state) {
        Text line = assembleLine(deriveFields(values, 2020), values.folio);
        benchmark::DoNotOptimize(line);
    }
}
BENCHMARK(deriveAndAssembleLine);

// The same as the handler does it: the local year read once for the request.
void deriveAndAssembleLineWithLocalYear(benchmark::State& state)
{
    const KeyRequestValues values = example::values();
    for (auto _ : state) {
        Text line = assembleLine(deriveFields(values, localYearNow()), values.folio);
        benchmark::DoNotOptimize(line);
    }
}
BENCHMARK(deriveAndAssembleLineWithLocalYear);

// The line as it goes on the wire, CR LF included.
void encodeLineForTheWire(benchmark::State& state)
{
    const KeyRequestValues values = example::values();
    const Text line = assembleLine(deriveFields(values, 2020), values.folio);
    for (auto _ : state) {
        std::string bytes = encodeLine(line);
        benchmark::DoNotOptimize(bytes);
    }
}
BENCHMARK(encodeLineForTheWire);

const Text dateTimeForms[] = {
    u"2020-07-16 14:00:00", // the example's full form
    u"07-16 2:00 PM",       // month-day of the current year, 12-hour time
    u"16:30",               // a time alone
    u"not a date",          // the failing read
};

void readDateTimeForms(benchmark::State& state)
{
    const Text& text = dateTimeForms[state.range(0)];
    for (auto _ : state) {
        auto value = readDateTime(text, 2020);
        benchmark::DoNotOptimize(value);
    }
}
BENCHMARK(readDateTimeForms)->DenseRange(0, 3);

void convertDateTimeToField(benchmark::State& state)
{
    for (auto _ : state) {
        Text field = convertDateTime(dateTimeForms[0], 2020);
        benchmark::DoNotOptimize(field);
    }
}
BENCHMARK(convertDateTimeToField);

void currentLocalYearRead(benchmark::State& state)
{
    for (auto _ : state) {
        benchmark::DoNotOptimize(localYearNow());
    }
}
BENCHMARK(currentLocalYearRead);

// Loading the request text as XML and reading its seven values; the text as the handler
// has it (UTF-16).
void readExampleKeyRequest(benchmark::State& state)
{
    for (auto _ : state) {
        KeyRequestValues values = readKeyRequest(example::request.text());
        benchmark::DoNotOptimize(values);
    }
}
BENCHMARK(readExampleKeyRequest);

// Received bytes to request text, as take buffered text does it.
void decodeRequestBytes(benchmark::State& state)
{
    const std::string bytes(example::request.bytes());
    for (auto _ : state) {
        Text text = decodeBytes(bytes);
        benchmark::DoNotOptimize(text);
    }
}
BENCHMARK(decodeRequestBytes);

void makeSuccessAnswer(benchmark::State& state)
{
    for (auto _ : state) {
        Text answer = makeKeyAnswer(u"001");
        benchmark::DoNotOptimize(answer);
    }
}
BENCHMARK(makeSuccessAnswer);

// The failure answer with a code that needs escaping.
void makeFailureAnswer(benchmark::State& state)
{
    const Text code = state.range(0) == 0 ? Text(u"003") : Text(u"\"&<");
    for (auto _ : state) {
        Text answer = makeKeyAnswer(code);
        benchmark::DoNotOptimize(answer);
    }
}
BENCHMARK(makeFailureAnswer)->Arg(0)->Arg(1);

} // namespace
