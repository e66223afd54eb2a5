// The host's messages, its field numbers, the command numbers and what one execute message
// hands a command's handler.
#ifndef QUILLOMAR_COMMAND_H
#define QUILLOMAR_COMMAND_H

#include "../import/filetable.h"
#include "../import/globals.h"

enum : qshort {
  kMsgLoad = 0,
  kMsgExecute = 1,
  kMsgUnload = 2,
  kMsgDesignInfo = 3,
  kMsgSetupInfo = 4,
};

enum : qshort {
  kReturnCodeField = 200,
  kParamCountField = 210,
  kFirstParamField = 211, // parameter n is field 210 + n
};

enum : qshort {
  kCmdAbout = 1,
  kCmdCloseFile = 2,
  kCmdReadBytes = 3,
  kCmdReadUpTo = 4,
  kCmdReadRecord = 5,
  kCmdDefineSubs = 6,
  kCmdDefineFormat = 7,
  kCmdOpenFile = 8,
  kCmdLast = 8,
};

// The working values of one execute message, handed to the command's handler.
struct cmdContext {
  globals* g;
  qshort paramCount;
  qshort cmdNumber;
  qshort errCd;               // the return code the epilogue writes
  fileTableView table;        // the locked import file table
  qshort numFileSpecs;        // its record count when the command started
  importFileSpec* fileSpecsP; // the located import file, or null
  qshort filePosition;        // its 1-based position in the table
  void* hwnd;                 // the host window (clipboard owner)
  qcallback cb;
};

typedef void (*commandHandler)(cmdContext* ctx);

// The handler of a command number, or null when there is none (yet).
commandHandler FindCommandHandler(qshort cmdNumber);

// The library's module instance, from which the Windows builds load their command texts.
void* LibraryInstance();

// Runs one host message; shared by the exported entry points of every build.
void QuillomarMessage(qshort md, void** ref, void* hwnd, qcallback cb);

#endif
