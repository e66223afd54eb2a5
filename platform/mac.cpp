// The seam over the Mac Toolbox: the Memory Manager for blocks, the File Manager (with a
// parameter block per import file) for files. Built here over the Toolbox stand-in.
#include "standin/toolbox.h"

#include "platform.h"

#include <cstring>

static_assert(sizeof(ParamBlockRec) <= sizeof(PlatFileBlock), "parameter block must fit");

namespace {
OSErr gLastError = noErr;

ParamBlockRec* pbOf(PlatFileBlock* block) { return reinterpret_cast<ParamBlockRec*>(block); }

// Prepares the file's own parameter block for a call on reference ref.
ParamBlockRec* preparePb(PlatFileBlock* block, qfileref ref) {
  ParamBlockRec* pb = pbOf(block);
  pb->ioCompletion = nullptr;
  pb->ioRefNum = ref;
  return pb;
}
} // namespace

void* plat_ptr_new(qlong size) {
  if (size < 0 || plat_fault_hit(kFaultPtrNew)) return nullptr;
  return NewPtrClear(size);
}

void plat_ptr_dispose(void* p) {
  if (p) DisposePtr(static_cast<Ptr>(p));
}

XPHandle plat_handle_new(qlong size, bool zeroFill) {
  if (size < 0 || plat_fault_hit(kFaultHandleNew)) return nullptr;
  return zeroFill ? NewHandleClear(size) : NewHandle(size);
}

qshort plat_handle_resize(XPHandle* h, qlong newSize) {
  if (plat_fault_hit(kFaultHandleResize)) return memFullErr;
  SetHandleSize(static_cast<Handle>(*h), newSize);
  OSErr err = MemError();
  if (err != noErr) gLastError = err;
  return err;
}

void* plat_handle_lock(XPHandle h) {
  HLock(static_cast<Handle>(h));
  return *static_cast<Handle>(h);
}

void plat_handle_unlock(XPHandle h) { HUnlock(static_cast<Handle>(h)); }

void plat_handle_dispose(XPHandle h) {
  if (h) DisposeHandle(static_cast<Handle>(h));
}

PlatResult plat_file_open(platpath path, qfileref* ref, PlatFileBlock* block) {
  FSIORefNum refNum = 0;
  *ref = 0;
  if (plat_fault_hit(kFaultFileOpen)) return kPlatIoError;
  OSErr err = HOpen(0, 0, path, fsRdPerm, &refNum);
  if (err != noErr) {
    gLastError = err;
    if (err == notAFileErr) return kPlatNotAFile;
    return err == fnfErr ? kPlatNotFound : kPlatIoError;
  }
  if (refNum >= 0 && refNum <= 2) {
    // Methods would take such a reference for no file or for a keyword source.
    ParamBlockRec pb{};
    pb.ioRefNum = refNum;
    PBCloseSync(&pb);
    gLastError = rfNumErr;
    return kPlatIoError;
  }
  ParamBlockRec* pb = pbOf(block);
  std::memset(pb, 0, sizeof *pb);
  pb->ioNamePtr = const_cast<StringPtr>(path); // only valid during this call; not used later
  pb->ioPermssn = fsRdPerm;
  preparePb(block, refNum);
  pb->ioNamePtr = nullptr;
  *ref = refNum;
  return kPlatOk;
}

PlatResult plat_file_size(qfileref ref, PlatFileBlock* block, int64_t* size) {
  *size = 0;
  if (plat_fault_hit(kFaultFileSize)) return kPlatIoError;
  // The fork's size in 64 bits: the parameter block's end-of-file is a 32-bit value and would
  // cut larger files short.
  preparePb(block, ref);
  OSErr err = FSGetForkSize(ref, size);
  if (err != noErr) {
    gLastError = err;
    *size = 0;
    return kPlatIoError;
  }
  return kPlatOk;
}

PlatResult plat_file_close(qfileref ref, PlatFileBlock* block) {
  if (plat_fault_hit(kFaultFileClose)) return kPlatIoError;
  OSErr err = PBCloseSync(preparePb(block, ref));
  if (err != noErr) {
    gLastError = err;
    return kPlatIoError;
  }
  return kPlatOk;
}

qpos plat_file_size_limit(void) { return INT32_MAX; }

