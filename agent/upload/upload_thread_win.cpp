#include "agent/upload/upload_thread_win.h"

#include <windows.h>
#include <process.h>

#include <memory>
#include <new>
#include <string>

#include "protocol/debug_output.h"
#include "protocol/http_client.h"
#include "protocol/service_api.h"
#include "protocol/utf8.h"

namespace vantorel {
namespace {

void TooLarge(size_t pathCount) noexcept {
    try {
        DebugOutput(u"Upload: the list of " + DecimalText(pathCount) + u" paths is too large to send\n");
    } catch (...) {
    }
}

unsigned __stdcall BodyThread(void* body) {
    const std::unique_ptr<std::u16string> owned(static_cast<std::u16string*>(body));
    SendUploadBody(*owned);
    return 0;
}

}  // namespace

// Nothing thrown may leave a thread: it would end the agent.
void SendUploadBody(const std::u16string& body) noexcept {
    try {
        DebugOutput(body);
        HttpPostForm(std::u16string(kServiceHost), std::u16string(ServiceUrl(ServiceRequest::FileTransfer)), body);
    } catch (...) {
        DebugOutput(u"Upload: the request could not be sent, out of memory\n");
    }
}

std::unique_ptr<std::u16string> PrepareUploadBody(const UploadPathList& paths) noexcept {
    if (paths.empty()) return nullptr;
    try {
        return std::make_unique<std::u16string>(BuildUploadBody(paths));
    } catch (...) {
        TooLarge(paths.size());
        return nullptr;
    }
}

unsigned __stdcall UploadThread(void* pathList) {
    std::unique_ptr<UploadPathList> paths(static_cast<UploadPathList*>(pathList));
    std::u16string body;
    try {
        body = BuildUploadBody(*paths);
    } catch (...) {
        TooLarge(paths->size());
        return 0;
    }
    paths.reset();
    SendUploadBody(body);
    return 0;
}

bool StartUploadThread(std::unique_ptr<std::u16string> body) {
    if (!body) return false;
    const uintptr_t thread = _beginthreadex(nullptr, 0, BodyThread, body.get(), 0, nullptr);
    if (thread == 0) return false;
    body.release();
    CloseHandle(reinterpret_cast<HANDLE>(thread));
    return true;
}

bool StartUploadThread(UploadPathList paths) {
    // Built here, so that a list too large to send fails the drop that made it.
    std::unique_ptr<std::u16string> body = PrepareUploadBody(paths);
    paths = UploadPathList();
    return StartUploadThread(std::move(body));
}

}  // namespace vantorel
