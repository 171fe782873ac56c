/* Transfers and server behaviours in words, with the server's own text escaped. */
#include "TransferWording.h"

#include <cstdio>

#include "WideText.h"

namespace RivariCheck {

namespace {

/* What one Ethernet frame carries of an IPv4 packet, and what each fragment after the IP header holds. */
constexpr uint32_t EthernetMtu = 1500;
constexpr uint32_t IpHeader = 20;
constexpr uint32_t UdpHeader = 8;
constexpr uint32_t TftpDataHeader = 4;

std::string Seconds(double Value) {
  char Text[32];
  std::snprintf(Text, sizeof(Text), "%.1f s", Value);
  return Text;
}

} // namespace

std::string DescribeTransferEnd(const TransferResult &Result) {
  switch (Result.End) {
  case TransferEnd::Complete:
    return std::to_string(Result.Received) + " bytes received";
  case TransferEnd::SizeAnswered:
    return Result.SizeAnswer ? "size answered: " + std::to_string(*Result.SizeAnswer) + " bytes"
                             : "options acknowledged without a size";
  case TransferEnd::DataInsteadOfSize:
    return "no size: the server ignored the options and sent data at once";
  case TransferEnd::ServerError:
    return "error " + std::to_string(Result.ErrorCode) + " \"" + DisplayBytes(Result.ErrorMessage) + "\"";
  case TransferEnd::Timeout:
    return Result.Blocks == 0 ? std::string(Result.OptionsAcknowledged ? "no data after the options" : "no answer")
                              : "silent after block " + std::to_string(Result.Blocks) + " (" +
                                    std::to_string(Result.Received) + " bytes)";
  case TransferEnd::BadPacket:
    return "bad packet: " + DisplayBytes(Result.Problem);
  case TransferEnd::UnknownOpcode:
  case TransferEnd::UnexpectedPacket:
    return "wrong packet: " + DisplayBytes(Result.Problem);
  case TransferEnd::BadOptions:
    return "options refused: " + DisplayBytes(Result.Problem);
  case TransferEnd::TooLarge:
    return "stopped: " + Result.Problem;
  case TransferEnd::SendFailed:
    return "cannot send: " + Result.Problem;
  case TransferEnd::PortUnreachable:
    return "port unreachable (ICMP): nothing listens there";
  }
  return "";
}

std::string DescribeBehaviour(ServerBehaviour Behaviour, const TransferResult &Result, uint64_t Capacity) {
  switch (Behaviour) {
  case ServerBehaviour::MoreThanAnswered:
    return "the server sent " + std::to_string(Result.Received) + " bytes, more than the " + std::to_string(Capacity) +
           " its size answer promised";
  case ServerBehaviour::DataAtOnce:
    return "the server ignored the size option and sent data at once";
  case ServerBehaviour::OptionsWithoutSize:
    return "the server acknowledged the options without a size";
  case ServerBehaviour::ErrorPacket:
    return "the server answered " + DescribeTransferEnd(Result);
  case ServerBehaviour::Silent:
    return Result.Blocks == 0 && !Result.OptionsAcknowledged
               ? "the server did not answer within the firmware's patience (" + DescribeTransferEnd(Result) + ")"
               : "the transfer stalled for longer than the firmware waits (" + DescribeTransferEnd(Result) +
                     "): a server that stopped, or a path that loses what it sends";
  case ServerBehaviour::PortUnreachable:
    return "nothing listens on the server's port: ICMP port unreachable answered the request at once";
  default:
    return DescribeTransferEnd(Result);
  }
}

std::string PathProblemNote(const std::string &FileName, const TransferResult &Result) {
  if (Result.End == TransferEnd::Timeout && Result.Blocks > 0) {
    return FileName + ": the transfer stopped after " + std::to_string(Result.Received) +
           " bytes had arrived: a path problem (packets or fragments lost on the way) as likely as a server "
           "that stopped";
  }
  if (Result.Resends != 0 && Result.End == TransferEnd::Complete) {
    return FileName + ": the transfer needed " + std::to_string(Result.Resends) +
           (Result.Resends == 1 ? " resend" : " resends") + " (longest silence " + Seconds(Result.LongestWait) +
           "): packets are lost on the path or the server is slow; the firmware waits at most " +
           std::to_string(FirmwarePatience.count() / 1000) + " s";
  }
  return "";
}

std::string FragmentNote(uint32_t BlockSize) {
  const uint32_t Packet = BlockSize + TftpDataHeader + UdpHeader;
  const uint32_t PerFragment = (EthernetMtu - IpHeader) / 8 * 8;
  if (Packet + IpHeader <= EthernetMtu) {
    return "";
  }
  const uint32_t Fragments = (Packet + PerFragment - 1) / PerFragment;
  return "blocks of " + std::to_string(BlockSize) + " bytes cross Ethernet (MTU 1500) as " + std::to_string(Fragments) +
         " IP fragments each; some network cards drop such bursts, which this check on this path cannot see "
         "(the field tool's check SERVER tells at the machine)";
}

} // namespace RivariCheck
