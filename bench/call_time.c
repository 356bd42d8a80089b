/*
** Times the library's call alone, for comparing the 32-bit DLL under Wine
** with the native library call for call: the host's start, the loader and
** Wine's own start-up stay outside the figure.
**
**   call_time txt2xml|xml2txt INPUT OUTPUT
**
** Makes the call once and prints, in seconds on standard output, its wall
** time and the processor time the process spent in it (every thread, user
** and system): on a busy machine the second moves less from run to run.
** Exits 1 when the call fails.
*/
#if !defined(_WIN32)
#define _POSIX_C_SOURCE 200809L /* clock_gettime */
#endif
#include <stdio.h>
#include <string.h>

#include "quorvel.h"

#if defined(_WIN32)
#include <windows.h>
static double Now(void) {
  LARGE_INTEGER count, frequency;
  QueryPerformanceCounter(&count);
  QueryPerformanceFrequency(&frequency);
  return (double)count.QuadPart / (double)frequency.QuadPart;
}
static double Seconds(FILETIME t) { /* units of 100 ns */
  return (double)(((unsigned long long)t.dwHighDateTime << 32) | t.dwLowDateTime) / 1e7;
}
static double Processor(void) {
  FILETIME created, exited, kernel, user;
  GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user);
  return Seconds(kernel) + Seconds(user);
}
#else
#include <time.h>
static double Now(void) {
  struct timespec at;
  clock_gettime(CLOCK_MONOTONIC, &at);
  return (double)at.tv_sec + (double)at.tv_nsec / 1e9;
}
static double Processor(void) {
  struct timespec at;
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &at);
  return (double)at.tv_sec + (double)at.tv_nsec / 1e9;
}
#endif

int main(int argc, char **argv) {
  char nsr[QUORVEL_BUFFER_SIZE];
  char reserved[QUORVEL_BUFFER_SIZE];
  int32_t rows = 0;
  int32_t result = QUORVEL_RESULT_OK;
  double start;
  double start_processor;
  if (argc != 4 || (strcmp(argv[1], "txt2xml") != 0 && strcmp(argv[1], "xml2txt") != 0)) {
    fputs("usage: call_time txt2xml|xml2txt INPUT OUTPUT\n", stderr);
    return 64;
  }
  start_processor = Processor();
  start = Now();
  if (strcmp(argv[1], "txt2xml") == 0) {
    result = Quorvel_TXT2XML(argv[2], argv[3], 100, "N", "Q");
  } else {
    result = Quorvel_XML2TXT(argv[2], argv[3], 0, &rows, nsr, reserved);
  }
  printf("%.6f %.6f\n", Now() - start, Processor() - start_processor);
  return result == QUORVEL_RESULT_OK ? 0 : 1;
}
