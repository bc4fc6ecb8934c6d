// The forgiving, character-driven JSON parser.
//
// The parser reacts to one UTF-16 unit at a time through a stack of frames.
// Besides strict JSON it takes comments, single quotes, bare member names and
// a missing comma after a quoted value. Tokens are kept as ranges of the input
// and escapes are decoded incrementally, so a reply is read in time linear in
// its length even when a token would be re-examined at every unit.
#include <charconv>
#include <cstdlib>
#include <limits>
#include <new>
#include <string>

#include "protocol/json_chars.h"
#include "protocol/json_value.h"

namespace vantorel {

namespace {

constexpr char16_t kQuote = u'"';
constexpr char16_t kApostrophe = u'\'';

constexpr std::u16string_view kEmptyString = u"Empty string.";
constexpr std::u16string_view kInvalidControl = u"Invalid control character.";
constexpr std::u16string_view kAfterClose = u"Invalid character after a matching close.";
constexpr std::u16string_view kInvalidFirst =
    u"Invalid first character, expected array, object or comment.";
constexpr std::u16string_view kInvalidComment = u"Invalid comment block.";
constexpr std::u16string_view kObjectStartSeparator = u"Invalid separator at start of object.";
constexpr std::u16string_view kObjectExtraSeparator =
    u"Invalid extra separator, expected object name.";
constexpr std::u16string_view kObjectEnd =
    u"Invalid end of object, expected another object name after separator.";
constexpr std::u16string_view kNameEnd = u"Invalid end of object name, expected colon not found.";
constexpr std::u16string_view kStringFormat = u"Invalid string format.";
constexpr std::u16string_view kStringEnd = u"Invalid end of string.";
constexpr std::u16string_view kArrayStartSeparator = u"Invalid separator at start of array.";
constexpr std::u16string_view kArrayExtraSeparator = u"Invalid extra separator, expected value.";
constexpr std::u16string_view kArrayEnd =
    u"Invalid end of array, expected another value after separator.";
constexpr std::u16string_view kNoClose = u"Invalid format, matching closing character not found.";
constexpr std::u16string_view kNoMemory = u"Not enough memory.";

// Comment substates.
constexpr int32_t kCommentOpening = 0;
constexpr int32_t kCommentBlock = 2;
constexpr int32_t kCommentLine = 3;

// Object substates.
constexpr int32_t kObjectExpectName = 0;
constexpr int32_t kObjectAfterSeparator = 5;
constexpr int32_t kObjectQuotedName = 6;
constexpr int32_t kObjectBareName = 7;
constexpr int32_t kObjectAfterName = 8;
constexpr int32_t kObjectBeforeValue = 10;
constexpr int32_t kObjectInValue = 11;

// Array substates.
constexpr int32_t kArrayExpectValue = 0;
constexpr int32_t kArrayAfterSeparator = 10;
constexpr int32_t kArrayInValue = 11;

std::u16string_view Trim(std::u16string_view text)
{
    size_t begin = 0;
    size_t end = text.size();
    while (begin < end && IsJsonSpace(text[begin]))
        ++begin;
    while (end > begin && IsJsonSpace(text[end - 1]))
        --end;
    return text.substr(begin, end - begin);
}

int HexDigit(char16_t c)
{
    if (c >= u'0' && c <= u'9')
        return c - u'0';
    if (c >= u'a' && c <= u'f')
        return c - u'a' + 10;
    if (c >= u'A' && c <= u'F')
        return c - u'A' + 10;
    return -1;
}

// Decodes the escapes of a text that only ever grows at its end, resuming
// where the previous scan stopped. Scan gives 1 when the whole text decodes,
// 0 when it ends inside an escape (more text may complete it) and -1 for a
// malformed escape, which no later text can mend.
class EscapeDecoder {
public:
    int Scan(std::u16string_view raw)
    {
        if (malformed_)
            return -1;
        while (pos_ < raw.size()) {
            size_t next = raw.find(u'\\', pos_);
            if (next == std::u16string_view::npos)
                next = raw.size();
            if (next > pos_) {
                if (clean_ == pos_)
                    clean_ = next;
                else
                    tail_.append(raw.substr(pos_, next - pos_));
                pos_ = next;
                continue;
            }
            if (pos_ + 1 >= raw.size())
                return 0;
            char16_t decoded = 0;
            size_t length = 2;
            switch (raw[pos_ + 1]) {
            case u'"': decoded = u'"'; break;
            case u'\\': decoded = u'\\'; break;
            case u'/': decoded = u'/'; break;
            case u'b': decoded = 8; break;
            case u'f': decoded = 12; break;
            case u'n': decoded = 10; break;
            case u'r': decoded = 13; break;
            case u't': decoded = 9; break;
            case u'u': {
                if (raw.size() - (pos_ + 2) < 4)
                    return 0;
                unsigned unit = 0;
                for (size_t k = pos_ + 2; k < pos_ + 6; ++k) {
                    int digit = HexDigit(raw[k]);
                    if (digit < 0) {
                        malformed_ = true;
                        return -1;
                    }
                    unit = unit * 16 + static_cast<unsigned>(digit);
                }
                decoded = static_cast<char16_t>(unit);
                length = 6;
                break;
            }
            default:
                malformed_ = true;
                return -1;
            }
            tail_.push_back(decoded);
            pos_ += length;
        }
        return 1;
    }

