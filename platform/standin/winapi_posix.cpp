// POSIX stand-in of the Windows calls declared in winapi.h. See that header for the
// behaviour it promises. Sections: 1 memory, 2 files, 3 clipboard, 4 strings, 5 misc.
#include "winapi.h"

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <map>
#include <mutex>
#include <new>
#include <optional>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

thread_local DWORD tLastError = 0;
std::mutex gLock; // the stand-in is process-wide state, like the system it replaces

// ---- 1. Memory ---------------------------------------------------------------------------
// Every block, fixed or movable, starts with a tag just before the value handed out, so
// that GlobalFree and friends can tell the two kinds apart and catch foreign pointers.
constexpr uint64_t kTagFixed = 0x4649584544424C4BULL;    // "FIXEDBLK"
constexpr uint64_t kTagMoveable = 0x4D4F564142424C4BULL; // "MOVABBLK"
constexpr uint64_t kTagFreed = 0x4445414442424C4BULL;    // "DEADBBLK"

struct Tag {
  uint64_t kind;
  uint64_t size; // fixed: the block's size; movable: unused
};
// A movable block's lock count is its own atomic counter rather than state under gLock:
// the read commands lock and unlock their source for every record, and a process-wide lock
// there took about a tenth of a short record's time. The block's address, which
// the count guards, changes only in GlobalReAlloc, which no caller runs on a handle that
// another thread is locking.
struct Moveable {
  unsigned char* data = nullptr;
  size_t size = 0;
  std::atomic<unsigned> locks{0};
};

size_t gLiveBlocks = 0;

Tag* tagOf(void* mem) { return static_cast<Tag*>(mem) - 1; }

void* newTagged(uint64_t kind, size_t payload, bool zero) {
  void* raw = zero ? std::calloc(1, sizeof(Tag) + payload) : std::malloc(sizeof(Tag) + payload);
  if (!raw) return nullptr;
  Tag* tag = static_cast<Tag*>(raw);
  tag->kind = kind;
  tag->size = payload;
  ++gLiveBlocks;
  return tag + 1;
}

Moveable* moveableOf(HGLOBAL mem) {
  if (!mem || tagOf(mem)->kind != kTagMoveable) return nullptr;
  return static_cast<Moveable*>(mem);
}

// ---- 2. Files ---------------------------------------------------------------------------
constexpr uintptr_t kFirstFileHandle = 0x104;
std::vector<int> gFiles; // slot -> descriptor, -1 when free

HANDLE handleForSlot(size_t slot) { return reinterpret_cast<HANDLE>(kFirstFileHandle + 4 * slot); }
int fdOf(HANDLE h, size_t* slotOut = nullptr) {
  auto v = reinterpret_cast<uintptr_t>(h);
  if (v < kFirstFileHandle || (v - kFirstFileHandle) % 4 != 0) return -1;
  size_t slot = (v - kFirstFileHandle) / 4;
  if (slot >= gFiles.size()) return -1;
  if (slotOut) *slotOut = slot;
  return gFiles[slot];
}

DWORD errorFromErrno(int e) {
  switch (e) {
  case ENOENT:
    return ERROR_FILE_NOT_FOUND;
  case ENOTDIR:
    return ERROR_PATH_NOT_FOUND;
  case EACCES:
  case EPERM:
  case EISDIR:
    return ERROR_ACCESS_DENIED;
  case ENOMEM:
    return ERROR_NOT_ENOUGH_MEMORY;
  default:
    return ERROR_INVALID_PARAMETER;
  }
}

std::optional<HANDLE> gForcedHandle; // StandinForceNextFileHandle

HANDLE openUtf8(const char* path, DWORD access, DWORD disposition) {
  if (access != GENERIC_READ || disposition != OPEN_EXISTING) {
    tLastError = ERROR_INVALID_PARAMETER; // the stand-in only opens existing files to read
    return INVALID_HANDLE_VALUE;
  }
  // Windows opens pipes and devices at once, so this does not wait for a pipe's writer;
  // plain files then read as usual.
  int fd = ::open(path, O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) {
    tLastError = errorFromErrno(errno);
    return INVALID_HANDLE_VALUE;
  }
  struct stat st {};
  if (::fstat(fd, &st) != 0 || S_ISDIR(st.st_mode)) {
    ::close(fd);
    tLastError = ERROR_ACCESS_DENIED; // Windows refuses to open a directory this way
    return INVALID_HANDLE_VALUE;
  }
  if (S_ISREG(st.st_mode)) ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
  std::lock_guard<std::mutex> g(gLock);
  if (gForcedHandle) {
    HANDLE forced = *gForcedHandle;
    gForcedHandle.reset();
    ::close(fd);
    return forced;
  }
  for (size_t i = 0; i < gFiles.size(); ++i) {
    if (gFiles[i] < 0) {
      gFiles[i] = fd;
      return handleForSlot(i);
    }
  }
  gFiles.push_back(fd);
  return handleForSlot(gFiles.size() - 1);
}

