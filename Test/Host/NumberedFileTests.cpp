/* Numbered file download through the installed slot, asserted on the PXE call log. */
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "Double/ServiceCaller.h"

namespace {

using FirmwareDouble::MtftpArguments;
using FirmwareDouble::PxeOperation;

class NumberedFileTest : public ServiceCallerTest {
protected:
  /* A fetch that records ABCD1234 and 10.0.2.2, then a clean call log. */
  void FetchFor(const std::string &Identifier = "abcd1234") {
    ServeConfiguration("[ABCD1234]\n0 a\n");
    ASSERT_EQ(Fetch(Identifier), EFI_SUCCESS);
    Pxe.Calls.clear();
  }

  std::vector<std::string> RequestedNames() const {
    std::vector<std::string> Names;
    for (const MtftpArguments *Call : Pxe.MtftpCalls()) {
      Names.push_back(Call->Filename);
    }
    return Names;
  }
};

TEST_F(NumberedFileTest, FileNameIsTheIdentifierAPointAndTheNumberCutAt15) {
  const struct {
    UINTN FileNumber;
    const char *Name;
  } Cases[] = {
      {7, "abcd1234.7"},
      {115200, "abcd1234.115200"},
      {(UINTN)(INT64)-115200, "abcd1234.-11520"},
      {0xFFFFFFFFu, "abcd1234.-1"},
      {0xABCD00000005ULL, "abcd1234.5"},
      {0, "abcd1234.0"},
  };
  FetchFor();
  for (const auto &Case : Cases) {
    Pxe.Calls.clear();
    UINTN Size = 0;
    EXPECT_EQ(Service->FetchNumberedFile(Service, Case.FileNumber, nullptr, &Size), EFI_TFTP_ERROR);
    EXPECT_EQ(RequestedNames(), std::vector<std::string>{Case.Name}) << Case.FileNumber;
    EXPECT_STREQ(ServiceState.FileNameBuffer, Case.Name);
  }
}

TEST_F(NumberedFileTest, UpperCaseIdentifierIsRequestedAsTheCallerWroteIt) {
  FetchFor("ABCD1234");
  ServeFile("ABCD1234.7", "seven");
  UINTN Size = 0;
  EXPECT_EQ(Service->FetchNumberedFile(Service, 7, nullptr, &Size), EFI_OUT_OF_RESOURCES);
  EXPECT_EQ(Size, 5u);
}

TEST_F(NumberedFileTest, SizedDownloadTakesThreeTransfersWithTheirArguments) {
  FetchFor();
  const std::string Contents(3000, 'x');
  ServeFile("abcd1234.3", Contents);

  UINTN Size = 0;
  ASSERT_EQ(Service->FetchNumberedFile(Service, 3, nullptr, &Size), EFI_OUT_OF_RESOURCES);
  ASSERT_EQ(Size, Contents.size());
  std::vector<char> Buffer(Size, 0);
  ASSERT_EQ(Service->FetchNumberedFile(Service, 3, Buffer.data(), &Size), EFI_SUCCESS);
  EXPECT_EQ(Size, Contents.size());
  EXPECT_EQ(std::string(Buffer.begin(), Buffer.end()), Contents);

  const auto Calls = Pxe.MtftpCalls();
  ASSERT_EQ(Calls.size(), 3u);
  for (size_t Index : {0u, 1u}) {
    const MtftpArguments &Query = *Calls[Index];
    EXPECT_EQ(Query.Operation, EFI_PXE_BASE_CODE_TFTP_GET_FILE_SIZE);
    EXPECT_TRUE(Query.BufferPtrIsNull);
    EXPECT_FALSE(Query.Overwrite);
    EXPECT_TRUE(Query.BlockSizeIsNull);
    EXPECT_EQ(Query.Info, nullptr);
    EXPECT_TRUE(Query.DontUseBuffer);
    EXPECT_EQ(Query.ServerIp, &ServiceState.ServerAddress);
  }
  const MtftpArguments &Read = *Calls[2];
  EXPECT_EQ(Read.Operation, EFI_PXE_BASE_CODE_TFTP_READ_FILE);
  EXPECT_EQ(Read.BufferPtr, Buffer.data());
  EXPECT_FALSE(Read.Overwrite);
  EXPECT_EQ(Read.BufferSizeIn, Contents.size());
  ASSERT_FALSE(Read.BlockSizeIsNull);
  EXPECT_EQ(Read.BlockSizeValue, 64512u);
  EXPECT_EQ(Read.Info, nullptr);
  EXPECT_FALSE(Read.DontUseBuffer);
  EXPECT_EQ(Read.Filename, "abcd1234.3");
}

TEST_F(NumberedFileTest, CapacityDecidesBetweenSizingAndReading) {
  FetchFor();
  ServeFile("abcd1234.1", "0123456789");
  const struct {
    const char *Name;
    bool WithBuffer;
    UINTN Capacity;
    EFI_STATUS Status;
    UINTN SizeAfter;
    size_t Transfers;
    UINT64 ReadAsks;
  } Cases[] = {
      {"no buffer, large capacity", false, 4096, EFI_OUT_OF_RESOURCES, 10, 1, 0},
      {"buffer two bytes short", true, 8, EFI_OUT_OF_RESOURCES, 10, 1, 0},
      {"exact capacity", true, 10, EFI_SUCCESS, 10, 2, 10},
      {"larger capacity asks for the file's size", true, 64, EFI_SUCCESS, 10, 2, 10},
  };
  for (const auto &Case : Cases) {
    Pxe.Calls.clear();
    std::vector<char> Buffer(64, '#');
    UINTN Size = Case.Capacity;
    EXPECT_EQ(Service->FetchNumberedFile(Service, 1, Case.WithBuffer ? Buffer.data() : nullptr, &Size), Case.Status)
        << Case.Name;
    EXPECT_EQ(Size, Case.SizeAfter) << Case.Name;
    const auto Calls = Pxe.MtftpCalls();
    ASSERT_EQ(Calls.size(), Case.Transfers) << Case.Name;
    if (Case.Status == EFI_SUCCESS) {
      EXPECT_EQ(Calls.back()->BufferSizeIn, Case.ReadAsks) << Case.Name;
      EXPECT_EQ(std::string(Buffer.data(), 10), "0123456789") << Case.Name;
      EXPECT_EQ(Buffer[10], '#') << Case.Name;
    } else {
      EXPECT_EQ(std::string(Buffer.data(), 10), std::string(10, '#')) << Case.Name;
    }
  }
}

TEST_F(NumberedFileTest, FailedTransfersPassTheirStatusAndLeaveTheSizeAlone) {
  FetchFor();
  ServeFile("abcd1234.2", "two");
  UINTN Size = 77;
  EXPECT_EQ(Service->FetchNumberedFile(Service, 9, nullptr, &Size), EFI_TFTP_ERROR);
  EXPECT_EQ(Size, 77u);

  Pxe.InjectStatus(PxeOperation::Mtftp, EFI_TIMEOUT);
  EXPECT_EQ(Service->FetchNumberedFile(Service, 2, nullptr, &Size), EFI_TIMEOUT);
  EXPECT_EQ(Size, 77u);

  char Buffer[8];
  Size = sizeof(Buffer);
  Pxe.Calls.clear();
  Pxe.InjectStatus(PxeOperation::Mtftp, EFI_SUCCESS);
  Pxe.InjectStatus(PxeOperation::Mtftp, EFI_ICMP_ERROR);
  EXPECT_EQ(Service->FetchNumberedFile(Service, 2, Buffer, &Size), EFI_ICMP_ERROR);
  EXPECT_EQ(Size, sizeof(Buffer));
  EXPECT_EQ(Pxe.MtftpCalls().size(), 2u);
}

TEST_F(NumberedFileTest, NullSizePointerIsRefusedWithoutATransfer) {
  FetchFor();
  char Buffer[8];
  EXPECT_EQ(Service->FetchNumberedFile(Service, 1, Buffer, nullptr), EFI_INVALID_PARAMETER);
  EXPECT_TRUE(Pxe.MtftpCalls().empty());
}

TEST_F(NumberedFileTest, BeforeAnyFetchTheNameIsPointNumberFromAddressZero) {
  UINTN Size = 0;
  Service->FetchNumberedFile(Service, 5, nullptr, &Size);
  const auto Calls = Pxe.MtftpCalls();
  ASSERT_EQ(Calls.size(), 1u);
  EXPECT_EQ(Calls[0]->Filename, ".5");
  EXPECT_EQ(Calls[0]->ServerIpBytes, (std::array<UINT8, 16>{}));
}

TEST_F(NumberedFileTest, AfterAFailedFetchTheNewServerAndIdentifierAreUsed) {
  FetchFor();
  Snp.LinkMedia = FALSE;
  ASSERT_EQ(Fetch("zz99yy88", Ipv4(192, 168, 7, 1)), 0x8000000000000001ULL);
  Pxe.Calls.clear();
  UINTN Size = 0;
  Service->FetchNumberedFile(Service, 4, nullptr, &Size);
  const auto Calls = Pxe.MtftpCalls();
  ASSERT_EQ(Calls.size(), 1u);
  EXPECT_EQ(Calls[0]->Filename, "zz99yy88.4");
  EXPECT_EQ(Calls[0]->ServerIpBytes[0], 192);
  EXPECT_EQ(Calls[0]->ServerIpBytes[3], 1);
}

TEST_F(NumberedFileTest, FirmwareThatWritesTheBlockSizeBackChangesNoLaterRead) {
  Pxe.NegotiatedBlockSize = 1468;
  ServeFile("abcd1234.2", "two");
  FetchFor();
  for (int Round = 0; Round < 2; Round++) {
    UINTN Size = 3;
    std::vector<char> File(Size);
    ASSERT_EQ(Service->FetchNumberedFile(Service, 2, File.data(), &Size), EFI_SUCCESS);
  }
  ASSERT_EQ(Fetch("abcd1234"), EFI_SUCCESS);
  for (const MtftpArguments *Call : Pxe.MtftpCalls()) {
    if (Call->Operation == EFI_PXE_BASE_CODE_TFTP_READ_FILE) {
      EXPECT_EQ(Call->BlockSizeValue, 64512u) << Call->Filename;
    }
  }
}

TEST_F(NumberedFileTest, WholeCallerSequenceLeavesNothingBehind) {
  ServeConfiguration("; two machines\n[ABCD1234]\n0 = \"boot image one\"\n1 logo.bmp\n2=setup\n[EF56GH78]\n0 x\n");
  ServeFile("abcd1234.1", std::string(70000, 'L'));
  ASSERT_EQ(Fetch("abcd1234"), EFI_SUCCESS);
  ASSERT_EQ(Service->GetEntryCount(Service), 3u);
  const std::u16string Expected[] = {u"\"boot image one\"", u"logo.bmp", u"setup"};
  for (UINTN Index = 0; Index < 3; Index++) {
    std::u16string Value;
    EXPECT_TRUE(Entry(Index, &Value));
    EXPECT_EQ(Value, Expected[Index]);
  }
  UINTN Size = 0;
  ASSERT_EQ(Service->FetchNumberedFile(Service, 1, nullptr, &Size), EFI_OUT_OF_RESOURCES);
  std::vector<char> File(Size);
  ASSERT_EQ(Service->FetchNumberedFile(Service, 1, File.data(), &Size), EFI_SUCCESS);
  EXPECT_EQ(std::string(File.begin(), File.end()), std::string(70000, 'L'));
  ASSERT_EQ(Service->ReleaseConfiguration(Service), EFI_SUCCESS);
  EXPECT_EQ(Firmware->LiveBlockCount(), 0u);
  ASSERT_EQ(Fetch("ef56gh78"), EFI_SUCCESS);
  EXPECT_EQ(Service->GetEntryCount(Service), 1u);
}

} // namespace