    // The decoded text, after Scan gave 1 for raw.
    std::u16string Decoded(std::u16string_view raw) const
    {
        std::u16string text;
        text.reserve(clean_ + tail_.size());
        text.append(raw.substr(0, clean_));
        text.append(tail_);
        return text;
    }

    // After Scan gave 1: replaces raw by its decoded text in place, and makes
    // the decoder ready to scan that text as new raw text.
    void CommitInPlace(std::u16string& raw)
    {
        raw.resize(clean_);
        raw.append(tail_);
        pos_ = clean_;
        tail_.clear();
    }

    void Reset()
    {
        clean_ = 0;
        pos_ = 0;
        tail_.clear();
        malformed_ = false;
    }

private:
    size_t clean_ = 0;  // raw[0, clean_) holds no escape: it decodes to itself
    size_t pos_ = 0;    // raw[0, pos_) decodes to raw[0, clean_) + tail_
    std::u16string tail_;
    bool malformed_ = false;
};

// Reads a decimal real: sign, digits with an optional point, an optional
// exponent. Returns how many units form the number (0 when none).
size_t RealLength(std::u16string_view t)
{
    size_t k = 0;
    if (k < t.size() && (t[k] == u'+' || t[k] == u'-'))
        ++k;
    size_t digits = 0;
    while (k < t.size() && t[k] >= u'0' && t[k] <= u'9')
        ++k, ++digits;
    if (k < t.size() && t[k] == u'.') {
        ++k;
        while (k < t.size() && t[k] >= u'0' && t[k] <= u'9')
            ++k, ++digits;
    }
    if (digits == 0)
        return 0;
    if (k < t.size() && (t[k] == u'e' || t[k] == u'E')) {
        size_t e = k + 1;
        if (e < t.size() && (t[e] == u'+' || t[e] == u'-'))
            ++e;
        size_t exponentDigits = 0;
        while (e < t.size() && t[e] >= u'0' && t[e] <= u'9')
            ++e, ++exponentDigits;
        if (exponentDigits > 0)
            k = e;
    }
    return k;
}

// 1 with the value set, 0 when the token is not a value (yet), -1 when it is
// malformed.
int ReadNumber(std::u16string_view t, JsonValue& value)
{
    if (t.find_first_of(u".eE") != std::u16string_view::npos) {
        if (RealLength(t) != t.size())
            return 0;
        // The token is pure ASCII now; strtod gives a correctly rounded value
        // (and infinity or zero when out of range) on every platform we build.
        std::string narrow(t.begin(), t.end());
        value.SetReal(std::strtod(narrow.c_str(), nullptr));
        return 1;
    }
    if (t.size() > 1 && t[0] == u'0')
        return -1;  // a leading zero, as in 00 or 0x1F
    size_t k = 0;
    bool negative = false;
    if (t[0] == u'+' || t[0] == u'-') {
        negative = t[0] == u'-';
        ++k;
    }
    if (k == t.size())
        return 0;
    // Accumulate the magnitude, clamping at the 64-bit limits as the
    // standard conversion does.
    constexpr uint64_t kMaxMagnitude = uint64_t{1} << 63;
    const uint64_t limit = negative ? kMaxMagnitude : kMaxMagnitude - 1;
    uint64_t magnitude = 0;
    for (; k < t.size(); ++k) {
        if (t[k] < u'0' || t[k] > u'9')
            return 0;
        unsigned digit = t[k] - u'0';
        if (magnitude > (limit - digit) / 10)
            magnitude = limit;
        else
            magnitude = magnitude * 10 + digit;
    }
    int64_t result;
    if (negative)
        result = magnitude == kMaxMagnitude ? std::numeric_limits<int64_t>::min()
                                            : -static_cast<int64_t>(magnitude);
    else
        result = static_cast<int64_t>(magnitude);
    value.SetInteger(result);
    return 1;
}

// Reads one scalar token: a string, true, false, null or a number.
int ReadScalar(std::u16string_view token, JsonValue& value)
{
    std::u16string_view t = Trim(token);
    if (t.empty())
        return 0;
    if (t == u"true" || t == u"false") {
        value.SetBool(t == u"true");
        return 1;
    }
    if (t == u"null") {
        value.Clear();
        return 1;
    }
    const char16_t first = t.front();
    const bool hasLast = t.size() > 1;
    const char16_t last = hasLast ? t.back() : 0;
    bool isString = false;
    if (first == kQuote) {
        if (!hasLast || last != kQuote)
            return 0;
        isString = true;
    } else if (first == kApostrophe) {
        isString = hasLast && last == kApostrophe;
    } else if (hasLast && last == kQuote) {
        return 0;
    }
    if (isString) {
        std::u16string_view body = t.substr(1, t.size() - 2);
        EscapeDecoder decoder;
        int result = decoder.Scan(body);
        if (result == 1)
            value.SetString(decoder.Decoded(body));
        return result;
    }
    return ReadNumber(t, value);
}

// The index of the first unit at or after from that is a or b or a control
// unit the parser rejects; the text's length when there is none.
size_t FindStop(std::u16string_view text, size_t from, char16_t a, char16_t b)
{
    const char16_t* data = text.data();
    const size_t n = text.size();
    for (size_t k = from; k < n; ++k) {
        char16_t c = data[k];
        if (c == a || c == b)
            return k;
        if (c < 0xA0 && IsForbiddenControl(c))
            return k;
    }
    return n;
}

}  // namespace

class JsonParser {
public:
    JsonParser(JsonValue& root, std::u16string_view text, JsonParseError* error)
        : root_(root), text_(text), error_(error)
    {
    }

