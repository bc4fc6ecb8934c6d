#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "protocol/http_client.h"
#include "protocol/upload_body.h"
#include "protocol/utf8.h"
#include "simulator/drive_map.h"
#include "simulator/upload_body_reader.h"

namespace vantorel::sim {
namespace {

TEST(UploadBodyReader, ReadsBackWhatTheAgentBuilds)
{
    const std::vector<UploadPathList> lists = {
        {u"C:\\x"},
        {u"C:\\a&b.txt", u"D:\\x.doc"},
        {u"C:\\a&&b", u"C:\\already%26", u"C:\\100% \"quoted\" +=#"},
        {u"\\\\server\\share\\f.txt"},
        {u"Z:\\tmp\\caf\u00e9\\\u65e5\u672c.txt", u"/home/user/plain linux path"},
        {u"C:\\quote\"inside", u"C:\\ends\"]with"},  // quotes, one that looks like the list's end
        {u"one", u"two", u"three"},
    };
    for (const UploadPathList& list : lists) {
        const std::string body = ToUtf8(BuildUploadBody(list));
        SCOPED_TRACE(body);
        std::vector<std::string> paths;
        std::string error;
        ASSERT_TRUE(ReadUploadBody(body, paths, error)) << error;
        std::vector<std::string> expected;
        for (const std::u16string& path : list) expected.push_back(EncodeUtf8(path));
        // "%26" in a path is sent unchanged, so it reads back as "&".
        for (std::string& path : expected) {
            for (size_t at = path.find("%26"); at != std::string::npos; at = path.find("%26", at)) {
                path.replace(at, 3, "&");
            }
        }
        EXPECT_EQ(paths, expected);
    }
}

TEST(UploadBodyReader, NamesTheFaultOfABodyNoSenderBuilds)
{
    const std::string prefix = EncodeUtf8(kUploadBodyPrefix);
    struct Case {
        std::string body;
        std::string fault;
    };
    const Case cases[] = {
        {"", "does not start"},
        {"action=upload&cloudpath=&localpath=", "does not start"},
        {"action=download&cloudpath=&localpath=[\"C:\\\\x\"]", "does not start"},
        {prefix + "]", "empty"},
        {prefix + "]x", "after the closing"},
        {prefix + "\"C:\\x\"]", "not doubled"},
        {prefix + "\"C:\\\\a&b\"]", "%26"},
        {prefix + "\"C:\\\\x\"", "not closed"},
        {prefix + "\"C:\\\\x\"]trailing", "not closed"},
        {prefix + "\"C:\\\\x\",]", "not closed"},
        {prefix + "C:\\\\x]", "expected"},
        {prefix + "\"\"]", "empty"},
        {prefix + "\"a\",\"\"]", "entry 2 is empty"},
        {prefix + "\"a\tb\"]", "control"},
        {prefix + std::string("\"a\0b\"]", 6), "control"},
        {prefix + "\"caf\xE9\"]", "UTF-8"},
        {prefix + "\"\xED\xA0\x80\"]", "UTF-8"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.body);
        std::vector<std::string> paths;
        std::string error;
        EXPECT_FALSE(ReadUploadBody(c.body, paths, error));
        EXPECT_NE(error.find(c.fault), std::string::npos) << error;
    }
}

TEST(DriveMap, MapsWindowsPathsThroughTheDrivesAndKeepsLinuxPaths)
{
    DriveMap drives = DefaultDriveMap();
    std::string error;
    ASSERT_TRUE(AddDriveMapping("c=/prefix/drive_c/", drives, error)) << error;
    struct Case {
        std::string path;
        std::string local;  // empty: refused
    };
    const Case cases[] = {
        {"Z:\\tmp\\x\\a.txt", "/tmp/x/a.txt"},
        {"z:/tmp/x", "/tmp/x"},
        {"C:\\Users\\me\\caf\xC3\xA9.txt", "/prefix/drive_c/Users/me/caf\xC3\xA9.txt"},
        {"C:\\a\\.\\b\\..\\c", "/prefix/drive_c/a/c"},
        {"C:\\..\\..\\etc\\passwd", "/prefix/drive_c/etc/passwd"},  // never above the drive
        {"\\\\?\\C:\\long\\path", "/prefix/drive_c/long/path"},
        {"C:\\", "/prefix/drive_c"},
        {"/home/user/file", "/home/user/file"},
        {"/home/user/../file", "/home/file"},
        {"Q:\\unmapped", ""},
        {"\\\\server\\share\\f", ""},
        {"relative\\path", ""},
        {"C:relative", ""},
        {"C:", ""},
        {"", ""},
        {std::string("/a\0b", 4), ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path);
        std::filesystem::path local;
        error.clear();
        const bool mapped = MapUploadPath(c.path, drives, local, error);
        EXPECT_EQ(mapped, !c.local.empty()) << error;
        if (mapped) {
            EXPECT_EQ(local.string(), c.local);
        } else {
            EXPECT_FALSE(error.empty());
        }
    }
}

TEST(DriveMap, GivesTheWindowsFormThroughTheDeepestDrive)
{
    DriveMap drives = DefaultDriveMap();
    std::string error;
    ASSERT_TRUE(AddDriveMapping("C=/prefix/drive_c", drives, error));
    EXPECT_EQ(WindowsPathFor("/tmp/root/Downloads", drives), "Z:\\tmp\\root\\Downloads");
    EXPECT_EQ(WindowsPathFor("/prefix/drive_c/users/Downloads", drives), "C:\\users\\Downloads");
    EXPECT_EQ(WindowsPathFor("/prefix/drive_cx/y", drives), "Z:\\prefix\\drive_cx\\y");
    EXPECT_EQ(WindowsPathFor("/", drives), "Z:\\");
    EXPECT_EQ(WindowsPathFor("/tmp", DriveMap{}), "");

    for (const char* bad : {"", "C", "C:/x", "CC=/x", "1=/x", "C=relative"}) {
        SCOPED_TRACE(bad);
        error.clear();
        EXPECT_FALSE(AddDriveMapping(bad, drives, error));
        EXPECT_FALSE(error.empty());
    }
}

}  // namespace
}  // namespace vantorel::sim
