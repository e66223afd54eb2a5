// The eight commands' handlers. Each runs inside an execute message after the shared
// prologue (which located the import file for every command but About and OpenFile) and
// leaves its return code in ctx->errCd for the epilogue.
#ifndef QUILLOMAR_COMMANDS_H
#define QUILLOMAR_COMMANDS_H

#include "../entry/command.h"

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
