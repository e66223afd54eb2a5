// POSIX stand-in of the Toolbox calls declared in toolbox.h. Sections: 1 Memory Manager,
// 2 File Manager, 3 numbers, 4 resources and text encodings, 5 misc.
#include "toolbox.h"

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

std::recursive_mutex gLock;
thread_local OSErr tMemErr = noErr;
unsigned gLiveBlocks = 0;
unsigned gBeeps = 0;

// ---- 1. Memory Manager ------------------------------------------------------------------
// A Handle points at the first field of its master record, the master pointer itself.
struct Master {
  Ptr data; // must stay first: a Handle is the address of this field
  Size size;
  bool locked;
  uint32_t magic;
};
constexpr uint32_t kMasterMagic = 0x484E444C; // "HNDL"

Master* masterOf(Handle h) {
  auto* m = reinterpret_cast<Master*>(h);
  return (m && m->magic == kMasterMagic) ? m : nullptr;
}

Handle newHandle(Size size, bool clear) {
  std::lock_guard<std::recursive_mutex> g(gLock);
  if (size < 0) {
    tMemErr = paramErr;
    return nullptr;
  }
  auto* m = static_cast<Master*>(std::calloc(1, sizeof(Master)));
  size_t bytes = size ? static_cast<size_t>(size) : 1;
  Ptr data = static_cast<Ptr>(clear ? std::calloc(1, bytes) : std::malloc(bytes));
  if (!m || !data) {
    std::free(m);
    std::free(data);
    tMemErr = memFullErr;
    return nullptr;
  }
  m->data = data;
  m->size = size;
  m->magic = kMasterMagic;
  ++gLiveBlocks;
  tMemErr = noErr;
  return &m->data;
}

// ---- 2. File Manager --------------------------------------------------------------------
constexpr int16_t kFirstRefNum = 0x0101; // odd and above 2, as reference numbers tend to be
std::vector<int> gFiles;                 // slot -> descriptor, -1 when free

int fdOf(FSIORefNum ref, size_t* slotOut = nullptr) {
  if (ref < kFirstRefNum || (ref - kFirstRefNum) % 2 != 0) return -1;
  auto slot = static_cast<size_t>((ref - kFirstRefNum) / 2);
  if (slot >= gFiles.size()) return -1;
  if (slotOut) *slotOut = slot;
  return gFiles[slot];
}

OSErr fileError(int e) {
  switch (e) {
  case ENOENT:
  case ENOTDIR:
    return fnfErr;
  case EMFILE:
  case ENFILE:
    return tmfoErr;
  default:
    return ioErr;
  }
}

OSErr completePb(ParmBlkPtr pb, OSErr err) {
  if (pb) pb->ioResult = err;
  return err;
}

} // namespace

Ptr NewPtrClear(Size size) {
  std::lock_guard<std::recursive_mutex> g(gLock);
  if (size < 0) {
    tMemErr = paramErr;
    return nullptr;
  }
  // A size word in front lets DisposePtr check what it is given.
  auto* raw = static_cast<uint64_t*>(std::calloc(1, 16 + static_cast<size_t>(size)));
  if (!raw) {
    tMemErr = memFullErr;
    return nullptr;
  }
  raw[0] = 0x5054524350545243ULL; // "PTRCPTRC"
  raw[1] = static_cast<uint64_t>(size);
  ++gLiveBlocks;
  tMemErr = noErr;
  return reinterpret_cast<Ptr>(raw + 2);
}

void DisposePtr(Ptr p) {
  std::lock_guard<std::recursive_mutex> g(gLock);
  if (!p) return;
  uint64_t* raw = reinterpret_cast<uint64_t*>(p) - 2;
  if (raw[0] != 0x5054524350545243ULL) {
    tMemErr = paramErr;
    return;
  }
  raw[0] = 0;
  std::free(raw);
  --gLiveBlocks;
  tMemErr = noErr;
}

Handle NewHandle(Size size) { return newHandle(size, false); }
Handle NewHandleClear(Size size) { return newHandle(size, true); }

