/* Finding the machine's section in the configuration file and copying it out. */
#include "SectionLookup.h"

CHAR16 SectionTemplate[11] = u"[8a123456]";