    bool Run()
    {
        root_.Clear();
        if (error_)
            *error_ = JsonParseError{};
        if (text_.empty()) {
            Fail(kEmptyString, 0);
            return false;
        }
        try {
            const size_t n = text_.size();
            for (i_ = 0; i_ < n && !failed_; ++i_) {
                const char16_t c = text_[i_];
                if (IsForbiddenControl(c)) {
                    Fail(kInvalidControl, i_);
                    break;
                }
                if (stack_.empty()) {
                    if (rootOpened_) {
                        if (!IsJsonSpace(c))
                            Fail(kAfterClose, i_);
                    } else {
                        TopLevelStep(c);
                    }
                    continue;
                }
                switch (stack_.back().state) {
                case ParseFrame::Comment: CommentStep(c); break;
                case ParseFrame::Object: ObjectStep(c); break;
                default: ArrayStep(c); break;
                }
            }
            if (!failed_ && !stack_.empty()) {
                root_.Clear();
                Fail(kNoClose, n);
            }
        } catch (const std::bad_alloc&) {
            stack_.clear();
            root_.Clear();
            Fail(kNoMemory, i_);
        }
        return !failed_;
    }

private:
    void Fail(std::u16string_view message, size_t position)
    {
        failed_ = true;
        if (!error_)
            return;
        // Only "\r\n" pairs that end before the position start a new line.
        size_t lines = 0;
        size_t lineStart = 0;
        const size_t limit = position < text_.size() ? position : text_.size();
        for (size_t k = 0; k + 1 < limit; ++k) {
            if (text_[k] == u'\r' && text_[k + 1] == u'\n') {
                ++lines;
                lineStart = k + 2;
            }
        }
        constexpr size_t kMax = std::numeric_limits<int32_t>::max();
        error_->message.assign(message);
        error_->position = static_cast<int32_t>(position < kMax ? position : kMax);
        error_->line = static_cast<int32_t>(1 + (lines < kMax ? lines : kMax - 1));
        const size_t column = position - lineStart + 1;
        error_->column = static_cast<int32_t>(column < kMax ? column : kMax);
    }

