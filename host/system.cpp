// System calls of the stand-in host. A Windows-flavour host uses the Windows calls (real
// under Windows and Wine, the POSIX stand-in natively); a macOS-flavour host uses the
// Toolbox stand-in. The library of the same build makes the same calls.
#include "system.h"

#include <cstring>

#if defined(QHOST_SYSTEM_MAC)
#include "../platform/standin/toolbox.h"
#elif defined(_WIN32)
#include <windows.h>
#else
#include "../platform/standin/winapi.h"
#endif

namespace qhost {

#if defined(QHOST_SYSTEM_MAC)

void* resizeAndLockHandle(void* handleVar, size_t bytes) {
  Handle h = *static_cast<Handle*>(handleVar);
  SetHandleSize(h, static_cast<Size>(bytes));
  if (MemError() != noErr) return nullptr;
  HLock(h);
  return *h;
}

void unlockHandle(void* handleVar) { HUnlock(*static_cast<Handle*>(handleVar)); }

bool systemSetClipboard(Flavour, const std::string*, bool) { return false; }

long systemLiveBlocks() { return static_cast<long>(ToolboxLiveBlockCount()); }
long systemOpenFiles() { return static_cast<long>(ToolboxOpenFileCount()); }

// The bundle's string list (id first), item by item, as Mac OS Roman bytes.
std::vector<std::string> systemCommandStrings(void*, int first, int count) {
  std::vector<std::string> out;
  for (int i = 1; i <= count; ++i) {
    uint8_t str[256] = {};
    GetIndString(str, static_cast<int16_t>(first), static_cast<int16_t>(i));
    out.emplace_back(reinterpret_cast<const char*>(str + 1), str[0]);
  }
  return out;
}

std::vector<uint8_t> systemQ7inf(void*) { return {}; } // a Windows resource

#else

void* resizeAndLockHandle(void* handleVar, size_t bytes) {
  HGLOBAL h = *static_cast<HGLOBAL*>(handleVar);
  HGLOBAL fresh = GlobalReAlloc(h, bytes, GMEM_MOVEABLE);
  if (!fresh) return nullptr;
  *static_cast<HGLOBAL*>(handleVar) = fresh;
  return GlobalLock(fresh);
}

void unlockHandle(void* handleVar) { GlobalUnlock(*static_cast<HGLOBAL*>(handleVar)); }

bool systemSetClipboard(Flavour, const std::string* bytes, bool unicode) {
  if (!OpenClipboard(nullptr)) return false;
  bool ok = EmptyClipboard() != FALSE;
  if (ok && bytes) {
    const size_t end = unicode ? 2 : 1; // the text's terminating zero, a unit of its own
    HGLOBAL mem = GlobalAlloc(GMEM_MOVEABLE, bytes->size() + end);
    void* p = mem ? GlobalLock(mem) : nullptr;
    if (p) {
      std::memcpy(p, bytes->data(), bytes->size());
      std::memset(static_cast<char*>(p) + bytes->size(), 0, end);
      GlobalUnlock(mem);
      ok = SetClipboardData(unicode ? CF_UNICODETEXT : CF_TEXT, mem) != nullptr;
    } else {
      ok = false;
    }
    if (!ok && mem) GlobalFree(mem);
  }
  CloseClipboard();
  return ok;
}

std::vector<std::string> systemCommandStrings(void* module, int first, int count) {
#if defined(_WIN32)
  auto inst = static_cast<HINSTANCE>(module);
#else
  (void)module; // the stand-in keeps the strings of the library that registered them
  HINSTANCE inst = StandinStringModule(0);
#endif
  std::vector<std::string> out;
  for (int i = 0; i < count; ++i) {
    WCHAR buf[1024] = {};
    int n = LoadStringW(inst, static_cast<UINT>(first + i), buf, 1024);
    std::string utf8;
    for (int k = 0; k < n; ++k) {
      auto c = static_cast<char32_t>(static_cast<uint16_t>(buf[k]));
      if (c < 0x80) {
        utf8 += static_cast<char>(c);
      } else if (c < 0x800) {
        utf8 += static_cast<char>(0xC0 | (c >> 6));
        utf8 += static_cast<char>(0x80 | (c & 0x3F));
      } else {
        utf8 += static_cast<char>(0xE0 | (c >> 12));
        utf8 += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        utf8 += static_cast<char>(0x80 | (c & 0x3F));
      }
    }
    out.push_back(utf8);
  }
  return out;
}

std::vector<uint8_t> systemQ7inf(void* module) {
#if defined(_WIN32)
  auto inst = static_cast<HMODULE>(module);
  HRSRC res = FindResourceW(inst, L"Q7INF", MAKEINTRESOURCEW(10)); // RT_RCDATA
  if (!res) return {};
  HGLOBAL data = LoadResource(inst, res);
  const auto* bytes = static_cast<const uint8_t*>(data ? LockResource(data) : nullptr);
  if (!bytes) return {};
  return std::vector<uint8_t>(bytes, bytes + SizeofResource(inst, res));
#else
  (void)module; // a native build carries no resource section
  return {};
#endif
}

#if defined(_WIN32)
long systemLiveBlocks() { return -1; }
long systemOpenFiles() { return -1; }
#else
long systemLiveBlocks() { return static_cast<long>(StandinLiveBlockCount()); }
long systemOpenFiles() { return static_cast<long>(StandinOpenFileCount()); }
#endif

#endif

} // namespace qhost
