// The eight commands' handlers and what one execute message hands them. Each runs inside an
// execute message after the shared prologue of the entry layer (which located the import
// file for every command but About and OpenFile) and leaves its return code in ctx->errCd
// for the epilogue.
#ifndef QUILLOMAR_COMMANDS_H
#define QUILLOMAR_COMMANDS_H

#include "filetable.h"
#include "globals.h"

// The host's fields of an executing command.
enum : qshort {
  kReturnCodeField = 200,
  kParamCountField = 210,
  kFirstParamField = 211, // parameter n is field 210 + n
};

// Command numbers, as the command table lists them.
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

void doAbout(cmdContext* ctx);
void doOpenFile(cmdContext* ctx);
void doCloseFile(cmdContext* ctx);
void doDefineFormat(cmdContext* ctx);
void doDefineSubs(cmdContext* ctx);
void doReadRecord(cmdContext* ctx);
void doReadUpTo(cmdContext* ctx);
void doReadBytes(cmdContext* ctx);

// Parameter n's field.
inline qshort paramField(qshort n) { return static_cast<qshort>(kParamCountField + n); }

// Parameter n as a flag: true for any nonzero value, at the number's full width; false when
// the method left the parameter out.
bool FlagParam(const cmdContext* ctx, qshort n);

#endif
