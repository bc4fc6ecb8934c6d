// JSON values as the Local service's replies are read into them.
//
// A JsonValue carries its JSON kind and a subtype numbered like an OLE
// Automation VARTYPE (only the numbers are shared with the platform). Numbers
// keep the narrowest subtype that holds them. All text is UTF-16.
//
// Trees of any depth are safe: copying, destroying, parsing and writing use
// explicit work lists, never native recursion, so hostile nesting cannot
// exhaust a thread's stack.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <string_view>
#include <vector>

namespace vantorel {

enum class JsonKind : int32_t {
    Undefined = -1,
    Null = 0,
    String = 1,
    Number = 2,
    Bool = 3,
    Object = 4,
    Array = 5,
};

// Subtype codes; the values are those of the platform's VARTYPE.
enum JsonSubtype : uint16_t {
    VT_EMPTY = 0,
    VT_NULL = 1,
    VT_I2 = 2,
    VT_I4 = 3,
    VT_R4 = 4,
    VT_R8 = 5,
    VT_BSTR = 8,
    VT_DISPATCH = 9,
    VT_BOOL = 11,
    VT_I1 = 16,
    VT_I8 = 20,
    VT_ARRAY = 0x2000,
};

// Where Parse stopped at its first error. Position is the index of the
// offending UTF-16 unit; line and column count from 1, and only "\r\n" pairs
// start a new line. The message is empty when there was no error.
struct JsonParseError {
    int32_t line = 1;
    int32_t column = 1;
    int32_t position = 0;
    std::u16string message;
};

// One entry of the parser's stack: an open comment, object or array.
struct ParseFrame {
    enum : int32_t { Comment = 1, Object = 4, Array = 9 };
    int32_t state = 0;
    int32_t substate = 0;
    class JsonValue* value = nullptr;  // not owned; none for a comment
};

class JsonValue {
public:
    // Members ordered by plain comparison of UTF-16 code units.
    using MemberMap = std::map<std::u16string, JsonValue, std::less<>>;
    using ElementList = std::vector<JsonValue>;

    JsonValue() noexcept = default;  // Null
    JsonValue(const JsonValue& other);
    JsonValue(JsonValue&& other) noexcept;
    JsonValue& operator=(const JsonValue& other);
    JsonValue& operator=(JsonValue&& other) noexcept;
    ~JsonValue();

    JsonKind Kind() const { return kind_; }
    uint16_t Subtype() const { return subtype_; }
    bool IsInteger() const;
    bool IsReal() const;

    // Payload readers. Each returns the neutral value (0, false, empty) when
    // the kind or subtype does not match.
    int64_t IntValue() const;
    double RealValue() const;
    bool BoolValue() const;
    std::u16string_view Text() const;
    const MemberMap* Members() const;
    const ElementList* Elements() const;
    // Member names in the order they were mentioned (a name may repeat). Each
    // entry points at the key of its member in the map, which lives as long
    // as the list does: only a change of kind removes members.
    using NameOrder = std::vector<const std::u16string*>;
    const NameOrder& MemberOrder() const { return memberOrder_; }

    void Clear() noexcept;
    void SetString(std::u16string text);
    void SetBool(bool value);
    // Integer with the narrowest of VT_I1, VT_I2, VT_I4, VT_I8.
    void SetInteger(int64_t value);
    // Real as the parser stores it: rounded to single precision with VT_R4
    // when in the positive normal float range, else VT_R8 unrounded.
    void SetReal(double value);
    void MakeObject();
    void MakeArray();
    void MakeUndefined() noexcept;

    // The named member, created Undefined when missing. A value that is not
    // an object is turned into an empty object first. Every call records the
    // name in the member-name order list, also a read-only lookup.
    JsonValue& Member(std::u16string_view name);
    // On an array: appends a deep copy. Returns false on any other kind.
    bool Append(const JsonValue& value);
    // Copies element 0 of a non-empty array into destination.
    bool FirstElement(JsonValue& destination) const;
    // Member(name) read as a signed integer; 0 for every non-integer subtype.
    int64_t GetInt64(std::u16string_view name);

    // Parses text into this value (always an object or an array at the top).
    // True when the whole text was read without error. On failure the value
    // holds a partial tree that callers must not rely on.
    bool Parse(std::u16string_view text, JsonParseError* error = nullptr);

private:
    friend class JsonParser;
    friend class JsonTreeOps;

    void ReleasePayload() noexcept;

    uint16_t subtype_ = VT_NULL;
    JsonKind kind_ = JsonKind::Null;
    union Payload {
        int64_t integer;
        double real;
        bool boolean;
        std::u16string* text;
        MemberMap* members;
        ElementList* elements;
    } payload_{0};
    NameOrder memberOrder_;
};

}  // namespace vantorel
