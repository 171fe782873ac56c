/*
 * memset and memcpy for a UEFI application that has no C library. The
 * compiler calls them on its own, even in freestanding code: to zero an
 * aggregate (EFI_IP_ADDRESS Server = {0}; at the default optimisation, any
 * large array = {0}) and to copy a large record. Link this file into the
 * application unless your firmware kit's library already defines both.
 */
typedef __SIZE_TYPE__ size_t;

void *memset(void *Buffer, int Value, size_t Size);
void *memcpy(void *Target, const void *Source, size_t Size);

/* Fills Size bytes at Buffer with the low byte of Value; returns Buffer. */
void *memset(void *Buffer, int Value, size_t Size) {
  unsigned char *Byte = (unsigned char *)Buffer;
  while (Size-- != 0) {
    *Byte++ = (unsigned char)Value;
  }
  return Buffer;
}

/* Copies Size bytes from Source to Target, which do not overlap; returns Target. */
void *memcpy(void *Target, const void *Source, size_t Size) {
  unsigned char *To = (unsigned char *)Target;
  const unsigned char *From = (const unsigned char *)Source;
  while (Size-- != 0) {
    *To++ = *From++;
  }
  return Target;
}
