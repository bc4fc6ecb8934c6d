// A drop's untrusted parts on arbitrary bytes: the data object's memory
// blocks (file group descriptors, wide and ANSI, and the shell's file list)
// and the names in them, through SafeRelativePath and PlanDrop.
//
// Input: byte 0 chooses the reader, byte 1 the drop folder's length; the
// rest is the block, or for the fourth choice up to 16 UTF-16LE names split
// at zero units (a name that starts with unit 1 is a folder). Sixteen make
// every clash PlanDrop resolves (twins, a file and a folder of one name,
// numbers past 9); each name more costs a full pass under ASan and finds
// only the same again.
#include <cstddef>
#include <algorithm>
#include <cstdint>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "agent/upload/drop_plan.h"
#include "fuzz/fuzz_input.h"

using vantorel::fuzz::Check;

namespace {

char16_t Fold(char16_t c) { return c >= u'A' && c <= u'Z' ? static_cast<char16_t>(c + 32) : c; }

// Names as the file system compares them: one item per key.
std::u16string Folded(std::u16string_view text) { return vantorel::NameKey(text); }

bool IsHigh(char16_t c) { return c >= 0xD800 && c <= 0xDBFF; }
bool IsLow(char16_t c) { return c >= 0xDC00 && c <= 0xDFFF; }

// Whether text with its ASCII letters folded is lowerAscii; no copy, as the
// checks run for every name of every path.
bool IsFolded(std::u16string_view text, std::u16string_view lowerAscii)
{
    return text.size() == lowerAscii.size() &&
           std::equal(text.begin(), text.end(), lowerAscii.begin(), [](char16_t a, char16_t b) { return Fold(a) == b; });
}

// What Windows would not take as one name of a path, checked apart from the
// code that makes names safe.
void CheckSafeName(std::u16string_view name)
{
    Check(!name.empty() && name.size() <= vantorel::kMaxDropNameLength);
    Check(name != u"." && name != u"..");
    Check(name.back() != u'.' && name.back() != u' ');
    for (size_t i = 0; i < name.size(); ++i) {
        const char16_t c = name[i];
        Check(c >= 0x20 && std::u16string_view(u"<>:\"/\\|?*").find(c) == std::u16string_view::npos);
        if (IsHigh(c))
            Check(i + 1 < name.size() && IsLow(name[++i]));
        else
            Check(!IsLow(c));
    }
    std::u16string_view base = name.substr(0, name.find(u'.'));
    while (!base.empty() && base.back() == u' ')
        base.remove_suffix(1);
    for (std::u16string_view device : {u"con", u"prn", u"aux", u"nul", u"conin$", u"conout$"})
        Check(!IsFolded(base, device));
    if (base.size() == 4 && (IsFolded(base.substr(0, 3), u"com") || IsFolded(base.substr(0, 3), u"lpt")))
        Check(std::u16string_view(u"0123456789\u00B9\u00B2\u00B3").find(base[3]) == std::u16string_view::npos);
}

// Empty, or names joined by single backslashes, none of them able to leave
// the drop folder.
void CheckSafePath(std::u16string_view path)
{
    if (path.empty())
        return;
    for (size_t start = 0;;) {
        const size_t slash = path.find(u'\\', start);
        CheckSafeName(path.substr(start, slash - start));
        if (slash == std::u16string_view::npos)
            return;
        start = slash + 1;
    }
}

// safe[i]: SafeRelativePath of descriptor i's name.
void CheckPlan(const vantorel::DropOffer& offer, const std::vector<std::u16string>& safe, size_t folderLength,
               const vantorel::DropLimits& limits)
{
    const vantorel::DropPlan plan = vantorel::PlanDrop(offer, folderLength, limits);
    Check(plan.items.size() <= limits.maxItems && plan.descriptorsLeftOut <= offer.descriptors.size());
    if (offer.shellPaths && !offer.shellPaths->empty()) {
        Check(plan.kind == vantorel::DropPlan::Kind::ShellPaths && plan.shellPaths == *offer.shellPaths);
        return;
    }
    Check((plan.kind == vantorel::DropPlan::Kind::Nothing) == plan.items.empty());
    Check(plan.kind != vantorel::DropPlan::Kind::ShellPaths && plan.shellPaths.empty());
    // What each descriptor asks for, to tell where each item comes from.
    std::vector<std::u16string> asked;
    std::set<std::u16string, std::less<>> askedFolders;
    for (size_t i = 0; i < offer.descriptors.size(); ++i) {
        asked.push_back(Folded(safe[i]));
        if (offer.descriptors[i].isFolder)
            askedFolders.insert(asked.back());
    }
    std::set<std::u16string, std::less<>> folders;
    std::set<std::u16string> taken;
    for (const vantorel::DropItem& item : plan.items) {
        Check(item.index < offer.descriptors.size());
        const vantorel::DropDescriptor& descriptor = offer.descriptors[item.index];
        Check(!item.relativePath.empty());
        CheckSafePath(item.relativePath);
        Check(folderLength + 1 + item.relativePath.size() <=
              (item.isFolder ? vantorel::kMaxDropFolderPathLength : vantorel::kMaxDropPathLength));
        Check(static_cast<size_t>(std::count(item.relativePath.begin(), item.relativePath.end(), u'\\')) <
              limits.maxDepth);
        const std::u16string folded = Folded(item.relativePath);
        Check(taken.insert(folded).second);  // one item per name, whatever the case
        // Each item's folder comes before it.
        const size_t slash = folded.rfind(u'\\');
        if (slash != std::u16string::npos)
            Check(folders.count(std::u16string_view(folded).substr(0, slash)) != 0);
        if (item.isFolder) {
            folders.insert(folded);
            // A folder a descriptor names, or one around what descriptor `index` names.
            if (item.implied) {
                const std::u16string& inside = asked[item.index];
                Check(inside.size() > folded.size() && inside.starts_with(folded) && inside[folded.size()] == u'\\');
            } else {
                Check(askedFolders.count(folded) != 0);
            }
            Check(!item.size);
        } else {
            Check(!descriptor.isFolder && !item.implied && item.size == descriptor.size);
        }
    }
}

// The ANSI converter as the reader calls it: every text it is handed lies
// inside the block and holds no zero.
struct Block {
    const unsigned char* begin;
    size_t size;
    std::u16string operator()(std::string_view text) const
    {
        const auto* at = reinterpret_cast<const unsigned char*>(text.data());
        Check(at >= begin && text.size() <= size && at - begin <= static_cast<ptrdiff_t>(size - text.size()));
        Check(text.find('\0') == std::string_view::npos);
        return std::u16string(text.begin(), text.end());  // Latin-1 widening
    }
};

uint32_t Read32(const unsigned char* at) { return at[0] | at[1] << 8 | at[2] << 16 | static_cast<uint32_t>(at[3]) << 24; }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 2)
        return 0;
    const int choice = data[0] % 4;
    // A drop folder is at least "C:\" and its 39-unit name; past 258 nothing fits.
    const size_t folderLength = 42 + data[1];
    // The block ends where the input does, so that ASan sees any read past it.
    const unsigned char* block = data + 2;
    const size_t blockSize = size - 2;
    const Block ansi{block, blockSize};

    vantorel::DropOffer offer;
    if (choice <= 1) {
        const bool wide = choice == 0;
        offer.descriptors = vantorel::ReadFileGroupDescriptor(block, blockSize, wide, ansi);
        const size_t stride = wide ? 592 : 332;
        const size_t room = blockSize < 4 ? 0 : (blockSize - 4) / stride;
        const size_t claimed = blockSize < 4 ? 0 : Read32(block);
        Check(offer.descriptors.size() == std::min<size_t>({room, claimed, vantorel::kMaxDropItems}));
        for (const vantorel::DropDescriptor& descriptor : offer.descriptors) {
            Check(descriptor.name.size() <= 260 && descriptor.name.find(u'\0') == std::u16string::npos);
            Check(!(descriptor.isFolder && descriptor.size));
        }
    } else if (choice == 2) {
        offer.shellPaths = vantorel::ReadShellFileList(block, blockSize, ansi);
        size_t units = 0;
        for (const std::u16string& path : *offer.shellPaths) {
            Check(!path.empty() && path.find(u'\0') == std::u16string::npos);
            units += path.size() + 1;
        }
        const bool wide = blockSize >= 20 && Read32(block + 16) != 0;
        // The paths and their ends fit between the list's start and the block's end.
        if (!offer.shellPaths->empty())
            Check(blockSize >= 20 && Read32(block) >= 20 && (wide ? 2 * units : units) <= blockSize - Read32(block));
    } else {
        std::u16string text(blockSize / 2, u'\0');
        for (size_t k = 0; k < text.size(); ++k)
            text[k] = static_cast<char16_t>(block[2 * k] | block[2 * k + 1] << 8);
        std::u16string_view rest = text;
        while (!rest.empty() && offer.descriptors.size() < 16) {
            const size_t end = std::min(rest.find(u'\0'), rest.size());
            vantorel::DropDescriptor descriptor;
            descriptor.name = std::u16string(rest.substr(0, end));
            if (!descriptor.name.empty() && descriptor.name[0] == 1) {
                descriptor.isFolder = true;
                descriptor.name.erase(0, 1);
            } else {
                descriptor.size = offer.descriptors.size();
            }
            offer.descriptors.push_back(std::move(descriptor));
            rest.remove_prefix(std::min(end + 1, rest.size()));
        }
    }
    std::vector<std::u16string> safe;
    for (const vantorel::DropDescriptor& descriptor : offer.descriptors) {
        safe.push_back(vantorel::SafeRelativePath(descriptor.name));
        CheckSafePath(safe.back());
        // A safe path stays as it is (nothing to ask again when the name was one).
        if (safe.back() != descriptor.name)
            Check(vantorel::SafeRelativePath(safe.back()) == safe.back());
    }
    // Small limits for the names, so that sixteen of them reach the item
    // limit with the folders they imply, and the depth limit.
    CheckPlan(offer, safe, folderLength, choice == 3 ? vantorel::DropLimits{12, 4} : vantorel::DropLimits{});
    return 0;
}
