/*
 * Reads the version resource of each file named as Windows does (version.dll)
 * and checks what a user and an installer see:
 *   version_check.exe MAJOR MINOR PATCH FILE...
 * the fixed file and product versions MAJOR.MINOR.PATCH.0; FileVersion and
 * ProductVersion "MAJOR.MINOR.PATCH"; ProductName "Quorvel"; OriginalFilename
 * the file's own name; a FileDescription; a LegalCopyright naming the license.
 * Prints a line for each failed check; the exit status is their number.
 */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <windows.h>

static int failures;

static void Fail(const char *file, const char *what, const char *found) {
  printf("FAIL: %s: %s [%s]\n", file, what, found ? found : "(none)");
  ++failures;
}

static const char *Text(void *info, const char *name) {
  char path[96];
  char *value = NULL;
  UINT length = 0;
  snprintf(path, sizeof path, "\\StringFileInfo\\040904B0\\%s", name);
  if (!VerQueryValueA(info, path, (void **)&value, &length) || length == 0) return NULL;
  return value;
}

static void CheckText(const char *file, void *info, const char *name, const char *expected) {
  const char *found = Text(info, name);
  if (!found || strcmp(found, expected) != 0) Fail(file, name, found);
}

static void CheckFile(const char *path, DWORD high, DWORD low, const char *version) {
  const char *file = strrchr(path, '\\') ? strrchr(path, '\\') + 1 : path;
  DWORD ignored = 0, size = GetFileVersionInfoSizeA(path, &ignored);
  void *info = size ? malloc(size) : NULL;
  VS_FIXEDFILEINFO *fixed = NULL;
  UINT length = 0;
  const char *text;
  if (!info || !GetFileVersionInfoA(path, 0, size, info)) {
    Fail(file, "no version resource", NULL);
    free(info);
    return;
  }
  if (!VerQueryValueA(info, "\\", (void **)&fixed, &length) || length < sizeof *fixed ||
      fixed->dwSignature != 0xFEEF04BD) {
    Fail(file, "no fixed file information", NULL);
  } else if (fixed->dwFileVersionMS != high || fixed->dwFileVersionLS != low ||
             fixed->dwProductVersionMS != high || fixed->dwProductVersionLS != low) {
    Fail(file, "fixed file or product version", version);
  }
  CheckText(file, info, "FileVersion", version);
  CheckText(file, info, "ProductVersion", version);
  CheckText(file, info, "ProductName", "Quorvel");
  CheckText(file, info, "OriginalFilename", file);
  if (!Text(info, "FileDescription")) Fail(file, "FileDescription", NULL);
  text = Text(info, "LegalCopyright");
  if (!text || !strstr(text, "MIT License")) Fail(file, "LegalCopyright", text);
  free(info);
}

int main(int argc, char **argv) {
  char version[64];
  int i;
  if (argc < 5) return 64;
  snprintf(version, sizeof version, "%s.%s.%s", argv[1], argv[2], argv[3]);
  for (i = 4; i < argc; ++i) {
    CheckFile(argv[i], (DWORD)atoi(argv[1]) << 16 | (DWORD)atoi(argv[2]),
              (DWORD)atoi(argv[3]) << 16, version);
  }
  printf("version resources of %d files checked, %d failed\n", argc - 4, failures);
  return failures;
}
