// The host's messages, the dispatch of commands to their handlers (import/commands.h) and
// the exported entry point shared by every build.
#ifndef QUILLOMAR_COMMAND_H
#define QUILLOMAR_COMMAND_H

#include "../import/commands.h"

enum : qshort {
  kMsgLoad = 0,
  kMsgExecute = 1,
  kMsgUnload = 2,
  kMsgDesignInfo = 3,
  kMsgSetupInfo = 4,
};

typedef void (*commandHandler)(cmdContext* ctx);

// The handler of a command number, or null when there is none (yet).
commandHandler FindCommandHandler(qshort cmdNumber);

// The library's module instance, from which the Windows builds load their command texts.
void* LibraryInstance();

// Runs one host message; shared by the exported entry points of every build.
void QuillomarMessage(qshort md, void** ref, void* hwnd, qcallback cb);

#endif
