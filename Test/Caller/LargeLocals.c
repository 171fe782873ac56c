/* A UEFI application with 8 KiB of locals in one function: the compiler probes its stack unless told not to. */
typedef unsigned long long UINTN;

static volatile unsigned char Sink;

UINTN CallerMain(void *Image, void *System);

UINTN CallerMain(void *Image, void *System) {
  unsigned char Locals[8192];
  for (UINTN Index = 0; Index < sizeof(Locals); Index++) {
    Locals[Index] = (unsigned char)Index;
  }
  Sink = Locals[(UINTN)Image % sizeof(Locals)];
  (void)System;
  return 0;
}