void SetHandleSize(Handle h, Size newSize) {
  std::lock_guard<std::recursive_mutex> g(gLock);
  Master* m = masterOf(h);
  if (!m) {
    tMemErr = nilHandleErr;
    return;
  }
  if (newSize < 0) {
    tMemErr = paramErr;
    return;
  }
  if (newSize <= m->size) {
    m->size = newSize; // shrinking happens in place
    tMemErr = noErr;
    return;
  }
  if (m->locked) {
    tMemErr = memLockedErr; // a locked block cannot move to grow
    return;
  }
  Ptr fresh = static_cast<Ptr>(std::malloc(static_cast<size_t>(newSize)));
  if (!fresh) {
    tMemErr = memFullErr;
    return;
  }
  std::memcpy(fresh, m->data, static_cast<size_t>(m->size));
  std::memset(fresh + m->size, 0xA5, static_cast<size_t>(newSize - m->size));
  std::free(m->data);
  m->data = fresh;
  m->size = newSize;
  tMemErr = noErr;
}

Size GetHandleSize(Handle h) {
  std::lock_guard<std::recursive_mutex> g(gLock);
  Master* m = masterOf(h);
  tMemErr = m ? noErr : nilHandleErr;
  return m ? m->size : 0;
}

void HLock(Handle h) {
  std::lock_guard<std::recursive_mutex> g(gLock);
  Master* m = masterOf(h);
  if (m) m->locked = true;
  tMemErr = m ? noErr : nilHandleErr;
}

void HUnlock(Handle h) {
  std::lock_guard<std::recursive_mutex> g(gLock);
  Master* m = masterOf(h);
  if (m) m->locked = false;
  tMemErr = m ? noErr : nilHandleErr;
}

void DisposeHandle(Handle h) {
  std::lock_guard<std::recursive_mutex> g(gLock);
  Master* m = masterOf(h);
  if (!m) {
    tMemErr = nilHandleErr;
    return;
  }
  std::free(m->data);
  m->magic = 0;
  std::free(m);
  --gLiveBlocks;
  tMemErr = noErr;
}

OSErr MemError(void) { return tMemErr; }

// ---- 2. File Manager --------------------------------------------------------------------
namespace {
bool gForceRefNum = false; // ToolboxForceNextRefNum
FSIORefNum gForcedRefNum = 0;
} // namespace

OSErr HOpen(int16_t, int32_t, ConstStr255Param fileName, int8_t perm, FSIORefNum* refNum) {
  if (refNum) *refNum = 0;
  if (!fileName || !refNum || fileName[0] == 0) return fnfErr;
  if (perm != fsRdPerm && perm != fsCurPerm) return paramErr; // read-only stand-in
  std::string path(reinterpret_cast<const char*>(fileName + 1), fileName[0]);
  if (path.find('\0') != std::string::npos) return fnfErr;
  // Without waiting: opening a pipe for reading would block until a writer came.
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) return fileError(errno);
  struct stat st {};
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    ::close(fd);
    return notAFileErr; // a folder, pipe or device is not a file
  }
  ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
  std::lock_guard<std::recursive_mutex> g(gLock);
  if (gForceRefNum) {
    *refNum = gForcedRefNum;
    gForceRefNum = false;
    ::close(fd);
    return noErr;
  }
  size_t slot = 0;
  while (slot < gFiles.size() && gFiles[slot] >= 0)
    ++slot;
  if (kFirstRefNum + 2 * static_cast<long>(slot) > INT16_MAX) {
    ::close(fd);
    return tmfoErr;
  }
  if (slot == gFiles.size()) gFiles.push_back(-1);
  gFiles[slot] = fd;
  *refNum = static_cast<FSIORefNum>(kFirstRefNum + 2 * slot);
  return noErr;
}

OSErr PBGetEOFSync(ParmBlkPtr pb) {
  std::lock_guard<std::recursive_mutex> g(gLock);
  int fd = pb ? fdOf(pb->ioRefNum) : -1;
  struct stat st {};
  if (fd < 0) return completePb(pb, rfNumErr);
  if (::fstat(fd, &st) != 0) return completePb(pb, ioErr);
  // ioMisc carries the 32-bit end-of-file as a value, as the real call does.
  pb->ioMisc = reinterpret_cast<Ptr>(static_cast<intptr_t>(static_cast<int32_t>(st.st_size)));
  return completePb(pb, noErr);
}

