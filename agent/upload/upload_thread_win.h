// The upload request: one thread per drop hands the dropped paths to the
// Local service in a single POST and ends.
#pragma once

#include <memory>
#include <string>

#include "protocol/upload_body.h"

namespace vantorel {

// Thread entry (runtime library thread start). Takes ownership of a
// heap-allocated UploadPathList, sends it and frees it; the result is not
// examined and nothing is retried. Nothing thrown leaves it: a list too
// large to send is named in the debug output.
unsigned __stdcall UploadThread(void* pathList);

// The request's body for paths; none for an empty list or one too large
// to send (named in the debug output).
std::unique_ptr<std::u16string> PrepareUploadBody(const UploadPathList& paths) noexcept;

// Sends a prepared body on the calling thread; the reply is not read.
void SendUploadBody(const std::u16string& body) noexcept;

// Starts a thread that sends a prepared body; false for none, or when the
// thread could not be started.
bool StartUploadThread(std::unique_ptr<std::u16string> body);

// Prepares the request for paths and starts a thread that sends it.
bool StartUploadThread(UploadPathList paths);

}  // namespace vantorel
