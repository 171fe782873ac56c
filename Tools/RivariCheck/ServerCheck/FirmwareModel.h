/*
 * What OVMF's TFTP does for the driver, in one place: the options of each
 * request as it sends them, how long it waits and how often it sends
 * again, the status it returns for each thing a server can do, and the
 * pool a fetch takes. The server check sends these requests, waits this
 * long and reads its verdicts from this table; the firmware scenarios
 * measure the rows that name one.
 */
#ifndef TOLVANE_TOOLS_FIRMWARE_MODEL_H
#define TOLVANE_TOOLS_FIRMWARE_MODEL_H

#include <chrono>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "Protocol/TolvaneService.h"
#include "TftpClient.h"

namespace RivariCheck {

/* The block size every read of the driver asks for. */
constexpr uint32_t DriverBlockSize = TOLVANE_TFTP_BLOCK_SIZE;

/* The two transfers behind every fetch: Mtftp GET_FILE_SIZE, then READ_FILE into a buffer of the answered size. */
enum class FirmwareRequest { SizeQuery, Read };

struct FirmwareOption {
  const char *Name;
  const char *Value;
};

/* The options of Request, in the order and the spelling OVMF puts them in its read request. */
std::span<const FirmwareOption> FirmwareOptions(FirmwareRequest Request);

/* The same as TFTP options, for the client. */
std::vector<TftpOption> FirmwareTftpOptions(FirmwareRequest Request);

/* The request packet OVMF sends for FileName, byte for byte. */
std::vector<uint8_t> FirmwareRequestPacket(FirmwareRequest Request, const std::string &FileName);

/* OVMF sends each request and each acknowledgement up to this many times, this far apart, then gives up. */
constexpr uint32_t FirmwareSends = 6;
constexpr std::chrono::milliseconds FirmwareResendInterval{4000};
/* The longest silence a transfer survives: every send waited out. */
constexpr std::chrono::milliseconds FirmwarePatience = FirmwareSends * FirmwareResendInterval;

/* The most boot-services pool the check assumes a fetch can have: half the 512 MiB of the test bed's machine. */
constexpr uint64_t FirmwarePoolLimit = 256ull << 20;

/* What a server did with one request, as the firmware tells the cases apart. */
enum class ServerBehaviour {
  Answered,           // size query: a size in the option acknowledgement; read: the file, within the buffer
  MoreThanAnswered,   // read: more bytes than the size answer (the buffer)
  BlockSizeIgnored,   // read: options acknowledged without blksize, 512-byte blocks
  DataAtOnce,         // data at once: every option ignored
  OptionsWithoutSize, // size query: options acknowledged without tsize
  ErrorPacket,        // an error packet (no such file, an option refused, ...)
  Silent,             // nothing, or nothing more, for the firmware's whole patience
  MalformedPacket,    // a packet too short or without its final NUL
  UnknownOpcode,      // an opcode TFTP does not have
  UnexpectedPacket,   // a TFTP packet where none of its kind can come
  OptionOutOfRange,   // an acknowledged value out of range (a block size or window above the one asked for)
};

struct FirmwareAnswerRow {
  FirmwareRequest Request;
  ServerBehaviour Behaviour;
  uint64_t Status;      // what Mtftp returns
  const char *Fault;    // the hostile test server's fault that makes a server behave so
  const char *Scenario; // the firmware scenario that measured the status; null: not measured in OVMF
};

/* Every row of the model. */
std::span<const FirmwareAnswerRow> FirmwareAnswers();

/* The row for Behaviour on Request (every pair has one). */
const FirmwareAnswerRow &FirmwareAnswerFor(FirmwareRequest Request, ServerBehaviour Behaviour);

/*
 * What the server did, read from how the client's transfer went; none
 * when the transfer cannot tell (the check could not send, stopped at its
 * own size cap, or waited less than the firmware would). Capacity is the
 * read's buffer, the size answered.
 */
std::optional<ServerBehaviour> ObservedBehaviour(FirmwareRequest Request, const TransferResult &Result,
                                                 uint64_t Capacity);

/* The client's request with the firmware's options and schedule; MostSilence shortens the wait when set. */
TransferRequest FirmwareTransfer(FirmwareRequest Request, const std::string &FileName,
                                 std::optional<std::chrono::milliseconds> MostSilence);

} // namespace RivariCheck

#endif
