/*
 * The field tool on the firmware double, as the Shell starts it: its
 * arguments on its image handle, its lines on the console, its exit status.
 * `check` with each prerequisite missing in turn; the operations over the
 * service and the double's TFTP tree.
 */
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "Double/DriverFixture.h"
#include "Double/NetworkStackDouble.h"
#include "Protocol/ShellParameters.h"
#include "Protocol/TolvaneNetworkSetup.h"

extern "C" EFI_STATUS EFIAPI ToolMain(EFI_HANDLE Image, EFI_SYSTEM_TABLE *Table);

namespace {
using FirmwareDouble::CardDouble;

constexpr EFI_GUID ShellParametersGuid = EFI_SHELL_PARAMETERS_PROTOCOL_GUID;
constexpr EFI_GUID VariantGuid = PXE_BASE_CODE_VARIANT_GUID;
constexpr EFI_GUID MarkGuid = TOLVANE_NETWORK_SETUP_PROTOCOL_GUID;

/* What the console received, in one piece. */
struct ConsoleRecord {
  EFI_SIMPLE_TEXT_OUTPUT_PROTOCOL Protocol;
  std::u16string Text;
};

EFI_STATUS EFIAPI WriteText(EFI_SIMPLE_TEXT_OUTPUT_PROTOCOL *This, CHAR16 *String) {
  reinterpret_cast<ConsoleRecord *>(This)->Text += reinterpret_cast<const char16_t *>(String);
  return EFI_SUCCESS;
}

/* The text in bytes, each line end "\n" (the formatter writes "\r\n"). */
std::string Narrow(const std::u16string &Text) {
  std::string Result;
  for (char16_t Character : Text) {
    if (Character != u'\r') {
      Result.push_back((char)Character);
    }
  }
  return Result;
}

/* What a machine lacks, one prerequisite at a time. */
enum class Lack { Nothing, Service, Card, Link, Pxe, Variant, VariantOnOtherCard, StaleVariant, Companion };

struct CheckRow {
  const char *Name;
  Lack Missing;
  std::vector<std::string> Lines; // each appears in the output
  EFI_STATUS Status;
};

class FieldToolTest : public DriverTest {
protected:
  void SetUp() override {
    DriverTest::SetUp();
    Console.Protocol.OutputString = WriteText;
    Firmware->Table()->ConOut = &Console.Protocol;
    Stack = std::make_unique<FirmwareDouble::NetworkStackDouble>(*Firmware);
    ToText.Publish(*Firmware);
    ToolImage = Firmware->NewHandle();
  }

  void TearDown() override {
    Stack.reset();
    DriverTest::TearDown();
  }

  /* A machine with everything a fetch needs: the service, a card with link and PXE Base Code, the variant. */
  void BuildMachine(Lack Missing) {
    if (Missing != Lack::Companion) {
      Firmware->Publish(MarkGuid, &Mark);
    }
    if (Missing != Lack::Service) {
      ASSERT_EQ(StartDriver(), EFI_SUCCESS);
    }
    if (Missing == Lack::Card) {
      return;
    }
    First = &Stack->AddCard(3);
    Stack->StartCardDriver(*First);
    if (Missing == Lack::Link) {
      First->Snp.LinkMedia = FALSE;
      First->Snp.Mode.MediaPresent = FALSE;
    }
    if (Missing == Lack::Pxe) {
      return;
    }
    Stack->StartPxeDriver(*First);
    if (Missing == Lack::VariantOnOtherCard) {
      Second = &Stack->AddCard(4);
      Stack->StartCardDriver(*Second);
      Stack->StartPxeDriver(*Second);
      Firmware->PublishOn(Second->PxeHandle, VariantGuid, Second->Pxe.Interface());
    }
    if (Missing == Lack::StaleVariant) {
      // A variant left on a handle whose PXE Base Code went: what a companion without a Stop would leave.
      static FirmwareDouble::PxeBaseCodeDouble Gone;
      Firmware->PublishOn(First->PxeHandle, VariantGuid, Gone.Interface());
    } else if (Missing != Lack::Variant) {
      Firmware->PublishOn(First->PxeHandle, VariantGuid, First->Pxe.Interface());
    }
  }