OSErr FSGetForkSize(FSIORefNum forkRefNum, int64_t* forkSize) {
  std::lock_guard<std::recursive_mutex> g(gLock);
  int fd = fdOf(forkRefNum);
  struct stat st {};
  if (forkSize) *forkSize = 0;
  if (fd < 0 || !forkSize) return rfNumErr;
  if (::fstat(fd, &st) != 0) return ioErr;
  *forkSize = st.st_size;
  return noErr;
}

OSErr SetFPos(FSIORefNum refNum, int16_t posMode, int32_t posOff) {
  int fd;
  {
    std::lock_guard<std::recursive_mutex> g(gLock);
    fd = fdOf(refNum);
  }
  if (fd < 0) return rfNumErr;
  struct stat st {};
  if (::fstat(fd, &st) != 0) return ioErr;
  int64_t base = 0;
  if (posMode == fsFromLEOF)
    base = st.st_size;
  else if (posMode == fsFromMark || posMode == fsAtMark)
    base = ::lseek(fd, 0, SEEK_CUR);
  else if (posMode != fsFromStart)
    return paramErr;
  int64_t target = base + (posMode == fsAtMark ? 0 : posOff);
  if (target < 0) return posErr;
  if (target > st.st_size) {
    ::lseek(fd, st.st_size, SEEK_SET); // the mark stops at the end of file
    return eofErr;
  }
  return ::lseek(fd, target, SEEK_SET) < 0 ? ioErr : noErr;
}

OSErr PBReadSync(ParmBlkPtr pb) {
  int fd;
  {
    std::lock_guard<std::recursive_mutex> g(gLock);
    fd = pb ? fdOf(pb->ioRefNum) : -1;
  }
  if (!pb) return paramErr;
  pb->ioActCount = 0;
  if (fd < 0) return completePb(pb, rfNumErr);
  if (pb->ioReqCount < 0 || (!pb->ioBuffer && pb->ioReqCount > 0)) return completePb(pb, paramErr);
  if (pb->ioPosMode != fsAtMark) {
    OSErr e = SetFPos(pb->ioRefNum, pb->ioPosMode, pb->ioPosOffset);
    if (e != noErr) return completePb(pb, e);
  }
  int32_t total = 0;
  while (total < pb->ioReqCount) {
    ssize_t n = ::read(fd, pb->ioBuffer + total, static_cast<size_t>(pb->ioReqCount - total));
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      pb->ioActCount = total;
      return completePb(pb, ioErr);
    }
    if (n == 0) break;
    total += static_cast<int32_t>(n);
  }
  pb->ioActCount = total;
  return completePb(pb, total < pb->ioReqCount ? eofErr : noErr);
}

OSErr PBCloseSync(ParmBlkPtr pb) {
  std::lock_guard<std::recursive_mutex> g(gLock);
  size_t slot = 0;
  int fd = pb ? fdOf(pb->ioRefNum, &slot) : -1;
  if (fd < 0) return completePb(pb, rfNumErr);
  gFiles[slot] = -1;
  return completePb(pb, ::close(fd) == 0 ? noErr : ioErr);
}

void SysBeep(int16_t) {
  std::lock_guard<std::recursive_mutex> g(gLock);
  ++gBeeps;
}

// ---- 3. Numbers -------------------------------------------------------------------------
long double x80told(const extended80* x) {
  const uint8_t* b = x->bytes;
  bool negative = (b[0] & 0x80) != 0;
  int exponent = ((b[0] & 0x7F) << 8) | b[1];
  uint64_t significand = 0;
  for (int i = 2; i < 10; ++i)
    significand = (significand << 8) | b[i];
  long double value;
  if (exponent == 0x7FFF) {
    value = (significand << 1) == 0 ? HUGE_VALL : NAN;
  } else {
    // Denormals (exponent 0) carry the same scale as exponent 1.
    int scale = (exponent == 0 ? 1 : exponent) - 16383 - 63;
    value = std::ldexp(static_cast<long double>(significand), scale);
  }
  return negative ? -value : value;
}

