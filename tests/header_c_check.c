/* The public header must compile in a C host, with every warning on. */
#include "quorvel.h"

int32_t CallEveryFunction(void) {
  char message[QUORVEL_BUFFER_SIZE];
  char nsr[QUORVEL_BUFFER_SIZE];
  char reserved[QUORVEL_BUFFER_SIZE];
  int32_t rows = 0;
  if (Quorvel_TXT2XML("in.txt", "out.xml", 100, "nsr", "qymc") != QUORVEL_RESULT_OK) {
    Quorvel_GetLastError(message);
    return QUORVEL_RESULT_FAILED;
  }
  return Quorvel_XML2TXT("out.xml", "out.txt", 0, &rows, nsr, reserved);
}
