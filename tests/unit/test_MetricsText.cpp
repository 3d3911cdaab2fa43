#include "gateway/KeyRecord.h"
#include "gateway/RequestMetrics.h"
#include "gateway/base/Histogram.h"
#include "monitor/MetricsText.h"

#include <gtest/gtest.h>

#include <chrono>
#include <sstream>
#include <string>
#include <vector>

using namespace std::chrono_literals;
using gateway::KeyRecord;

namespace {

// The sample lines of the text (no HELP or TYPE), as they are.
std::vector<std::string> samples(const std::string& text)
{
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        if (!line.starts_with('#')) {
            lines.push_back(line);
        }
    }
    return lines;
}

bool hasSample(const std::string& text, const std::string& line)
{
    for (const std::string& sample : samples(text)) {
        if (sample == line) {
            return true;
        }
    }
    return false;
}

KeyRecord ended(KeyRecord::Answer answer, std::string reason = {})
{
    KeyRecord record;
    record.answer = answer;
    record.reason = std::move(reason);
    record.answered = std::chrono::system_clock::time_point(1'796'000'000s + 250ms);
    return record;
}

} // namespace

// Each request counts once, under the answer and reason its key record has; one not sent in
// time also under the not-sent total.
TEST(MetricsText, RequestsCountedAsTheirKeyRecordEnds)
{
    gateway::RequestMetrics requests;
    requests.observe(ended(KeyRecord::Answer::Made), 1ms);
    requests.observe(ended(KeyRecord::Answer::Made), 1ms);
    requests.observe(ended(KeyRecord::Answer::NotMade), 1ms);
    requests.observe(ended(KeyRecord::Answer::NotMade, "not sent in time"), 15s);
    requests.observe(ended(KeyRecord::Answer::None, "link down"), 0s);
    requests.observe(ended(KeyRecord::Answer::None, "front desk gone"), 0s);
    requests.observe(ended(KeyRecord::Answer::None, "a reason no one foresaw"), 0s);

    monitor::MetricsSnapshot snapshot;
    snapshot.requests = requests.outcomes();
    snapshot.requestTimes = requests.times().counts();
    snapshot.lastKeysMade = requests.lastMade();
    const std::string text = monitor::metricsText(snapshot);

    struct Case
    {
        const char* line;
    } cases[] = {
        {R"(velmor_snd_key_requests_total{answer="made",reason=""} 2)"},
        {R"(velmor_snd_key_requests_total{answer="not made",reason=""} 1)"},
        {R"(velmor_snd_key_requests_total{answer="not made",reason="not sent in time"} 1)"},
        {R"(velmor_snd_key_requests_total{answer="none",reason="link down"} 1)"},
        {R"(velmor_snd_key_requests_total{answer="none",reason="front desk gone"} 1)"},
        // Every way is there from the start, so that a rate over it is never missing.
        {R"(velmor_snd_key_requests_total{answer="none",reason="request not readable"} 0)"},
        {R"(velmor_snd_key_requests_total{answer="none",reason="stopped"} 0)"},
        {R"(velmor_snd_key_requests_total{answer="none",reason=""} 1)"},
        {"velmor_snd_key_requests_not_sent_total 1"},
        {"velmor_snd_key_request_duration_seconds_count 7"},
        {"velmor_snd_last_keys_made_timestamp_seconds 1796000000.25"},
    };
    for (const Case& c : cases) {
        EXPECT_TRUE(hasSample(text, c.line)) << c.line << "\nin:\n" << text;
    }
}

// Buckets are cumulative, each bound its upper end inclusive; +Inf equals the count.
TEST(MetricsText, HistogramBucketsCumulativeToTheCount)
{
    gateway::TimeHistogram times;
    for (const std::chrono::microseconds took : {100us, 500us, 501us, 1'000'000us, 14'000'000us,
                                                 15'000'000us, 16'000'000us, 60'000'000us}) {
        times.observe(took);
    }
    monitor::MetricsSnapshot snapshot;
    snapshot.replyTimes = times.counts();
    const std::string text = monitor::metricsText(snapshot);
    const std::string name = "velmor_snd_lock_reply_duration_seconds";
    struct Case
    {
        std::string line;
    } cases[] = {
        {name + R"(_bucket{le="0.0005"} 2)"}, {name + R"(_bucket{le="0.001"} 3)"},
        {name + R"(_bucket{le="0.5"} 3)"},    {name + R"(_bucket{le="1"} 4)"},
        {name + R"(_bucket{le="10"} 4)"},     {name + R"(_bucket{le="15"} 6)"},
        {name + R"(_bucket{le="+Inf"} 8)"},   {name + "_count 8"},
        {name + "_sum 106.001101"},
    };
    for (const Case& c : cases) {
        EXPECT_TRUE(hasSample(text, c.line)) << c.line << "\nin:\n" << text;
    }
}

TEST(MetricsText, LabelValuesEscapedAndUnknownProcessValuesLeftOut)
{
    monitor::MetricsSnapshot snapshot;
    snapshot.program = "velmor_sndd";
    snapshot.version = "1.0.0 \"test\" \\ build\n2";
    snapshot.process.residentBytes = 4096;
    const std::string text = monitor::metricsText(snapshot);
    EXPECT_TRUE(hasSample(
        text,
        R"(velmor_snd_build_info{program="velmor_sndd",version="1.0.0 \"test\" \\ build\n2"} 1)"))
        << text;
    EXPECT_TRUE(hasSample(text, "process_resident_memory_bytes 4096")) << text;
    // Where the system does not tell, the series is absent rather than a false 0.
    EXPECT_EQ(text.find("process_open_fds"), std::string::npos) << text;
    EXPECT_EQ(text.find("process_start_time_seconds"), std::string::npos) << text;
    EXPECT_TRUE(hasSample(text, "velmor_snd_last_keys_made_timestamp_seconds 0")) << text;
    EXPECT_TRUE(text.ends_with("\n"));
}