  /* Runs `tolvane Arguments...` as the Shell would; the exit status. */
  EFI_STATUS Run(const std::vector<std::u16string> &Arguments) {
    Argv.clear();
    Words = Arguments;
    Words.insert(Words.begin(), u"tolvane");
    for (auto &Word : Words) {
      Argv.push_back(reinterpret_cast<CHAR16 *>(Word.data()));
    }
    Parameters = {Argv.data(), Argv.size(), nullptr, nullptr, nullptr};
    if (Firmware->InterfaceOn(ToolImage, ShellParametersGuid) == nullptr) {
      Firmware->PublishOn(ToolImage, ShellParametersGuid, &Parameters);
    }
    Console.Text.clear();
    EFI_STATUS Status = ToolMain(ToolImage, Firmware->Table());
    Output = Narrow(Console.Text);
    return Status;
  }

  void ExpectLines(const std::vector<std::string> &Lines) {
    for (const auto &Line : Lines) {
      EXPECT_NE(Output.find(Line), std::string::npos) << "missing: " << Line << "\nin:\n" << Output;
    }
  }

  ConsoleRecord Console{};
  std::unique_ptr<FirmwareDouble::NetworkStackDouble> Stack;
  FirmwareDouble::DevicePathToTextDouble ToText;
  EFI_HANDLE ToolImage = nullptr;
  CardDouble *First = nullptr;
  CardDouble *Second = nullptr;
  TOLVANE_NETWORK_SETUP_PROTOCOL Mark{TOLVANE_NETWORK_SETUP_REVISION};
  std::vector<std::u16string> Words;
  std::vector<CHAR16 *> Argv;
  EFI_SHELL_PARAMETERS_PROTOCOL Parameters{};
  std::string Output;
};

class FieldToolCheckTest : public FieldToolTest, public ::testing::WithParamInterface<CheckRow> {};

const CheckRow CheckRows[] = {
    {"EveryPrerequisitePresent",
     Lack::Nothing,
     {"Card 1: PciRoot(0x0)/Pci(0x3,0x0)/MAC(525400000003,0x1)\n", "  link up\n",
      "  the service checks the link of this card\n", "PXE Base Code, standard GUID: 1\n",
      "PXE Base Code, variant GUID (where the service looks): 1\n",
      "  found first: on the card whose link is checked\n", "Check: every prerequisite is present\n"},
     EFI_SUCCESS},
    {"NoService", Lack::Service, {"Service: MISSING: load TolvaneService.efi", "Check: 1 of 4"}, EFI_NOT_FOUND},
    {"NoCard",
     Lack::Card,
     {"Cards: NONE with Simple Network", "PXE Base Code, standard GUID: 0\n", "Check: 2 of 4"},
     EFI_NOT_FOUND},
    {"NoLink", Lack::Link, {"  NO LINK: plug the cable in", "Check: 1 of 4"}, EFI_NOT_FOUND},
    {"NoPxe",
     Lack::Pxe,
     {"PXE Base Code, standard GUID: 0\n  MISSING: the firmware's network stack has not started",
      "variant GUID (where the service looks): 0\n  MISSING: nothing publishes it", "Check: 1 of 4"},
     EFI_NOT_FOUND},
    {"NoVariant",
     Lack::Variant,
     {"variant GUID (where the service looks): 0\n  MISSING: nothing publishes it", "Check: 1 of 4"},
     EFI_NOT_FOUND},
    {"VariantOnAnotherCard",
     Lack::VariantOnOtherCard,
     {"  found first: ON ANOTHER CARD than the link check", "the service would download through another card",
      "Check: 1 of 4"},
     EFI_NOT_FOUND},
    {"StaleVariant",
     Lack::StaleVariant,
     {"  STALE: no PXE Base Code behind this interface any more", "Check: 1 of 4"},
     EFI_NOT_FOUND},
    {"CompanionMissing",
     Lack::Companion,
     {"Network companion: NOT LOADED: add TolvaneNetworkSetup.efi", "Check: 1 of 4"},
     EFI_NOT_FOUND},
};

TEST_P(FieldToolCheckTest, LinesAndExitStatus) {
  BuildMachine(GetParam().Missing);
  EXPECT_EQ(Run({u"check"}), GetParam().Status) << Output;
  ExpectLines(GetParam().Lines);
}

INSTANTIATE_TEST_SUITE_P(Rows, FieldToolCheckTest, ::testing::ValuesIn(CheckRows),
                         [](const auto &Info) { return std::string(Info.param.Name); });

/* The operations, one command line after another, over the service and the double's TFTP tree. */
struct SessionStep {
  std::vector<std::u16string> Arguments;
  EFI_STATUS Status;
  std::vector<std::string> Lines;
};

struct SessionRow {
  const char *Name;
  std::vector<SessionStep> Steps;
};

class FieldToolSessionTest : public FieldToolTest, public ::testing::WithParamInterface<SessionRow> {};

const char Configuration[] = "[ABCD1234]\n0 = \"Workshop bench 3\"\n1 = boot/kernel-6.1.efi\n";

const SessionRow SessionRows[] = {
    {"FetchEntriesEntryFileRelease",
     {{{u"fetch", u"10.0.2.2", u"ABCD1234"},
       EFI_SUCCESS,
       {"FetchConfiguration: 0x0, the section of ABCD1234 is held\n"}},
      {{u"entries"},
       EFI_SUCCESS,
       {"GetEntryCount: 2\n", "Entry 0: \"Workshop bench 3\"\n", "Entry 1: boot/kernel-6.1.efi\n"}},
      {{u"entry", u"1"}, EFI_SUCCESS, {"Entry 1: boot/kernel-6.1.efi\n"}},
      {{u"entry", u"7"}, EFI_NOT_FOUND, {"Entry 7: not found\n"}},
      {{u"file", u"0"}, EFI_SUCCESS, {"FetchNumberedFile 0: 0x0 (Success), 11 bytes\n"}},
      {{u"file", u"3"}, EFI_TFTP_ERROR, {"FetchNumberedFile 3: 0x8000000000000017 (TFTP Error)\n"}},
      {{u"release"}, EFI_SUCCESS, {"ReleaseConfiguration: 0x0 (Success)\n"}},
      {{u"entries"}, EFI_NOT_FOUND, {"GetEntryCount: 0\n"}}}},
    {"FetchOfAnUnknownIdentifierFailsAtStepFive",
     {{{u"fetch", u"10.0.2.2", u"FFFF0000"},
       ENCODE_ERROR(TOLVANE_FETCH_STEP_SECTION),
       {"FetchConfiguration: 0x8000000000000005, step 5: no section for this identifier"}}}},
    {"UsageErrorsPrintTheUsageLine",
     {{{}, EFI_INVALID_PARAMETER, {"usage: tolvane check [SERVER]"}},
      {{u"fetch", u"10.0.2", u"ABCD1234"}, EFI_INVALID_PARAMETER, {"usage: tolvane"}},
      {{u"fetch", u"10.0.2.2", u"ABCD12345"}, EFI_INVALID_PARAMETER, {"usage: tolvane"}},
      {{u"file", u"10000"}, EFI_INVALID_PARAMETER, {"usage: tolvane"}},
      {{u"entry", u"x"}, EFI_INVALID_PARAMETER, {"usage: tolvane"}},
      {{u"release", u"now"}, EFI_INVALID_PARAMETER, {"usage: tolvane"}},
      {{u"-h"}, EFI_SUCCESS, {"  fetch SERVER ID     FetchConfiguration"}}}},
};

TEST_P(FieldToolSessionTest, EachCommandPrintsItsLinesAndLeavesItsStatus) {
  BuildMachine(Lack::Nothing);
  First->Pxe.Files["rivari.ini"] = std::vector<UINT8>(Configuration, Configuration + sizeof(Configuration) - 1);
  const std::string File = "file zero\r\n";
  First->Pxe.Files["ABCD1234.0"] = std::vector<UINT8>(File.begin(), File.end());
  for (const SessionStep &Step : GetParam().Steps) {
    std::string Command;
    for (const auto &Word : Step.Arguments) {
      Command += " " + Narrow(Word);
    }
    SCOPED_TRACE("tolvane" + Command);
    EXPECT_EQ(Run(Step.Arguments), Step.Status) << Output;
    ExpectLines(Step.Lines);
  }
}

INSTANTIATE_TEST_SUITE_P(Rows, FieldToolSessionTest, ::testing::ValuesIn(SessionRows),
                         [](const auto &Info) { return std::string(Info.param.Name); });

TEST_F(FieldToolTest, OutsideTheShellSaysWhereToStartIt) {
  EXPECT_EQ(ToolMain(ToolImage, Firmware->Table()), EFI_UNSUPPORTED);
  EXPECT_NE(Narrow(Console.Text).find("start it from the UEFI Shell"), std::string::npos);
}

} // namespace
