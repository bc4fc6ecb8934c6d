#include "agent/upload/drop_plan.h"

#include <gtest/gtest.h>

namespace vantorel {
namespace {

TEST(DropNames, HostileNamesBecomeSafeRelativePaths) {
    const struct {
        std::u16string name;
        std::u16string safe;
    } cases[] = {
        {u"report.pdf", u"report.pdf"},
        {u"C:\\Windows\\system.ini", u"Windows\\system.ini"},
        {u"c:evil.txt", u"evil.txt"},
        {u"\\\\server\\share\\f.txt", u"server\\share\\f.txt"},
        {u"\\\\?\\C:\\x\\y.txt", u"x\\y.txt"},
        {u"/etc/passwd", u"etc\\passwd"},
        {u"..\\..\\..\\up.txt", u"up.txt"},
        {u"a/../../b/./c.txt", u"a\\b\\c.txt"},
        {u"CON", u"_CON"},
        {u"nul.txt", u"_nul.txt"},
        {u"Com1 .log", u"_Com1 .log"},
        {u"lpt\u00B9", u"_lpt\u00B9"},
        {u"COM10", u"COM10"},
        {u"console.txt", u"console.txt"},
        {u"a<b>c:d\"e|f?g*h", u"a_b_c_d_e_f_g_h"},
        {u"tab\there\x01", u"tab_here_"},
        {u"file.txt:stream", u"file.txt_stream"},
        {u"trailing. . ", u"trailing"},
        {u"dir. \\x.txt", u"dir\\x.txt"},
        {u"...", u""},
        {u"", u""},
        {u"\\\\\\", u""},
        {u"pair \U0001F600 ok", u"pair \U0001F600 ok"},
        {std::u16string(u"lone ") + char16_t(0xD800) + u"x" + char16_t(0xDC00), u"lone _x_"},
    };
    for (const auto& c : cases) EXPECT_EQ(SafeRelativePath(c.name), c.safe) << std::string(c.name.begin(), c.name.end());
}

TEST(DropNames, LongNamesAreCutKeepingTheExtension) {
    const std::u16string name = SafeRelativePath(std::u16string(300, u'a') + u".docx");
    EXPECT_EQ(name.size(), kMaxDropNameLength);
    EXPECT_EQ(name.substr(name.size() - 5), u".docx");
    // A cut that leaves a device name gets the prefix all the same.
    EXPECT_EQ(SafeRelativePath(u"nul" + std::u16string(300, u' ') + u"x"), u"_nul");
    // A cut never leaves half of a surrogate pair.
    std::u16string faces;
    for (int i = 0; i < 200; ++i) faces += u"\U0001F600";
    const std::u16string cut = SafeRelativePath(faces);
    EXPECT_EQ(cut.size(), 254u);
    EXPECT_TRUE(cut.back() >= 0xDC00 && cut.back() <= 0xDFFF);
}

DropDescriptor F(std::u16string name, std::optional<uint64_t> size = std::nullopt) { return {std::move(name), false, size}; }
DropDescriptor D(std::u16string name) { return {std::move(name), true, std::nullopt}; }

DropOffer Group(std::initializer_list<DropDescriptor> descriptors) {
    DropOffer offer;
    offer.descriptors = descriptors;
    return offer;
}

std::vector<std::u16string> Paths(const DropPlan& plan) {
    std::vector<std::u16string> paths;
    for (const DropItem& item : plan.items) paths.push_back(item.relativePath + (item.isFolder ? u"\\" : u""));
    return paths;
}

TEST(DropPlanning, ShellPathsWinAndAreSentAsTheyAre) {
    DropOffer offer = Group({F(u"virtual.txt")});
    offer.shellPaths = UploadPathList{u"C:\\b.txt", u"C:\\a&b.txt"};
    const DropPlan plan = PlanDrop(offer, 40);
    EXPECT_EQ(plan.kind, DropPlan::Kind::ShellPaths);
    EXPECT_EQ(plan.shellPaths, (UploadPathList{u"C:\\b.txt", u"C:\\a&b.txt"}));
    // A refused or empty file list falls back to the virtual files.
    offer.shellPaths = UploadPathList{};
    EXPECT_EQ(PlanDrop(offer, 40).kind, DropPlan::Kind::VirtualItems);
    EXPECT_EQ(PlanDrop(DropOffer{}, 40).kind, DropPlan::Kind::Nothing);
    EXPECT_EQ(PlanDrop(Group({F(u"..."), D(u"\\")}), 40).items.size(), 1u);  // unnamed file gets a name
}

TEST(DropPlanning, EveryDescriptorIsAnItemWithItsContentIndex) {
    const DropPlan plan = PlanDrop(Group({F(u"a.eml", 10), F(u"b.eml"), F(u"c.eml")}), 40);
    ASSERT_EQ(plan.items.size(), 3u);
    for (size_t i = 0; i < 3; ++i) EXPECT_EQ(plan.items[i].index, i);
    EXPECT_EQ(plan.items[0].size, 10u);
    EXPECT_EQ(Paths(plan), (std::vector<std::u16string>{u"a.eml", u"b.eml", u"c.eml"}));
}

TEST(DropPlanning, FoldersComeFirstAndNamesNeverCollide) {
    const DropPlan plan = PlanDrop(Group({F(u"Mail.txt"), F(u"docs\\x.txt"), F(u"mail.TXT"), D(u"docs"),
                                          F(u"Docs"), F(u"a?.txt"), F(u"a_.txt"), F(u"deep\\er\\y")}),
                                   40);
    EXPECT_EQ(Paths(plan), (std::vector<std::u16string>{u"docs\\", u"deep\\", u"deep\\er\\", u"Mail.txt",
                                                         u"docs\\x.txt", u"mail (2).TXT", u"Docs (2)", u"a_.txt",
                                                         u"a_ (2).txt", u"deep\\er\\y"}));
    EXPECT_FALSE(plan.items[0].implied);  // named as a folder by descriptor 3
    EXPECT_TRUE(plan.items[1].implied);
}

TEST(DropPlanning, PathsFitTheBudgetOrFlatten) {
    const size_t folder = kMaxDropPathLength - 1 - 20;  // 20 units left for a relative path
    const DropPlan plan =
        PlanDrop(Group({F(u"long folder name\\inner.txt"), F(u"a-very-long-file-name.txt"), F(u"inner.txt")}), folder);
    EXPECT_EQ(Paths(plan), (std::vector<std::u16string>{u"inner.txt", u"a-very-long-file.txt", u"inner (2).txt"}));
    EXPECT_EQ(PlanDrop(Group({F(u"x.txt")}), kMaxDropPathLength).kind, DropPlan::Kind::Nothing);
}

TEST(DropPlanning, BoundsOnFoldersDepthAndCount) {
    const std::u16string deep = u"a\\b\\c\\d\\f.txt";
    const std::u16string long40(40, u'L');
    const struct {
        const char* what;
        std::vector<DropDescriptor> group;
        size_t folderLength;
        DropLimits limits;
        std::vector<std::u16string> paths;
        size_t leftOut;
    } cases[] = {
        {"within every limit", {F(deep)}, 40, {}, {u"a\\", u"a\\b\\", u"a\\b\\c\\", u"a\\b\\c\\d\\", deep}, 0},
        {"one level too deep: the file goes one folder higher", {F(deep)}, 40, {100, 4},
         {u"a\\", u"a\\b\\", u"a\\b\\c\\", u"a\\b\\c\\f.txt"}, 0},
        {"a folder too deep is left out", {D(u"a\\b\\c"), F(u"x")}, 40, {100, 2}, {u"x"}, 0},
        // 40 units of room for a folder, 52 for a file.
        {"folders within 248, files within 259", {F(long40 + u"\\f.txt"), F(long40 + u"x\\g.txt")},
         kMaxDropFolderPathLength - 41, {}, {long40 + u"\\", long40 + u"\\f.txt", u"g.txt"}, 0},
        {"a folder path past 248 is left out", {D(long40 + u"x"), F(u"y")}, kMaxDropFolderPathLength - 41, {}, {u"y"}, 0},
        {"implied folders count against the item limit", {F(u"p\\q\\1"), F(u"p\\q\\2"), F(u"r\\3"), F(u"4")}, 40, {4, 8},
         {u"p\\", u"p\\q\\", u"p\\q\\1", u"p\\q\\2"}, 2},
        {"names differing in non-ASCII case are one", {F(u"\u00C4\\1"), F(u"\u00E4\\2"), F(u"\u0439.txt"), F(u"\u0419.TXT")}, 40, {},
         {u"\u00C4\\", u"\u00C4\\1", u"\u00C4\\2", u"\u0439.txt", u"\u0419 (2).TXT"}, 0},
    };
    for (const auto& c : cases) {
        DropOffer offer;
        offer.descriptors = c.group;
        const DropPlan plan = PlanDrop(offer, c.folderLength, c.limits);
        EXPECT_EQ(Paths(plan), c.paths) << c.what;
        EXPECT_EQ(plan.descriptorsLeftOut, c.leftOut) << c.what;
    }
    EXPECT_EQ(NameKey(u"\u00E4b\u03C3\u0101\U0001F600"), u"\u00C4B\u03A3\u0100\U0001F600");
}

TEST(DropPlanning, DeepUniqueNamesStayWithinTheItemLimit) {
    // Each name implies 31 folders of its own once cut to the depth limit.
    std::u16string inner;
    for (int level = 0; level < 40; ++level) inner += u"d\\";
    DropOffer offer;
    for (int i = 0; i < 100000; ++i) {
        const std::string number = std::to_string(i);
        std::u16string name(1, u'u');
        name.append(number.begin(), number.end()).append(u"\\").append(inner).append(u"f");
        offer.descriptors.push_back(F(std::move(name)));
    }
    const DropPlan plan = PlanDrop(offer, 40);
    EXPECT_EQ(plan.items.size(), kMaxDropItems - kMaxDropItems % kMaxDropDepth);
    EXPECT_EQ(plan.descriptorsLeftOut, 100000 - kMaxDropItems / kMaxDropDepth);
}

TEST(DropCopy, StreamsAreBoundedByTheirSizeTheCapAndTheVolume) {
    constexpr uint64_t MiB = 1 << 20;
    const DropCopyLimits limits{64 * MiB, 512 * MiB};
    const struct {
        std::optional<uint64_t> declared;
        uint64_t copied, chunk, free;
        DropChunkVerdict verdict;
    } cases[] = {
        {100, 0, 100, 4096 * MiB, DropChunkVerdict::Take},
        {100, 100, 1, 4096 * MiB, DropChunkVerdict::LongerThanDeclared},
        {200 * MiB, 0, 100 * MiB, 4096 * MiB, DropChunkVerdict::Take},  // a size may pass the cap
        {std::nullopt, 64 * MiB - 1, 1, 4096 * MiB, DropChunkVerdict::Take},
        {std::nullopt, 64 * MiB, 1, 4096 * MiB, DropChunkVerdict::OverCap},
        {std::nullopt, 0, 1 * MiB, 513 * MiB, DropChunkVerdict::Take},
        {std::nullopt, 0, 1 * MiB + 1, 513 * MiB, DropChunkVerdict::VolumeFull},
        {1000, 0, 1000, 100, DropChunkVerdict::VolumeFull},
    };
    for (const auto& c : cases)
        EXPECT_EQ(CheckDropChunk(c.declared, c.copied, c.chunk, c.free, limits), c.verdict) << c.copied << "+" << c.chunk;
}

TEST(DropFolders, RemovedOnlyWhileNoUploadMayReadThem) {
    for (auto [reply, may] : std::initializer_list<std::pair<std::u16string_view, bool>>{
             {u"idle", true}, {u"completed", true}, {u"", false}, {u"progress", false}, {u"paused", false},
             {u"idle paused", false}, {u"completed progress", false}})
        EXPECT_EQ(MayRemoveDropFolders(reply), may) << std::string(reply.begin(), reply.end());
}

TEST(DropPlanning, ManyEqualNamesStayUniqueAndFast) {
    DropOffer offer;
    offer.descriptors.assign(20000, F(u"same.txt"));
    const DropPlan plan = PlanDrop(offer, 40);
    ASSERT_EQ(plan.items.size(), 20000u);
    EXPECT_EQ(plan.items.back().relativePath, u"same (20000).txt");
}

TEST(DropSending, TopLevelEntriesInGroupOrderOnlyWhenWritten) {
    const DropPlan plan = PlanDrop(Group({F(u"z.txt"), F(u"pics\\1.png"), F(u"pics\\2.png"), F(u"bad.bin"),
                                          D(u"empty"), F(u"lost\\only.txt")}),
                                   20);
    std::vector<bool> written(plan.items.size(), true);
    for (size_t i = 0; i < plan.items.size(); ++i) {
        const std::u16string& path = plan.items[i].relativePath;
        if (path == u"bad.bin" || path == u"pics\\1.png" || path == u"lost\\only.txt") written[i] = false;
    }
    EXPECT_EQ(DropPathsToSend(plan.items, written, u"T:\\d"),
              (UploadPathList{u"T:\\d\\z.txt", u"T:\\d\\pics", u"T:\\d\\empty"}));
}

TEST(DropFolders, NamesAreUniqueAndRecognised) {
    const std::u16string name = DropFolderName(0x01db4f5a3c2e1f00ull, 0xabc, 7);
    EXPECT_EQ(name, u"drop-01db4f5a3c2e1f00-00000abc-00000007");
    EXPECT_TRUE(IsDropFolderName(name));
    EXPECT_NE(name, DropFolderName(0x01db4f5a3c2e1f00ull, 0xabc, 8));
    for (std::u16string other : {u"drop-", u"drop-01db4f5a3c2e1f00-00000abc-0000000g", u"Drop-01db4f5a3c2e1f00-00000abc-00000007",
                                 u"drop-01db4f5a3c2e1f00-00000abc-000000077", u"other"})
        EXPECT_FALSE(IsDropFolderName(other));
}

void Put32(std::vector<unsigned char>& block, size_t at, uint32_t value) {
    for (int i = 0; i < 4; ++i) block[at + i] = static_cast<unsigned char>(value >> (8 * i));
}
void PutWide(std::vector<unsigned char>& block, size_t at, std::u16string_view text) {
    for (size_t i = 0; i < text.size(); ++i) {
        block[at + 2 * i] = static_cast<unsigned char>(text[i]);
        block[at + 2 * i + 1] = static_cast<unsigned char>(text[i] >> 8);
    }
}

TEST(DropBlocks, FileGroupIsReadWithinTheBlock) {
    // Claims five descriptors, holds two and a half.
    std::vector<unsigned char> block(4 + 592 * 2 + 300);
    Put32(block, 0, 5);
    Put32(block, 4, 0x44);  // attributes and size
    Put32(block, 4 + 36, 0x10);
    PutWide(block, 4 + 72, u"folder");
    Put32(block, 596, 0x40);
    Put32(block, 596 + 64, 1);
    Put32(block, 596 + 68, 2);
    PutWide(block, 596 + 72, std::u16string(260, u'n'));  // no terminating zero
    const auto group = ReadFileGroupDescriptor(block.data(), block.size(), true, nullptr);
    ASSERT_EQ(group.size(), 2u);
    EXPECT_TRUE(group[0].isFolder);
    EXPECT_FALSE(group[0].size.has_value());
    EXPECT_EQ(group[1].name, std::u16string(260, u'n'));
    EXPECT_EQ(group[1].size, (uint64_t{1} << 32) + 2);

    std::vector<unsigned char> ansi(4 + 332);
    Put32(ansi, 0, 1);
    ansi[4 + 72] = 'a';
    const auto converted = ReadFileGroupDescriptor(ansi.data(), ansi.size(), false,
                                                   [](std::string_view name) {
                                                       std::u16string marked(name.begin(), name.end());
                                                       marked.insert(marked.begin(), u'<');
                                                       return marked + u'>';
                                                   });
    ASSERT_EQ(converted.size(), 1u);
    EXPECT_EQ(converted[0].name, u"<a>");
    EXPECT_TRUE(ReadFileGroupDescriptor(block.data(), 3, true, nullptr).empty());
}

TEST(DropBlocks, ShellFileListKeepsOnlyWholePaths) {
    std::vector<unsigned char> block(20 + 2 * 16);
    Put32(block, 0, 20);
    Put32(block, 16, 1);
    PutWide(block, 20, u"C:\\a");  // then a zero, "D:\\b", a zero, and the end
    PutWide(block, 30, u"D:\\b");
    EXPECT_EQ(ReadShellFileList(block.data(), block.size(), nullptr), (UploadPathList{u"C:\\a", u"D:\\b"}));
    // Cut inside the second path: only the first is whole.
    EXPECT_EQ(ReadShellFileList(block.data(), 36, nullptr), (UploadPathList{u"C:\\a"}));
    Put32(block, 0, 4000);
    EXPECT_TRUE(ReadShellFileList(block.data(), block.size(), nullptr).empty());
}

}  // namespace
}  // namespace vantorel
