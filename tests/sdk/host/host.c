#include <stdio.h>
#include "quorvel.h"

int main(void) {
  char message[QUORVEL_BUFFER_SIZE];
  char nsr[QUORVEL_BUFFER_SIZE];
  char reserved[QUORVEL_BUFFER_SIZE];
  int32_t rows;

  if (Quorvel_TXT2XML("invoices.txt", "invoices.xml", 100, "913101157178123456",
                      "Example Co.") != QUORVEL_RESULT_OK) {
    Quorvel_GetLastError(message);
    fprintf(stderr, "txt2xml failed: %s\n", message);
    return 1;
  }

  if (Quorvel_XML2TXT("returned.xml", "returned.txt", 0, &rows, nsr, reserved) !=
      QUORVEL_RESULT_OK) {
    Quorvel_GetLastError(message);
    if (message[0] != '\0')
      fprintf(stderr, "xml2txt failed: %s\n", message);
    else
      fprintf(stderr, "some of the %d rows are incomplete; nothing was written\n", (int)rows);
    return 1;
  }
  printf("%d rows for %s\n", (int)rows, nsr);
  return 0;
}
