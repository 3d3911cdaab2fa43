#include "gateway/KeyRecord.h"

#include "gateway/base/JsonText.h"

namespace gateway {

namespace {

const std::string null = "null";

std::string jsonText(const std::optional<Text>& text)
{
    return text ? jsonString(toUtf8(*text)) : null;
}

std::string jsonText(const std::string& text)
{
    return text.empty() ? null : jsonString(text);
}

const char* answerName(KeyRecord::Answer answer)
{
    switch (answer) {
    case KeyRecord::Answer::Made:
        return "made";
    case KeyRecord::Answer::NotMade:
        return "not made";
    case KeyRecord::Answer::None:
        break;
    }
    return "none";
}

} // namespace

std::string keyRecordJson(const KeyRecord& record, std::string_view receivedStamp,
                          std::string_view answeredStamp)
{
    const auto value = [&record](Text KeyRequestValues::*field) -> std::optional<Text> {
        if (!record.request) {
            return std::nullopt;
        }
        return (*record.request).*field;
    };
    std::string json = "{\"received\":" + jsonString(receivedStamp);
    json += ",\"answered\":" + jsonString(answeredStamp);
    json += ",\"ms\":" + std::to_string(record.took.count());
    if (record.frontDesk) {
        json += ",\"front_desk\":" + jsonString(addressText(record.frontDesk->address.unmapped()));
        json += ",\"front_desk_port\":" + std::to_string(record.frontDesk->port);
    } else {
        json += ",\"front_desk\":null,\"front_desk_port\":null";
    }
    json += ",\"room\":" + jsonText(value(&KeyRequestValues::room));
    json += ",\"folio\":" + jsonText(value(&KeyRequestValues::folio));
    json += ",\"key_count\":" + jsonText(value(&KeyRequestValues::keyCount));
    json += ",\"key_type\":" + jsonText(value(&KeyRequestValues::keyType));
    json += ",\"valid_from\":" + jsonText(value(&KeyRequestValues::fromDateTime));
    json += ",\"valid_to\":" + jsonText(value(&KeyRequestValues::toDateTime));
    json += ",\"line_dates\":";
    json += record.firstLineDate && record.secondLineDate
                ? "[" + jsonText(record.firstLineDate) + "," + jsonText(record.secondLineDate) + "]"
                : null;
    json += ",\"line_sent\":";
    json += record.lineSent ? "true" : "false";
    json += ",\"code\":" + jsonText(record.code);
    json += ",\"answer\":" + jsonString(answerName(record.answer));
    json += ",\"reason\":" + jsonText(record.reason);
    json += ",\"failure\":" + jsonText(record.failure);
    json += "}";
    return json;
}

} // namespace gateway
