// Parses arbitrary bytes (as UTF-8, and as raw UTF-16 units), then copies,
// writes and reparses the tree and runs the reply readers, checking what must
// hold whatever the input.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "protocol/json_value.h"
#include "protocol/json_writer.h"
#include "protocol/service_api.h"
#include "protocol/utf8.h"

namespace {

void Check(bool condition)
{
    if (!condition)
        std::abort();
}

void Exercise(const std::u16string& text)
{
    vantorel::JsonValue root;
    vantorel::JsonParseError error;
    const bool parsed = root.Parse(text, &error);
    Check(parsed == error.message.empty());
    Check(error.position >= 0 && static_cast<size_t>(error.position) <= text.size());
    Check(error.line >= 1 && error.column >= 1);

    // The reply readers agree with the parser about what parses.
    vantorel::ServiceEvent event;
    Check(vantorel::ReadServiceEvent(text, event) == parsed);
    int64_t remaining = -7;
    const vantorel::TransferCounts counts = vantorel::ReadTransferCounts(text, u"fileCounts", remaining);
    Check(parsed || (remaining == -7 && counts == vantorel::TransferCounts{}));
    int64_t used = -7, total = -7;
    if (!vantorel::ReadStorage(text, used, total))
        Check(parsed ? total == 0 : (used == -7 && total == -7));
    if (!parsed)
        return;
    Check(root.Kind() == vantorel::JsonKind::Object || root.Kind() == vantorel::JsonKind::Array ||
          root.Kind() == vantorel::JsonKind::Null);

    const vantorel::JsonValue copy(root);
    std::u16string original;
    std::u16string copied;
    for (uint32_t flags : {0u, 0x1Fu, 0x1C9u}) {
        vantorel::Write(root, original, flags);
        vantorel::Write(copy, copied, flags);
        Check(original == copied);  // a copy writes exactly as its source
    }
    vantorel::Write(root, original, 0);
    vantorel::JsonValue again;
    if (again.Parse(original)) {
        // Writing what was read back is stable once the numbers have settled.
        std::u16string second;
        std::u16string third;
        vantorel::Write(again, second, 0);
        vantorel::JsonValue settled;
        Check(settled.Parse(second));
        vantorel::Write(settled, third, 0);
        vantorel::JsonValue last;
        Check(last.Parse(third));
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string bytes(reinterpret_cast<const char*>(data), size);
    Exercise(vantorel::DecodeUtf8Lenient(bytes));
    std::u16string units(size / 2, u'\0');
    for (size_t k = 0; k < units.size(); ++k)
        units[k] = static_cast<char16_t>(data[2 * k] | (data[2 * k + 1] << 8));
    Exercise(units);
    return 0;
}
