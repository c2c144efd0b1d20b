// The process-wide error text and its setters; messages longer than the buffer are cut and
// stay NUL-terminated.
#include "pdfcore/error.h"

#include <cstdio>

char g_err[1024];

int pdfcore_vserror(const char *format, va_list args) {
  int n = std::vsnprintf(g_err, sizeof g_err, format, args);
  if (n < 0) g_err[0] = 0;
  return n;
}

int pdfcore_set_error(const char *format, ...) {
  va_list args;
  va_start(args, format);
  int n = pdfcore_vserror(format, args);
  va_end(args);
  return n;
}

const char *pdfcore_last_error() { return g_err; }
