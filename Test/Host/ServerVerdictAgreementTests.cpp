/*
 * rivari-check's server verdicts agree with the driver: for each answer the
 * firmware's TFTP can give to the size query and the read, and for each
 * scripted server behaviour taken through the check's client and the
 * firmware model, the verdict the checker predicts is the status
 * FetchConfiguration and FetchNumberedFile return through the installed
 * interface on the firmware double.
 */
#include <gtest/gtest.h>

#include <cctype>

#include "ConfigurationReport.h"
#include "Double/FirmwareDouble.h"
#include "Double/ServiceCaller.h"
#include "DriverVerdict.h"
#include "ScriptedTftpServer.h"
#include "ServerCheck.h"
#include "ServerCheckText.h"

namespace {

using FirmwareDouble::PxeOperation;
using RivariCheck::MtftpAnswer;
using RivariCheck::ServerBehaviour;
using RivariCheck::VerdictKind;

const std::string Configuration = "[AB12CD34]\n0 first\n";
const uint64_t Unlimited = UINT64_MAX;

struct VerdictCase {
  const char *Name;
  EFI_STATUS SizeQuery;
  EFI_STATUS Read;
  std::string Identifier;    // the machine asked for; its section is in the file only for AB12CD34
  uint64_t Pool = Unlimited; // the pool the fetch can have, beside what the driver holds already
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
    {"a size answer the pool cannot hold", EFI_SUCCESS, EFI_SUCCESS, "AB12CD34", Configuration.size() - 1},
    {"a download buffer with no room for the lookup's copy", EFI_SUCCESS, EFI_SUCCESS, "AB12CD34",
     Configuration.size() + Configuration.size() / 2},
};

MtftpAnswer Answer(EFI_STATUS Status, uint64_t Size) { return {Status, EFI_ERROR(Status) ? 0 : Size, "reason", true}; }

class ServerVerdictAgreementTest : public ServiceCallerTest {
protected:
  /* FetchConfiguration with the firmware's two answers injected, and Pool bytes of pool beside what is held. */
  EFI_STATUS DriverFetch(const std::string &Identifier, EFI_STATUS SizeQuery, EFI_STATUS Read,
                         uint64_t Pool = Unlimited) {
    ServeConfiguration(Configuration);
    Pxe.InjectStatus(PxeOperation::Mtftp, SizeQuery);
    Pxe.InjectStatus(PxeOperation::Mtftp, Read);
    if (Pool != Unlimited) {
      size_t Held = 0;
      for (const auto &Block : Firmware->Blocks()) {
        Held += Block.second.Size;
      }
      Firmware->PoolCapacity = Held + Pool;
    }
    const EFI_STATUS Status = Fetch(Identifier);
    Firmware->PoolCapacity.reset();
    return Status;
  }

