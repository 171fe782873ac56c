/*
 * rivari-check's server verdicts agree with the driver: for each answer the
 * firmware's TFTP can give to the size query and the read, the verdict the
 * checker predicts is the status FetchConfiguration and FetchNumberedFile
 * return through the installed interface on the firmware double.
 */
#include <gtest/gtest.h>

#include <cctype>

#include "ConfigurationReport.h"
#include "Double/ServiceCaller.h"

namespace {

using FirmwareDouble::PxeOperation;
using RivariCheck::MtftpAnswer;

const std::string Configuration = "[AB12CD34]\n0 first\n";

struct VerdictCase {
  const char *Name;
  EFI_STATUS SizeQuery;
  EFI_STATUS Read;
  std::string Identifier; // the machine asked for; its section is in the file only for AB12CD34
};

const VerdictCase Cases[] = {
    {"both answered, section present", EFI_SUCCESS, EFI_SUCCESS, "AB12CD34"},
    {"both answered, section missing", EFI_SUCCESS, EFI_SUCCESS, "EF56AB78"},
    {"size query got an error packet", EFI_TFTP_ERROR, EFI_SUCCESS, "AB12CD34"},
    {"size query got data instead of a size", EFI_PROTOCOL_ERROR, EFI_SUCCESS, "AB12CD34"},
    {"size query unanswered", EFI_TIMEOUT, EFI_SUCCESS, "AB12CD34"},
    {"read larger than the size answered", EFI_SUCCESS, EFI_BUFFER_TOO_SMALL, "AB12CD34"},
    {"read got an error packet", EFI_SUCCESS, EFI_TFTP_ERROR, "AB12CD34"},
    {"read went silent", EFI_SUCCESS, EFI_TIMEOUT, "AB12CD34"},
};

MtftpAnswer Answer(EFI_STATUS Status, uint64_t Size) { return {Status, EFI_ERROR(Status) ? 0 : Size, "reason"}; }

class ServerVerdictAgreementTest : public ServiceCallerTest, public ::testing::WithParamInterface<VerdictCase> {};

TEST_P(ServerVerdictAgreementTest, FetchVerdictIsWhatFetchConfigurationReturns) {
  const VerdictCase &Case = GetParam();
  ServeConfiguration(Configuration);
  Pxe.InjectStatus(PxeOperation::Mtftp, Case.SizeQuery);
  Pxe.InjectStatus(PxeOperation::Mtftp, Case.Read);
  const EFI_STATUS Driver = Fetch(Case.Identifier);

  RivariCheck::ReportRequest Request;
  Request.Identifier = Case.Identifier;
  const std::vector<uint8_t> Text(Configuration.begin(), Configuration.end());
  const bool Found = RivariCheck::AnalyzeConfiguration("rivari.ini", Text, Request).Machine->SectionFound;
  const RivariCheck::DriverVerdict Verdict =
      RivariCheck::FetchVerdict(Answer(Case.SizeQuery, Text.size()), Answer(Case.Read, Text.size()), Found);
  EXPECT_EQ(Verdict.Status, Driver);
  EXPECT_EQ(Verdict.Succeeds, Driver == EFI_SUCCESS);
  // A step status and a read's status can be the same value; the verdict tells which it is.
  EXPECT_EQ(Verdict.Step.has_value(), Driver == ENCODE_ERROR(4) || (Driver == ENCODE_ERROR(5) && !Found));
}

TEST_P(ServerVerdictAgreementTest, NumberedFileVerdictIsWhatASizedDownloadReturns) {
  const VerdictCase &Case = GetParam();
  ServeConfiguration(Configuration);
  ServeFile("AB12CD34.3", "numbered file three");
  ASSERT_EQ(Fetch("AB12CD34"), EFI_SUCCESS);
  // The caller asks for the size, then reads into a buffer of that size: a size query, then another and the read.
  Pxe.InjectStatus(PxeOperation::Mtftp, Case.SizeQuery);
  UINTN Size = 0;
  EFI_STATUS Driver = Service->FetchNumberedFile(Service, 3, nullptr, &Size);
  std::vector<uint8_t> Buffer(Size);
  if (Driver == EFI_OUT_OF_RESOURCES) {
    Pxe.InjectStatus(PxeOperation::Mtftp, Case.SizeQuery);
    Pxe.InjectStatus(PxeOperation::Mtftp, Case.Read);
    Driver = Service->FetchNumberedFile(Service, 3, Buffer.data(), &Size);
  }
  const RivariCheck::DriverVerdict Verdict =
      RivariCheck::NumberedFileVerdict(Answer(Case.SizeQuery, 19), Answer(Case.Read, 19));
  EXPECT_EQ(Verdict.Status, Driver);
  EXPECT_EQ(Verdict.Succeeds, Driver == EFI_SUCCESS);
}

INSTANTIATE_TEST_SUITE_P(FirmwareAnswers, ServerVerdictAgreementTest, ::testing::ValuesIn(Cases),
                         [](const ::testing::TestParamInfo<VerdictCase> &Info) {
                           std::string Name = Info.param.Name;
                           for (char &Character : Name) {
                             Character = std::isalnum(static_cast<unsigned char>(Character)) ? Character : '_';
                           }
                           return Name;
                         });

} // namespace
