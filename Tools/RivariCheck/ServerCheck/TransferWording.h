/*
 * How a transfer ended and what a server did, in a few words for people.
 * Text that came from the server (an error message, an option) is shown
 * escaped: printable ASCII as it stands, every other byte as \xHH, so no
 * server can write to the terminal.
 */
#ifndef TOLVANE_TOOLS_TRANSFER_WORDING_H
#define TOLVANE_TOOLS_TRANSFER_WORDING_H

#include <string>

#include "FirmwareModel.h"
#include "TftpClient.h"

namespace RivariCheck {

/* "<n> bytes received", "no answer", "error 1 \"File not found\"": how a transfer ended. */
std::string DescribeTransferEnd(const TransferResult &Result);

/* Why the firmware fails on a server that behaved so; Capacity is the read's buffer. */
std::string DescribeBehaviour(ServerBehaviour Behaviour, const TransferResult &Result, uint64_t Capacity);

/* A note on a path problem (a stall after progress, resends), or nothing when the transfer had none. */
std::string PathProblemNote(const std::string &FileName, const TransferResult &Result);

/* A note on blocks larger than an Ethernet frame carries (fragments per block), or nothing. */
std::string FragmentNote(uint32_t BlockSize);

} // namespace RivariCheck

#endif
