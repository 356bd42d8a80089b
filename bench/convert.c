/*
** The conversions as a host calls them, and nothing else: the benchmark's
** program, so that what is timed is the library, not a command line's own
** work around it.
**
**   convert txt2xml INPUT OUTPUT    (document type 100, nsr "N", qymc "Q")
**   convert xml2txt INPUT OUTPUT
*/
#include <stdio.h>
#include <string.h>

#include "quorvel.h"

int main(int argc, char **argv) {
  char message[QUORVEL_BUFFER_SIZE];
  char nsr[QUORVEL_BUFFER_SIZE];
  char reserved[QUORVEL_BUFFER_SIZE];
  int32_t rows = 0;
  int32_t result;
  if (argc != 4) {
    fputs("usage: convert txt2xml|xml2txt INPUT OUTPUT\n", stderr);
    return 64;
  }
  if (strcmp(argv[1], "txt2xml") == 0) {
    result = Quorvel_TXT2XML(argv[2], argv[3], 100, "N", "Q");
  } else if (strcmp(argv[1], "xml2txt") == 0) {
    result = Quorvel_XML2TXT(argv[2], argv[3], 0, &rows, nsr, reserved);
  } else {
    fputs("usage: convert txt2xml|xml2txt INPUT OUTPUT\n", stderr);
    return 64;
  }
  if (result == QUORVEL_RESULT_OK) return 0;
  Quorvel_GetLastError(message);
  fprintf(stderr, "convert: %s\n", message[0] != '\0' ? message : "incomplete rows");
  return 1;
}
