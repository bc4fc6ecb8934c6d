#include <gtest/gtest.h>

#include <string>

#include "protocol/http_client.h"
#include "protocol/upload_body.h"

namespace vantorel {
namespace {

TEST(UploadBody, EncodesOnlyBackslashesAndAmpersands)
{
    EXPECT_EQ(EncodeUploadPath(u"C:\\a&b.txt"), u"C:\\\\a%26b.txt");
    EXPECT_EQ(EncodeUploadPath(u"a&&b"), u"a%26%26b");
    EXPECT_EQ(EncodeUploadPath(u"already%26"), u"already%26");
    EXPECT_EQ(EncodeUploadPath(u"\\\\server\\share\\f.txt"), u"\\\\\\\\server\\\\share\\\\f.txt");
    EXPECT_EQ(EncodeUploadPath(u"q\"%+=# \u00e9\U0001F600"), u"q\"%+=# \u00e9\U0001F600");
    EXPECT_EQ(EncodeUploadPath(u""), u"");
}

TEST(UploadBody, JoinsEntriesWithCommasBetweenOnly)
{
    EXPECT_EQ(BuildUploadBody({u"C:\\a&b.txt", u"D:\\x.doc"}),
              u"action=upload&cloudpath=&localpath=[\"C:\\\\a%26b.txt\",\"D:\\\\x.doc\"]");
    EXPECT_EQ(BuildUploadBody({u"C:\\x"}), u"action=upload&cloudpath=&localpath=[\"C:\\\\x\"]");
    EXPECT_EQ(BuildUploadBody({u"a", u"b,c", u"d"}), u"action=upload&cloudpath=&localpath=[\"a\",\"b,c\",\"d\"]");
    EXPECT_EQ(kUploadBodyPrefix.size(), 36u);
}

TEST(UploadBody, NonAsciiReachesTheWireAsUtf8)
{
    const std::string wire = ToUtf8(BuildUploadBody({u"C:\\caf\u00e9.txt"}));
    EXPECT_EQ(wire, "action=upload&cloudpath=&localpath=[\"C:\\\\caf\xC3\xA9.txt\"]");
}

}  // namespace
}  // namespace vantorel
