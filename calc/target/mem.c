/* The two library routines the compiler may call on its own for structure copies and
 * clears; there is no C library on the calculator. */
#include <stddef.h>

void *memcpy(void *to, const void *from, size_t count) {
  unsigned char *t = to;
  const unsigned char *f = from;
  while (count--) *t++ = *f++;
  return to;
}

void *memset(void *to, int value, size_t count) {
  unsigned char *t = to;
  while (count--) *t++ = (unsigned char)value;
  return to;
}