void ldtox80(const long double* in, extended80* out) {
  long double x = *in;
  bool negative = std::signbit(x);
  int exponent = 0;
  uint64_t significand = 0;
  if (std::isnan(x)) {
    exponent = 0x7FFF;
    significand = 0xC000000000000000ULL;
  } else if (std::isinf(x)) {
    exponent = 0x7FFF;
    significand = 0x8000000000000000ULL;
  } else if (x != 0) {
    int e = 0;
    long double m = std::frexp(std::fabs(x), &e); // |x| = m * 2^e, m in [0.5, 1)
    int biased = e - 1 + 16383;
    int bits = 64;
    if (biased < 1) { // too small for a normal number: fewer significant bits
      bits = 64 + biased - 1;
      biased = 0;
    }
    long double scaled = bits > 0 ? std::round(std::ldexp(m, bits)) : 0.0L;
    if (bits > 0 && scaled >= std::ldexp(1.0L, 64)) { // rounding carried into a new bit
      scaled = std::ldexp(scaled, -1);
      ++biased;
    }
    if (biased >= 0x7FFF) {
      exponent = 0x7FFF;
      significand = 0x8000000000000000ULL;
    } else {
      exponent = biased;
      significand = static_cast<uint64_t>(scaled);
      if (biased == 0 && (significand >> 63)) exponent = 1; // rounded up to the smallest normal
    }
  }
  uint8_t* b = out->bytes;
  b[0] = static_cast<uint8_t>((negative ? 0x80 : 0) | ((exponent >> 8) & 0x7F));
  b[1] = static_cast<uint8_t>(exponent & 0xFF);
  for (int i = 9; i >= 2; --i) {
    b[i] = static_cast<uint8_t>(significand & 0xFF);
    significand >>= 8;
  }
}

// ---- 4. Resources and text encodings ----------------------------------------------------
namespace {
std::map<int16_t, std::vector<std::string>> gStringLists;
unsigned gFailConverters = 0;

// Mac OS Roman 0x80 to 0xFF as Unicode code points (all within the Basic Multilingual Plane).
const uint16_t kMacRoman[128] = {
    0x00C4, 0x00C5, 0x00C7, 0x00C9, 0x00D1, 0x00D6, 0x00DC, 0x00E1, 0x00E0, 0x00E2, 0x00E4, 0x00E3,
    0x00E5, 0x00E7, 0x00E9, 0x00E8, 0x00EA, 0x00EB, 0x00ED, 0x00EC, 0x00EE, 0x00EF, 0x00F1, 0x00F3,
    0x00F2, 0x00F4, 0x00F6, 0x00F5, 0x00FA, 0x00F9, 0x00FB, 0x00FC, 0x2020, 0x00B0, 0x00A2, 0x00A3,
    0x00A7, 0x2022, 0x00B6, 0x00DF, 0x00AE, 0x00A9, 0x2122, 0x00B4, 0x00A8, 0x2260, 0x00C6, 0x00D8,
    0x221E, 0x00B1, 0x2264, 0x2265, 0x00A5, 0x00B5, 0x2202, 0x2211, 0x220F, 0x03C0, 0x222B, 0x00AA,
    0x00BA, 0x03A9, 0x00E6, 0x00F8, 0x00BF, 0x00A1, 0x00AC, 0x221A, 0x0192, 0x2248, 0x2206, 0x00AB,
    0x00BB, 0x2026, 0x00A0, 0x00C0, 0x00C3, 0x00D5, 0x0152, 0x0153, 0x2013, 0x2014, 0x201C, 0x201D,
    0x2018, 0x2019, 0x00F7, 0x25CA, 0x00FF, 0x0178, 0x2044, 0x20AC, 0x2039, 0x203A, 0xFB01, 0xFB02,
    0x2021, 0x00B7, 0x201A, 0x201E, 0x2030, 0x00C2, 0x00CA, 0x00C1, 0x00CB, 0x00C8, 0x00CD, 0x00CE,
    0x00CF, 0x00CC, 0x00D3, 0x00D4, 0xF8FF, 0x00D2, 0x00DA, 0x00DB, 0x00D9, 0x0131, 0x02C6, 0x02DC,
    0x00AF, 0x02D8, 0x02D9, 0x02DA, 0x00B8, 0x02DD, 0x02DB, 0x02C7,
};

struct Converter {
  uint32_t magic;
};
constexpr uint32_t kConverterMagic = 0x54454343; // "TECC"
// The "system" owns every converter it made; callers may keep theirs for good.
std::vector<std::unique_ptr<Converter>> gConverters;
} // namespace

