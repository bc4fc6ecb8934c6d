// The JSON layer on arbitrary text: parses, then copies, writes and reparses
// the tree, checking what must hold whatever the input.
#include <cstddef>
#include <cstdint>
#include <string>

#include "fuzz/fuzz_input.h"
#include "protocol/json_value.h"
#include "protocol/json_writer.h"

using vantorel::fuzz::Check;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::u16string text = vantorel::fuzz::InputText(data, size);
    vantorel::JsonValue root;
    vantorel::JsonParseError error;
    const bool parsed = root.Parse(text, &error);
    Check(parsed == error.message.empty());
    Check(error.position >= 0 && static_cast<size_t>(error.position) <= text.size());
    Check(error.line >= 1 && error.column >= 1);
    if (!parsed)
        return 0;
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
    return 0;
}
