// Loading a library build by path and calling its entry point.
#include "host.h"

#if defined(_WIN32)
#include <windows.h>
#else
#include <dlfcn.h>
#endif

namespace qhost {

std::unique_ptr<Library> Library::open(const std::string& path, Flavour flavour,
                                       std::string* error) {
  std::unique_ptr<Library> lib(new Library());
  lib->flavour_ = flavour;
  const char* entryName = flavour == Flavour::Mac ? "main" : "Quillomar";
#if defined(_WIN32)
  std::wstring wide;
  int n = MultiByteToWideChar(CP_UTF8, 0, path.c_str(), -1, nullptr, 0);
  wide.resize(n > 0 ? n : 1);
  MultiByteToWideChar(CP_UTF8, 0, path.c_str(), -1, wide.data(), n);
  HMODULE m = LoadLibraryW(wide.c_str());
  if (!m) {
    *error = "cannot load " + path + " (error " + std::to_string(GetLastError()) + ")";
    return nullptr;
  }
  lib->module_ = m;
  lib->entry_ = reinterpret_cast<void*>(GetProcAddress(m, entryName));
#else
  // dlopen searches the library path, not the current folder, for a name without a slash.
  std::string where = path.find('/') == std::string::npos ? "./" + path : path;
  void* m = dlopen(where.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!m) {
    const char* why = dlerror();
    *error = "cannot load " + path + ": " + (why ? why : "unknown error");
    return nullptr;
  }
  lib->module_ = m;
  lib->entry_ = dlsym(m, entryName);
#endif
  if (!lib->entry_) {
    *error = path + " has no entry point \"" + entryName + "\"";
    return nullptr;
  }
  return lib;
}

std::unique_ptr<Library> Library::fromEntry(void* entry, Flavour flavour) {
  std::unique_ptr<Library> lib(new Library());
  lib->flavour_ = flavour;
  lib->entry_ = entry;
  return lib;
}

Library::~Library() {
  if (!module_) return;
#if defined(_WIN32)
  FreeLibrary(static_cast<HMODULE>(module_));
#else
  dlclose(module_);
#endif
}

void Library::call(int16_t md, void** slot, void* callbackArg) const {
  if (flavour_ == Flavour::Mac) {
    reinterpret_cast<MacEntry>(entry_)(md, slot, callbackArg);
  } else {
    reinterpret_cast<WinEntry>(entry_)(md, slot, nullptr, nullptr, nullptr,
                                       reinterpret_cast<WinCallback>(callbackArg));
  }
}

} // namespace qhost
