// Runs a public parser test corpus through Parse, Write and a reparse. What
// each file gives is kept in an expectations file, so that the native and
// the Windows build are held to the very same results.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "protocol/json_value.h"
#include "protocol/json_writer.h"
#include "protocol/utf8.h"

namespace vantorel {
namespace {

namespace fs = std::filesystem;

const std::set<std::u16string> kMessages = {
    u"Empty string.",
    u"Invalid control character.",
    u"Invalid character after a matching close.",
    u"Invalid first character, expected array, object or comment.",
    u"Invalid comment block.",
    u"Invalid separator at start of object.",
    u"Invalid extra separator, expected object name.",
    u"Invalid end of object, expected another object name after separator.",
    u"Invalid end of object name, expected colon not found.",
    u"Invalid string format.",
    u"Invalid end of string.",
    u"Invalid separator at start of array.",
    u"Invalid extra separator, expected value.",
    u"Invalid end of array, expected another value after separator.",
    u"Invalid format, matching closing character not found.",
};

std::string EnvOr(const char* name, const char* fallback)
{
    const char* value = std::getenv(name);
    return value && *value ? value : fallback;
}

std::string ReadBytes(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

uint64_t Fingerprint(std::u16string_view text)
{
    uint64_t hash = 1469598103934665603ull;  // FNV-1a over the units
    for (char16_t c : text) {
        hash = (hash ^ (c & 0xFF)) * 1099511628211ull;
        hash = (hash ^ (c >> 8)) * 1099511628211ull;
    }
    return hash;
}

std::string Outcome(bool parsed, const JsonParseError& error)
{
    if (parsed)
        return "ok";
    return "error " + std::to_string(error.position) + " " + std::to_string(error.line) + " " +
           std::to_string(error.column) + " " + EncodeUtf8(error.message);
}

// One line per file: parse outcome, fingerprints of the written text in two
// flag sets, and the outcome of parsing the compact text again.
std::string Examine(const std::string& name, const std::string& bytes)
{
    const std::u16string text = DecodeUtf8Lenient(bytes);
    JsonValue root;
    JsonParseError error;
    const bool parsed = root.Parse(text, &error);
    EXPECT_TRUE(parsed ? error.message.empty() : kMessages.count(error.message) == 1)
        << name << ": " << EncodeUtf8(error.message);
    std::ostringstream line;
    line << name << '\t' << Outcome(parsed, error);
    if (parsed) {
        JsonValue copy(root);
        std::u16string compact;
        std::u16string pretty;
        Write(copy, compact, 0);
        Write(copy, pretty, WriteBareNames | WriteSpaceIndent | WriteSingleQuotes | WriteKeyOrder);
        JsonValue again;
        JsonParseError againError;
        const bool reparsed = again.Parse(compact, &againError);
        EXPECT_TRUE(reparsed ? true : kMessages.count(againError.message) == 1) << name;
        char hashes[48];
        std::snprintf(hashes, sizeof hashes, "%016llx %016llx",
                      static_cast<unsigned long long>(Fingerprint(compact)),
                      static_cast<unsigned long long>(Fingerprint(pretty)));
        line << '\t' << hashes << '\t' << Outcome(reparsed, againError);
    }
    return line.str();
}

TEST(JsonCorpus, EveryFileOfThePublicParserSuiteGivesTheExpectedDefinedResult)
{
    const std::string testdata = EnvOr("VANTOREL_TESTDATA", VANTOREL_TESTDATA);
    const fs::path folder = fs::path(testdata) / "JSONTestSuite" / "test_parsing";
    ASSERT_TRUE(fs::is_directory(folder)) << folder.string();

    std::vector<fs::path> files;
    for (const auto& entry : fs::directory_iterator(folder))
        if (entry.path().extension() == ".json")
            files.push_back(entry.path());
    std::sort(files.begin(), files.end());
    ASSERT_EQ(files.size(), 318u);

    std::string actual;
    for (const fs::path& file : files)
        actual += Examine(file.filename().string(), ReadBytes(file)) + "\n";

    const fs::path expectedFile =
        fs::path(EnvOr("VANTOREL_TEST_SOURCE_DIR", VANTOREL_TEST_SOURCE_DIR)) / "protocol" / "data" / "json_test_suite.expected";
    if (EnvOr("VANTOREL_UPDATE_EXPECTED", "") == "1") {
        std::ofstream(expectedFile, std::ios::binary) << actual;
        GTEST_SKIP() << "wrote " << expectedFile.string();
    }
    const std::string expected = ReadBytes(expectedFile);
    ASSERT_FALSE(expected.empty()) << "missing " << expectedFile.string();

    std::istringstream want(expected);
    std::istringstream got(actual);
    std::string wantLine;
    std::string gotLine;
    int differences = 0;
    while (std::getline(want, wantLine) && std::getline(got, gotLine)) {
        if (wantLine != gotLine && ++differences <= 20)
            ADD_FAILURE() << "expected: " << wantLine << "\n  actual: " << gotLine;
    }
    EXPECT_EQ(differences, 0);
    EXPECT_EQ(expected.size(), actual.size());

    // A few outcomes that are known independently of the expectations file.
    auto outcomeOf = [&](const std::string& name) {
        size_t at = actual.find(name + "\t");
        if (at == std::string::npos)
            return std::string();
        size_t start = at + name.size() + 1;
        return actual.substr(start, actual.find_first_of("\t\n", start) - start);
    };
    EXPECT_EQ(outcomeOf("y_object_simple.json"), "ok");
    EXPECT_EQ(outcomeOf("y_array_heterogeneous.json"), "ok");
    EXPECT_EQ(outcomeOf("n_structure_100000_opening_arrays.json"),
              "error 100000 1 100001 Invalid format, matching closing character not found.");
    EXPECT_EQ(outcomeOf("y_structure_lonely_int.json"),
              "error 0 1 1 Invalid first character, expected array, object or comment.");
}

}  // namespace
}  // namespace vantorel
