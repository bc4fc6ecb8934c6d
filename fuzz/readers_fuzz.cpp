// The reply readers of protocol/service_api.h on arbitrary text: they agree
// with the parser about what parses, leave their outputs untouched when it
// does not, and read what the parsed tree holds.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "fuzz/fuzz_input.h"
#include "protocol/json_value.h"
#include "protocol/service_api.h"

using vantorel::JsonKind;
using vantorel::JsonValue;
using vantorel::fuzz::Check;

namespace {

// A member of an object found through the const interface, not through the
// Member() lookup the readers use.
const JsonValue* Find(const JsonValue* object, std::u16string_view name)
{
    if (!object || !object->Members())
        return nullptr;
    const auto found = object->Members()->find(name);
    return found == object->Members()->end() ? nullptr : &found->second;
}

int64_t IntegerOf(const JsonValue* value)
{
    return value && value->IsInteger() ? value->IntValue() : 0;
}

// Every line feed comes after a carriage return.
bool LineFeedsAfterReturns(std::u16string_view text)
{
    for (size_t i = 0; i < text.size(); ++i)
        if (text[i] == u'\n' && (i == 0 || text[i - 1] != u'\r'))
            return false;
    return true;
}

std::u16string WithoutReturnsBeforeLineFeeds(std::u16string_view text)
{
    std::u16string out;
    for (size_t i = 0; i < text.size(); ++i)
        if (!(text[i] == u'\r' && i + 1 < text.size() && text[i + 1] == u'\n'))
            out += text[i];
    return out;
}

void CheckEventField(const JsonValue& root, std::u16string_view name, const std::u16string& field)
{
    const JsonValue* member = Find(&root, name);
    if (!member || member->Kind() == JsonKind::Undefined) {
        Check(field.empty());
    } else if (member->Kind() == JsonKind::String) {
        Check(LineFeedsAfterReturns(field));
        Check(WithoutReturnsBeforeLineFeeds(field) == WithoutReturnsBeforeLineFeeds(member->Text()));
        Check(field.size() >= member->Text().size());
    } else {
        Check(!field.empty());  // written as JSON: never nothing
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::u16string text = vantorel::fuzz::InputText(data, size);
    JsonValue root;
    const bool parsed = root.Parse(text);

    vantorel::ServiceEvent event;
    event.owner = u"o";
    event.type = u"t";
    event.event = u"e";
    event.title = u"i";
    event.message = u"m";
    Check(vantorel::ReadServiceEvent(text, event) == parsed);
    if (!parsed) {
        Check(event.owner == u"o" && event.type == u"t" && event.event == u"e" && event.title == u"i" &&
              event.message == u"m");
    } else {
        CheckEventField(root, u"owner", event.owner);
        CheckEventField(root, u"type", event.type);
        CheckEventField(root, u"event", event.event);
        CheckEventField(root, u"title", event.title);
        CheckEventField(root, u"message", event.message);
    }

    int64_t remaining = -7;
    const vantorel::TransferCounts counts = vantorel::ReadTransferCounts(text, u"fileCounts", remaining);
    if (!parsed) {
        Check(remaining == -7 && counts == vantorel::TransferCounts{});
    } else {
        const JsonValue* first =
            root.Elements() && !root.Elements()->empty() ? &root.Elements()->front() : nullptr;
        const JsonValue* group = Find(first, u"fileCounts");
        Check(remaining == IntegerOf(Find(first, u"timeRemaining")));
        Check(counts.running == IntegerOf(Find(group, u"RUNNING")));
        Check(counts.finished == IntegerOf(Find(group, u"FINISHED")));
        Check(counts.paused == IntegerOf(Find(group, u"PAUSED")));
        Check(counts.errored == IntegerOf(Find(group, u"ERRORED")));
        Check(counts.pending == IntegerOf(Find(group, u"PENDING")));
    }

    int64_t used = -7, total = -7;
    const bool storage = vantorel::ReadStorage(text, used, total);
    if (!parsed) {
        Check(!storage && used == -7 && total == -7);
    } else {
        Check(storage == (total != 0));
        Check(used == IntegerOf(Find(&root, u"usedSpace")));
        Check(total == IntegerOf(Find(&root, u"totalSpace")));
    }

    // The two readers that do not parse: what they give lies in the reply.
    const std::u16string_view line = vantorel::FirstReplyLine(text);
    Check(std::u16string_view(text).substr(0, line.size()) == line);
    Check(line.find_first_of(u"\r\n") == std::u16string_view::npos);
    Check(line.size() == text.size() || text[line.size()] == u'\r' || text[line.size()] == u'\n');
    if (const auto state = vantorel::FindLoginState(text))
        Check(text.find(vantorel::kLoginStateNames[*state]) != std::u16string::npos);
    else
        for (std::u16string_view name : vantorel::kLoginStateNames)
            Check(text.find(name) == std::u16string::npos);
    return 0;
}
