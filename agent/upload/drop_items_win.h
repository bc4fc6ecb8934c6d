// The drop target's work on a dropped data object: what it offers, and the
// virtual items written into a folder of the drop's own.
#pragma once

#include <windows.h>
#include <objidl.h>

#include <string>

#include "agent/upload/drop_plan.h"

namespace vantorel {

// The media of every offered format, one debug line each.
void WriteOfferedFormats(IDataObject* data);

// The shell's file list when GetData of CF_HDROP gives one, and the
// descriptors of the virtual file group (wide, or else ANSI).
DropOffer ReadDropOffer(IDataObject* data);

// The folder for the next drop under the temporary directory (not yet
// created), without a trailing backslash; empty when there is no
// temporary directory.
std::wstring NextDropFolderPath();

// Creates the folder and writes every item of the plan into it, content
// copied in chunks as it is read, within the limits; an item that cannot be
// written completely is removed again and named in the debug output.
// Returns the paths to send.
UploadPathList WriteDropItems(IDataObject* data, const DropPlan& plan, const std::wstring& folder,
                              const DropCopyLimits& limits);

// When the service holds no upload that may read from them, removes the
// drop folders of the agent's temporary folder last written over a week
// ago and returns true; otherwise false, to be asked again later.
bool RemoveOldDropFoldersWhenIdle();

}  // namespace vantorel