// ---- 3. Clipboard -----------------------------------------------------------------------
bool gClipOpen = false;
HGLOBAL gClipText = nullptr;    // CF_TEXT, owned by the clipboard
HGLOBAL gClipUnicode = nullptr; // CF_UNICODETEXT; neither is made from the other here

// ---- 4. Strings -------------------------------------------------------------------------
std::map<HINSTANCE, std::map<UINT, std::string>> gStrings;

unsigned gBeeps = 0;

} // namespace

// ---- 1. Memory ---------------------------------------------------------------------------
HGLOBAL GlobalAlloc(UINT flags, SIZE_T bytes) {
  std::lock_guard<std::mutex> g(gLock);
  bool zero = (flags & GMEM_ZEROINIT) != 0;
  if (!(flags & GMEM_MOVEABLE)) {
    void* p = newTagged(kTagFixed, bytes, zero);
    if (!p) tLastError = ERROR_NOT_ENOUGH_MEMORY;
    return p;
  }
  void* raw = newTagged(kTagMoveable, sizeof(Moveable), true);
  if (!raw) {
    tLastError = ERROR_NOT_ENOUGH_MEMORY;
    return nullptr;
  }
  auto* m = new (raw) Moveable{};
  // One byte at least, so that an empty block still has an address to lock.
  m->data = static_cast<unsigned char*>(zero ? std::calloc(1, bytes ? bytes : 1)
                                             : std::malloc(bytes ? bytes : 1));
  if (!m->data) {
    tagOf(m)->kind = kTagFreed;
    std::free(tagOf(m));
    --gLiveBlocks;
    tLastError = ERROR_NOT_ENOUGH_MEMORY;
    return nullptr;
  }
  m->size = bytes;
  return m;
}

HGLOBAL GlobalReAlloc(HGLOBAL mem, SIZE_T bytes, UINT flags) {
  std::lock_guard<std::mutex> g(gLock);
  Moveable* m = moveableOf(mem);
  if (!m) {
    tLastError = ERROR_INVALID_HANDLE; // fixed blocks are never resized by this library
    return nullptr;
  }
  // Always move: a pointer the caller kept from before the resize must not stay usable.
  auto* fresh = static_cast<unsigned char*>(std::malloc(bytes ? bytes : 1));
  if (!fresh) {
    tLastError = ERROR_NOT_ENOUGH_MEMORY;
    return nullptr;
  }
  size_t keep = bytes < m->size ? bytes : m->size;
  std::memcpy(fresh, m->data, keep);
  if (bytes > keep) {
    if (flags & GMEM_ZEROINIT)
      std::memset(fresh + keep, 0, bytes - keep);
    else
      std::memset(fresh + keep, 0xA5, bytes - keep); // make reliance on stale bytes visible
  }
  std::free(m->data);
  m->data = fresh;
  m->size = bytes;
  return mem;
}

LPVOID GlobalLock(HGLOBAL mem) {
  if (!mem) return nullptr;
  if (tagOf(mem)->kind == kTagFixed) return mem;
  Moveable* m = moveableOf(mem);
  if (!m) {
    tLastError = ERROR_INVALID_HANDLE;
    return nullptr;
  }
  m->locks.fetch_add(1, std::memory_order_acquire);
  return m->data;
}

BOOL GlobalUnlock(HGLOBAL mem) {
  Moveable* m = moveableOf(mem);
  if (!m) {
    tLastError = ERROR_NOT_LOCKED;
    return FALSE;
  }
  // Never below zero: an unlock of an unlocked block fails and changes nothing.
  unsigned count = m->locks.load(std::memory_order_relaxed);
  do {
    if (count == 0) {
      tLastError = ERROR_NOT_LOCKED;
      return FALSE;
    }
  } while (!m->locks.compare_exchange_weak(count, count - 1, std::memory_order_release,
                                           std::memory_order_relaxed));
  tLastError = ERROR_SUCCESS;
  return count - 1 != 0;
}

