// The Windows flavours' export: the entry point the host calls with every message.
#include "command.h"
#include "export_win.h"

extern "C" QM_EXPORT void QM_STDCALL Quillomar(qshort md, void** ref, void* hwnd, void* /*hwnd2*/,
                                               void* /*inst*/, qcallback callback) {
  QuillomarMessage(md, ref, hwnd, callback);
}
