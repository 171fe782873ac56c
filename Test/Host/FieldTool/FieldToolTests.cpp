/*
 * The field tool on the firmware double, as the Shell starts it: its
 * arguments on its image handle, its lines on the console, its exit status.
 * `check` with each prerequisite missing in turn; the operations over the
 * service and the double's TFTP tree.
 */
#include <gtest/gtest.h>

#include <cstdio>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "Double/DriverFixture.h"
#include "Double/NetworkStackDouble.h"
#include "Protocol/LoadedImage.h"
#include "Protocol/Shell.h"
#include "Protocol/TolvaneNetworkSetup.h"

extern "C" EFI_STATUS EFIAPI ToolMain(EFI_HANDLE Image, EFI_SYSTEM_TABLE *Table);

namespace {
using FirmwareDouble::CardDouble;

constexpr EFI_GUID ShellParametersGuid = EFI_SHELL_PARAMETERS_PROTOCOL_GUID;
constexpr EFI_GUID VariantGuid = PXE_BASE_CODE_VARIANT_GUID;
constexpr EFI_GUID MarkGuid = TOLVANE_NETWORK_SETUP_PROTOCOL_GUID;
constexpr EFI_GUID LoadedImageGuid = EFI_LOADED_IMAGE_PROTOCOL_GUID;

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

/* The Shell's file calls over named files in memory; a write can be made to take nothing. */
class ShellDouble {
public:
  ShellDouble() {
    Protocol.OpenFileByName = OpenFileByName;
    Protocol.CloseFile = CloseFile;
    Protocol.WriteFile = WriteFile;
    Protocol.DeleteFile = DeleteFile;
  }
  void Publish(FirmwareDouble::Firmware &Target) {
    Active = this;
    Target.Publish(ShellGuid, &Protocol);
  }
  std::map<std::u16string, std::string> Files;
  bool FailWrites = false;

private:
  static constexpr EFI_GUID ShellGuid = EFI_SHELL_PROTOCOL_GUID;
  struct OpenFile {
    std::u16string Name;
  };
  static EFI_STATUS EFIAPI OpenFileByName(const CHAR16 *Name, SHELL_FILE_HANDLE *File, UINT64 Mode) {
    std::u16string Path(reinterpret_cast<const char16_t *>(Name));
    if (Active->Files.count(Path) == 0) {
      if ((Mode & EFI_FILE_MODE_CREATE) == 0) {
        return EFI_NOT_FOUND;
      }
      Active->Files[Path] = "";
    }
    Active->Handles.push_back(std::make_unique<OpenFile>(OpenFile{Path}));
    *File = Active->Handles.back().get();
    return EFI_SUCCESS;
  }
  static EFI_STATUS EFIAPI CloseFile(SHELL_FILE_HANDLE) { return EFI_SUCCESS; }
  static EFI_STATUS EFIAPI WriteFile(SHELL_FILE_HANDLE File, UINTN *Size, VOID *Buffer) {
    if (Active->FailWrites) {
      *Size = 0;
      return EFI_SUCCESS;
    }
    Active->Files[static_cast<OpenFile *>(File)->Name].append(static_cast<const char *>(Buffer), *Size);
    return EFI_SUCCESS;
  }
  static EFI_STATUS EFIAPI DeleteFile(SHELL_FILE_HANDLE File) {
    Active->Files.erase(static_cast<OpenFile *>(File)->Name);
    return EFI_SUCCESS;
  }
  static inline ShellDouble *Active = nullptr;
  EFI_SHELL_PROTOCOL Protocol{};
  std::vector<std::unique_ptr<OpenFile>> Handles;
};

struct LoadedImageRecord {
  EFI_LOADED_IMAGE_PROTOCOL Protocol{};
  FirmwareDouble::DevicePathDouble Path;
};

/* What a machine lacks, one prerequisite at a time. */
enum class Lack {
  Nothing,
  Service,
  Card,
  Link,
  Pxe,
  Variant,
  VariantOnOtherCard,
  StaleVariant,
  Companion,
  // As Card and Companion, with the service and the companion (where loaded) in the firmware volume or from a file.
  CardWithImagesInVolume,
  CompanionWithServiceInVolume,
  CompanionWithServiceFromFile,
};

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
    // The section a test left held is the service's to release, not a leak of the tool's.
    if (TOLVANE_SERVICE_PROTOCOL *Service = InstalledService()) {
      Service->ReleaseConfiguration(Service);
    }
    Stack.reset();
    DriverTest::TearDown();
  }

  /* A machine with everything a fetch needs: the service, a card with link and PXE Base Code, the variant. */
  void BuildMachine(Lack Missing) {
    bool InVolume = Missing == Lack::CardWithImagesInVolume || Missing == Lack::CompanionWithServiceInVolume;
    bool CompanionMissing = Missing == Lack::Companion || Missing == Lack::CompanionWithServiceInVolume ||
                            Missing == Lack::CompanionWithServiceFromFile;
    if (!CompanionMissing) {
      Firmware->Publish(MarkGuid, &Mark);
      LoadImage(CompanionImage, &Mark, InVolume, u"\\EFI\\tolvane\\TolvaneNetworkSetup.efi");
    }
    if (Missing != Lack::Service) {
      ASSERT_EQ(StartDriver(), EFI_SUCCESS);
      if (InVolume || Missing == Lack::CompanionWithServiceFromFile) {
        LoadImage(ServiceImage, InstalledService(), InVolume, u"\\EFI\\tolvane\\TolvaneService.efi");
      }
    }
    if (Missing == Lack::Card || Missing == Lack::CardWithImagesInVolume) {
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

  /* A loaded image holding Address, from the firmware volume or from the file Path. */
  void LoadImage(LoadedImageRecord &Image, const VOID *Address, bool InVolume, const std::u16string &Path) {
    const EFI_GUID VolumeGuid = {0x8FC151AE, 0xC96F, 0x4BC9, {0x8C, 0x33, 0x10, 0x7F, 0xC6, 0x11, 0xA5, 0x5B}};
    const EFI_GUID FileGuid = {0x5E7C2A10, 0x3B4D, 0x4E8F, {0x9A, 0x01, 0xC2, 0xD3, 0xE4, 0xF5, 0x06, 0x17}};
    if (InVolume) {
      Image.Path.Fv(VolumeGuid).FvFile(FileGuid);
    } else {
      Image.Path.File(Path);
    }
    Image.Protocol.FilePath = Image.Path.Path();
    Image.Protocol.ImageBase = const_cast<VOID *>(Address);
    Image.Protocol.ImageSize = 1;
    Firmware->Publish(LoadedImageGuid, &Image.Protocol);
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
  ShellDouble Shell;
  LoadedImageRecord CompanionImage;
  LoadedImageRecord ServiceImage;
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
    {"NoService", Lack::Service, {"Service: MISSING: load TolvaneService.efi", "Check: 1 of 4"}, EFI_ABORTED},
    {"NoCard",
     Lack::Card,
     {"Cards: NONE with Simple Network: no card connected yet. The companion connects them when it starts; run "
      "connect -r here",
      "PXE Base Code, standard GUID: 0\n", "Check: 2 of 4"},
     EFI_ABORTED},
    {"NoLink", Lack::Link, {"  NO LINK: plug the cable in", "Check: 1 of 4"}, EFI_ABORTED},
    {"NoPxe",
     Lack::Pxe,
     {"PXE Base Code, standard GUID: 0\n  MISSING: the firmware's network stack has not started",
      "variant GUID (where the service looks): 0\n  MISSING: the companion has published none", "Check: 1 of 4"},
     EFI_ABORTED},
    {"NoVariant",
     Lack::Variant,
     {"variant GUID (where the service looks): 0\n  MISSING: the companion has published none", "Check: 1 of 4"},
     EFI_ABORTED},
    {"VariantOnAnotherCard",
     Lack::VariantOnOtherCard,
     {"  found first: ON ANOTHER CARD than the link check", "the service would download through another card",
      "Check: 1 of 4"},
     EFI_ABORTED},
    {"StaleVariant",
     Lack::StaleVariant,
     {"  STALE: no PXE Base Code behind this interface any more", "Check: 1 of 4"},
     EFI_ABORTED},
    {"NoCardCompanionFromTheVolume",
     Lack::CardWithImagesInVolume,
     {"Service: installed by Fv(", "), in the platform's firmware volume\n",
      "no card connected yet. The companion connects them once the firmware has found its PCI devices; run connect -r",
      "Network companion: loaded from Fv(", "Check: 2 of 4"},
     EFI_ABORTED},
    {"CompanionMissingServiceFromTheVolume",
     Lack::CompanionWithServiceInVolume,
     {"Network companion: NOT LOADED: put TolvaneNetworkSetup.efi in the firmware volume beside the service\n",
      "Check: 1 of 4"},
     EFI_ABORTED},
    {"CompanionMissingServiceFromAFile",
     Lack::CompanionWithServiceFromFile,
     {"Service: installed by \\EFI\\tolvane\\TolvaneService.efi\n",
      "Network companion: NOT LOADED: add TolvaneNetworkSetup.efi as the first Driver#### option\n", "Check: 1 of 4"},
     EFI_ABORTED},
    {"CompanionMissing",
     Lack::Companion,
     {"Network companion: NOT LOADED: add TolvaneNetworkSetup.efi", "Check: 1 of 4"},
     EFI_ABORTED},
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
      {{u"entry", u"7"}, EFI_ABORTED, {"Entry 7: not found\n"}},
      {{u"file", u"0"}, EFI_SUCCESS, {"FetchNumberedFile 0: 0x0 (Success), 11 bytes\n"}},
      {{u"file", u"3"},
       EFI_ABORTED,
       {"FetchNumberedFile 3: 0x8000000000000017 (TFTP Error)\nAsked 10.0.2.2 for ABCD1234.3\n"}},
      {{u"release"}, EFI_SUCCESS, {"ReleaseConfiguration: 0x0 (Success)\n"}},
      {{u"entries"}, EFI_NOT_STARTED, {"No configuration is held (no fetch in this boot, or it was released)"}},
      {{u"entry", u"0"}, EFI_NOT_STARTED, {"No configuration is held"}},
      {{u"file", u"0"}, EFI_NOT_STARTED, {"run tolvane fetch SERVER ID first\n"}}}},
    {"NothingFetchedLeavesItsOwnStatus",
     {{{u"entries"}, EFI_NOT_STARTED, {"No configuration is held"}},
      {{u"file", u"0"}, EFI_NOT_STARTED, {"No configuration is held"}}}},
    {"FetchOfAnUnknownIdentifierFailsAtStepFive",
     {{{u"fetch", u"10.0.2.2", u"FFFF0000"},
       EFI_ABORTED,
       {"FetchConfiguration: 0x8000000000000005, step 5: no section for this identifier"}}}},
    {"FileAfterALowerCaseFetchNamesTheFileAsked",
     {{{u"fetch", u"10.0.2.2", u"abcd1234"}, EFI_SUCCESS, {"the section of abcd1234 is held\n"}},
      {{u"file", u"0"},
       EFI_ABORTED,
       {"Asked 10.0.2.2 for abcd1234.0\n",
        "  the identifier was fetched as abcd1234: file names keep its case; fetch it in upper case"}}}},
    {"FileAfterAFailedFetchNamesTheFailedFetchServer",
     {{{u"fetch", u"10.0.2.2", u"ABCD1234"}, EFI_SUCCESS, {}},
      {{u"fetch", u"10.0.2.9", u"FFFF0000"}, EFI_ABORTED, {"step 5"}},
      {{u"entries"}, EFI_SUCCESS, {"GetEntryCount: 2\n"}},
      {{u"file", u"0"},
       EFI_ABORTED,
       {"Asked 10.0.2.9 for FFFF0000.0\n  the server of the last fetch, which failed (0x8000000000000005)"}}}},
    {"EachArgumentErrorNamesItsFault",
     {{{}, EFI_INVALID_PARAMETER, {"usage: tolvane check [SERVER]"}},
      {{u"fetch", u"10.0.2", u"ABCD1234"},
       EFI_INVALID_PARAMETER,
       {"tolvane: the server \"10.0.2\" is not an IPv4 address: four numbers 0 to 255 with dots between\nusage: "}},
      {{u"fetch", u"10.0.2.2", u"ABCD12345X"},
       EFI_INVALID_PARAMETER,
       {"tolvane: the identifier has 10 characters; 1 to 8\nusage: "}},
      {{u"fetch", u"10.0.2.2", u"AB\u00e9D"}, EFI_INVALID_PARAMETER, {"tolvane: the identifier \"AB"}},
      {{u"file", u"10000"},
       EFI_INVALID_PARAMETER,
       {"tolvane: the file number \"10000\" is not a whole number from 0 to 9999\n"}},
      {{u"entry", u"x"}, EFI_INVALID_PARAMETER, {"tolvane: the entry number \"x\" is not a whole number"}},
      {{u"release", u"now"}, EFI_INVALID_PARAMETER, {"tolvane: release takes no argument; 1 given\n"}},
      {{u"fetch", u"10.0.2.2"}, EFI_INVALID_PARAMETER, {"tolvane: fetch takes SERVER ID; 1 given\n"}},
      {{u"check", u"10.0.2.256"}, EFI_INVALID_PARAMETER, {"tolvane: the server \"10.0.2.256\""}},
      {{u"fetsh"}, EFI_INVALID_PARAMETER, {"tolvane: no command \"fetsh\"\nusage: "}},
      {{u"-h"}, EFI_SUCCESS, {"  fetch SERVER ID     FetchConfiguration", "0x13 no configuration held"}}}},
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

/* check SERVER: the block size each read was granted, and a verdict that claims no more than that. */
struct ProbeRow {
  const char *Name;
  std::optional<UINTN> Granted; // the server's option acknowledgement; none: data blocks of 512 and no acknowledgement
  size_t FileSize;
  bool CallbacksRefused;                    // the firmware shows no packet
  bool CallbacksInUse;                      // another program\'s callback is on: left as it is
  std::optional<EFI_STATUS> LargeReadFails; // before any packet is shown
  std::optional<UINTN> CardLosesAbove;      // blocks larger than this are lost after the acknowledgement
  std::vector<std::string> Lines;
  EFI_STATUS Status;
};

EFI_PXE_BASE_CODE_CALLBACK_STATUS EFIAPI OtherCallback(EFI_PXE_BASE_CODE_CALLBACK_PROTOCOL *,
                                                       EFI_PXE_BASE_CODE_FUNCTION, BOOLEAN, UINT32,
                                                       EFI_PXE_BASE_CODE_PACKET *) {
  return EFI_PXE_BASE_CODE_CALLBACK_STATUS_CONTINUE;
}

class FieldToolProbeTest : public FieldToolTest, public ::testing::WithParamInterface<ProbeRow> {};

const ProbeRow ProbeRows[] = {
    {"LargeBlocksGrantedAndNeededArrive",
     64512,
     70000,
     false,
     false,
     std::nullopt,
     std::nullopt,
     {"Read at blocks of 64512: status 0x0 (Success), 70000 bytes in blocks of 64512\n",
      "Read at blocks of 1468: status 0x0 (Success), 70000 bytes in blocks of 1468\n",
      "Server: delivers rivari.ini in blocks of 64512: this card receives the service's large blocks\n"},
     EFI_SUCCESS},
    {"LargeBlocksGrantedToAFileOfOneFrameProveNothing",
     64512,
     300,
     false,
     false,
     std::nullopt,
     std::nullopt,
     {"Read at blocks of 64512: status 0x0 (Success), 300 bytes in blocks of 64512\n",
      "Server: delivers rivari.ini in blocks of 64512, but the file fits one frame: no large block was sent, so this "
      "check cannot tell whether this card loses fragmented blocks\n"},
     EFI_SUCCESS},
    {"GrantedSmallBlocksSaysLargeBlocksWereNotTried",
     1428,
     70000,
     false,
     false,
     std::nullopt,
     std::nullopt,
     {"Read at blocks of 64512: status 0x0 (Success), 70000 bytes in blocks of 1428\n",
      "Server: delivers rivari.ini, but in blocks of 1428, not the service's 64512: large blocks were not tried, so "
      "this check cannot tell whether this card loses fragmented blocks\n"},
     EFI_SUCCESS},
    {"NoOptionAcknowledgementMeansBlocksOf512",
     std::nullopt,
     70000,
     false,
     false,
     std::nullopt,
     std::nullopt,
     {"Read at blocks of 64512: status 0x0 (Success), 70000 bytes in blocks of 512\n",
      "Server: delivers rivari.ini, but in blocks of 512, not the service's 64512: large blocks were not tried"},
     EFI_SUCCESS},
    {"UnreportedGrantClaimsNothing",
     64512,
     70000,
     true,
     false,
     std::nullopt,
     std::nullopt,
     {"Read at blocks of 64512: status 0x0 (Success), 70000 bytes; the firmware does not report the block size",
      "Server: delivers rivari.ini, at a block size the firmware does not report: if the server caps its block size "
      "below 64512, large blocks were not tried, and this check cannot tell whether this card loses fragmented "
      "blocks\n"},
     EFI_SUCCESS},
    {"LargeBlocksLostAfterTheirGrantSmallArrive",
     64512,
     70000,
     false,
     false,
     std::nullopt,
     1468,
     {"Read at blocks of 64512: status 0x8000000000000012 (Time out) after the server granted blocks of 64512\n",
      "Read at blocks of 1468: status 0x0 (Success), 70000 bytes in blocks of 1468\n",
      "Server: THIS CARD LOSES FRAGMENTED BLOCKS: only blocks of 1468 arrive"},
     EFI_ABORTED},
    {"LargeReadFailsUnseenSmallArrives",
     1468,
     70000,
     false,
     false,
     EFI_TIMEOUT,
     std::nullopt,
     {"Read at blocks of 64512: status 0x8000000000000012 (Time out)\n",
      "Read at blocks of 1468: status 0x0 (Success), 70000 bytes in blocks of 1468\n",
      "Server: THIS CARD LOSES FRAGMENTED BLOCKS: only blocks of 1468 arrive"},
     EFI_ABORTED},
    {"CallbacksOfAnotherProgramAreLeftAlone",
     64512,
     70000,
     false,
     true,
     std::nullopt,
     std::nullopt,
     {"Read at blocks of 64512: status 0x0 (Success), 70000 bytes; the firmware does not report the block size",
      "Server: delivers rivari.ini, at a block size the firmware does not report"},
     EFI_SUCCESS},
};

TEST_P(FieldToolProbeTest, ReportsTheGrantedBlockSize) {
  BuildMachine(Lack::Nothing);
  First->Pxe.Files["rivari.ini"] = std::vector<UINT8>(GetParam().FileSize, 'x');
  First->Pxe.GrantedBlockSize = GetParam().Granted;
  First->Pxe.RefusesCallbacks = GetParam().CallbacksRefused;
  First->Pxe.CardLosesBlocksAbove = GetParam().CardLosesAbove;
  EFI_PXE_BASE_CODE_CALLBACK_PROTOCOL Other{EFI_PXE_BASE_CODE_CALLBACK_PROTOCOL_REVISION, OtherCallback};
  BOOLEAN On = TRUE;
  if (GetParam().CallbacksInUse) {
    Firmware->PublishOn(First->PxeHandle, EfiPxeBaseCodeCallbackProtocolGuid, &Other);
    ASSERT_EQ(First->Pxe.Interface()->SetParameters(First->Pxe.Interface(), nullptr, nullptr, nullptr, nullptr, &On),
              EFI_SUCCESS);
  }
  if (GetParam().LargeReadFails) {
    First->Pxe.InjectStatus(FirmwareDouble::PxeOperation::Mtftp, EFI_SUCCESS); // the size query
    First->Pxe.InjectStatus(FirmwareDouble::PxeOperation::Mtftp, *GetParam().LargeReadFails);
  }
  First->Pxe.Mode.StationIp.Addr[0] = 10;
  EXPECT_EQ(Run({u"check", u"10.0.2.2"}), GetParam().Status) << Output;
  ExpectLines(GetParam().Lines);
  if (GetParam().Lines.back().find("this card receives") == std::string::npos) {
    EXPECT_EQ(Output.find("this card receives"), std::string::npos) << Output;
  }
  // The firmware is left as found: the tool's callback gone from every handle, another's as it was.
  EXPECT_EQ(First->Pxe.Mode.MakeCallbacks, GetParam().CallbacksInUse);
  std::vector<EFI_HANDLE> WithCallback;
  if (GetParam().CallbacksInUse) {
    WithCallback.push_back(First->PxeHandle);
  }
  EXPECT_EQ(Firmware->HandlesWith(EfiPxeBaseCodeCallbackProtocolGuid), WithCallback);
}

INSTANTIATE_TEST_SUITE_P(Rows, FieldToolProbeTest, ::testing::ValuesIn(ProbeRows),
                         [](const auto &Info) { return std::string(Info.param.Name); });

TEST_F(FieldToolTest, FileHintNamesWhatTheServiceAsked) {
  BuildMachine(Lack::Nothing);
  First->Pxe.Files["rivari.ini"] = std::vector<UINT8>(Configuration, Configuration + sizeof(Configuration) - 1);
  ASSERT_EQ(Run({u"fetch", u"10.0.2.2", u"abcd1234"}), EFI_SUCCESS) << Output;
  ASSERT_EQ(Run({u"file", u"12"}), EFI_ABORTED) << Output;
  const auto *Asked = First->Pxe.MtftpCalls().back();
  char Expected[64];
  std::snprintf(Expected, sizeof(Expected), "Asked %u.%u.%u.%u for %s\n", Asked->ServerIpBytes[0],
                Asked->ServerIpBytes[1], Asked->ServerIpBytes[2], Asked->ServerIpBytes[3], Asked->Filename.c_str());
  EXPECT_NE(Output.find(Expected), std::string::npos) << Expected << "in:\n" << Output;
}

TEST_F(FieldToolTest, FileSavedToAShellPathHoldsTheDownload) {
  BuildMachine(Lack::Nothing);
  First->Pxe.Files["rivari.ini"] = std::vector<UINT8>(Configuration, Configuration + sizeof(Configuration) - 1);
  First->Pxe.Files["ABCD1234.0"] = std::vector<UINT8>{'o', 'n', 'e'};
  Shell.Publish(*Firmware);
  ASSERT_EQ(Run({u"fetch", u"10.0.2.2", u"ABCD1234"}), EFI_SUCCESS) << Output;
  Shell.Files[u"fs0:\\file0.bin"] = "an older and longer file";
  EXPECT_EQ(Run({u"file", u"0", u"fs0:\\file0.bin"}), EFI_SUCCESS) << Output;
  ExpectLines({"FetchNumberedFile 0: 0x0 (Success), 3 bytes\n", "Saved to fs0:\\file0.bin: 0x0 (Success)\n"});
  EXPECT_EQ(Shell.Files[u"fs0:\\file0.bin"], "one");
  Shell.FailWrites = true;
  EXPECT_EQ(Run({u"file", u"0", u"fs0:\\file0.bin"}), EFI_ABORTED) << Output;
  ExpectLines({"Saved to fs0:\\file0.bin: 0x800000000000000B (Volume Full)\n"});
}

TEST_F(FieldToolTest, OutsideTheShellSaysWhereToStartIt) {
  EXPECT_EQ(ToolMain(ToolImage, Firmware->Table()), EFI_UNSUPPORTED);
  EXPECT_NE(Narrow(Console.Text).find("start it from the UEFI Shell"), std::string::npos);
}

} // namespace