HGLOBAL GlobalFree(HGLOBAL mem) {
  std::lock_guard<std::mutex> g(gLock);
  if (!mem) return nullptr;
  Tag* tag = tagOf(mem);
  if (tag->kind == kTagFixed) {
    tag->kind = kTagFreed;
    std::free(tag);
    --gLiveBlocks;
    return nullptr;
  }
  Moveable* m = moveableOf(mem);
  if (!m) {
    tLastError = ERROR_INVALID_HANDLE;
    return mem;
  }
  std::free(m->data);
  tag->kind = kTagFreed;
  std::free(tag);
  --gLiveBlocks;
  return nullptr;
}

SIZE_T GlobalSize(HGLOBAL mem) {
  std::lock_guard<std::mutex> g(gLock);
  if (!mem) return 0;
  Tag* tag = tagOf(mem);
  if (tag->kind == kTagFixed) return tag->size;
  Moveable* m = moveableOf(mem);
  return m ? m->size : 0;
}

// ---- 2. Files ---------------------------------------------------------------------------
HANDLE CreateFileW(LPCWSTR name, DWORD access, DWORD, LPSECURITY_ATTRIBUTES, DWORD disposition,
                   DWORD, HANDLE) {
  // UTF-16 to UTF-8 for the POSIX name; an unpaired surrogate makes the name invalid.
  std::string utf8;
  for (size_t i = 0; name && name[i]; ++i) {
    uint32_t c = name[i];
    if (c >= 0xD800 && c <= 0xDBFF && name[i + 1] >= 0xDC00 && name[i + 1] <= 0xDFFF) {
      c = 0x10000 + ((c - 0xD800) << 10) + (name[i + 1] - 0xDC00);
      ++i;
    } else if (c >= 0xD800 && c <= 0xDFFF) {
      tLastError = ERROR_INVALID_PARAMETER;
      return INVALID_HANDLE_VALUE;
    }
    if (c < 0x80) {
      utf8 += static_cast<char>(c);
    } else if (c < 0x800) {
      utf8 += static_cast<char>(0xC0 | (c >> 6));
      utf8 += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
      utf8 += static_cast<char>(0xE0 | (c >> 12));
      utf8 += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      utf8 += static_cast<char>(0x80 | (c & 0x3F));
    } else {
      utf8 += static_cast<char>(0xF0 | (c >> 18));
      utf8 += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
      utf8 += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      utf8 += static_cast<char>(0x80 | (c & 0x3F));
    }
  }
  if (utf8.empty()) {
    tLastError = ERROR_PATH_NOT_FOUND;
    return INVALID_HANDLE_VALUE;
  }
  return openUtf8(utf8.c_str(), access, disposition);
}

HANDLE CreateFileA(LPCSTR name, DWORD access, DWORD, LPSECURITY_ATTRIBUTES, DWORD disposition,
                   DWORD, HANDLE) {
  if (!name || !*name) {
    tLastError = ERROR_PATH_NOT_FOUND;
    return INVALID_HANDLE_VALUE;
  }
  return openUtf8(name, access, disposition);
}

BOOL ReadFile(HANDLE file, LPVOID buffer, DWORD toRead, DWORD* read, void*) {
  int fd;
  {
    std::lock_guard<std::mutex> g(gLock);
    fd = fdOf(file);
  }
  if (read) *read = 0;
  if (fd < 0) {
    tLastError = ERROR_INVALID_HANDLE;
    return FALSE;
  }
  DWORD total = 0;
  while (total < toRead) {
    ssize_t n = ::read(fd, static_cast<char*>(buffer) + total, toRead - total);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      tLastError = errorFromErrno(errno);
      if (read) *read = total;
      return FALSE;
    }
    if (n == 0) break; // end of file: success with fewer bytes, as on Windows
    total += static_cast<DWORD>(n);
  }
  if (read) *read = total;
  return TRUE;
}