void ToolboxRegisterStringList(int16_t strListID, const char* const* items, size_t count) {
  std::lock_guard<std::recursive_mutex> g(gLock);
  auto& list = gStringLists[strListID];
  list.assign(items, items + count);
}

void GetIndString(StringPtr theString, int16_t strListID, int16_t index) {
  std::lock_guard<std::recursive_mutex> g(gLock);
  theString[0] = 0;
  auto it = gStringLists.find(strListID);
  if (it == gStringLists.end() || index < 1 || static_cast<size_t>(index) > it->second.size())
    return;
  const std::string& item = it->second[static_cast<size_t>(index - 1)];
  size_t n = item.size() < 255 ? item.size() : 255;
  theString[0] = static_cast<uint8_t>(n);
  std::memcpy(theString + 1, item.data(), n);
}

TextEncoding CreateTextEncoding(uint32_t base, uint32_t variant, uint32_t format) {
  return (base & 0xFFFF) | ((variant & 0xFF) << 16) | ((format & 0xFF) << 24);
}

OSStatus TECCreateConverter(TECObjectRef* newEncodingConverter, TextEncoding inputEncoding,
                            TextEncoding outputEncoding) {
  std::lock_guard<std::recursive_mutex> g(gLock);
  *newEncodingConverter = nullptr;
  if (gFailConverters > 0) {
    --gFailConverters;
    return memFullErr;
  }
  if (inputEncoding != kTextEncodingMacRoman || outputEncoding != kTextEncodingUnicodeDefault)
    return kTextUnsupportedEncodingErr;
  gConverters.push_back(std::make_unique<Converter>(Converter{kConverterMagic}));
  *newEncodingConverter = reinterpret_cast<TECObjectRef>(gConverters.back().get());
  return noErr;
}

OSStatus TECConvertText(TECObjectRef converter, const uint8_t* inputBuffer,
                        ByteCount inputBufferLength, ByteCount* actualInputLength,
                        uint8_t* outputBuffer, ByteCount outputBufferLength,
                        ByteCount* actualOutputLength) {
  auto* c = reinterpret_cast<Converter*>(converter);
  *actualInputLength = 0;
  *actualOutputLength = 0;
  if (!c || c->magic != kConverterMagic) return paramErr;
  ByteCount in = 0, out = 0;
  for (; in < inputBufferLength; ++in) {
    if (out + 2 > outputBufferLength) break;
    uint8_t b = inputBuffer[in];
    uint16_t unit = b < 0x80 ? b : kMacRoman[b - 0x80];
    std::memcpy(outputBuffer + out, &unit, 2); // native byte order, as kUnicode16BitFormat
    out += 2;
  }
  *actualInputLength = in;
  *actualOutputLength = out;
  return in < inputBufferLength ? OSStatus{kTECOutputBufferFullStatus} : OSStatus{noErr};
}

OSStatus TECFlushText(TECObjectRef converter, uint8_t*, ByteCount, ByteCount* actualOutputLength) {
  auto* c = reinterpret_cast<Converter*>(converter);
  *actualOutputLength = 0; // a single-byte encoding keeps nothing back
  return (c && c->magic == kConverterMagic) ? noErr : paramErr;
}

void ToolboxFailConverterCreation(unsigned count) {
  std::lock_guard<std::recursive_mutex> g(gLock);
  gFailConverters = count;
}

// ---- 5. Misc ----------------------------------------------------------------------------
unsigned ToolboxBeepCount(void) {
  std::lock_guard<std::recursive_mutex> g(gLock);
  return gBeeps;
}

void ToolboxForceNextRefNum(FSIORefNum refNum) {
  std::lock_guard<std::recursive_mutex> g(gLock);
  gForcedRefNum = refNum;
  gForceRefNum = true;
}

unsigned ToolboxOpenFileCount(void) {
  std::lock_guard<std::recursive_mutex> g(gLock);
  unsigned n = 0;
  for (int fd : gFiles)
    n += fd >= 0;
  return n;
}

unsigned ToolboxLiveBlockCount(void) {
  std::lock_guard<std::recursive_mutex> g(gLock);
  return gLiveBlocks;
}
