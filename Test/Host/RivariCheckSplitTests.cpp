/*
 * rivari-check split gives every client the driver's own answers: for a
 * table of tricky files, the driver on the firmware double answers the same
 * from the client's file as from the whole file, and the split reports
 * the machines a person should look at. And the split stays inside its
 * output folder.
 */
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <random>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "Double/ServiceCaller.h"
#include "MachineSplit.h"
#include "RivariCheckFleetFiles.h"
#include "SplitRun.h"

namespace {

using RivariCheck::MachineSplit;

std::vector<uint8_t> Bytes(const std::string &Text) { return std::vector<uint8_t>(Text.begin(), Text.end()); }

std::vector<uint8_t> Utf16Text(const std::u16string &Text, bool WithBom) { return Bytes(Utf16Bytes(Text, WithBom)); }

struct SplitRow {
  const char *Behaviour;
  std::vector<uint8_t> Text;
  std::vector<std::string> Reasons; // codes, in order
};

std::vector<SplitRow> SplitRows() {
  return {
      {"plain section between two others", Bytes("[EF56GH78]\n0 x\n[AB12CD34]\n0 a\n1 \"b c\"\n[C0FFEE42]\n0 y\n"), {}},
      {"crlf and trailing comments", Bytes("[AB12CD34]\r\n0 a\r\n; note\r\n\r\n2=c;x\r\n# end\r\n"), {}},
      {"utf16 with a bom carries its encoding",
       Utf16Text(u"[EF56GH78]\r\n0 x\r\n[AB12CD34]\r\n0 \"a\r\n1 b\r\n", true),
       {}},
      {"utf16 without a bom carries its encoding", Utf16Text(u"[AB12CD34]\n0 a\n1 \xD83D\xDE00\n", false), {}},
      {"utf8 bom with high bytes carries its encoding",
       Bytes("\xEF\xBB\xBF[AB12CD34]\n0 \xC3\xA9t\xC3\xA9\n1 b\n"),
       {}},
      {"quoted break on the header line hides entry 0", Bytes("[AB12CD34] \"x\n0 a\"\n1 b\n"), {}},
      {"quoted break inside the section joins lines", Bytes("[AB12CD34]\n0 \"a\n1 b\"\n2 c\n[EF56GH78]\n"), {}},
      {"header swallowed by an earlier open quote",
       Bytes("[EF56GH78]\n0 \"unclosed ; comment\n[AB12CD34]\n0 a\n"),
       {"header-swallowed"}},
      {"section missing", Bytes("[EF56GH78]\n0 x\n"), {"section-missing"}},
      {"duplicate header: the first section counts",
       Bytes("[AB12CD34]\n0 first\n[AB12CD34]\n0 second\n1 more\n"),
       {"duplicate-header"}},
      {"tokens before the first header", Bytes("0 default\n[AB12CD34]\n1 b\n"), {"before-first-header"}},
      {"comments before the first header are fine", Bytes("; fleet\n\n[AB12CD34]\n0 a\n"), {}},
      {"empty section", Bytes("[AB12CD34]\n[EF56GH78]\n0 x\n"), {}},
  };
}

class SplitAgreesWithDriver : public ServiceCallerTest {
protected:
  /* What the driver answers from Text: the fetch, the count and entries -3 to 12 with their values. */
  std::vector<std::u16string> DriverAnswers(const std::vector<uint8_t> &Text, const std::string &Identifier) {
    ServeConfiguration(std::string(Text.begin(), Text.end()));
    std::vector<std::u16string> Answers;
    const EFI_STATUS Status = Fetch(Identifier);
    Answers.push_back(u"fetch " + std::u16string(1, static_cast<char16_t>(Status & 0xFF)));
    if (Status != EFI_SUCCESS) {
      return Answers;
    }
    Answers.push_back(u"count " + std::u16string(1, static_cast<char16_t>(Service->GetEntryCount(Service))));
    for (INTN Index = -3; Index <= 12; Index++) {
      std::u16string Value;
      const bool Found = Entry(static_cast<UINTN>(Index), &Value);
      Answers.push_back(Found ? Value : u"<none>");
    }
    EXPECT_EQ(Service->ReleaseConfiguration(Service), EFI_SUCCESS);
    return Answers;
  }
};

TEST_F(SplitAgreesWithDriver, TrickyFilesGiveTheSameAnswersAndTheirReasons) {
  for (const SplitRow &Row : SplitRows()) {
    SCOPED_TRACE(Row.Behaviour);
    RivariCheck::FleetText Fleet = RivariCheck::ReadFleetText(Row.Text);
    const MachineSplit Split = RivariCheck::SplitMachine(Fleet, "ab12cd34");
    std::vector<std::string> Codes;
    for (const RivariCheck::SplitReason &Reason : Split.Reasons) {
      Codes.push_back(Reason.Code);
    }
    EXPECT_EQ(Codes, Row.Reasons);
    EXPECT_TRUE(Split.Equivalent);
    EXPECT_EQ(DriverAnswers(Split.Client, "ab12cd34"), DriverAnswers(Row.Text, "ab12cd34"));
  }
}

/* docs/Format.md's quote rule, on the driver: lines with an even number of quotes keep a joined line open. */
TEST_F(SplitAgreesWithDriver, StrayQuoteSwallowsSectionsUpToTheNextLineWithAnOddNumberOfQuotes) {
  std::ifstream Stream(std::string(RIVARI_CHECK_CASES) + "/stray-quote.ini", std::ios::binary);
  const std::vector<uint8_t> File((std::istreambuf_iterator<char>(Stream)), std::istreambuf_iterator<char>());
  ASSERT_FALSE(File.empty());
  // A swallowed section answers as a section the file does not have.
  const std::vector<std::u16string> Missing = DriverAnswers(Bytes("[C0FFEE42]\n0 x\n"), "AB12CD34");
  ASSERT_EQ(Missing.size(), 1u);
  EXPECT_EQ(DriverAnswers(File, "AB12CD34"), Missing);
  EXPECT_EQ(DriverAnswers(File, "EF56AB78"), Missing);
  const std::vector<std::u16string> Found = DriverAnswers(File, "C0FFEE42");
  ASSERT_GE(Found.size(), 6u);
  EXPECT_EQ(Found[0], u"fetch " + std::u16string(1, u'\0'));
  EXPECT_EQ(Found[5], u"\"Stores\""); // entries -3 to -1 come first
}

/* How many generated fleet files the one-pass differential suite checks. */
constexpr unsigned GeneratedFleets = 3000;

TEST_F(SplitAgreesWithDriver, OnePassGivesThePerMachineLookupsAnswersOnGeneratedFleets) {
  std::mt19937 Random(27);
  size_t Found = 0;
  size_t Swallowed = 0;
  size_t Duplicated = 0;
  for (unsigned Fleet = 0; Fleet < GeneratedFleets; Fleet++) {
    std::vector<uint8_t> Choices(1 + Random() % 400);
    for (uint8_t &Choice : Choices) {
      Choice = static_cast<uint8_t>(Random());
    }
    const std::vector<uint8_t> File = FleetFiles::GenerateFleet(Choices.data(), Choices.size());
    RivariCheck::FleetText Pass = RivariCheck::ReadFleetText(File);
    for (const std::string &Identifier : FleetFiles::Identifiers()) {
      const MachineSplit Split = RivariCheck::SplitMachine(Pass, Identifier);
      const RivariCheck::MachineAnswers Whole = RivariCheck::AnswersFor(File, Split.Header);
      ASSERT_EQ(Split.Answers.SectionFound, Whole.SectionFound) << "fleet " << Fleet << ", " << Identifier;
      ASSERT_EQ(Split.Answers.Count, Whole.Count) << "fleet " << Fleet << ", " << Identifier;
      ASSERT_EQ(Split.Answers.Values, Whole.Values) << "fleet " << Fleet << ", " << Identifier;
      ASSERT_TRUE(Split.Equivalent) << "fleet " << Fleet << ", " << Identifier;
      for (const RivariCheck::SplitReason &Reason : Split.Reasons) {
        Swallowed += Reason.Code == "header-swallowed";
        Duplicated += Reason.Code == "duplicate-header";
      }
      Found += Whole.SectionFound;
    }
  }
  // The generated files reach every case the pass tells apart.
  EXPECT_GT(Found, GeneratedFleets);
  EXPECT_GT(Swallowed, GeneratedFleets / 10);
  EXPECT_GT(Duplicated, GeneratedFleets / 10);
}

/* A folder of its own under the test's temporary folder, removed at the end. */
class SplitOutputFolder : public ServiceCallerTest {
protected:
  void SetUp() override {
    ServiceCallerTest::SetUp();
    Root = std::filesystem::temp_directory_path() / ("rivari-split-" + std::to_string(getpid()) + "-" +
                                                     ::testing::UnitTest::GetInstance()->current_test_info()->name());
    std::filesystem::remove_all(Root);
    std::filesystem::create_directories(Root / "source");
    std::filesystem::create_directories(Root / "outside");
    Write(Root / "source" / "rivari.ini", "[AB12CD34]\n0 a\n[EF56AB78]\n0 b\n");
    Write(Root / "source" / "AB12CD34.0", "file zero");
    Write(Root / "outside" / "rivari.ini", "precious");
    Write(Root / "map.csv", "AB12CD34,10.0.2.15\nEF56AB78,10.0.2.16\n");
    Request.FilePath = (Root / "source" / "rivari.ini").string();
    Request.MapPath = (Root / "map.csv").string();
    Request.OutPath = (Root / "out").string();
  }
  void TearDown() override {
    std::filesystem::remove_all(Root);
    ServiceCallerTest::TearDown();
  }
  static void Write(const std::filesystem::path &Path, const std::string &Text) { std::ofstream(Path) << Text; }
  static std::string Read(const std::filesystem::path &Path) {
    std::ifstream Stream(Path);
    return std::string(std::istreambuf_iterator<char>(Stream), std::istreambuf_iterator<char>());
  }
  /* Every path of the output folder with what it holds, and the manifest beside it: the tree as a server sees it. */
  std::map<std::string, std::string> Snapshot() const {
    std::map<std::string, std::string> Tree;
    std::error_code Failure;
    for (auto Item = std::filesystem::recursive_directory_iterator(Root / "out", Failure);
         Item != std::filesystem::recursive_directory_iterator(); Item.increment(Failure)) {
      const std::string Relative = std::filesystem::relative(Item->path(), Root / "out").string();
      Tree[Relative] = Item->is_symlink()     ? "link to " + std::filesystem::read_symlink(Item->path()).string()
                       : Item->is_directory() ? "folder"
                                              : Read(Item->path());
    }
    Tree["(manifest)"] = Read(Root / ".out.rivari-split-manifest");
    return Tree;
  }
  /* Anything the split left beside the output folder besides the folder and its manifest. */
  std::vector<std::string> LeftBeside() const {
    std::vector<std::string> Names;
    for (const auto &Item : std::filesystem::directory_iterator(Root)) {
      const std::string Name = Item.path().filename().string();
      if (Name.rfind(".out", 0) == 0 && Name != ".out.rivari-split-manifest") {
        Names.push_back(Name);
      }
    }
    return Names;
  }
  std::filesystem::path Root;
  RivariCheck::SplitRequest Request;
};

TEST_F(SplitOutputFolder, ClientFolderLinkedOutsideIsNeverWrittenThrough) {
  std::filesystem::create_directories(Root / "out");
  std::filesystem::create_directory_symlink(Root / "outside", Root / "out" / "10.0.2.15");
  for (bool Force : {false, true}) {
    Request.Force = Force;
    const RivariCheck::SplitReport Report = RivariCheck::RunSplit(Request);
    EXPECT_EQ(RivariCheck::SplitExitStatus(Report), 1);
    ASSERT_EQ(Report.Clients.size(), 2u);
    EXPECT_FALSE(Report.Clients[0].Written);
    EXPECT_TRUE(Report.Clients[1].Written);
    EXPECT_EQ(Read(Root / "outside" / "rivari.ini"), "precious");
    EXPECT_FALSE(std::filesystem::exists(Root / "outside" / "AB12CD34.0"));
  }
}

TEST_F(SplitOutputFolder, FileTheSplitDidNotMakeIsKeptUnlessForced) {
  std::filesystem::create_directories(Root / "out" / "10.0.2.16");
  Write(Root / "out" / "10.0.2.16" / "rivari.ini", "hand-made");
  RivariCheck::SplitReport Report = RivariCheck::RunSplit(Request);
  EXPECT_FALSE(Report.Clients[1].Written);
  EXPECT_EQ(Read(Root / "out" / "10.0.2.16" / "rivari.ini"), "hand-made");

  // Forced, a link in its place is replaced itself: the file it points at stays as it is.
  std::filesystem::remove(Root / "out" / "10.0.2.16" / "rivari.ini");
  std::filesystem::create_symlink(Root / "outside" / "rivari.ini", Root / "out" / "10.0.2.16" / "rivari.ini");
  Request.Force = true;
  Report = RivariCheck::RunSplit(Request);
  EXPECT_TRUE(Report.Clients[1].Written);
  EXPECT_EQ(Read(Root / "outside" / "rivari.ini"), "precious");
  EXPECT_EQ(Read(Root / "out" / "10.0.2.16" / "rivari.ini"), "[EF56AB78]\n0 b\n");
}

TEST_F(SplitOutputFolder, ManifestStaysOutsideTheServedFolder) {
  // A manifest an earlier run left inside the folder is read once, then moved out.
  std::filesystem::create_directories(Root / "out" / "10.0.2.99");
  Write(Root / "out" / "10.0.2.99" / "rivari.ini", "stale");
  Write(Root / "out" / ".rivari-split-manifest", "10.0.2.99/rivari.ini\n10.0.2.99/\n");
  ASSERT_EQ(RivariCheck::SplitExitStatus(RivariCheck::RunSplit(Request)), 0);
  EXPECT_FALSE(std::filesystem::exists(Root / "out" / "10.0.2.99"));
  EXPECT_FALSE(std::filesystem::exists(Root / "out" / ".rivari-split-manifest"));
  EXPECT_EQ(Read(Root / ".out.rivari-split-manifest"),
            "10.0.2.15/\n10.0.2.15/AB12CD34.0\n10.0.2.15/rivari.ini\n10.0.2.16/\n10.0.2.16/rivari.ini\n");
}

TEST_F(SplitOutputFolder, OutputFolderWithAMissingParentIsRefusedUnlessAsked) {
  Request.OutPath = (Root / "typo" / "out").string();
  EXPECT_EQ(RivariCheck::SplitExitStatus(RivariCheck::RunSplit(Request)), 2);
  EXPECT_FALSE(std::filesystem::exists(Root / "typo"));
  Request.Parents = true;
  EXPECT_EQ(RivariCheck::SplitExitStatus(RivariCheck::RunSplit(Request)), 0);
  EXPECT_TRUE(std::filesystem::exists(Root / "typo" / "out" / "10.0.2.16" / "rivari.ini"));
}

TEST_F(SplitOutputFolder, SecondRunRemovesOnlyStaleFilesItMade) {
  ASSERT_EQ(RivariCheck::SplitExitStatus(RivariCheck::RunSplit(Request)), 0);
  Write(Root / "out" / "10.0.2.16" / "notes.txt", "mine");
  Write(Root / "map.csv", "EF56AB78,10.0.2.16\n");
  RivariCheck::SplitReport Report = RivariCheck::RunSplit(Request);
  EXPECT_EQ(Report.Counts.Removed, 2u);
  EXPECT_EQ(Report.Counts.Unchanged, 1u);
  EXPECT_FALSE(std::filesystem::exists(Root / "out" / "10.0.2.15"));
  EXPECT_EQ(Read(Root / "out" / "10.0.2.16" / "notes.txt"), "mine");

  // A manifest edited to climb out of the folder removes nothing there.
  Write(Root / ".out.rivari-split-manifest", "../outside/rivari.ini\n10.0.2.16/../../outside/rivari.ini\n");
  Report = RivariCheck::RunSplit(Request);
  EXPECT_EQ(Read(Root / "outside" / "rivari.ini"), "precious");
}

TEST_F(SplitOutputFolder, RunThatChangesNothingLeavesTheFolderInUseWhereItIs) {
  ASSERT_EQ(RivariCheck::SplitExitStatus(RivariCheck::RunSplit(Request)), 0);
  const std::map<std::string, std::string> First = Snapshot();
  struct stat Before {};
  ASSERT_EQ(stat((Root / "out").c_str(), &Before), 0);
  RivariCheck::SplitReport Report = RivariCheck::RunSplit(Request);
  struct stat After {};
  ASSERT_EQ(stat((Root / "out").c_str(), &After), 0);
  EXPECT_EQ(After.st_ino, Before.st_ino);
  EXPECT_EQ(Report.Counts.Unchanged, 3u);
  EXPECT_EQ(Snapshot(), First);

  // A change met after unchanged clients still gives the whole tree: the files checked before it are kept.
  Write(Root / "source" / "rivari.ini", "[AB12CD34]\n0 a\n[EF56AB78]\n0 changed\n");
  Report = RivariCheck::RunSplit(Request);
  EXPECT_EQ(Report.Counts.Written, 1u);
  std::map<std::string, std::string> Expected = First;
  Expected["10.0.2.16/rivari.ini"] = "[EF56AB78]\n0 changed\n";
  EXPECT_EQ(Snapshot(), Expected);
  EXPECT_EQ(LeftBeside(), std::vector<std::string>{});
}

TEST_F(SplitOutputFolder, FoldersKeepTheirModesAndOwnersWhenTheTreeIsRebuilt) {
  ASSERT_EQ(RivariCheck::SplitExitStatus(RivariCheck::RunSplit(Request)), 0);
  // Modes an operator set for the server's user (one the creation mask would strip), read again after a rebuild.
  const std::vector<std::pair<std::filesystem::path, mode_t>> Modes = {
      {Root / "out", 0751}, {Root / "out" / "10.0.2.15", 0775}, {Root / "out" / "10.0.2.16", 0555}};
  for (const auto &[Path, Mode] : Modes) {
    ASSERT_EQ(chmod(Path.c_str(), Mode), 0);
  }
  // Run as root, owners too: the output folder and one client's folder given to the server's user, one kept.
  const bool AsRoot = geteuid() == 0;
  const std::vector<std::pair<std::filesystem::path, uid_t>> Owners = {
      {Root / "out", 65534}, {Root / "out" / "10.0.2.15", 0}, {Root / "out" / "10.0.2.16", 65534}};
  for (const auto &[Path, Owner] : Owners) {
    ASSERT_TRUE(!AsRoot || chown(Path.c_str(), Owner, Owner) == 0);
  }
  Write(Root / "source" / "rivari.ini", "[AB12CD34]\n0 changed\n[EF56AB78]\n0 b\n");
  ASSERT_EQ(RivariCheck::SplitExitStatus(RivariCheck::RunSplit(Request)), 0);
  EXPECT_EQ(Read(Root / "out" / "10.0.2.15" / "rivari.ini"), "[AB12CD34]\n0 changed\n");
  for (const auto &[Path, Mode] : Modes) {
    struct stat Status {};
    ASSERT_EQ(stat(Path.c_str(), &Status), 0);
    EXPECT_EQ(Status.st_mode & 07777, Mode) << Path;
  }
  for (const auto &[Path, Owner] : Owners) {
    struct stat Status {};
    ASSERT_EQ(stat(Path.c_str(), &Status), 0);
    EXPECT_TRUE(!AsRoot || (Status.st_uid == Owner && Status.st_gid == Owner)) << Path;
  }
  // Writable again, so that the folder can be removed by a user other than root.
  for (const auto &[Path, Mode] : Modes) {
    chmod(Path.c_str(), 0755);
  }
}

TEST_F(SplitOutputFolder, FolderInUseThatCannotBeRebuiltFailsTheRunAndStaysAsItWas) {
  ASSERT_EQ(RivariCheck::SplitExitStatus(RivariCheck::RunSplit(Request)), 0);
  ASSERT_EQ(mkfifo((Root / "out" / "10.0.2.16" / "pipe").c_str(), 0644), 0);
  Write(Root / "source" / "rivari.ini", "[AB12CD34]\n0 changed\n[EF56AB78]\n0 changed\n");
  const RivariCheck::SplitReport Report = RivariCheck::RunSplit(Request);
  EXPECT_EQ(RivariCheck::SplitExitStatus(Report), 2);
  EXPECT_NE(Report.Error.find("pipe"), std::string::npos) << Report.Error;
  EXPECT_EQ(Read(Root / "out" / "10.0.2.15" / "rivari.ini"), "[AB12CD34]\n0 a\n");
  EXPECT_EQ(Read(Root / "out" / "10.0.2.16" / "rivari.ini"), "[EF56AB78]\n0 b\n");
  EXPECT_EQ(LeftBeside(), std::vector<std::string>{});
}

TEST(SplitServerLines, TftpdHpaSettingsSayWhenTheFolderPathCannotBeCarried) {
  // Debian's start script passes TFTP_OPTIONS and TFTP_DIRECTORY unquoted: a blank splits them.
  const std::vector<std::pair<std::string, bool>> Rows = {
      {"/srv/tftp-split", false}, {"/srv/tftp split", true}, {"/srv/it's", true}, {"/srv/$HOME", true}};
  for (const auto &[Folder, Noted] : Rows) {
    const std::vector<std::string> Lines =
        RivariCheck::ServerConfigurationLines(RivariCheck::ServerKind::TftpdHpa, Folder);
    const bool Said = std::any_of(Lines.begin(), Lines.end(), [](const std::string &Line) {
      return Line.find("cannot carry") != std::string::npos;
    });
    EXPECT_EQ(Said, Noted) << Folder;
  }
}

TEST_F(SplitOutputFolder, BadMapRowsWriteNothing) {
  Write(Root / "map.csv", "AB12CD34,10.0.2.15\nAB12CD3,10.0.2.16\nEF56AB78,10.0.2.015\nEF56AB78,10.0.2.15\n");
  const RivariCheck::SplitReport Report = RivariCheck::RunSplit(Request);
  EXPECT_EQ(RivariCheck::SplitExitStatus(Report), 2);
  std::vector<uint64_t> Lines;
  for (const RivariCheck::MapError &Error : Report.MapErrors) {
    Lines.push_back(Error.Line);
  }
  EXPECT_EQ(Lines, (std::vector<uint64_t>{2, 3, 4}));
  EXPECT_FALSE(std::filesystem::exists(Root / "out"));

  // Over a tree a good map made, the refused split leaves it as it was.
  Write(Root / "map.csv", "AB12CD34,10.0.2.15\nEF56AB78,10.0.2.16\n");
  ASSERT_EQ(RivariCheck::SplitExitStatus(RivariCheck::RunSplit(Request)), 0);
  const std::map<std::string, std::string> Before = Snapshot();
  Write(Root / "source" / "rivari.ini", "[AB12CD34]\n0 changed\n[EF56AB78]\n0 changed\n");
  Write(Root / "map.csv", "AB12CD34,10.0.2.15\nAB12CD3,10.0.2.16\n");
  EXPECT_EQ(RivariCheck::SplitExitStatus(RivariCheck::RunSplit(Request)), 2);
  EXPECT_EQ(Snapshot(), Before);
  EXPECT_EQ(LeftBeside(), std::vector<std::string>{});
}

TEST_F(SplitOutputFolder, SplitFailingAfterItsClientFilesLeavesTheFolderInUseAsItWas) {
  Request.Kind = RivariCheck::ServerKind::TftpdHpa;
  ASSERT_EQ(RivariCheck::SplitExitStatus(RivariCheck::RunSplit(Request)), 0);
  // The server's map file cannot be written last: every client file of the new tree is made before that fails.
  std::filesystem::remove(Root / "out" / RivariCheck::TftpdMapFileName);
  std::filesystem::create_directory(Root / "out" / RivariCheck::TftpdMapFileName);
  const std::map<std::string, std::string> Before = Snapshot();
  Write(Root / "source" / "rivari.ini", "[AB12CD34]\n0 changed\n[EF56AB78]\n0 changed\n");
  const RivariCheck::SplitReport Report = RivariCheck::RunSplit(Request);
  EXPECT_EQ(RivariCheck::SplitExitStatus(Report), 2);
  EXPECT_FALSE(Report.Clients[0].Written);
  EXPECT_EQ(Snapshot(), Before);
  EXPECT_EQ(LeftBeside(), std::vector<std::string>{});
}

TEST_F(SplitOutputFolder, OutputFolderReachedThroughALinkIsReplacedWhereItIs) {
  std::filesystem::create_directories(Root / "served");
  std::filesystem::create_directory_symlink("served", Root / "out");
  ASSERT_EQ(RivariCheck::SplitExitStatus(RivariCheck::RunSplit(Request)), 0);
  EXPECT_TRUE(std::filesystem::is_symlink(Root / "out"));
  EXPECT_EQ(Read(Root / "served" / "10.0.2.16" / "rivari.ini"), "[EF56AB78]\n0 b\n");
}

TEST_F(SplitOutputFolder, SplitKilledMidwayLeavesThePreviousTreeByteForByte) {
  ASSERT_EQ(RivariCheck::SplitExitStatus(RivariCheck::RunSplit(Request)), 0);
  const std::map<std::string, std::string> Before = Snapshot();
  // The first client's file changes; the second's outgrows the file size the child may write, which kills it by
  // SIGXFSZ after the first client's file is written.
  constexpr rlim_t Limit = 4096;
  Write(Root / "source" / "rivari.ini", "[AB12CD34]\n0 changed\n[EF56AB78]\n0 " + std::string(2 * Limit, 'b') + "\n");
  const pid_t Child = fork();
  ASSERT_GE(Child, 0);
  if (Child == 0) {
    const rlimit Size{Limit, Limit};
    setrlimit(RLIMIT_FSIZE, &Size);
    RivariCheck::RunSplit(Request);
    _exit(0);
  }
  int Status = 0;
  ASSERT_EQ(waitpid(Child, &Status, 0), Child);
  ASSERT_TRUE(WIFSIGNALED(Status) && WTERMSIG(Status) == SIGXFSZ) << "the child was not stopped midway";
  EXPECT_EQ(Snapshot(), Before);

  // The next run clears what the killed one left and puts the new tree in place.
  ASSERT_EQ(RivariCheck::SplitExitStatus(RivariCheck::RunSplit(Request)), 0);
  EXPECT_EQ(Read(Root / "out" / "10.0.2.15" / "rivari.ini"), "[AB12CD34]\n0 changed\n");
  EXPECT_EQ(LeftBeside(), std::vector<std::string>{});
}

} // namespace
