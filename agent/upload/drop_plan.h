// What a drop on the tray window means, decided before anything is read or
// written: the plain paths the shell offers, or the virtual items of a file
// group, each with a safe place inside the drop's own folder; and, once the
// items are written, which paths go to the Local service. Portable; the
// Windows side asks the data object, writes the items and starts the upload.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "protocol/upload_body.h"

namespace vantorel {

// Longest name of one file or folder that Windows file systems keep.
inline constexpr size_t kMaxDropNameLength = 255;
// Longest path the agent and the service open without the long-path prefix
// (MAX_PATH less its terminating zero).
inline constexpr size_t kMaxDropPathLength = 259;
// Longest folder path CreateDirectoryW takes without the long-path prefix:
// it keeps room for an 8.3 name below MAX_PATH.
inline constexpr size_t kMaxDropFolderPathLength = 247;
// A drop makes at most this many files and folders, the folders its names
// imply included; a larger group is not a real drop but a damaged or
// hostile descriptor.
inline constexpr size_t kMaxDropItems = 100000;
// Most names in one relative path: a file nests in at most one less folders.
inline constexpr size_t kMaxDropDepth = 32;

struct DropLimits {
    size_t maxItems = kMaxDropItems;
    size_t maxDepth = kMaxDropDepth;  // at least 1
};

// One entry of a virtual file group as its descriptor gives it.
struct DropDescriptor {
    std::u16string name;  // may hold folders ("a\b.txt"); untrusted
    bool isFolder = false;
    std::optional<uint64_t> size;  // when the descriptor declares one
};

// What the data object offers, as far as a drop uses it.
struct DropOffer {
    // The shell's file list: its paths when GetData of CF_HDROP succeeded;
    // empty when it was not offered or was refused.
    std::optional<UploadPathList> shellPaths;
    std::vector<DropDescriptor> descriptors;  // the file group, in its order
};

// One virtual item to write: descriptor `index` (the lindex of its content)
// at `relativePath` inside the drop folder, with backslashes between names.
struct DropItem {
    size_t index = 0;
    std::u16string relativePath;
    bool isFolder = false;
    bool implied = false;  // a folder no descriptor names, only the paths inside it
    std::optional<uint64_t> size;
};

struct DropPlan {
    enum class Kind { Nothing, ShellPaths, VirtualItems };
    Kind kind = Kind::Nothing;
    UploadPathList shellPaths;   // Kind::ShellPaths: sent as they are
    std::vector<DropItem> items;  // Kind::VirtualItems: folders before the files inside them
    size_t descriptorsLeftOut = 0;  // from the first one the item limit had no room for
};

// The shell's paths when it gave any; otherwise every descriptor as an item,
// with names made safe and unique (as NameKey compares them), within the
// limits: drop folder + "\" + relative path within kMaxDropPathLength for
// a file and kMaxDropFolderPathLength for a folder, each file in as many of
// its folders as fit (the rest of its path left out), at most
// limits.maxItems items with the folders counted. dropFolderLength: the drop
// folder's length without a trailing backslash.
DropPlan PlanDrop(const DropOffer& offer, size_t dropFolderLength, const DropLimits& limits = {});

// A name as Windows compares file names: ordinal, ignoring case over all of
// Unicode (each UTF-16 unit in its upper case). Equal keys, one name on disk.
std::u16string NameKey(std::u16string_view name);

// A descriptor's name as a safe relative path: no drive, root, "." or "..";
// no characters Windows refuses in names, no unpaired surrogates, no device
// names (CON, NUL, COM1 ...), no trailing dots or blanks; each name at most
// kMaxDropNameLength units. Empty when nothing usable is left.
std::u16string SafeRelativePath(std::u16string_view name);

// The n-th other choice for a file's path (n >= 2): "a\b (n).txt".
std::u16string AlternativeDropPath(std::u16string_view relativePath, unsigned n);

// What the service is sent after the items were written: the top-level
// entries of the drop folder, in the order of the first item under each,
// joined to the folder. A top-level file goes only when it was written
// completely; a top-level folder goes when it was asked for as a folder or
// anything inside it was written. written[i] tells item i's outcome.
UploadPathList DropPathsToSend(const std::vector<DropItem>& items, const std::vector<bool>& written,
                               std::u16string_view dropFolder);

// ---- the data object's memory blocks ---------------------------------------
// Read within the block's size whatever its header claims; little-endian.

// Converts a name in the system's ANSI code page.
using AnsiNameConverter = std::function<std::u16string(std::string_view)>;

// A FILEGROUPDESCRIPTORW block (wide) or FILEGROUPDESCRIPTORA block: at most
// as many descriptors as the block holds, each name ending at its first zero
// or at the end of its field.
std::vector<DropDescriptor> ReadFileGroupDescriptor(const unsigned char* block, size_t size, bool wide,
                                                    const AnsiNameConverter& ansiName);

// A DROPFILES block (CF_HDROP): the paths that lie wholly inside the block,
// in order; none when its list starts outside.
UploadPathList ReadShellFileList(const unsigned char* block, size_t size, const AnsiNameConverter& ansiName);

// ---- copying an item's content -------------------------------------------

// An item whose descriptor gives no size may bring at most this much.
inline constexpr uint64_t kDropStreamCapBytes = 4ull << 30;
// A copy stops where the volume would keep less than this free.
inline constexpr uint64_t kDropKeepFreeBytes = 512ull << 20;

struct DropCopyLimits {
    uint64_t capBytes = kDropStreamCapBytes;
    uint64_t keepFreeBytes = kDropKeepFreeBytes;
};

enum class DropChunkVerdict { Take, LongerThanDeclared, OverCap, VolumeFull };

// Whether the next `chunk` bytes of an item's content may be written, with
// `copied` written before and `freeBytes` free on the volume. A stream
// longer than its descriptor says is not the file it names.
DropChunkVerdict CheckDropChunk(std::optional<uint64_t> declared, uint64_t copied, uint64_t chunk,
                                uint64_t freeBytes, const DropCopyLimits& limits);
std::u16string DescribeDropChunkVerdict(DropChunkVerdict verdict, const DropCopyLimits& limits);

// ---- drop folders ----------------------------------------------------------

// The name of the folder of one drop under the agent's temporary folder:
// "drop-" and a unique part.
std::u16string DropFolderName(uint64_t time, uint32_t processId, uint32_t sequence);
bool IsDropFolderName(std::u16string_view name);

// Drop folders are removed once they are this old,
inline constexpr uint64_t kDropFolderMaxAgeSeconds = 7ull * 24 * 60 * 60;
// and only when the service's transfer state (its transferstatus reply)
// says it holds no upload, running, queued or paused, that may still read
// from one: an empty reply (no service yet) waits.
bool MayRemoveDropFolders(std::u16string_view transferStatus);

}  // namespace vantorel
