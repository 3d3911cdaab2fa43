#include "monitor/MetricsText.h"

#include <charconv>
#include <string_view>

namespace monitor {

namespace {

constexpr std::string_view prefix = "velmor_snd_";

// The shortest text that reads back as the same number, as Prometheus writes them.
std::string number(double value)
{
    char buffer[64];
    const auto result =
        std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::fixed);
    return std::string(buffer, result.ptr);
}

std::string number(std::uint64_t value)
{
    return std::to_string(value);
}

// To the millisecond, as the log stamps it: finer than that only shows the double's rounding.
double seconds(std::chrono::system_clock::time_point moment)
{
    const auto milliseconds =
        std::chrono::duration_cast<std::chrono::milliseconds>(moment.time_since_epoch()).count();
    return static_cast<double>(milliseconds) / 1000.0;
}

// A label value with its backslashes, quotes and line ends escaped.
std::string labelValue(std::string_view value)
{
    std::string escaped;
    for (const char c : value) {
        if (c == '\\' || c == '"') {
            escaped += '\\';
            escaped += c;
        } else if (c == '\n') {
            escaped += "\\n";
        } else {
            escaped += c;
        }
    }
    return escaped;
}

class Exposition
{
public:
    // A family's HELP and TYPE lines; name without the prefix unless own is false.
    void family(std::string_view name, std::string_view type, std::string_view help,
                bool own = true)
    {
        m_name = own ? std::string(prefix) + std::string(name) : std::string(name);
        m_text += "# HELP " + m_name + " " + std::string(help) + "\n";
        m_text += "# TYPE " + m_name + " " + std::string(type) + "\n";
    }
    // A sample of the current family; labels already written as name="value",….
    void sample(const std::string& value, std::string_view labels = {},
                std::string_view suffix = {})
    {
        m_text += m_name + std::string(suffix);
        if (!labels.empty()) {
            m_text += "{" + std::string(labels) + "}";
        }
        m_text += " " + value + "\n";
    }
    void histogram(const gateway::HistogramCounts& counts)
    {
        std::uint64_t cumulative = 0;
        for (std::size_t i = 0; i < counts.counts.size(); ++i) {
            cumulative += counts.counts[i];
            const std::string bound = i < counts.bounds.size() ? number(counts.bounds[i]) : "+Inf";
            sample(number(cumulative), "le=\"" + bound + "\"", "_bucket");
        }
        sample(number(counts.sumSeconds), {}, "_sum");
        sample(number(cumulative), {}, "_count");
    }
    std::string text() { return std::move(m_text); }

private:
    std::string m_text;
    std::string m_name;
};

std::string_view answerText(gateway::KeyRecord::Answer answer)
{
    switch (answer) {
    case gateway::KeyRecord::Answer::Made:
        return "made";
    case gateway::KeyRecord::Answer::NotMade:
        return "not made";
    case gateway::KeyRecord::Answer::None:
        break;
    }
    return "none";
}

} // namespace

std::string metricsText(const MetricsSnapshot& snapshot)
{
    Exposition out;
    out.family("key_requests_total", "counter",
               "Key requests read, by the answer given (made, not made, none: the connection "
               "was closed unanswered) and, where no result code decided it, the reason as the "
               "key record gives it.");
    std::uint64_t notSent = 0;
    for (const gateway::RequestOutcome& outcome : snapshot.requests) {
        out.sample(number(outcome.count), "answer=\"" + std::string(answerText(outcome.answer)) +
                                              "\",reason=\"" + labelValue(outcome.reason) + "\"");
        if (outcome.reason == gateway::reasons::notSentInTime) {
            notSent += outcome.count;
        }
    }
    out.family("key_requests_not_sent_total", "counter",
               "Key requests whose line could not be written to the lock system in time: the "
               "link was busy or kept sending. They are answered as failed and never sent.");
    out.sample(number(notSent));
    out.family("key_request_duration_seconds", "histogram",
               "Time from a key request's arrival to its end (answered or closed).");
    out.histogram(snapshot.requestTimes);
    out.family("last_keys_made_timestamp_seconds", "gauge",
               "When keys were last made (Unix time); 0 when none were since the start.");
    out.sample(snapshot.lastKeysMade ? number(seconds(*snapshot.lastKeysMade)) : "0");
    out.family("front_desks_refused_total", "counter",
               "Front-desk connections closed unserved: from an address not allowed, or beyond "
               "the most connections at once.");
    out.sample(number(snapshot.refusals.notAllowed), "reason=\"not allowed\"");
    out.sample(number(snapshot.refusals.overLimit), "reason=\"over limit\"");
    out.family("front_desk_connections", "gauge", "Front-desk connections open now.");
    out.sample(number(static_cast<std::uint64_t>(snapshot.openConnections)));

    out.family("link_up", "gauge", "1 while the link to the lock system is connected, else 0.");
    out.sample(snapshot.linkUp ? "1" : "0");
    out.family("link_last_change_timestamp_seconds", "gauge",
               "When the link last came up or went down (Unix time); 0 before the first "
               "connect ended.");
    out.sample(snapshot.link.changedAt ? number(seconds(*snapshot.link.changedAt)) : "0");
    out.family("link_connects_total", "counter", "Connects of the link that succeeded.");
    out.sample(number(snapshot.link.connects));
    out.family("link_losses_total", "counter",
               "Links found closed or broken by the lock system or the network.");
    out.sample(number(snapshot.link.losses));
    out.family("link_discarded_bytes_total", "counter",
               "Bytes from the lock system that nobody asked for, discarded.");
    out.sample(number(snapshot.link.staleBytes));
    out.family("link_late_replies_total", "counter",
               "Replies that came after their wait was over, discarded: a key may have been "
               "made for a request that was told otherwise.");
    out.sample(number(snapshot.link.lateReplies));
    out.family("lock_reply_duration_seconds", "histogram",
               "Time from a line written to the lock system to its reply (or the end of the "
               "wait for it).");
    out.histogram(snapshot.replyTimes);

    out.family("build_info", "gauge", "The program and its version; always 1.");
    out.sample("1", "program=\"" + labelValue(snapshot.program) + "\",version=\"" +
                        labelValue(snapshot.version) + "\"");
    if (snapshot.process.startedAt) {
        out.family("process_start_time_seconds", "gauge",
                   "Start time of the process since the Unix epoch in seconds.", false);
        out.sample(number(seconds(*snapshot.process.startedAt)));
    }
    if (snapshot.process.residentBytes) {
        out.family("process_resident_memory_bytes", "gauge", "Resident memory size in bytes.",
                   false);
        out.sample(number(*snapshot.process.residentBytes));
    }
    if (snapshot.process.openDescriptors) {
        out.family("process_open_fds", "gauge",
                   "Number of open file descriptors (on Windows: handles).", false);
        out.sample(number(*snapshot.process.openDescriptors));
    }
    return out.text();
}

} // namespace monitor