    void Push(int32_t state, JsonValue* value, int32_t substate = 0)
    {
        stack_.push_back(ParseFrame{state, substate, value});
    }

    void OpenComment() { Push(ParseFrame::Comment, nullptr, kCommentOpening); }

    // A comment is transparent: the frame below goes on exactly where it was
    // when the comment opened, so "after a separator" stays an error for a
    // closer that follows, and "after the name" still wants its colon.
    void EndComment() { stack_.pop_back(); }

    // Pops a container; the frame below, if any, expects its next entry.
    void Close()
    {
        stack_.pop_back();
        if (!stack_.empty())
            stack_.back().substate = 0;
    }

    void ClearName()
    {
        name_.clear();
        nameDecoder_.Reset();
    }

    // Sets i_ so that the loop's increment lands on stop.
    void SkipTo(size_t stop) { i_ = stop - 1; }

    void TopLevelStep(char16_t c)
    {
        switch (c) {
        case u'/':
            OpenComment();
            break;
        case u'[':
            root_.MakeArray();
            Push(ParseFrame::Array, &root_);
            rootOpened_ = true;
            break;
        case u'{':
            root_.MakeObject();
            Push(ParseFrame::Object, &root_);
            rootOpened_ = true;
            break;
        default:
            if (!IsJsonSpace(c))
                Fail(kInvalidFirst, i_);
            break;
        }
    }

    void CommentStep(char16_t c)
    {
        ParseFrame& frame = stack_.back();
        switch (frame.substate) {
        case kCommentOpening:
            if (c == u'*')
                frame.substate = kCommentBlock;
            else if (c == u'/')
                frame.substate = kCommentLine;
            else
                Fail(kInvalidComment, i_);
            return;
        case kCommentBlock:
            // The previous unit is the one just before in the text, so the
            // three units /*/ make a complete comment.
            if (c == u'/' && text_[i_ - 1] == u'*')
                EndComment();
            else
                SkipTo(FindStop(text_, i_ + 1, u'/', u'/'));
            return;
        default:
            if (c == u'\n' || c == u'\r')
                EndComment();
            else
                SkipTo(FindStop(text_, i_ + 1, u'\n', u'\r'));
            return;
        }
    }