  /* FetchNumberedFile as a caller does it: a size query, then a read into a buffer of the answered size. */
  EFI_STATUS DriverDownload(EFI_STATUS SizeQuery, EFI_STATUS Read) {
    ServeConfiguration(Configuration);
    ServeFile("AB12CD34.3", Configuration);
    EXPECT_EQ(Fetch("AB12CD34"), EFI_SUCCESS);
    Pxe.InjectStatus(PxeOperation::Mtftp, SizeQuery);
    UINTN Size = 0;
    EFI_STATUS Status = Service->FetchNumberedFile(Service, 3, nullptr, &Size);
    std::vector<uint8_t> Buffer(Size);
    if (Status == EFI_OUT_OF_RESOURCES) {
      Pxe.InjectStatus(PxeOperation::Mtftp, SizeQuery);
      Pxe.InjectStatus(PxeOperation::Mtftp, Read);
      Status = Service->FetchNumberedFile(Service, 3, Buffer.data(), &Size);
    }
    return Status;
  }
};

class FirmwareAnswerAgreementTest : public ServerVerdictAgreementTest,
                                    public ::testing::WithParamInterface<VerdictCase> {};

TEST_P(FirmwareAnswerAgreementTest, FetchVerdictIsWhatFetchConfigurationReturns) {
  const VerdictCase &Case = GetParam();
  const EFI_STATUS Driver = DriverFetch(Case.Identifier, Case.SizeQuery, Case.Read, Case.Pool);

  RivariCheck::ReportRequest Request;
  Request.Identifier = Case.Identifier;
  const std::vector<uint8_t> Text(Configuration.begin(), Configuration.end());
  const bool Found = RivariCheck::AnalyzeConfiguration("rivari.ini", Text, Request).Machine->SectionFound;
  const RivariCheck::DriverVerdict Verdict =
      RivariCheck::FetchVerdict(Answer(Case.SizeQuery, Text.size()), Answer(Case.Read, Text.size()), Found, Case.Pool);
  EXPECT_EQ(Verdict.Status, Driver);
  EXPECT_EQ(Verdict.Kind == VerdictKind::Succeeds, Driver == EFI_SUCCESS);
  // A step status and a read's status can be the same value; the verdict tells which it is.
  EXPECT_EQ(Verdict.Step.has_value(), Driver == ENCODE_ERROR(4) || (Driver == ENCODE_ERROR(5) && Case.Read == 0));
}

TEST_P(FirmwareAnswerAgreementTest, NumberedFileVerdictIsWhatASizedDownloadReturns) {
  const VerdictCase &Case = GetParam();
  const EFI_STATUS Driver = DriverDownload(Case.SizeQuery, Case.Read);
  const RivariCheck::DriverVerdict Verdict =
      RivariCheck::NumberedFileVerdict(Answer(Case.SizeQuery, 19), Answer(Case.Read, 19));
  EXPECT_EQ(Verdict.Status, Driver);
  EXPECT_EQ(Verdict.Kind == VerdictKind::Succeeds, Driver == EFI_SUCCESS);
}

INSTANTIATE_TEST_SUITE_P(FirmwareAnswers, FirmwareAnswerAgreementTest, ::testing::ValuesIn(Cases),
                         [](const ::testing::TestParamInfo<VerdictCase> &Info) {
                           std::string Name = Info.param.Name;
                           for (char &Character : Name) {
                             Character = std::isalnum(static_cast<unsigned char>(Character)) ? Character : '_';
                           }
                           return Name;
                         });

using namespace ScriptedTftp;

/*
 * A scripted server's answer to each request: Size answers the size query,
 * Read the read (through the client's schedule as the firmware's), and the
 * behaviour the firmware tells each apart as; the statuses are the table of
 * firmware facts' for those behaviours, measured in OVMF where it says so.
 */
struct ScriptedCase {
  const char *Name;
  ServerScript Size;
  ServerScript Read;
  ServerBehaviour SizeBehaviour;
  ServerBehaviour ReadBehaviour;
  EFI_STATUS FirmwareSize() const {
    return RivariCheck::FirmwareAnswerFor(RivariCheck::FirmwareRequest::SizeQuery, SizeBehaviour).Status;
  }
  EFI_STATUS FirmwareRead() const {
    return RivariCheck::FirmwareAnswerFor(RivariCheck::FirmwareRequest::Read, ReadBehaviour).Status;
  }
};

std::vector<ScriptedCase> ScriptedCases() {
  const Bytes File(Configuration.begin(), Configuration.end());
  const auto SizeAnswer = [](uint64_t Size) { return AnswerOnce(Oack({{"tsize", std::to_string(Size)}})); };
  const ServerScript Served = WindowServer(File, 512, 4);
  using B = ServerBehaviour;
  return {
      {"a server that answers as asked", SizeAnswer(File.size()), Served, B::Answered, B::Answered},
      {"an error packet to the size query", AnswerOnce(Error(1, "File not found")), Served, B::ErrorPacket,
       B::Answered},
      {"data at once to the size query", AnswerOnce(Data(1, File)), Served, B::DataAtOnce, B::Answered},
      {"windowsize refused with error 8", AnswerOnce(Error(8, "windowsize")), AnswerOnce(Error(8, "windowsize")),
       B::ErrorPacket, B::ErrorPacket},
      {"more data than the size answered", SizeAnswer(File.size() / 2), Served, B::Answered, B::MoreThanAnswered},
      {"the read refused with error 8", SizeAnswer(File.size()), AnswerOnce(Error(8, "blksize")), B::Answered,
       B::ErrorPacket},
      {"block size not acknowledged", SizeAnswer(File.size()), FileServer(File, 512, {{"windowsize", "4"}}),
       B::Answered, B::BlockSizeIgnored},
      {"silent after the option acknowledgement", SizeAnswer(File.size()),
       AnswerOnce(Oack({{"blksize", "512"}, {"windowsize", "4"}})), B::Answered, B::Silent},
      {"the size query's options acknowledged without tsize", AnswerOnce(Oack({{"windowsize", "4"}})), Served,
       B::OptionsWithoutSize, B::Answered},
      {"an acknowledgement where the size answer belongs", AnswerOnce(Join({Word(4), Word(0)})), Served,
       B::UnexpectedPacket, B::Answered},
      {"a window of 0 acknowledged before the size", AnswerOnce(Oack({{"windowsize", "0"}, {"tsize", "19"}})), Served,
       B::OptionOutOfRange, B::Answered},
      {"a read's block size acknowledged above the one asked for", SizeAnswer(File.size()),
       AnswerOnce(Oack({{"blksize", "64513"}, {"windowsize", "4"}})), B::Answered, B::OptionOutOfRange},
      {"nothing listens on the port", PortClosed(), PortClosed(), B::PortUnreachable, B::PortUnreachable},
  };
}

class ScriptedServerAgreementTest : public ServerVerdictAgreementTest,
                                    public ::testing::WithParamInterface<ScriptedCase> {};

TEST_P(ScriptedServerAgreementTest, VerdictFromTheServersBehaviourIsWhatTheDriverReturns) {
  const ScriptedCase &Case = GetParam();
  ScriptedLink SizeLink(Case.Size);
  ScriptedLink ReadLink(Case.Read);
  const auto SizeResult = RivariCheck::RunTransfer(
      SizeLink, Server, RivariCheck::FirmwareTransfer(RivariCheck::FirmwareRequest::SizeQuery, "rivari.ini", {}));
  const MtftpAnswer Size = RivariCheck::SizeQueryAnswer(SizeResult);
  RivariCheck::TransferRequest ReadRequest =
      RivariCheck::FirmwareTransfer(RivariCheck::FirmwareRequest::Read, "rivari.ini", {});
  ReadRequest.MostBytes = 1 << 20;
  const MtftpAnswer Read = RivariCheck::ReadAnswer(RivariCheck::RunTransfer(ReadLink, Server, ReadRequest), Size.Size);

  const RivariCheck::DriverVerdict Fetch = RivariCheck::FetchVerdict(Size, Read, true);
  EXPECT_EQ(Fetch.Status, DriverFetch("AB12CD34", Case.FirmwareSize(), Case.FirmwareRead()));
}

TEST_P(ScriptedServerAgreementTest, NumberedFileVerdictFromTheServersBehaviourIsWhatTheDriverReturns) {
  const ScriptedCase &Case = GetParam();
  ScriptedLink SizeLink(Case.Size);
  ScriptedLink ReadLink(Case.Read);
  const MtftpAnswer Size = RivariCheck::SizeQueryAnswer(RivariCheck::RunTransfer(
      SizeLink, Server, RivariCheck::FirmwareTransfer(RivariCheck::FirmwareRequest::SizeQuery, "AB12CD34.3", {})));
  RivariCheck::TransferRequest ReadRequest =
      RivariCheck::FirmwareTransfer(RivariCheck::FirmwareRequest::Read, "AB12CD34.3", {});
  ReadRequest.MostBytes = 1 << 20;
  const MtftpAnswer Read = RivariCheck::ReadAnswer(RivariCheck::RunTransfer(ReadLink, Server, ReadRequest), Size.Size);
  EXPECT_EQ(RivariCheck::NumberedFileVerdict(Size, Read).Status,
            DriverDownload(Case.FirmwareSize(), Case.FirmwareRead()));
}

INSTANTIATE_TEST_SUITE_P(ScriptedServers, ScriptedServerAgreementTest, ::testing::ValuesIn(ScriptedCases()),
                         [](const ::testing::TestParamInfo<ScriptedCase> &Info) {
                           std::string Name = Info.param.Name;
                           for (char &Character : Name) {
                             Character = std::isalnum(static_cast<unsigned char>(Character)) ? Character : '_';
                           }
                           return Name;
                         });

/* The whole check against a tree of files: its exit status by the documented precedence, its notes, its text. */
struct CheckCase {
  const char *Name = "";
  std::map<std::string, Bytes> Files = {}; // none: a server that never answers
  std::string Identifier = "";
  int ExitStatus = 0;
  std::string InText = ""; // a piece the text report holds
  std::string ErrorMessage = "File not found";
  std::function<ServerScript()> Serve = nullptr; // instead of a tree of Files
  bool OverLoopback = false;
  std::string Shortfall = ""; // what each link reports it could not set up
  std::string NotInText = ""; // a piece the text report must not hold
};

Bytes Of(const std::string &Text) { return Bytes(Text.begin(), Text.end()); }

/* A server of rivari.ini alone that grants reads BlockSize-byte blocks, as a server capped by its MTU does. */
ServerScript CappedServer(uint32_t BlockSize) {
  const Bytes File = Of(Configuration);
  ServerScript Read = FileServer(File, BlockSize, {{"blksize", std::to_string(BlockSize)}});
  return [=](const Endpoint &To, const TftpPacket &Sent) mutable -> std::vector<Datagram> {
    if (Sent.Opcode == 1 && Sent.FileName != "rivari.ini") {
      return {{Transfer, Error(1, "File not found")}};
    }
    if (Sent.Opcode == 1 && !Sent.Options.empty() && Sent.Options.front().first == "tsize") {
      return {{Transfer, Oack({{"tsize", std::to_string(File.size())}})}};
    }
    return Read(To, Sent);
  };
}

TEST_F(ServerVerdictAgreementTest, ServerCheckExitStatusVerdictAndNotesFollowWhatTheServerDid) {
  const std::map<std::string, Bytes> Tree = {{"rivari.ini", Of(Configuration)}, {"AB12CD34.0", Of("file zero")}};
  const CheckCase CheckCases[] = {
      {"the fetch and file 0 succeed, file 1 is missing", Tree, "AB12CD34", 0, "Verdict: fetch would succeed"},
      {"a missing section fails the fetch at step 5, and the exit status says so", Tree, "EF56AB78", 3,
       "FetchConfiguration returns 0x8000000000000005 (step 5)"},
      {"an error to every request fails the size query at step 4", {{"other", {}}}, "AB12CD34", 3, "(step 4)"},
      {"a silence cut short by --timeout cannot be told", {}, "AB12CD34", 4, "Verdict: cannot tell"},
      {"a lower-case identifier is told which spelling the server has", Tree, "ab12cd34", 1,
       "the server has AB12CD34.0 but the driver asks for ab12cd34.0"},
      {"server text reaches the terminal escaped",
       {{"other", {}}},
       "AB12CD34",
       3,
       "error 1 \"\\x1B]0;pwned\\x07\\x1B[2J\"",
       "\x1B]0;pwned\x07\x1B[2J"},
      {.Name = "nothing listening: every request refused at once, the numbered files checked all the same",
       .Identifier = "AB12CD34",
       .ExitStatus = 3,
       .InText = "    0  AB12CD34.0",
       .Serve = PortClosed,
       .NotInText = "not checked"},
      {.Name = "over loopback a capped block size names a machine's, without the fragment note",
       .Identifier = "AB12CD34",
       .ExitStatus = 0,
       .InText = "grants a machine on Ethernet (MTU 1500) 1468-byte blocks",
       .Serve = [] { return CappedServer(2263); },
       .OverLoopback = true,
       .NotInText = "IP fragments"},
      {.Name = "over a network the same block size gets the fragment note",
       .Identifier = "AB12CD34",
       .ExitStatus = 0,
       .InText = "blocks of 2263 bytes cross Ethernet (MTU 1500) as 2 IP fragments",
       .Serve = [] { return CappedServer(2263); },
       .NotInText = "over loopback"},
      {.Name = "a receive buffer smaller than a window is noted",
       .Files = Tree,
       .Identifier = "AB12CD34",
       .ExitStatus = 0,
       .InText = "granted 1000 bytes: one window of the read (258064 bytes) may not fit",
       .Shortfall = "granted 1000 bytes"},
  };
  for (const CheckCase &Case : CheckCases) {
    SCOPED_TRACE(Case.Name);
    const RivariCheck::LinkOpener Open = [&](std::string &) -> std::unique_ptr<RivariCheck::DatagramLink> {
      auto Link = std::make_unique<ScriptedLink>(
          Case.Serve ? Case.Serve()
          : Case.Files.empty()
              ? ServerScript([](const Endpoint &, const TftpPacket &) { return std::vector<Datagram>{}; })
              : TreeServer(Case.Files, Case.ErrorMessage));
      Link->Short = Case.Shortfall;
      return Link;
    };
    RivariCheck::ServerCheckRequest Check;
    Check.Server = Server;
    Check.OverLoopback = Case.OverLoopback;
    Check.MostSilence = std::chrono::milliseconds(2000);
    RivariCheck::ReportRequest Request;
    Request.Identifier = Case.Identifier;
    const RivariCheck::ServerCheckReport Report = RivariCheck::CheckServer(Open, Check, Request);
    EXPECT_EQ(RivariCheck::ServerExitStatus(Report), Case.ExitStatus);
    const std::string Text = RivariCheck::ServerCheckAsText(Report);
    EXPECT_NE(Text.find(Case.InText), std::string::npos) << Text;
    if (!Case.NotInText.empty()) {
      EXPECT_EQ(Text.find(Case.NotInText), std::string::npos) << Text;
    }
    EXPECT_EQ(Text.find('\x1B'), std::string::npos);
  }
}

/* OVMF's read requests as the table of firmware facts holds them from a capture of the fault scenarios' boot. */
TEST(FirmwareModelTest, RequestsAreOvmfsByteForByte) {
  ASSERT_FALSE(RivariCheck::CapturedRequests().empty());
  for (const RivariCheck::CapturedRequest &Row : RivariCheck::CapturedRequests()) {
    SCOPED_TRACE(Row.FileName);
    std::string Hex;
    for (const uint8_t Byte : RivariCheck::FirmwareRequestPacket(Row.Request, Row.FileName)) {
      Hex += "0123456789abcdef"[Byte >> 4];
      Hex += "0123456789abcdef"[Byte & 15];
    }
    EXPECT_EQ(Hex, Row.Hex);
  }
}

} // namespace
