#include "agent/upload/upload_thread_win.h"

#include <windows.h>
#include <process.h>

#include <memory>
#include <new>

#include "protocol/debug_output.h"
#include "protocol/http_client.h"
#include "protocol/service_api.h"

namespace vantorel {

unsigned __stdcall UploadThread(void* pathList) {
    std::unique_ptr<UploadPathList> paths(static_cast<UploadPathList*>(pathList));
    const std::u16string body = BuildUploadBody(*paths);
    DebugOutput(body);
    HttpPostForm(std::u16string(kServiceHost), std::u16string(ServiceUrl(ServiceRequest::FileTransfer)), body);
    return 0;
}

bool StartUploadThread(UploadPathList paths) {
    if (paths.empty()) return false;
    auto* owned = new (std::nothrow) UploadPathList(std::move(paths));
    if (!owned) return false;
    const uintptr_t thread = _beginthreadex(nullptr, 0, UploadThread, owned, 0, nullptr);
    if (thread == 0) {
        delete owned;
        return false;
    }
    CloseHandle(reinterpret_cast<HANDLE>(thread));
    return true;
}

}  // namespace vantorel
