#include "agent/upload/drop_target_win.h"

#include <ole2.h>
#include <process.h>
#include <shldisp.h>
#include <shlobj.h>

#include <cstdio>
#include <cstring>
#include <memory>
#include <new>
#include <string>

#include "agent/service/ui_resources_win.h"
#include "agent/upload/drop_items_win.h"
#include "agent/upload/upload_thread_win.h"
#include "resources/ui_strings.h"

namespace vantorel {
namespace {

constexpr GUID kIidUnknown = {0x00000000, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
constexpr GUID kIidDropTarget = {0x00000122, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
constexpr GUID kIidDataObject = {0x0000010E, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
constexpr GUID kClsidDragDropHelper = {0x4657278A, 0x411B, 0x11D2, {0x83, 0x9A, 0x00, 0xC0, 0x4F, 0xD9, 0x18, 0xD0}};
constexpr GUID kIidDropTargetHelper = {0x4657278B, 0x411B, 0x11D2, {0x83, 0x9A, 0x00, 0xC0, 0x4F, 0xD9, 0x18, 0xD0}};
constexpr GUID kIidAsyncCapability = {0x3D8B0590, 0xF691, 0x11D2, {0x8E, 0xA9, 0x00, 0x60, 0x97, 0xDF, 0x5B, 0xD4}};

// The shell's DROPDESCRIPTION, which the headers give only to Vista builds.
struct DropDescriptionRecord {
    INT32 type;
    WCHAR message[MAX_PATH];
    WCHAR insert[MAX_PATH];
};
static_assert(sizeof(DropDescriptionRecord) == 1044);

constexpr INT32 kDropImageInvalid = -1;
constexpr INT32 kDropImageCopy = 1;

void SetDropDescription(IDataObject* data, INT32 type, const std::wstring& message, const std::wstring& insert) {
    DropDescriptionRecord record = {};
    record.type = type;
    wcsncpy(record.message, message.c_str(), MAX_PATH - 1);
    wcsncpy(record.insert, insert.c_str(), MAX_PATH - 1);
    static UINT format = 0;
    if (format == 0) format = RegisterClipboardFormatW(L"DropDescription");

    HGLOBAL block = GlobalAlloc(GMEM_ZEROINIT, sizeof record);
    if (!block) return;
    void* target = GlobalLock(block);
    if (!target) {
        GlobalFree(block);
        return;
    }
    std::memcpy(target, &record, sizeof record);
    GlobalUnlock(block);
    FORMATETC description = {static_cast<CLIPFORMAT>(format), nullptr, DVASPECT_CONTENT, -1, TYMED_HGLOBAL};
    STGMEDIUM medium = {};
    medium.tymed = TYMED_HGLOBAL;
    medium.hGlobal = block;
    const HRESULT result = data->SetData(&description, &medium, TRUE);
    if (FAILED(result)) {
        GlobalFree(block);
        wchar_t line[64];
        std::swprintf(line, 64, L"SetDropDescription: SetData failed with 0x%08lX\n", static_cast<unsigned long>(result));
        OutputDebugStringW(line);
    }
}

std::wstring DropInsertText() {
    const std::u16string text = LoadUiString(IDS_DROP_INSERT);
    return std::wstring(text.begin(), text.end());
}

void DebugRule() { OutputDebugStringW((std::wstring(75, L'=') + L"\n").c_str()); }

// What a drop sends: the shell's paths, or the virtual items written into a
// folder of the drop's own. Empty when nothing can be sent.
UploadPathList TakeDrop(IDataObject* data, const DropCopyLimits& limits) {
    const DropOffer offer = ReadDropOffer(data);
    const std::wstring folder = NextDropFolderPath();
    DropPlan plan = PlanDrop(offer, folder.size());
    switch (plan.kind) {
    case DropPlan::Kind::ShellPaths:
        return std::move(plan.shellPaths);
    case DropPlan::Kind::VirtualItems:
        if (folder.empty()) return {};
        return WriteDropItems(data, plan, folder, limits);
    case DropPlan::Kind::Nothing:
        break;
    }
    OutputDebugStringW(L"Drop: nothing usable was offered\n");
    return {};
}

// The request for a drop; none when nothing can be sent. An asynchronous
// source waits for the outcome, so nothing thrown may skip telling it.
std::unique_ptr<std::u16string> PrepareDrop(IDataObject* data, const DropCopyLimits& limits) noexcept {
    try {
        return PrepareUploadBody(TakeDrop(data, limits));
    } catch (...) {
        OutputDebugStringW(L"Drop: out of memory\n");
        return nullptr;
    }
}

void EndAsyncDrop(IDataObjectAsyncCapability* async, bool sending) {
    async->EndOperation(sending ? S_OK : E_FAIL, nullptr, sending ? DROPEFFECT_COPY : DROPEFFECT_NONE);
    async->Release();
}

// The source's asynchronous capability when it is in asynchronous mode: it
// then waits for EndOperation, not for Drop, and some sources hand their
// content over only once StartOperation was called.
IDataObjectAsyncCapability* AsyncCapability(IDataObject* data) {
    void* found = nullptr;
    if (FAILED(data->QueryInterface(kIidAsyncCapability, &found)) || !found) return nullptr;
    auto* async = static_cast<IDataObjectAsyncCapability*>(found);
    BOOL asyncMode = FALSE;
    if (SUCCEEDED(async->GetAsyncMode(&asyncMode)) && asyncMode) return async;
    async->Release();
    return nullptr;
}

// A drop taken on a worker thread: the data object and its capability,
// marshalled to it.
struct AsyncDrop {
    IStream* data = nullptr;
    IStream* async = nullptr;
    DropCopyLimits limits;
    ~AsyncDrop() {
        for (IStream* marshalled : {data, async}) {
            if (!marshalled) continue;
            CoReleaseMarshalData(marshalled);
            marshalled->Release();
        }
    }
};

unsigned __stdcall AsyncDropThread(void* argument) {
    const std::unique_ptr<AsyncDrop> drop(static_cast<AsyncDrop*>(argument));
    const HRESULT com = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    IDataObject* data = nullptr;
    IDataObjectAsyncCapability* async = nullptr;
    CoGetInterfaceAndReleaseStream(drop->data, kIidDataObject, reinterpret_cast<void**>(&data));
    CoGetInterfaceAndReleaseStream(drop->async, kIidAsyncCapability, reinterpret_cast<void**>(&async));
    drop->data = drop->async = nullptr;
    const std::unique_ptr<std::u16string> body = data ? PrepareDrop(data, drop->limits) : nullptr;
    // The source learns the outcome before the request goes: it may free
    // its data now. The request goes from here, a thread already, and
    // before the data object is let go: that is a call into the source,
    // which may be slow to answer.
    if (async) async->EndOperation(body ? S_OK : E_FAIL, nullptr, body ? DROPEFFECT_COPY : DROPEFFECT_NONE);
    if (body) SendUploadBody(*body);
    if (async) async->Release();
    if (data) data->Release();
    if (SUCCEEDED(com)) CoUninitialize();
    return 0;
}

// Hands the drop to a worker thread once the source has started the
// operation; false when it could not, and the drop is taken here.
bool StartAsyncDrop(IDataObject* data, IDataObjectAsyncCapability* async, const DropCopyLimits& limits) {
    std::unique_ptr<AsyncDrop> drop(new (std::nothrow) AsyncDrop);
    if (!drop) return false;
    drop->limits = limits;
    if (FAILED(CoMarshalInterThreadInterfaceInStream(kIidDataObject, data, &drop->data)) ||
        FAILED(CoMarshalInterThreadInterfaceInStream(kIidAsyncCapability, async, &drop->async)))
        return false;
    const uintptr_t thread = _beginthreadex(nullptr, 0, AsyncDropThread, drop.get(), 0, nullptr);
    if (thread == 0) return false;
    drop.release();
    CloseHandle(reinterpret_cast<HANDLE>(thread));
    return true;
}

// The drop, on a worker when the source allows it; otherwise here on the
// window thread while the data object is valid. Only the request itself
// goes to a thread of its own.
bool UploadDrop(IDataObject* data, const DropCopyLimits& limits) {
    IDataObjectAsyncCapability* async = AsyncCapability(data);
    if (async && SUCCEEDED(async->StartOperation(nullptr))) {
        if (StartAsyncDrop(data, async, limits)) {
            async->Release();
            OutputDebugStringW(L"Drop: taken asynchronously\n");
            return true;
        }
        OutputDebugStringW(L"Drop: taken synchronously, no worker thread for it\n");
        const bool started = StartUploadThread(PrepareDrop(data, limits));
        EndAsyncDrop(async, started);
        return started;
    }
    if (async) async->Release();
    OutputDebugStringW(L"Drop: taken synchronously\n");
    return StartUploadThread(PrepareDrop(data, limits));
}

// COM interfaces have no virtual destructor by design: the object deletes
// itself in Release.
#if defined(__GNUC__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wnon-virtual-dtor"
#endif
class CDropTarget final : public IDropTarget {
public:
    CDropTarget(HWND window, const DropCopyLimits& limits) : targetWindow_(window), limits_(limits) {}
    CDropTarget(const CDropTarget&) = delete;
    CDropTarget& operator=(const CDropTarget&) = delete;

    void CreateHelper() {
        void* helper = nullptr;
        if (SUCCEEDED(CoCreateInstance(kClsidDragDropHelper, nullptr, CLSCTX_INPROC_SERVER | CLSCTX_INPROC_HANDLER,
                                       kIidDropTargetHelper, &helper)))
            helper_ = static_cast<IDropTargetHelper*>(helper);
    }

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) noexcept override {
        if (!object) return E_POINTER;
        if (IsEqualIID(iid, kIidDropTarget) || IsEqualIID(iid, kIidUnknown)) {
            *object = static_cast<IDropTarget*>(this);
            AddRef();
            return S_OK;
        }
        *object = nullptr;
        return E_NOINTERFACE;
    }

    ULONG STDMETHODCALLTYPE AddRef() noexcept override { return static_cast<ULONG>(InterlockedIncrement(&references_)); }

    ULONG STDMETHODCALLTYPE Release() noexcept override {
        const LONG count = InterlockedDecrement(&references_);
        if (count == 0) delete this;
        return static_cast<ULONG>(count);
    }

    HRESULT STDMETHODCALLTYPE DragEnter(IDataObject* data, DWORD, POINTL point, DWORD* effect) noexcept override {
        // Every drag is a copy to the service, whatever keys are held.
        if (effect) *effect = DROPEFFECT_COPY;
        if (!data) return S_OK;
        try {
            SetDropDescription(data, kDropImageCopy, L"%1", DropInsertText());
        } catch (...) {
            // Without a description the drag goes on as before.
        }
        POINT at = {point.x, point.y};
        if (helper_) helper_->DragEnter(targetWindow_, data, &at, DROPEFFECT_COPY);
        ReleaseHeld();
        void* held = nullptr;
        if (SUCCEEDED(data->QueryInterface(kIidDataObject, &held))) held_ = static_cast<IDataObject*>(held);
        return S_OK;
    }

    HRESULT STDMETHODCALLTYPE DragOver(DWORD, POINTL point, DWORD* effect) noexcept override {
        if (effect) *effect = DROPEFFECT_COPY;
        POINT at = {point.x, point.y};
        if (helper_) helper_->DragOver(&at, DROPEFFECT_COPY);
        return S_OK;
    }

    HRESULT STDMETHODCALLTYPE DragLeave() noexcept override {
        if (helper_) helper_->DragLeave();
        if (held_) {
            try {
                SetDropDescription(held_, kDropImageInvalid, L"", L"");
            } catch (...) {
            }
            ReleaseHeld();
        }
        return S_OK;
    }

    HRESULT STDMETHODCALLTYPE Drop(IDataObject* data, DWORD, POINTL point, DWORD* effect) noexcept override {
        if (effect) *effect = DROPEFFECT_COPY;
        if (!data) return E_FAIL;
        try {
            WriteOfferedFormats(data);
            DebugRule();
            POINT at = {point.x, point.y};
            if (helper_) helper_->Drop(data, &at, DROPEFFECT_COPY);
            DebugRule();
            const bool started = UploadDrop(data, limits_);
            // Held any longer, the data object would keep the source's data
            // alive, and releasing it later calls into a source that may no
            // longer answer: at exit the agent would hang.
            ReleaseHeld();
            return started ? S_OK : E_FAIL;
        } catch (...) {
            OutputDebugStringW(L"Drop: out of memory\n");
            return E_FAIL;
        }
    }

private:
    ~CDropTarget() {
        ReleaseHeld();
        if (helper_) helper_->Release();
    }

    void ReleaseHeld() {
        if (held_) held_->Release();
        held_ = nullptr;
    }

    LONG references_ = 1;
    HWND targetWindow_;
    DropCopyLimits limits_;
    IDropTargetHelper* helper_ = nullptr;
    IDataObject* held_ = nullptr;
};
#if defined(__GNUC__)
#pragma GCC diagnostic pop
#endif

}  // namespace

HRESULT CreateDropTarget(HWND window, const DropCopyLimits& limits, IDropTarget** target) {
    *target = nullptr;
    auto* dropTarget = new (std::nothrow) CDropTarget(window, limits);
    if (!dropTarget) return E_OUTOFMEMORY;
    dropTarget->CreateHelper();
    CoLockObjectExternal(dropTarget, TRUE, FALSE);
    *target = dropTarget;
    return RegisterDragDrop(window, dropTarget);
}

void RevokeDropTarget(HWND window, IDropTarget* target) {
    if (!target) return;
    RevokeDragDrop(window);
    CoLockObjectExternal(target, FALSE, TRUE);
    target->Release();
}

void HandleDropFiles(HDROP drop) {
    try {
        const UINT count = DragQueryFileW(drop, 0xFFFFFFFF, nullptr, 0);
        UploadPathList paths;
        for (UINT i = 0; i < count; ++i) {
            // Asked for its length first: a long path is never cut.
            const UINT length = DragQueryFileW(drop, i, nullptr, 0);
            std::wstring path(length + 1, L'\0');
            path.resize(DragQueryFileW(drop, i, path.data(), length + 1));
            if (!path.empty()) paths.emplace_back(path.begin(), path.end());
        }
        StartUploadThread(std::move(paths));
    } catch (...) {
        OutputDebugStringW(L"Drop: out of memory\n");
    }
    DragFinish(drop);
}

}  // namespace vantorel