PlatResult plat_file_seek(qfileref ref, PlatFileBlock*, qpos pos) {
  if (plat_fault_hit(kFaultFileSeek)) return kPlatIoError;
  if (pos < 0 || pos > INT32_MAX) return kPlatIoError; // SetFPos takes 32-bit positions
  OSErr err = SetFPos(ref, fsFromStart, static_cast<qlong>(pos));
  if (err != noErr) {
    gLastError = err;
    return kPlatIoError;
  }
  return kPlatOk;
}

PlatResult plat_file_read(qfileref ref, PlatFileBlock* block, void* buf, qlong count, qlong* got) {
  *got = 0;
  if (count < 0) return kPlatIoError;
  if (plat_fault_hit(kFaultFileRead)) return kPlatIoError;
  if (plat_fault_hit(kFaultFileShortRead) && count > 1) count = (count + 1) / 2;
  // The file's own parameter block, reading on from the mark.
  ParamBlockRec* pb = preparePb(block, ref);
  pb->ioBuffer = static_cast<Ptr>(buf);
  pb->ioReqCount = count;
  pb->ioPosMode = fsFromMark;
  pb->ioPosOffset = 0;
  OSErr err = PBReadSync(pb);
  *got = pb->ioActCount;
  if (err == noErr) return kPlatOk;
  gLastError = err;
  return err == eofErr ? kPlatEnd : kPlatIoError;
}

void plat_get_ind_string(qshort listId, qshort index, uint8_t str[256]) {
  GetIndString(str, listId, index);
}

PlatConverter plat_roman_converter_create(void) {
  if (plat_fault_hit(kFaultResourceText)) return 0;
  TECObjectRef converter = nullptr;
  TextEncoding roman = CreateTextEncoding(kTextEncodingMacRoman, 0, 0);
  TextEncoding utf16 = CreateTextEncoding(kTextEncodingUnicodeDefault, 0, kUnicode16BitFormat);
  if (TECCreateConverter(&converter, roman, utf16) != noErr) return 0;
  return reinterpret_cast<PlatConverter>(converter);
}

bool plat_roman_convert(PlatConverter c, const uint8_t* in, qlong inLen, void* out, qlong outMax,
                        qlong* outLen) {
  *outLen = 0;
  if (plat_fault_hit(kFaultResourceText)) return false;
  ByteCount used = 0, written = 0;
  OSStatus st = TECConvertText(reinterpret_cast<TECObjectRef>(c), in, static_cast<ByteCount>(inLen),
                               &used, static_cast<uint8_t*>(out),
                               static_cast<ByteCount>(outMax > 0 ? outMax : 0), &written);
  *outLen = static_cast<qlong>(written);
  // A full output buffer cuts the text; that is the limit doing its job, not a failure.
  return st == noErr || st == kTECOutputBufferFullStatus;
}

bool plat_roman_flush(PlatConverter c, void* out, qlong outMax, qlong* outLen) {
  *outLen = 0;
  if (plat_fault_hit(kFaultResourceText)) return false;
  ByteCount written = 0;
  OSStatus st = TECFlushText(reinterpret_cast<TECObjectRef>(c), static_cast<uint8_t*>(out),
                             static_cast<ByteCount>(outMax > 0 ? outMax : 0), &written);
  *outLen = static_cast<qlong>(written);
  return st == noErr || st == kTECOutputBufferFullStatus;
}

// The bundle's resource file, as the Toolbox stand-in serves it: STR# 1273, item k holding
// the text of command number k.
void plat_register_strings(void*, const PlatString* table, qlong count) {
  // The Resource Manager's string list: the stand-in keeps the texts it is handed.
  constexpr qlong kMost = 64;
  static const char* texts[kMost];
  qlong n = count < kMost ? count : kMost;
  for (qlong i = 0; i < n; ++i)
    texts[i] = table[i].utf8;
  if (n > 0)
    ToolboxRegisterStringList(static_cast<int16_t>(table[0].id), texts, static_cast<size_t>(n));
}

qreal plat_x80_to_real(const qx80* x) {
  static_assert(sizeof(qx80) == sizeof(extended80), "the host's number is the Toolbox's");
  extended80 e;
  std::memcpy(e.bytes, x->bytes, sizeof e.bytes);
  return x80told(&e);
}

void plat_real_to_x80(qreal value, qx80* x) {
  extended80 e;
  ldtox80(&value, &e);
  std::memcpy(x->bytes, e.bytes, sizeof e.bytes);
}

void plat_beep_failure(void) { SysBeep(2); }

qlong plat_last_error(void) { return gLastError; }
