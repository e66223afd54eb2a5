// Message dispatch: load, unload, execute with its shared prologue and epilogue, design and
// set-up information.
#include "command.h"

#include "../import/commands.h"
#include "../import/readahead.h"

#include "../glue/XPqUtil.h"
#include "../glue/callback.h"
#include "../resources/resource_ids.h"

#include <cstring>

namespace {

globals* loadedBlock(void** ref) {
  auto* g = ref ? static_cast<globals*>(*ref) : nullptr;
  return (g && g->sig == kSigReady && g->fileSpecsH) ? g : nullptr;
}

void doLoad(void** ref) {
  if (!ref) return;
  auto* current = static_cast<globals*>(*ref);
  if (current && current->sig == kSigReady) return; // loaded already
  auto* g = static_cast<globals*>(NewXPPointer(sizeof(globals)));
  if (!g) {
    plat_beep_failure();
    return;
  }
  g->sig = kSigLoading;
  g->fileSpecsH = CreateFileSpecTable();
  if (!g->fileSpecsH) {
    DisposeXPPointer(g); // never published, so nobody else would ever free it
    plat_beep_failure();
    return;
  }
  g->sig = kSigReady;
  *ref = g;
}

void doUnload(void** ref) {
  if (!ref || !*ref) return;
  auto* g = static_cast<globals*>(*ref);
  if (g->fileSpecsH) ReleaseAllFileSpecs(g->fileSpecsH);
  ReleaseAllReadAhead(g);
  DisposeXPPointer(g);
  *ref = nullptr;
}

bool isNullFileRef(qlong ref) {
#if QM_MAC
  return (ref & 0xFFFF) == 0; // records keep 16 bits
#else
  return ref == 0;
#endif
}

// Finds the import file named by parameter 1; leaves errCd at 6 when there is none usable.
void locateImportFile(cmdContext* ctx) {
  ctx->errCd = kResultNoSuchFile;
  qlong ref = GetFldLong(kFirstParamField, ctx->cb);
  if (isNullFileRef(ref)) return;
  importFileSpec* rec = FindFileSpec(&ctx->table, ref, &ctx->filePosition);
  if (!rec) return;
  if (IsInMemorySource(rec) && !rec->dataHandle) return;
  ctx->fileSpecsP = rec;
  if (ctx->cmdNumber == kCmdReadRecord && (!rec->fields || rec->fldCount < 1)) {
    ctx->errCd = kResultNoFormat;
    return;
  }
  ctx->errCd = kResultOk;
  ctx->g->buffer[0] = 0;
}

void doExecute(void** ref, void* hwnd, qcallback cb) {
  cmdContext ctx{};
  ctx.paramCount = GetFldInt(kParamCountField, cb);
  ctx.cmdNumber = GetPackageId(cb);
  ctx.hwnd = hwnd;
  ctx.cb = cb;
  ctx.g = loadedBlock(ref);
  if (!ctx.g) {
    SetFldInt(kReturnCodeField, kResultNotLoaded, cb);
    return;
  }
  LockFileSpecTable(ctx.g->fileSpecsH, &ctx.table);
  ctx.numFileSpecs = *ctx.table.fileSpecsBaseP;
  if (ctx.cmdNumber != kCmdAbout && ctx.cmdNumber != kCmdOpenFile) locateImportFile(&ctx);
  if (ctx.errCd == kResultOk) {
    commandHandler handler = FindCommandHandler(ctx.cmdNumber);
    if (handler) handler(&ctx);
  }
  if (ctx.cmdNumber != kCmdAbout) SetFldInt(kReturnCodeField, ctx.errCd, cb);
  // A handler that resized the table may have left it unlocked; unlocking again is harmless.
  UnlockFileSpecTable(ctx.g->fileSpecsH, &ctx.table);
}

void doDesignInfoMessage(qcallback cb) {
  qshort cmdNumber = GetPackageId(cb);
  void* designinfo = GetDesignPtr(cb);
  if (designinfo) doDesignInfo(designinfo, cmdNumber, QM_FIRST_COMMAND_STRING, LibraryInstance());
}

void doSetupInfo(qcallback cb) {
  auto* setup = static_cast<unsigned char*>(GetDesignPtr(cb));
  if (!setup) return;
  qshort one = 1;
  std::memcpy(setup + 14, &one, sizeof one); // the record is packed: no alignment promised
}

} // namespace

commandHandler FindCommandHandler(qshort cmdNumber) {
  static const commandHandler kHandlers[kCmdLast + 1] = {
      nullptr,      doAbout,      doCloseFile,    doReadBytes, doReadUpTo,
      doReadRecord, doDefineSubs, doDefineFormat, doOpenFile,
  };
  if (cmdNumber < 1 || cmdNumber > kCmdLast) return nullptr;
  return kHandlers[cmdNumber];
}

void QuillomarMessage(qshort md, void** ref, void* hwnd, qcallback cb) {
  switch (md) {
  case kMsgLoad:
    doLoad(ref);
    break;
  case kMsgExecute:
    doExecute(ref, hwnd, cb);
    break;
  case kMsgUnload:
    doUnload(ref);
    break;
  case kMsgDesignInfo:
    doDesignInfoMessage(cb);
    break;
  case kMsgSetupInfo:
    doSetupInfo(cb);
    break;
  default:
    break; // unknown messages read and write nothing
  }
}