    void ObjectStep(char16_t c)
    {
        ParseFrame& frame = stack_.back();
        JsonValue& object = *frame.value;
        switch (frame.substate) {
        case kObjectExpectName:
        case kObjectAfterSeparator:
            if (c == kQuote || c == kApostrophe) {
                frame.substate = kObjectQuotedName;
                quote_ = c;
            } else if (c == u',') {
                if (object.Members()->empty())
                    Fail(kObjectStartSeparator, i_);
                else if (frame.substate == kObjectAfterSeparator)
                    Fail(kObjectExtraSeparator, i_);
                else {
                    ClearName();
                    frame.substate = kObjectAfterSeparator;
                }
            } else if (c == u'/') {
                OpenComment();
            } else if (c == u'}') {
                if (frame.substate == kObjectAfterSeparator)
                    Fail(kObjectEnd, i_);
                else
                    Close();
            } else if (!IsJsonSpace(c)) {
                frame.substate = kObjectBareName;
                quote_ = 0;
                name_.push_back(c);
            }
            return;
        case kObjectQuotedName:
            if (c == quote_) {
                if (nameDecoder_.Scan(name_) == 1) {
                    nameDecoder_.CommitInPlace(name_);
                    frame.substate = kObjectAfterName;
                    quote_ = 0;
                    return;
                }
                name_.push_back(c);  // an escaped quote, or a name not finished yet
            } else {
                size_t stop = FindStop(text_, i_ + 1, quote_, quote_);
                name_.append(text_.substr(i_, stop - i_));
                SkipTo(stop);
            }
            return;
        case kObjectBareName:
            if ((c == u'*' || c == u'/') && text_[i_ - 1] == u'/') {
                // A comment glued to a bare name ends the name (without its
                // "/") as white space would, then opens the comment; the
                // colon after it finds the same name.
                name_.pop_back();
                object.Member(name_).Clear();
                frame.substate = kObjectAfterName;
                Push(ParseFrame::Comment, nullptr, c == u'*' ? kCommentBlock : kCommentLine);
            } else if (c == u':') {
                member_ = &object.Member(name_);
                member_->Clear();
                frame.substate = kObjectBeforeValue;
            } else if (IsJsonSpace(c)) {
                object.Member(name_).Clear();
                frame.substate = kObjectAfterName;
            } else {
                name_.push_back(c);
            }
            return;
        case kObjectAfterName:
            if (c == u'/') {
                OpenComment();
            } else if (c == u':') {
                member_ = &object.Member(name_);
                member_->Clear();
                frame.substate = kObjectBeforeValue;
            } else if (!IsJsonSpace(c)) {
                Fail(kNameEnd, i_);
            }
            return;
        case kObjectBeforeValue:
            if (c == u'/') {
                OpenComment();
            } else if (c == u'[' || c == u'{') {
                JsonValue* member = member_;
                ClearName();
                if (c == u'[')
                    member->MakeArray();
                else
                    member->MakeObject();
                Push(c == u'[' ? ParseFrame::Array : ParseFrame::Object, member);
            } else if (!IsJsonSpace(c)) {
                BeginToken();
                frame.substate = kObjectInValue;
            }
            return;
        default:
            ObjectValueStep(frame, c);
            return;
        }
    }

    void ArrayStep(char16_t c)
    {
        ParseFrame& frame = stack_.back();
        JsonValue& array = *frame.value;
        if (frame.substate == kArrayInValue) {
            ArrayValueStep(frame, c);
            return;
        }
        if (c == u',') {
            if (array.Elements()->empty())
                Fail(kArrayStartSeparator, i_);
            else if (frame.substate == kArrayAfterSeparator)
                Fail(kArrayExtraSeparator, i_);
            else
                frame.substate = kArrayAfterSeparator;
        } else if (c == u'/') {
            OpenComment();
        } else if (c == u'[' || c == u'{') {
            array.Append(JsonValue());
            JsonValue& element = frame.value->payload_.elements->back();
            if (c == u'[')
                element.MakeArray();
            else
                element.MakeObject();
            Push(c == u'[' ? ParseFrame::Array : ParseFrame::Object, &element);
        } else if (c == u']') {
            if (frame.substate == kArrayAfterSeparator)
                Fail(kArrayEnd, i_);
            else
                Close();
        } else if (!IsJsonSpace(c)) {
            BeginToken();
            frame.substate = kArrayInValue;
        }
    }

