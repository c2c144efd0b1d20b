// The library's one error text. Every module writes it through these setters; the exported
// calls hand it out. A setter replaces the whole text; "" records success.
#pragma once

#include <cstdarg>

extern char g_err[1024];

int pdfcore_set_error(const char *format, ...) __attribute__((format(printf, 1, 2)));
int pdfcore_vserror(const char *format, va_list args);
const char *pdfcore_last_error();
