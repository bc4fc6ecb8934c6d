// Files dropped on the tray window: the OLE drop target of Windows Vista and
// later, and the shell's file drop that every version sends when no OLE
// target is registered. Both end in one upload thread per drop.
#pragma once

#include <windows.h>
#include <shellapi.h>

#include "agent/upload/drop_plan.h"

namespace vantorel {

// Makes the drop target for the tray window, locks it for OLE and registers
// it. target receives the object (one reference, for RevokeDropTarget) even
// when the registration fails; the result is RegisterDragDrop's. limits
// bound what one dropped item may bring.
HRESULT CreateDropTarget(HWND window, const DropCopyLimits& limits, IDropTarget** target);

// At exit: undoes the registration, the lock and the entry's reference.
void RevokeDropTarget(HWND window, IDropTarget* target);

// WM_DROPFILES: starts an upload of the dropped paths as they are, then
// ends the drop. The caller refreshes the tooltip and hides the window.
void HandleDropFiles(HDROP drop);

}  // namespace vantorel
