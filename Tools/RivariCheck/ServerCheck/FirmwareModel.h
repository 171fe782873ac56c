/*
 * What OVMF's TFTP does for the driver, read from the table of firmware
 * facts (FirmwareFacts.json, generated into FirmwareFacts.h and
 * FirmwareAnswers.inc at build time): the options of each request as it
 * sends them, how long it waits and how often it sends again, the status
 * it returns for each thing a server can do, and the pool a fetch takes.
 * The server check sends these requests, waits this long and reads its
 * verdicts from this table; the firmware scenarios measure the rows that
 * name one.
 */
#ifndef TOLVANE_TOOLS_FIRMWARE_MODEL_H
#define TOLVANE_TOOLS_FIRMWARE_MODEL_H

#include <chrono>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "FirmwareFacts.h"
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

struct FirmwareAnswerRow {
  FirmwareRequest Request;
  ServerBehaviour Behaviour;
  uint64_t Status;      // what Mtftp returns
  const char *Fault;    // the hostile test server's fault that makes a server behave so
  const char *Server;   // or the real server (with its arguments) that does; both null when neither does
  const char *Scenario; // the firmware scenario that measured the status; null: not measured in OVMF
  const char *Assumed;  // why the status is assumed, when no scenario measured it
};

/* Every row of the model. */
std::span<const FirmwareAnswerRow> FirmwareAnswers();

/* A request as OVMF sent it, from the capture of a firmware scenario's boot (the UDP payload, in hex). */
struct CapturedRequest {
  FirmwareRequest Request;
  const char *FileName;
  const char *Hex;
};

std::span<const CapturedRequest> CapturedRequests();

/* The behaviour's name in JSON: "options-without-size". */
const char *BehaviourName(ServerBehaviour Behaviour);

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
