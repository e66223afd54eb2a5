// The macOS flavour's export: the entry point "main" with the callback record.
#include "command.h"

// C++ reserves the name main for the program's own; the symbol is named through the
// assembler so that the host finds the entry point it expects.
extern "C" __attribute__((visibility("default"))) void
QuillomarMacEntry(qshort md, void** ref, HostCallbackRec* callbackRec) __asm__("main");

void QuillomarMacEntry(qshort md, void** ref, HostCallbackRec* callbackRec) {
  QuillomarMessage(md, ref, nullptr, callbackRec);
}
