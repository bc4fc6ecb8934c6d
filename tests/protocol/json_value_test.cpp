#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "protocol/json_value.h"

namespace vantorel {
namespace {

std::vector<std::u16string> Names(const JsonValue& object)
{
    std::vector<std::u16string> names;
    for (const std::u16string* name : object.MemberOrder())
        names.push_back(*name);
    return names;
}

TEST(JsonValue, LookupOfAMissingMemberYieldsUndefinedAndTurnsTheValueIntoAnObject)
{
    JsonValue value;
    EXPECT_EQ(value.Kind(), JsonKind::Null);
    EXPECT_EQ(value.Subtype(), VT_NULL);
    JsonValue& member = value.Member(u"x");
    EXPECT_EQ(member.Kind(), JsonKind::Undefined);
    EXPECT_EQ(member.Subtype(), VT_EMPTY);
    EXPECT_EQ(value.Kind(), JsonKind::Object);
    EXPECT_EQ(value.Subtype(), VT_DISPATCH);
    EXPECT_EQ(value.Members()->size(), 1u);
    EXPECT_EQ(value.GetInt64(u"x"), 0);

    JsonValue text;
    text.SetString(u"abc");
    EXPECT_EQ(text.GetInt64(u"a"), 0);
    EXPECT_EQ(text.Kind(), JsonKind::Object);
    EXPECT_TRUE(text.Text().empty());
}

TEST(JsonValue, GetInt64ReadsOnlyIntegerSubtypes)
{
    JsonValue object;
    object.Member(u"i").SetInteger(-5000000000);
    object.Member(u"r").SetReal(2.5);
    object.Member(u"s").SetString(u"7");
    object.Member(u"b").SetBool(true);
    object.Member(u"n").Clear();
    object.Member(u"o").MakeObject();
    object.Member(u"a").MakeArray();
    EXPECT_EQ(object.GetInt64(u"i"), -5000000000);
    for (const char16_t* name : {u"r", u"s", u"b", u"n", u"o", u"a", u"missing"})
        EXPECT_EQ(object.GetInt64(name), 0);
}

TEST(JsonValue, RecordsEveryMentionOfAMemberNameAndForgetsThemOnAKindChange)
{
    JsonValue object;
    object.Member(u"b");
    object.Member(u"a");
    object.Member(u"b");
    const std::vector<std::u16string> expected = {u"b", u"a", u"b"};
    EXPECT_EQ(Names(object), expected);
    object.MakeArray();
    EXPECT_TRUE(object.MemberOrder().empty());
    object.Member(u"c");
    object.Clear();
    EXPECT_TRUE(object.MemberOrder().empty());
    EXPECT_EQ(object.Kind(), JsonKind::Null);
}

TEST(JsonValue, CopiesAreDeepAndIndependent)
{
    JsonValue original;
    ASSERT_TRUE(original.Parse(u"{\"list\":[1,{\"s\":\"x\"}],\"name\":\"n\"}"));
    JsonValue copy(original);
    EXPECT_EQ(Names(copy), Names(original));
    EXPECT_NE(copy.MemberOrder().front(), original.MemberOrder().front());  // the copy's own keys
    copy.Member(u"name").SetString(u"changed");
    JsonValue& list = copy.Member(u"list");
    JsonValue extra;
    extra.SetInteger(9);
    ASSERT_TRUE(list.Append(extra));

    EXPECT_TRUE(original.Member(u"name").Text() == u"n");
    EXPECT_EQ(original.Member(u"list").Elements()->size(), 2u);
    EXPECT_EQ(copy.Member(u"list").Elements()->size(), 3u);

    // An object without members takes no order list along.
    JsonValue empty;
    empty.MakeObject();
    JsonValue emptyCopy = empty;
    EXPECT_TRUE(emptyCopy.MemberOrder().empty());
    EXPECT_EQ(emptyCopy.Kind(), JsonKind::Object);
}

TEST(JsonValue, AssignmentFromItsOwnTreeIsSafe)
{
    JsonValue value;
    ASSERT_TRUE(value.Parse(u"{\"inner\":{\"deeper\":[1,2,3]}}"));
    value = value.Member(u"inner");
    EXPECT_EQ(value.Member(u"deeper").Elements()->size(), 3u);

    value = value;  // self-assignment
    EXPECT_EQ(value.Member(u"deeper").Elements()->size(), 3u);

    value = std::move(value.Member(u"deeper"));
    ASSERT_EQ(value.Kind(), JsonKind::Array);
    EXPECT_EQ(value.Elements()->size(), 3u);

    ASSERT_TRUE(value.Append(value));  // appends a copy of itself as it was
    EXPECT_EQ(value.Elements()->size(), 4u);
    EXPECT_EQ(value.Elements()->back().Elements()->size(), 3u);
}

TEST(JsonValue, MoveLeavesTheSourceNull)
{
    JsonValue source;
    source.SetString(u"text");
    JsonValue target(std::move(source));
    EXPECT_EQ(source.Kind(), JsonKind::Null);  // NOLINT(bugprone-use-after-move)
    EXPECT_TRUE(target.Text() == u"text");
}

TEST(JsonValue, FirstElementCopiesOnlyFromANonEmptyArray)
{
    JsonValue destination;
    destination.SetString(u"untouched");
    JsonValue notArray;
    notArray.MakeObject();
    EXPECT_FALSE(notArray.FirstElement(destination));
    JsonValue empty;
    empty.MakeArray();
    EXPECT_FALSE(empty.FirstElement(destination));
    EXPECT_TRUE(destination.Text() == u"untouched");

    JsonValue array;
    ASSERT_TRUE(array.Parse(u"[{\"a\":1},2]"));
    ASSERT_TRUE(array.FirstElement(destination));
    EXPECT_EQ(destination.GetInt64(u"a"), 1);
    EXPECT_EQ(array.Elements()->front().Members()->size(), 1u);  // the source keeps its element
}

TEST(JsonValue, AppendWorksOnlyOnArrays)
{
    JsonValue element;
    element.SetInteger(1);
    JsonValue object;
    object.MakeObject();
    EXPECT_FALSE(object.Append(element));
    EXPECT_EQ(object.Kind(), JsonKind::Object);
    JsonValue null;
    EXPECT_FALSE(null.Append(element));
    EXPECT_EQ(null.Kind(), JsonKind::Null);
}

TEST(JsonValue, SettersPickTheSubtypeTheParserWould)
{
    JsonValue v;
    v.SetReal(0.1);
    EXPECT_EQ(v.Subtype(), VT_R4);
    EXPECT_EQ(v.RealValue(), static_cast<double>(0.1f));
    v.SetReal(-0.1);
    EXPECT_EQ(v.Subtype(), VT_R8);
    EXPECT_EQ(v.RealValue(), -0.1);
    v.SetInteger(-129);
    EXPECT_EQ(v.Subtype(), VT_I2);
    EXPECT_TRUE(v.IsInteger());
    EXPECT_FALSE(v.IsReal());
    EXPECT_EQ(v.RealValue(), 0.0);
}

}  // namespace
}  // namespace vantorel