DWORD SetFilePointer(HANDLE file, LONG distance, LONG* distanceHigh, DWORD method) {
  int fd;
  {
    std::lock_guard<std::mutex> g(gLock);
    fd = fdOf(file);
  }
  if (fd < 0) {
    tLastError = ERROR_INVALID_HANDLE;
    return INVALID_SET_FILE_POINTER;
  }
  int64_t move = distanceHigh
                     ? (static_cast<int64_t>(*distanceHigh) << 32) | static_cast<uint32_t>(distance)
                     : static_cast<int64_t>(distance);
  int whence = method == FILE_BEGIN ? SEEK_SET : method == FILE_CURRENT ? SEEK_CUR : SEEK_END;
  off_t base = ::lseek(fd, 0, whence == SEEK_SET ? SEEK_CUR : whence);
  if (whence == SEEK_SET) base = 0;
  if (base < 0 || base + move < 0) {
    tLastError = ERROR_NEGATIVE_SEEK; // the position is not moved, as on Windows
    return INVALID_SET_FILE_POINTER;
  }
  off_t pos = ::lseek(fd, base + move, SEEK_SET);
  if (pos < 0) {
    tLastError = errorFromErrno(errno);
    return INVALID_SET_FILE_POINTER;
  }
  if (distanceHigh) *distanceHigh = static_cast<LONG>(static_cast<int64_t>(pos) >> 32);
  tLastError = ERROR_SUCCESS;
  return static_cast<DWORD>(pos);
}

// The status of an open file handle's descriptor; false (error set) for a handle of none.
bool statOf(HANDLE file, struct stat* st) {
  int fd;
  {
    std::lock_guard<std::mutex> g(gLock);
    fd = fdOf(file);
  }
  if (fd < 0 || ::fstat(fd, st) != 0) {
    tLastError = ERROR_INVALID_HANDLE;
    return false;
  }
  return true;
}

DWORD GetFileSize(HANDLE file, DWORD* sizeHigh) {
  struct stat st {};
  if (!statOf(file, &st)) return INVALID_FILE_SIZE;
  auto size = static_cast<uint64_t>(st.st_size);
  if (sizeHigh) *sizeHigh = static_cast<DWORD>(size >> 32);
  tLastError = ERROR_SUCCESS;
  return static_cast<DWORD>(size);
}

DWORD GetFileType(HANDLE file) {
  struct stat st {};
  if (!statOf(file, &st)) return FILE_TYPE_UNKNOWN;
  tLastError = ERROR_SUCCESS;
  if (S_ISREG(st.st_mode)) return FILE_TYPE_DISK;
  if (S_ISFIFO(st.st_mode) || S_ISSOCK(st.st_mode)) return FILE_TYPE_PIPE;
  if (S_ISCHR(st.st_mode)) return FILE_TYPE_CHAR;
  return FILE_TYPE_UNKNOWN;
}

BOOL CloseHandle(HANDLE object) {
  std::lock_guard<std::mutex> g(gLock);
  size_t slot = 0;
  int fd = fdOf(object, &slot);
  if (fd < 0) {
    tLastError = ERROR_INVALID_HANDLE;
    return FALSE;
  }
  gFiles[slot] = -1;
  return ::close(fd) == 0 ? TRUE : FALSE;
}

DWORD GetLastError(void) { return tLastError; }
void SetLastError(DWORD code) { tLastError = code; }

BOOL Beep(DWORD, DWORD) {
  std::lock_guard<std::mutex> g(gLock);
  ++gBeeps;
  return TRUE;
}

// ---- 3. Clipboard -----------------------------------------------------------------------
BOOL OpenClipboard(HWND) {
  std::lock_guard<std::mutex> g(gLock);
  if (gClipOpen) return FALSE;
  gClipOpen = true;
  return TRUE;
}

BOOL EmptyClipboard(void) {
  HGLOBAL old;
  HGLOBAL oldUnicode;
  {
    std::lock_guard<std::mutex> g(gLock);
    if (!gClipOpen) {
      tLastError = ERROR_CLIPBOARD_NOT_OPEN;
      return FALSE;
    }
    old = gClipText;
    gClipText = nullptr;
    oldUnicode = gClipUnicode;
    gClipUnicode = nullptr;
  }
  if (old) GlobalFree(old);
  if (oldUnicode) GlobalFree(oldUnicode);
  return TRUE;
}

HANDLE SetClipboardData(UINT format, HANDLE mem) {
  HGLOBAL old = nullptr;
  {
    std::lock_guard<std::mutex> g(gLock);
    if (!gClipOpen || (format != CF_TEXT && format != CF_UNICODETEXT)) {
      tLastError = gClipOpen ? ERROR_INVALID_PARAMETER : ERROR_CLIPBOARD_NOT_OPEN;
      return nullptr;
    }
    HGLOBAL& slot = format == CF_TEXT ? gClipText : gClipUnicode;
    old = slot;
    slot = mem;
  }
  if (old && old != mem) GlobalFree(old);
  return mem;
}

