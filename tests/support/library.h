// The library as a host sees it: loaded at run time (dlopen, or LoadLibraryA
// under Windows), its three functions found by name, or on Windows by
// ordinal, and called through pointers of the exported type.
#ifndef QUORVEL_TESTS_SUPPORT_LIBRARY_H
#define QUORVEL_TESTS_SUPPORT_LIBRARY_H

#include <cstdint>
#include <string>

#include "quorvel.h"

namespace qtest {

using GetLastErrorFn = int32_t(QUORVEL_CALL*)(char*);
using Txt2XmlFn = int32_t(QUORVEL_CALL*)(const char*, const char*, int32_t, const char*,
                                         const char*);
using Xml2TxtFn = int32_t(QUORVEL_CALL*)(const char*, const char*, int32_t, int32_t*, char*,
                                         char*);

class Library {
 public:
  enum class Lookup { kByName, kByOrdinal };
  // Loads the library named by QUORVEL_LIBRARY_PATH (set by the build).
  explicit Library(Lookup lookup = Lookup::kByName);
  ~Library();
  Library(const Library&) = delete;
  Library& operator=(const Library&) = delete;

  bool loaded() const { return handle_ != nullptr && get_last_error && txt2xml && xml2txt; }
  // The last-error text as a host would fetch it (256-byte buffer).
  std::string LastError() const;

  GetLastErrorFn get_last_error = nullptr;
  Txt2XmlFn txt2xml = nullptr;
  Xml2TxtFn xml2txt = nullptr;

 private:
  void* handle_ = nullptr;
};

}  // namespace qtest

#endif
