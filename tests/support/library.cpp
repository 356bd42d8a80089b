#include "library.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <dlfcn.h>
#endif

namespace qtest {

#ifdef _WIN32
Library::Library(Lookup lookup) {
  HMODULE module = LoadLibraryA(QUORVEL_LIBRARY_PATH);
  handle_ = module;
  if (module == nullptr) return;
  // Through void*: GetProcAddress's own pointer type has no arguments.
  auto find = [&](const char* name, int ordinal) {
    return reinterpret_cast<void*>(
        lookup == Lookup::kByName
            ? GetProcAddress(module, name)
            : GetProcAddress(module, MAKEINTRESOURCEA(static_cast<WORD>(ordinal))));
  };
  get_last_error = reinterpret_cast<GetLastErrorFn>(find("Quorvel_GetLastError", 1));
  txt2xml = reinterpret_cast<Txt2XmlFn>(find("Quorvel_TXT2XML", 2));
  xml2txt = reinterpret_cast<Xml2TxtFn>(find("Quorvel_XML2TXT", 3));
}

Library::~Library() {
  if (handle_) FreeLibrary(static_cast<HMODULE>(handle_));
}
#else
Library::Library(Lookup lookup) {
  handle_ = dlopen(QUORVEL_LIBRARY_PATH, RTLD_NOW | RTLD_LOCAL);
  if (handle_ == nullptr || lookup == Lookup::kByOrdinal) return;  // ordinals are a Windows notion
  get_last_error = reinterpret_cast<GetLastErrorFn>(dlsym(handle_, "Quorvel_GetLastError"));
  txt2xml = reinterpret_cast<Txt2XmlFn>(dlsym(handle_, "Quorvel_TXT2XML"));
  xml2txt = reinterpret_cast<Xml2TxtFn>(dlsym(handle_, "Quorvel_XML2TXT"));
}

Library::~Library() {
  if (handle_) dlclose(handle_);
}
#endif

std::string Library::LastError() const {
  char buffer[QUORVEL_BUFFER_SIZE];
  get_last_error(buffer);
  return buffer;
}

}  // namespace qtest
