/* The public header compiles as C and the shared library links from a C program. */
#include <stdio.h>
#include <string.h>

#include "leafsift.h"

int main(void) {
  if (leafsift_init() != 1) return 1;
  if (leafsift_detect(NULL, 99) != NULL) return 1;
  if (strcmp(leafsift_last_error(), "NULL input_path") != 0) return 1;
  if (leafsift_stats() != NULL) return 1;
  if (leafsift_analyze(NULL, NULL) != NULL) return 1;
  if (leafsift_detect_ex("x.pdf", "{\"rule\":7}") != NULL) return 1;
  if (strcmp(leafsift_last_error(), "options: \"rule\" must be \"light\" or \"scan\"") != 0)
    return 1;
  if (leafsift_remove_ex(NULL, NULL, NULL) != 0) return 1;
  leafsift_cleanup();
  puts("ok");
  return 0;
}