HANDLE GetClipboardData(UINT format) {
  std::lock_guard<std::mutex> g(gLock);
  if (!gClipOpen) {
    tLastError = ERROR_CLIPBOARD_NOT_OPEN;
    return nullptr;
  }
  return format == CF_TEXT ? gClipText : format == CF_UNICODETEXT ? gClipUnicode : nullptr;
}

BOOL CloseClipboard(void) {
  std::lock_guard<std::mutex> g(gLock);
  if (!gClipOpen) return FALSE;
  gClipOpen = false;
  return TRUE;
}

// ---- 4. Strings -------------------------------------------------------------------------
void StandinRegisterStrings(HINSTANCE inst, const StandinString* table, size_t count) {
  std::lock_guard<std::mutex> g(gLock);
  auto& ids = gStrings[inst];
  for (size_t i = 0; i < count; ++i)
    ids[table[i].id] = table[i].utf8;
}

namespace {
const std::string* findString(HINSTANCE inst, UINT id) {
  auto lib = gStrings.find(inst);
  if (lib == gStrings.end()) return nullptr;
  auto s = lib->second.find(id);
  return s == lib->second.end() ? nullptr : &s->second;
}
} // namespace

int LoadStringW(HINSTANCE inst, UINT id, WCHAR* buffer, int bufferMax) {
  std::lock_guard<std::mutex> g(gLock);
  const std::string* s = findString(inst, id);
  if (!buffer || bufferMax <= 0) return 0;
  std::u16string wide;
  for (size_t i = 0; s && i < s->size();) {
    auto b = static_cast<unsigned char>((*s)[i]);
    uint32_t c = b;
    int extra = b >= 0xF0 ? 3 : b >= 0xE0 ? 2 : b >= 0xC0 ? 1 : 0;
    if (extra) c = b & (0x3F >> extra);
    for (int k = 1; k <= extra && i + k < s->size(); ++k)
      c = (c << 6) | (static_cast<unsigned char>((*s)[i + k]) & 0x3F);
    i += 1 + extra;
    if (c >= 0x10000) {
      wide += static_cast<char16_t>(0xD800 + ((c - 0x10000) >> 10));
      wide += static_cast<char16_t>(0xDC00 + ((c - 0x10000) & 0x3FF));
    } else {
      wide += static_cast<char16_t>(c);
    }
  }
  size_t n = wide.size() < static_cast<size_t>(bufferMax - 1) ? wide.size() : bufferMax - 1;
  for (size_t i = 0; i < n; ++i)
    buffer[i] = wide[i];
  buffer[n] = 0;
  return static_cast<int>(n);
}

int LoadStringA(HINSTANCE inst, UINT id, char* buffer, int bufferMax) {
  std::lock_guard<std::mutex> g(gLock);
  const std::string* s = findString(inst, id);
  if (!buffer || bufferMax <= 0) return 0;
  size_t len = s ? s->size() : 0;
  size_t n = len < static_cast<size_t>(bufferMax - 1) ? len : bufferMax - 1;
  if (n) std::memcpy(buffer, s->data(), n);
  buffer[n] = 0;
  return static_cast<int>(n);
}

// ---- 5. Misc ----------------------------------------------------------------------------
unsigned StandinBeepCount(void) {
  std::lock_guard<std::mutex> g(gLock);
  return gBeeps;
}

HINSTANCE StandinStringModule(size_t index) {
  std::lock_guard<std::mutex> g(gLock);
  for (const auto& [inst, strings] : gStrings) {
    if (index-- == 0) return inst;
  }
  return nullptr;
}

void StandinForceNextFileHandle(HANDLE h) {
  std::lock_guard<std::mutex> g(gLock);
  gForcedHandle = h;
}

unsigned StandinOpenFileCount(void) {
  std::lock_guard<std::mutex> g(gLock);
  unsigned n = 0;
  for (int fd : gFiles)
    n += fd >= 0;
  return n;
}

unsigned StandinLiveBlockCount(void) {
  std::lock_guard<std::mutex> g(gLock);
  return static_cast<unsigned>(gLiveBlocks);
}
