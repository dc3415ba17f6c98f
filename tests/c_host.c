/* SPDX-License-Identifier: MIT */
/* A C host: the public header compiles as C99 and the library links from C. */
#include <stdio.h>

#include "radioline.h"

int main(void) {
  /* No device is open, so closing reports the initial descriptor value. */
  int rc = serclose();
  if (rc != -2 || debug != 0) {
    fprintf(stderr, "unexpected serclose result %d, debug %d\n", rc, debug);
    return 1;
  }
  return 0;
}