    void BeginToken()
    {
        tokenStart_ = i_;
        tokenDecoder_.Reset();
    }

    // A quoted token ends at its closing quote, which is the only unit at
    // which the token's text can read as a complete string; the units in
    // between change nothing and are skipped. An escaped quote goes on to
    // the next quote here rather than through the main loop, which text made
    // of escaped quotes would otherwise enter at every one of them.
    int ReadQuotedToken(char16_t quote, JsonValue& fresh)
    {
        for (;;) {
            if (text_[i_] == quote) {
                std::u16string_view body = text_.substr(tokenStart_ + 1, i_ - tokenStart_ - 1);
                const int result = tokenDecoder_.Scan(body);
                if (result == 1)
                    fresh.SetString(tokenDecoder_.Decoded(body));
                if (result != 0)
                    return result;
            }
            const size_t stop = FindStop(text_, i_ + 1, quote, quote);
            if (stop >= text_.size() || text_[stop] != quote) {
                SkipTo(stop);  // the end, or a unit the main loop rejects
                return 0;
            }
            i_ = stop;
        }
    }

    // A bare token ends only at a terminator; before that nothing happens.
    bool AtBareTokenEnd(char16_t c, char16_t closer)
    {
        if (c == u',' || c == closer)
            return true;
        SkipTo(FindStop(text_, i_ + 1, u',', closer));
        return false;
    }

    void ObjectValueStep(ParseFrame& frame, char16_t c)
    {
        const char16_t first = text_[tokenStart_];
        JsonValue fresh;
        int result;
        bool terminated = false;
        if (first == kQuote || first == kApostrophe) {
            result = ReadQuotedToken(first, fresh);
        } else {
            if (!AtBareTokenEnd(c, u'}'))
                return;
            terminated = true;
            result = ReadScalar(text_.substr(tokenStart_, i_ - tokenStart_), fresh);
        }
        if (result < 0) {
            Fail(kStringFormat, i_);
        } else if (result > 0) {
            *member_ = std::move(fresh);
            ClearName();
            if (c == u',') {
                frame.substate = kObjectAfterSeparator;
            } else {
                frame.substate = kObjectExpectName;
                if (c == u'}')
                    Close();
            }
        } else if (terminated) {
            Fail(kStringEnd, i_);
        }
    }

    void ArrayValueStep(ParseFrame& frame, char16_t c)
    {
        const char16_t first = text_[tokenStart_];
        JsonValue fresh;
        int result;
        bool terminated = false;
        // Only a token in quotation marks is read at every unit; any other,
        // a single-quoted one too, ends only at "," or "]".
        if (first == kQuote) {
            result = ReadQuotedToken(first, fresh);
        } else {
            if (!AtBareTokenEnd(c, u']'))
                return;
            terminated = true;
            result = ReadScalar(text_.substr(tokenStart_, i_ - tokenStart_), fresh);
        }
        if (result < 0) {
            Fail(kStringFormat, i_);
        } else if (result > 0) {
            frame.value->payload_.elements->push_back(std::move(fresh));
            frame.substate = kArrayExpectValue;
            if (c == u']')
                Close();
        } else if (terminated) {
            Fail(kStringEnd, i_);
        }
    }

    JsonValue& root_;
    std::u16string_view text_;
    JsonParseError* error_;
    std::vector<ParseFrame> stack_;
    size_t i_ = 0;
    bool rootOpened_ = false;
    bool failed_ = false;

    std::u16string name_;        // the name buffer of the innermost object
    EscapeDecoder nameDecoder_;  // progress of unescaping name_
    char16_t quote_ = 0;         // the quote that opened the current name
    JsonValue* member_ = nullptr;  // the member whose value is being read

    size_t tokenStart_ = 0;  // a value token is text_[tokenStart_, i_]
    EscapeDecoder tokenDecoder_;
};

bool JsonValue::Parse(std::u16string_view text, JsonParseError* error)
{
    return JsonParser(*this, text, error).Run();
}

}  // namespace vantorel
