/* Reads a DLL's version resource through the Windows version API, as the
 * file's properties in Windows show it, and checks it.
 * Usage: version_reader DLL MAJOR.MINOR.PATCH ORIGINAL_FILE_NAME
 * Prints the values found; exit 0 when they match, 1 otherwise. */
#include <windows.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

static const char* query_string(void* info, const char* name) {
  char key[128];
  char* value = NULL;
  UINT length = 0;
  snprintf(key, sizeof key, "\\StringFileInfo\\040904B0\\%s", name);
  if (!VerQueryValueA(info, key, (void**)&value, &length) || length == 0) return "";
  return value;
}

static int expect(const char* what, const char* seen, const char* wanted) {
  printf("%s: %s\n", what, seen);
  if (strcmp(seen, wanted) == 0) return 0;
  printf("  expected %s\n", wanted);
  return 1;
}

int main(int argc, char** argv) {
  if (argc != 4) {
    fprintf(stderr, "usage: version_reader DLL MAJOR.MINOR.PATCH FILE_NAME\n");
    return 2;
  }
  DWORD ignored = 0;
  DWORD size = GetFileVersionInfoSizeA(argv[1], &ignored);
  if (size == 0) {
    printf("%s: no version resource (error %lu)\n", argv[1], GetLastError());
    return 1;
  }
  void* info = malloc(size);
  if (!info || !GetFileVersionInfoA(argv[1], 0, size, info)) {
    printf("%s: cannot read the version resource\n", argv[1]);
    return 1;
  }

  VS_FIXEDFILEINFO* fixed = NULL;
  UINT fixedLength = 0;
  int failures = 0;
  char wanted[64], seen[64];
  snprintf(wanted, sizeof wanted, "%s.0", argv[2]);
  if (!VerQueryValueA(info, "\\", (void**)&fixed, &fixedLength) || fixedLength < sizeof *fixed ||
      fixed->dwSignature != 0xFEEF04BD) {
    printf("no fixed file information\n");
    failures++;
  } else {
    snprintf(seen, sizeof seen, "%lu.%lu.%lu.%lu", (unsigned long)HIWORD(fixed->dwFileVersionMS),
             (unsigned long)LOWORD(fixed->dwFileVersionMS),
             (unsigned long)HIWORD(fixed->dwFileVersionLS),
             (unsigned long)LOWORD(fixed->dwFileVersionLS));
    failures += expect("fixed file version", seen, wanted);
    snprintf(seen, sizeof seen, "%lu.%lu.%lu.%lu",
             (unsigned long)HIWORD(fixed->dwProductVersionMS),
             (unsigned long)LOWORD(fixed->dwProductVersionMS),
             (unsigned long)HIWORD(fixed->dwProductVersionLS),
             (unsigned long)LOWORD(fixed->dwProductVersionLS));
    failures += expect("fixed product version", seen, wanted);
  }
  failures += expect("FileVersion", query_string(info, "FileVersion"), wanted);
  failures += expect("ProductVersion", query_string(info, "ProductVersion"), wanted);
  failures += expect("ProductName", query_string(info, "ProductName"), "SinglePlayer");
  failures += expect("OriginalFilename", query_string(info, "OriginalFilename"), argv[3]);
  const char* description = query_string(info, "FileDescription");
  printf("FileDescription: %s\n", description);
  if (description[0] == '\0') failures++;
  free(info);
  return failures == 0 ? 0 : 1;
}
