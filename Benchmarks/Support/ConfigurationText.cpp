/* Generated configuration texts for the benchmarks. */
#include "Support/ConfigurationText.h"

#include <cstdio>

namespace ConfigurationText {
namespace {

/* One section of five entries in the shape of the sample rivari.ini. */
void AppendSection(std::string &Text, const char *Header, unsigned Number) {
  char Section[512];
  std::snprintf(Section, sizeof Section,
                "[%s]\n"
                "0 = \"Workshop bench %u\"   ; where it stands\n"
                "1 = boot/kernel-6.1.efi\n"
                "2 = splash-%u.bmp\n"
                "3 = \"console=ttyS0,115200\"\n"
                "4 = 2024-05-01\n"
                "\n",
                Header, Number % 100, Number % 1000);
  Text += Section;
}

void AppendOtherSection(std::string &Text, unsigned Number) {
  char Header[16];
  std::snprintf(Header, sizeof Header, "M%07X", Number);
  AppendSection(Text, Header, Number);
}

} // namespace

std::string MakeFile(std::size_t Size) {
  std::string Text = "; rivari.ini for the workshop, generated for the benchmarks\n"
                     "; one section per machine, headed by its identifier in upper case\n\n";
  std::string Tail;
  AppendSection(Tail, MachineHeader, 7);
  AppendOtherSection(Tail, 0xFFFFFE);
  AppendOtherSection(Tail, 0xFFFFFF);
  unsigned Number = 1;
  while (Text.size() + Tail.size() < Size) {
    AppendOtherSection(Text, Number++);
  }
  return Text + Tail;
}

std::string MakeSection(std::size_t Entries) {
  std::string Text = "; a single machine\n[";
  Text += MachineHeader;
  Text += "]\n";
  for (std::size_t Index = 0; Index < Entries; Index++) {
    char Line[64];
    std::snprintf(Line, sizeof Line, "%zu = value-%zu.bin\n", Index, Index);
    Text += Line;
  }
  AppendOtherSection(Text, 1);
  return Text;
}

} // namespace ConfigurationText
