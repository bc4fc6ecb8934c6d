// A COM object of the drivers' own, counted and deleting itself.
#pragma once

#include <windows.h>
#include <objbase.h>

// COM interfaces have no virtual destructor by design: Release deletes.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wnon-virtual-dtor"

namespace driver {

// The IUnknown of a heap object with one interface (and the interface it
// derives from, when not IUnknown itself); it deletes itself.
template <class Interface, const IID& kIid, const IID& kBaseIid = IID_IUnknown>
class ComObject : public Interface {
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override {
        if (iid == IID_IUnknown || iid == kIid || iid == kBaseIid) {
            *object = static_cast<Interface*>(this);
            this->AddRef();
            return S_OK;
        }
        *object = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return InterlockedIncrement(&references_); }
    ULONG STDMETHODCALLTYPE Release() override {
        const LONG count = InterlockedDecrement(&references_);
        if (count == 0) delete this;
        return count;
    }

protected:
    virtual ~ComObject() = default;

private:
    LONG references_ = 1;
};

}  // namespace driver

#pragma GCC diagnostic pop
