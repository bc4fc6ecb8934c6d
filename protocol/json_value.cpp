#include "protocol/json_value.h"

#include <new>
#include <utility>

namespace vantorel {

// Tree-wide work on values: kept out of the class so that its header stays
// small, and iterative so that nesting depth never reaches the native stack.
class JsonTreeOps {
public:
    // Frees the container payload of a value whose kind is Object or Array.
    static void ReleaseContainer(JsonKind kind, JsonValue::Payload payload) noexcept
    {
        std::vector<std::pair<JsonKind, JsonValue::Payload>> pending;
        for (;;) {
            // Detach nested containers before freeing their parent, so that
            // freeing a map or list never recurses into another one.
            auto detach = [&pending](JsonValue& child) noexcept {
                if (child.kind_ != JsonKind::Object && child.kind_ != JsonKind::Array)
                    return;
                try {
                    pending.emplace_back(child.kind_, child.payload_);
                } catch (const std::bad_alloc&) {
                    return;  // left attached: freed by plain recursion instead
                }
                child.kind_ = JsonKind::Null;
                child.subtype_ = VT_NULL;
                child.payload_.integer = 0;
            };
            if (kind == JsonKind::Object) {
                for (auto& entry : *payload.members)
                    detach(entry.second);
                delete payload.members;
            } else {
                for (auto& element : *payload.elements)
                    detach(element);
                delete payload.elements;
            }
            if (pending.empty())
                return;
            kind = pending.back().first;
            payload = pending.back().second;
            pending.pop_back();
        }
    }

