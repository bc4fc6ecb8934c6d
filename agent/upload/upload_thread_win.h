// The upload request: one thread per drop hands the dropped paths to the
// Local service in a single POST and ends.
#pragma once

#include "protocol/upload_body.h"

namespace vantorel {

// Thread entry (runtime library thread start). Takes ownership of a
// heap-allocated UploadPathList, sends it and frees it; the result is not
// examined and nothing is retried.
unsigned __stdcall UploadThread(void* pathList);

// Starts UploadThread for paths; nothing is started for an empty list. False
// when the thread could not be started (the list is freed then too).
bool StartUploadThread(UploadPathList paths);

}  // namespace vantorel
