#include "agent/upload/drop_plan.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <map>
#include <set>

#include "protocol/service_api.h"
#include "protocol/utf8.h"

namespace vantorel {
namespace {

bool IsSeparator(char16_t c) { return c == u'\\' || c == u'/'; }
bool IsHighSurrogate(char16_t c) { return c >= 0xD800 && c <= 0xDBFF; }
bool IsLowSurrogate(char16_t c) { return c >= 0xDC00 && c <= 0xDFFF; }

bool IsForbiddenInName(char16_t c) {
    return c < 0x20 || c == u'<' || c == u'>' || c == u':' || c == u'"' || c == u'/' || c == u'\\' ||
           c == u'|' || c == u'?' || c == u'*';
}

char16_t FoldAscii(char16_t c) { return c >= u'A' && c <= u'Z' ? static_cast<char16_t>(c + 32) : c; }

// Device names are ASCII, and Windows matches them in ASCII only.
bool EqualsFolded(std::u16string_view text, std::u16string_view lowerAscii) {
    return text.size() == lowerAscii.size() &&
           std::equal(text.begin(), text.end(), lowerAscii.begin(), [](char16_t a, char16_t b) { return FoldAscii(a) == b; });
}

struct CaseRun {
    uint16_t first, last, step;
    int32_t delta;
};
constexpr CaseRun kUpperCase[] = {
#include "agent/upload/name_case_table.inc"
};

char16_t UpperUnit(char16_t unit) {
    if (unit < 0x80) return unit >= u'a' && unit <= u'z' ? static_cast<char16_t>(unit - 32) : unit;
    const auto* run = std::upper_bound(std::begin(kUpperCase), std::end(kUpperCase), unit,
                                       [](char16_t u, const CaseRun& r) { return u < r.first; });
    if (run == std::begin(kUpperCase)) return unit;
    --run;
    if (unit > run->last || (unit - run->first) % run->step != 0) return unit;
    return static_cast<char16_t>(unit + run->delta);
}

// Windows strips these from the end of a name, so "a." and "a" are one file.
void TrimTrailingDotsAndBlanks(std::u16string& name) {
    while (!name.empty() && (name.back() == u'.' || name.back() == u' ')) name.pop_back();
}

// CON, NUL, COM1 ... name devices in every folder, with any extension.
bool IsDeviceName(std::u16string_view name) {
    std::u16string_view base = name.substr(0, name.find(u'.'));
    while (!base.empty() && base.back() == u' ') base.remove_suffix(1);
    for (std::u16string_view device : {u"con", u"prn", u"aux", u"nul", u"conin$", u"conout$"})
        if (EqualsFolded(base, device)) return true;
    if (base.size() == 4 && (EqualsFolded(base.substr(0, 3), u"com") || EqualsFolded(base.substr(0, 3), u"lpt"))) {
        const char16_t digit = base[3];
        return (digit >= u'0' && digit <= u'9') || digit == u'\u00B9' || digit == u'\u00B2' || digit == u'\u00B3';
    }
    return false;
}

// Cuts name to at most limit units, keeping a short extension and never
// splitting a surrogate pair.
std::u16string CutName(std::u16string_view name, size_t limit) {
    if (name.size() <= limit) return std::u16string(name);
    std::u16string_view extension;
    const size_t dot = name.rfind(u'.');
    if (dot != std::u16string_view::npos && dot > 0 && name.size() - dot <= 32 && name.size() - dot < limit)
        extension = name.substr(dot);
    size_t stemLength = limit - extension.size();
    if (stemLength > 0 && IsHighSurrogate(name[stemLength - 1])) --stemLength;
    std::u16string cut(name.substr(0, stemLength));
    TrimTrailingDotsAndBlanks(cut);
    if (cut.empty()) return {};
    std::u16string result = cut + std::u16string(extension);
    // A cut can leave a device name ("nul   x" becomes "nul"); the prefix
    // makes it none, and a name starting with it stays none when cut again.
    if (IsDeviceName(result)) {
        result.insert(result.begin(), u'_');
        if (result.size() > limit) return CutName(result, limit);
    }
    return result;
}

std::u16string SafeName(std::u16string_view raw) {
    std::u16string name;
    name.reserve(raw.size());
    for (size_t i = 0; i < raw.size(); ++i) {
        const char16_t c = raw[i];
        if (IsHighSurrogate(c) && i + 1 < raw.size() && IsLowSurrogate(raw[i + 1])) {
            name += c;
            name += raw[++i];
        } else if (IsForbiddenInName(c) || IsHighSurrogate(c) || IsLowSurrogate(c)) {
            // An unpaired surrogate has no UTF-8 form: the service could not
            // be told the path.
            name += u'_';
        } else {
            name += c;
        }
    }
    TrimTrailingDotsAndBlanks(name);
    if (name.empty()) return name;
    if (IsDeviceName(name)) name.insert(name.begin(), u'_');
    return CutName(name, kMaxDropNameLength);
}

std::vector<std::u16string> Split(std::u16string_view path) {
    std::vector<std::u16string> names;
    size_t start = 0;
    while (start <= path.size()) {
        size_t end = start;
        while (end < path.size() && !IsSeparator(path[end])) ++end;
        if (end > start) names.emplace_back(path.substr(start, end - start));
        start = end + 1;
    }
    return names;
}

std::u16string Join(const std::vector<std::u16string>& names, size_t count) {
    std::u16string path;
    for (size_t i = 0; i < count; ++i) {
        if (i > 0) path += u'\\';
        path += names[i];
    }
    return path;
}

std::u16string LastName(std::u16string_view path) {
    const size_t slash = path.rfind(u'\\');
    return std::u16string(slash == std::u16string_view::npos ? path : path.substr(slash + 1));
}

// Shortens a file's path to the budget: first without its folders, then
// with a shorter name. Empty when even that cannot fit.
std::u16string FitPath(const std::u16string& path, size_t budget) {
    if (path.size() <= budget) return path;
    const std::u16string name = LastName(path);
    if (name.size() <= budget) return name;
    return budget == 0 ? std::u16string() : CutName(name, budget);
}

// A file's path within the limits: as many of its folders as fit, then its
// name, cut when even alone it is too long. Empty when nothing fits.
std::u16string PlaceFile(const std::vector<std::u16string>& names, size_t fileBudget, size_t folderBudget,
                         size_t maxDepth) {
    const std::u16string& name = names.back();
    for (size_t folders = std::min(names.size() - 1, maxDepth - 1); folders > 0; --folders) {
        const std::u16string folder = Join(names, folders);
        if (folder.size() <= folderBudget && folder.size() + 1 + name.size() <= fileBudget) return folder + u"\\" + name;
    }
    return FitPath(name, fileBudget);
}

std::u16string Hex(uint64_t value, int width) {
    char digits[24];
    std::snprintf(digits, sizeof digits, "%0*llx", width, static_cast<unsigned long long>(value));
    return std::u16string(digits, digits + std::strlen(digits));
}

std::u16string TopLevelName(std::u16string_view path) { return std::u16string(path.substr(0, path.find(u'\\'))); }

}  // namespace

std::u16string SafeRelativePath(std::u16string_view name) {
    std::u16string_view rest = name;
    // "\\?\" and "\\.\" lead to a device's namespace, then a drive may follow.
    if (rest.size() >= 4 && IsSeparator(rest[0]) && IsSeparator(rest[1]) && (rest[2] == u'?' || rest[2] == u'.') &&
        IsSeparator(rest[3]))
        rest.remove_prefix(4);
    while (!rest.empty() && IsSeparator(rest.front())) rest.remove_prefix(1);
    if (rest.size() >= 2 && rest[1] == u':' && ((rest[0] >= u'A' && rest[0] <= u'Z') || (rest[0] >= u'a' && rest[0] <= u'z')))
        rest.remove_prefix(2);

    std::vector<std::u16string> safe;
    for (const std::u16string& raw : Split(rest)) {
        // ".." is dropped rather than resolved: nothing may climb, not even
        // within the drop.
        if (raw == u"." || raw == u"..") continue;
        std::u16string part = SafeName(raw);
        if (!part.empty()) safe.push_back(std::move(part));
    }
    return Join(safe, safe.size());
}

std::u16string AlternativeDropPath(std::u16string_view relativePath, unsigned n) {
    const size_t slash = relativePath.rfind(u'\\');
    const size_t nameStart = slash == std::u16string_view::npos ? 0 : slash + 1;
    size_t dot = relativePath.rfind(u'.');
    if (dot == std::u16string_view::npos || dot <= nameStart) dot = relativePath.size();
    return std::u16string(relativePath.substr(0, dot)) + u" (" + DecimalText(n) + u")" +
           std::u16string(relativePath.substr(dot));
}

std::u16string NameKey(std::u16string_view name) {
    std::u16string key(name);
    std::transform(key.begin(), key.end(), key.begin(), UpperUnit);
    return key;
}

DropPlan PlanDrop(const DropOffer& offer, size_t dropFolderLength, const DropLimits& limits) {
    DropPlan plan;
    if (offer.shellPaths && !offer.shellPaths->empty()) {
        plan.kind = DropPlan::Kind::ShellPaths;
        plan.shellPaths = *offer.shellPaths;
        return plan;
    }
    auto roomAfterFolder = [&](size_t limit) { return dropFolderLength + 1 < limit ? limit - dropFolderLength - 1 : 0; };
    const size_t fileBudget = roomAfterFolder(kMaxDropPathLength);
    const size_t folderBudget = roomAfterFolder(kMaxDropFolderPathLength);
    const size_t maxDepth = std::max<size_t>(limits.maxDepth, 1);

    // Folders first, every one a file needs: a file may then never take a
    // folder's name, whichever comes first in the group.
    std::vector<DropItem> folders;
    std::map<std::u16string, size_t> folderAt;  // key -> position in folders
    std::vector<DropItem> files;
    // Returns the folder's path as the plan spells it: the first of names
    // that differ only in case.
    auto addFolder = [&](const std::u16string& path, size_t index, bool implied) -> const std::u16string& {
        const auto [known, added] = folderAt.try_emplace(NameKey(path), folders.size());
        if (!added) {
            if (!implied) folders[known->second].implied = false;
            return folders[known->second].relativePath;
        }
        DropItem item;
        item.index = index;
        item.relativePath = path;
        item.isFolder = true;
        item.implied = implied;
        folders.push_back(std::move(item));
        return folders.back().relativePath;
    };
    // Folders of names[0..count) that the plan does not hold yet.
    auto newFolders = [&](const std::vector<std::u16string>& names, size_t count) {
        size_t added = 0;
        for (size_t depth = 1; depth <= count; ++depth) added += folderAt.count(NameKey(Join(names, depth))) == 0;
        return added;
    };
    const size_t count = offer.descriptors.size();
    for (size_t index = 0; index < count; ++index) {
        const DropDescriptor& descriptor = offer.descriptors[index];
        std::u16string path = SafeRelativePath(descriptor.name);
        if (path.empty()) {
            if (descriptor.isFolder) continue;
            path = u"Dropped item " + DecimalText(index + 1);
        }
        std::vector<std::u16string> names = Split(path);
        // A folder beyond the limits is left out; the files inside it go
        // into the deepest of its folders that fits.
        if (descriptor.isFolder && (names.size() > maxDepth || path.size() > folderBudget)) continue;
        if (!descriptor.isFolder) {
            path = PlaceFile(names, fileBudget, folderBudget, maxDepth);
            if (path.empty()) continue;
            names = Split(path);
        }
        const size_t folderCount = descriptor.isFolder ? names.size() : names.size() - 1;
        const size_t needed = newFolders(names, folderCount) + (descriptor.isFolder ? 0 : 1);
        if (folders.size() + files.size() + needed > limits.maxItems) {
            plan.descriptorsLeftOut = count - index;
            break;
        }
        std::u16string parent;
        for (size_t depth = 1; depth <= folderCount; ++depth) {
            const bool implied = !descriptor.isFolder || depth < folderCount;
            parent = addFolder(depth == 1 ? names[0] : parent + u"\\" + names[depth - 1], index, implied);
        }
        if (descriptor.isFolder) continue;
        DropItem item;
        item.index = index;
        item.relativePath = parent.empty() ? names.back() : parent + u"\\" + names.back();
        item.size = descriptor.size;
        files.push_back(std::move(item));
    }

    std::set<std::u16string> taken;
    for (const auto& folder : folderAt) taken.insert(folder.first);
    std::map<std::u16string, unsigned> nextNumber;
    plan.items = std::move(folders);
    for (DropItem& file : files) {
        std::u16string path = file.relativePath;
        // Numbers go on where the last twin of this name stopped, so that a
        // group of many equal names stays linear.
        unsigned& next = nextNumber.try_emplace(NameKey(path), 2).first->second;
        for (unsigned& n = next; taken.count(NameKey(path)) != 0 && n <= kMaxDropItems + 1; ++n) {
            path = AlternativeDropPath(file.relativePath, n);
            if (path.size() > fileBudget) {
                // Room for the number first, then the number.
                const size_t extra = path.size() - file.relativePath.size();
                path = extra < fileBudget ? AlternativeDropPath(FitPath(file.relativePath, fileBudget - extra), n) : u"";
            }
        }
        if (path.empty() || path.size() > fileBudget || !taken.insert(NameKey(path)).second) continue;
        file.relativePath = std::move(path);
        plan.items.push_back(std::move(file));
    }
    plan.kind = plan.items.empty() ? DropPlan::Kind::Nothing : DropPlan::Kind::VirtualItems;
    return plan;
}

UploadPathList DropPathsToSend(const std::vector<DropItem>& items, const std::vector<bool>& written,
                               std::u16string_view dropFolder) {
    std::vector<size_t> order(items.size());
    for (size_t i = 0; i < order.size(); ++i) order[i] = i;
    std::stable_sort(order.begin(), order.end(), [&](size_t a, size_t b) { return items[a].index < items[b].index; });

    // An implied folder counts only through what was written inside it.
    std::set<std::u16string> sent;
    for (size_t i : order) {
        const DropItem& item = items[i];
        if (i < written.size() && written[i] && !(item.isFolder && item.implied))
            sent.insert(NameKey(TopLevelName(item.relativePath)));
    }
    // In the order the group first names each entry.
    std::vector<std::u16string> ordered;
    std::set<std::u16string> placed;
    for (size_t i : order) {
        const std::u16string top = TopLevelName(items[i].relativePath);
        const std::u16string key = NameKey(top);
        if (sent.count(key) != 0 && placed.insert(key).second) ordered.push_back(top);
    }
    UploadPathList paths;
    for (const std::u16string& top : ordered) paths.push_back(std::u16string(dropFolder) + u"\\" + top);
    return paths;
}

namespace {

uint32_t Read32(const unsigned char* at) {
    return static_cast<uint32_t>(at[0]) | static_cast<uint32_t>(at[1]) << 8 | static_cast<uint32_t>(at[2]) << 16 |
           static_cast<uint32_t>(at[3]) << 24;
}

// Descriptor layout: flags at 0, attributes at 36, size (high, low) at 64,
// the name at 72: 260 units.
constexpr size_t kDescriptorSizeWide = 592;
constexpr size_t kDescriptorSizeAnsi = 332;
constexpr size_t kNameOffset = 72;
constexpr size_t kNameLength = 260;
constexpr uint32_t kHasAttributes = 0x4;  // FD_ATTRIBUTES
constexpr uint32_t kHasFileSize = 0x40;   // FD_FILESIZE
constexpr uint32_t kDirectoryAttribute = 0x10;

std::u16string WideText(const unsigned char* at, size_t maxUnits, size_t* units = nullptr) {
    std::u16string text;
    size_t i = 0;
    for (; i < maxUnits; ++i) {
        const char16_t unit = static_cast<char16_t>(at[2 * i] | at[2 * i + 1] << 8);
        if (unit == 0) break;
        text += unit;
    }
    if (units) *units = i;
    return text;
}

}  // namespace

std::vector<DropDescriptor> ReadFileGroupDescriptor(const unsigned char* block, size_t size, bool wide,
                                                    const AnsiNameConverter& ansiName) {
    std::vector<DropDescriptor> descriptors;
    if (!block || size < 4) return descriptors;
    const size_t stride = wide ? kDescriptorSizeWide : kDescriptorSizeAnsi;
    const size_t count = std::min<size_t>({Read32(block), (size - 4) / stride, kMaxDropItems});
    descriptors.reserve(count);
    for (size_t i = 0; i < count; ++i) {
        const unsigned char* at = block + 4 + i * stride;
        const uint32_t flags = Read32(at);
        DropDescriptor descriptor;
        if (wide) {
            descriptor.name = WideText(at + kNameOffset, kNameLength);
        } else {
            const char* name = reinterpret_cast<const char*>(at + kNameOffset);
            size_t length = 0;
            while (length < kNameLength && name[length] != 0) ++length;
            if (ansiName) descriptor.name = ansiName(std::string_view(name, length));
        }
        descriptor.isFolder = (flags & kHasAttributes) != 0 && (Read32(at + 36) & kDirectoryAttribute) != 0;
        if ((flags & kHasFileSize) != 0 && !descriptor.isFolder)
            descriptor.size = static_cast<uint64_t>(Read32(at + 64)) << 32 | Read32(at + 68);
        descriptors.push_back(std::move(descriptor));
    }
    return descriptors;
}

UploadPathList ReadShellFileList(const unsigned char* block, size_t size, const AnsiNameConverter& ansiName) {
    // DROPFILES: offset of the list at 0, whether it is wide at 16.
    UploadPathList paths;
    if (!block || size < 20) return paths;
    const size_t start = Read32(block);
    const bool wide = Read32(block + 16) != 0;
    if (start < 20 || start >= size) return paths;
    size_t at = start;
    while (at < size) {
        if (wide) {
            size_t units = 0;
            const size_t room = (size - at) / 2;
            std::u16string path = WideText(block + at, room, &units);
            if (units == room) break;  // no end inside the block
            if (units == 0) break;     // the empty string that ends the list
            paths.push_back(std::move(path));
            at += 2 * (units + 1);
        } else {
            const char* text = reinterpret_cast<const char*>(block + at);
            size_t length = 0;
            while (at + length < size && text[length] != 0) ++length;
            if (at + length == size || length == 0) break;
            if (ansiName) paths.push_back(ansiName(std::string_view(text, length)));
            at += length + 1;
        }
    }
    return paths;
}

DropChunkVerdict CheckDropChunk(std::optional<uint64_t> declared, uint64_t copied, uint64_t chunk,
                                uint64_t freeBytes, const DropCopyLimits& limits) {
    const uint64_t total = copied + chunk;
    if (declared && total > *declared) return DropChunkVerdict::LongerThanDeclared;
    if (!declared && total > limits.capBytes) return DropChunkVerdict::OverCap;
    if (freeBytes < chunk || freeBytes - chunk < limits.keepFreeBytes) return DropChunkVerdict::VolumeFull;
    return DropChunkVerdict::Take;
}

std::u16string DescribeDropChunkVerdict(DropChunkVerdict verdict, const DropCopyLimits& limits) {
    switch (verdict) {
    case DropChunkVerdict::Take:
        break;
    case DropChunkVerdict::LongerThanDeclared:
        return u"its content is longer than its size";
    case DropChunkVerdict::OverCap:
        return u"its content goes on past " + DecimalText(limits.capBytes) + u" bytes";
    case DropChunkVerdict::VolumeFull:
        return u"the volume would keep less than " + DecimalText(limits.keepFreeBytes >> 20) + u" MiB free";
    }
    return {};
}

bool MayRemoveDropFolders(std::u16string_view transferStatus) {
    auto names = [&](std::u16string_view state) { return transferStatus.find(state) != std::u16string_view::npos; };
    return (names(kTransferIdle) || names(kTransferCompleted)) && !names(kTransferProgress) && !names(kTransferPaused);
}

std::u16string DropFolderName(uint64_t time, uint32_t processId, uint32_t sequence) {
    return u"drop-" + Hex(time, 16) + u"-" + Hex(processId, 8) + u"-" + Hex(sequence, 8);
}

bool IsDropFolderName(std::u16string_view name) {
    if (name.size() != 5 + 16 + 1 + 8 + 1 + 8 || name.substr(0, 5) != u"drop-") return false;
    for (size_t i = 5; i < name.size(); ++i) {
        const char16_t c = name[i];
        const bool dash = i == 21 || i == 30;
        if (dash ? c != u'-' : !((c >= u'0' && c <= u'9') || (c >= u'a' && c <= u'f'))) return false;
    }
    return true;
}

}  // namespace vantorel