    // Deep copy of source into destination, which must be a fresh Null value.
    // On an exception the destination holds a consistent partial copy.
    static void CopyTree(JsonValue& destination, const JsonValue& source)
    {
        std::vector<std::pair<const JsonValue*, JsonValue*>> pending;
        pending.emplace_back(&source, &destination);
        while (!pending.empty()) {
            const JsonValue* from = pending.back().first;
            JsonValue* to = pending.back().second;
            pending.pop_back();
            switch (from->kind_) {
            case JsonKind::String:
                to->payload_.text = new std::u16string(*from->payload_.text);
                break;
            case JsonKind::Object: {
                to->payload_.members = new JsonValue::MemberMap;
                to->kind_ = JsonKind::Object;
                to->subtype_ = from->subtype_;
                const JsonValue::MemberMap& members = *from->payload_.members;
                for (const auto& entry : members) {
                    auto it = to->payload_.members->emplace_hint(to->payload_.members->end(),
                                                                 entry.first, JsonValue());
                    pending.emplace_back(&entry.second, &it->second);
                }
                if (!members.empty()) {
                    // The same names, pointing at the copy's own keys.
                    to->memberOrder_.reserve(from->memberOrder_.size());
                    for (const std::u16string* name : from->memberOrder_)
                        to->memberOrder_.push_back(&to->payload_.members->find(*name)->first);
                }
                continue;
            }
            case JsonKind::Array: {
                to->payload_.elements = new JsonValue::ElementList;
                to->kind_ = JsonKind::Array;
                to->subtype_ = from->subtype_;
                const JsonValue::ElementList& elements = *from->payload_.elements;
                // Sized once, so the pointers taken below stay valid.
                to->payload_.elements->resize(elements.size());
                for (size_t k = 0; k < elements.size(); ++k)
                    pending.emplace_back(&elements[k], &(*to->payload_.elements)[k]);
                continue;
            }
            default:
                to->payload_ = from->payload_;
                break;
            }
            to->kind_ = from->kind_;
            to->subtype_ = from->subtype_;
        }
    }
};

JsonValue::JsonValue(const JsonValue& other)
{
    try {
        JsonTreeOps::CopyTree(*this, other);
    } catch (...) {
        ReleasePayload();
        throw;
    }
}

JsonValue::JsonValue(JsonValue&& other) noexcept
    : subtype_(other.subtype_),
      kind_(other.kind_),
      payload_(other.payload_),
      memberOrder_(std::move(other.memberOrder_))
{
    other.subtype_ = VT_NULL;
    other.kind_ = JsonKind::Null;
    other.payload_.integer = 0;
    other.memberOrder_.clear();
}

JsonValue& JsonValue::operator=(const JsonValue& other)
{
    if (this != &other) {
        // Copy first: other may live inside this value's own tree.
        JsonValue copy(other);
        *this = std::move(copy);
    }
    return *this;
}

JsonValue& JsonValue::operator=(JsonValue&& other) noexcept
{
    if (this != &other) {
        // Take other's payload before releasing ours: other may be one of
        // our own descendants.
        JsonValue taken;
        taken.subtype_ = other.subtype_;
        taken.kind_ = other.kind_;
        taken.payload_ = other.payload_;
        taken.memberOrder_ = std::move(other.memberOrder_);
        other.subtype_ = VT_NULL;
        other.kind_ = JsonKind::Null;
        other.payload_.integer = 0;
        other.memberOrder_.clear();

        ReleasePayload();
        subtype_ = taken.subtype_;
        kind_ = taken.kind_;
        payload_ = taken.payload_;
        memberOrder_ = std::move(taken.memberOrder_);
        taken.kind_ = JsonKind::Null;
        taken.payload_.integer = 0;
    }
    return *this;
}

JsonValue::~JsonValue()
{
    ReleasePayload();
}

void JsonValue::ReleasePayload() noexcept
{
    switch (kind_) {
    case JsonKind::String:
        delete payload_.text;
        break;
    case JsonKind::Object:
    case JsonKind::Array:
        JsonTreeOps::ReleaseContainer(kind_, payload_);
        break;
    default:
        break;
    }
    payload_.integer = 0;
    kind_ = JsonKind::Null;
    subtype_ = VT_NULL;
}

bool JsonValue::IsInteger() const
{
    if (kind_ != JsonKind::Number)
        return false;
    return subtype_ == VT_I1 || subtype_ == VT_I2 || subtype_ == VT_I4 || subtype_ == VT_I8;
}

bool JsonValue::IsReal() const
{
    return kind_ == JsonKind::Number && (subtype_ == VT_R4 || subtype_ == VT_R8);
}

int64_t JsonValue::IntValue() const
{
    return IsInteger() ? payload_.integer : 0;
}

double JsonValue::RealValue() const
{
    return IsReal() ? payload_.real : 0.0;
}

bool JsonValue::BoolValue() const
{
    return kind_ == JsonKind::Bool && payload_.boolean;
}

std::u16string_view JsonValue::Text() const
{
    return kind_ == JsonKind::String ? std::u16string_view(*payload_.text) : std::u16string_view();
}

const JsonValue::MemberMap* JsonValue::Members() const
{
    return kind_ == JsonKind::Object ? payload_.members : nullptr;
}

const JsonValue::ElementList* JsonValue::Elements() const
{
    return kind_ == JsonKind::Array ? payload_.elements : nullptr;
}

void JsonValue::Clear() noexcept
{
    ReleasePayload();
    memberOrder_.clear();
}

void JsonValue::MakeUndefined() noexcept
{
    Clear();
    kind_ = JsonKind::Undefined;
    subtype_ = VT_EMPTY;
}

void JsonValue::SetString(std::u16string text)
{
    auto* owned = new std::u16string(std::move(text));
    Clear();
    payload_.text = owned;
    kind_ = JsonKind::String;
    subtype_ = VT_BSTR;
}

void JsonValue::SetBool(bool value)
{
    Clear();
    payload_.boolean = value;
    kind_ = JsonKind::Bool;
    subtype_ = VT_BOOL;
}

void JsonValue::SetInteger(int64_t value)
{
    Clear();
    payload_.integer = value;
    kind_ = JsonKind::Number;
    if (value >= -128 && value <= 127)
        subtype_ = VT_I1;
    else if (value >= -32768 && value <= 32767)
        subtype_ = VT_I2;
    else if (value >= -2147483647 - 1 && value <= 2147483647)
        subtype_ = VT_I4;
    else
        subtype_ = VT_I8;
}

void JsonValue::SetReal(double value)
{
    Clear();
    kind_ = JsonKind::Number;
    // The positive normal range of a single-precision float; the test is on
    // the signed value, so negative reals are never rounded.
    if (value >= 1.1754943508222875e-38 && value <= 3.4028234663852886e+38) {
        volatile float narrowed = static_cast<float>(value);  // one rounding, no excess precision
        payload_.real = narrowed;
        subtype_ = VT_R4;
    } else {
        payload_.real = value;
        subtype_ = VT_R8;
    }
}

void JsonValue::MakeObject()
{
    auto* members = new MemberMap;
    Clear();
    payload_.members = members;
    kind_ = JsonKind::Object;
    subtype_ = VT_DISPATCH;
}

void JsonValue::MakeArray()
{
    auto* elements = new ElementList;
    Clear();
    payload_.elements = elements;
    kind_ = JsonKind::Array;
    subtype_ = VT_ARRAY;
}

JsonValue& JsonValue::Member(std::u16string_view name)
{
    if (kind_ != JsonKind::Object)
        MakeObject();
    if (memberOrder_.empty())
        memberOrder_.reserve(8);  // replies have a handful of members: one allocation
    auto it = payload_.members->lower_bound(name);
    if (it == payload_.members->end() || it->first != name) {
        it = payload_.members->emplace_hint(it, name, JsonValue());
        it->second.MakeUndefined();
    }
    memberOrder_.push_back(&it->first);
    return it->second;
}

bool JsonValue::Append(const JsonValue& value)
{
    if (kind_ != JsonKind::Array)
        return false;
    JsonValue copy(value);  // before growing: value may be one of our elements
    payload_.elements->push_back(std::move(copy));
    return true;
}

bool JsonValue::FirstElement(JsonValue& destination) const
{
    if (kind_ != JsonKind::Array || payload_.elements->empty())
        return false;
    destination = payload_.elements->front();
    return true;
}

int64_t JsonValue::GetInt64(std::u16string_view name)
{
    return Member(name).IntValue();
}

}  // namespace vantorel
