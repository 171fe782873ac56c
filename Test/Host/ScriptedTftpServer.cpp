/* Scripted TFTP servers and the link they answer through, for the TFTP client's and the server check's tests. */
#include "ScriptedTftpServer.h"

#include <algorithm>
#include <memory>

namespace ScriptedTftp {

Bytes Word(uint16_t Value) { return {static_cast<uint8_t>(Value >> 8), static_cast<uint8_t>(Value)}; }

Bytes Join(std::initializer_list<Bytes> Parts) {
  Bytes Out;
  for (const Bytes &Part : Parts) {
    Out.insert(Out.end(), Part.begin(), Part.end());
  }
  return Out;
}

Bytes Text(const std::string &Value) { return Bytes(Value.begin(), Value.end() + 1); }
Bytes Data(uint16_t Block, const Bytes &Payload) { return Join({Word(3), Word(Block), Payload}); }
Bytes Error(uint16_t Code, const std::string &Message) { return Join({Word(5), Word(Code), Text(Message)}); }

Bytes Oack(const std::vector<TftpOption> &Options) {
  Bytes Out = Word(6);
  for (const TftpOption &Option : Options) {
    Out = Join({Out, Text(Option.first), Text(Option.second)});
  }
  return Out;
}

Bytes Pattern(size_t Size) {
  Bytes Out(Size);
  for (size_t Index = 0; Index < Size; Index++) {
    Out[Index] = static_cast<uint8_t>(Index * 7 + Index / 251);
  }
  return Out;
}

bool ScriptedLink::Send(const Endpoint &To, const Bytes &Packet, std::string &) {
  Sent.push_back({To, Packet});
  for (Datagram &Reply : Answer(To, RivariCheck::ParseTftpPacket(Packet))) {
    Pending.push_back(std::move(Reply));
  }
  return true;
}

std::optional<Datagram> ScriptedLink::Receive(RivariCheck::LinkClock::time_point Deadline) {
  if (Pending.empty() || Clock + PacketTime > Deadline) {
    Clock = std::max(Clock, Deadline);
    return std::nullopt;
  }
  Clock += PacketTime;
  Datagram Next = std::move(Pending.front());
  Pending.pop_front();
  return Next;
}

size_t ScriptedLink::SentCount(uint16_t Opcode) const {
  return static_cast<size_t>(std::count_if(Sent.begin(), Sent.end(), [&](const Datagram &Item) {
    return RivariCheck::ParseTftpPacket(Item.Bytes).Opcode == Opcode;
  }));
}

std::vector<Datagram> PlainBlock(uint64_t Number, Bytes Payload) {
  return {{Transfer, Data(uint16_t(Number), Payload)}};
}

ServerScript FileServer(Bytes Content, uint32_t BlockSize, std::vector<TftpOption> Options, BlockSender Block) {
  auto Last = std::make_shared<uint64_t>(0); // the last block sent
  return [=](const Endpoint &, const TftpPacket &Sent) -> std::vector<Datagram> {
    auto SendNext = [&]() {
      const uint64_t Number = ++*Last;
      const size_t Start = std::min<size_t>(Content.size(), (Number - 1) * BlockSize);
      const size_t End = std::min<size_t>(Content.size(), Start + BlockSize);
      return Block(Number, Bytes(Content.begin() + long(Start), Content.begin() + long(End)));
    };
    if (Sent.Opcode == 1) {
      return Options.empty() ? SendNext() : std::vector<Datagram>{{Transfer, Oack(Options)}};
    }
    if (Sent.Opcode == 4 && Sent.Block == uint16_t(*Last) && *Last * BlockSize <= Content.size()) {
      return SendNext();
    }
    return {};
  };
}

ServerScript WindowServer(Bytes Content, uint32_t BlockSize, uint32_t Window, std::set<uint64_t> Lose,
                          std::optional<uint16_t> LoseAcknowledgement) {
  struct State {
    std::set<uint64_t> Lose;
    std::optional<uint16_t> LoseAcknowledgement;
  };
  auto Shared = std::make_shared<State>(State{std::move(Lose), LoseAcknowledgement});
  const uint64_t Blocks = Content.size() / BlockSize + 1;
  const Bytes Options = Oack({{"blksize", std::to_string(BlockSize)}, {"windowsize", std::to_string(Window)}});
  auto SendBlocks = [=](uint64_t First, uint64_t Last) {
    std::vector<Datagram> Out;
    for (uint64_t Number = First; Number <= std::min(Last, Blocks); Number++) {
      if (Shared->Lose.erase(Number) != 0) {
        continue;
      }
      const size_t Start = (Number - 1) * BlockSize;
      const size_t End = std::min<size_t>(Content.size(), Start + BlockSize);
      Out.push_back(
          {Transfer, Data(uint16_t(Number), Bytes(Content.begin() + long(Start), Content.begin() + long(End)))});
    }
    return Out;
  };
  return [=](const Endpoint &, const TftpPacket &Sent) -> std::vector<Datagram> {
    if (Sent.Opcode == 1) {
      return {{Transfer, Options}};
    }
    if (Sent.Opcode != 4) {
      return {};
    }
    if (Shared->LoseAcknowledgement == Sent.Block) {
      Shared->LoseAcknowledgement.reset();
      // The server's own timeout: what it sent before this acknowledgement, again.
      return Sent.Block == 0 ? std::vector<Datagram>{{Transfer, Options}}
                             : SendBlocks(Sent.Block > Window ? Sent.Block - Window + 1 : 1, Sent.Block);
    }
    return SendBlocks(uint64_t(Sent.Block) + 1, uint64_t(Sent.Block) + Window);
  };
}

ServerScript TreeServer(std::map<std::string, Bytes> Files, std::string ErrorMessage) {
  auto Inner = std::make_shared<ServerScript>();
  return [=](const Endpoint &To, const TftpPacket &Sent) -> std::vector<Datagram> {
    if (Sent.Opcode == 1) {
      const auto File = Files.find(Sent.FileName);
      if (File == Files.end()) {
        return {{Transfer, Error(1, ErrorMessage)}};
      }
      std::vector<TftpOption> Agreed;
      for (const TftpOption &Option : Sent.Options) {
        if (Option.first == "tsize") {
          Agreed.emplace_back("tsize", std::to_string(File->second.size()));
        } else if (Option.first == "blksize") {
          Agreed.emplace_back("blksize", "512");
        }
      }
      *Inner = FileServer(File->second, 512, Agreed);
    }
    return *Inner ? (*Inner)(To, Sent) : std::vector<Datagram>{};
  };
}

ServerScript AnswerOnce(Bytes Packet) {
  return [=](const Endpoint &, const TftpPacket &Sent) {
    return Sent.Opcode == 1 ? std::vector<Datagram>{{Transfer, Packet}} : std::vector<Datagram>{};
  };
}

} // namespace ScriptedTftp

namespace ScriptedTftp {

ServerScript PortClosed() {
  return [](const Endpoint &To, const TftpPacket &) {
    Datagram Refused;
    Refused.From = To;
    Refused.PortUnreachable = true;
    return std::vector<Datagram>{Refused};
  };
}

} // namespace ScriptedTftp
