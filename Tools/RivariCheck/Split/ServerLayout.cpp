/* The TFTP servers' ways of giving each client a file of its own. */
#include "ServerLayout.h"

#include "Protocol/TolvaneService.h"

namespace RivariCheck {

std::optional<ServerKind> ServerKindNamed(const std::string &Name) {
  for (ServerKind Kind : ServerKinds) {
    if (Name == ServerKindName(Kind)) {
      return Kind;
    }
  }
  return std::nullopt;
}

const char *ServerKindName(ServerKind Kind) {
  switch (Kind) {
  case ServerKind::DnsmasqIp:
    return "dnsmasq-ip";
  case ServerKind::DnsmasqMac:
    return "dnsmasq-mac";
  case ServerKind::TftpdHpa:
    return "tftpd-hpa";
  }
  return ""; // every enumerator has its case above: the compiler names one added without
}

AddressKind ClientAddressKind(ServerKind Kind) {
  return Kind == ServerKind::DnsmasqMac ? AddressKind::Mac : AddressKind::Ipv4;
}

std::string ClientConfigurationPath(ServerKind, const std::string &Address) {
  return Address + "/" + TOLVANE_CONFIGURATION_FILE_NAME;
}

std::string ClientNumberedFilePath(ServerKind Kind, const std::string &Address, const std::string &Name) {
  // dnsmasq serves a client only from its own folder once that exists; tftpd-hpa maps rivari.ini alone.
  return Kind == ServerKind::TftpdHpa ? Name : Address + "/" + Name;
}

std::string ServerMapFile(ServerKind Kind) {
  if (Kind != ServerKind::TftpdHpa) {
    return "";
  }
  return "# rivari.ini of each client from the folder named by its IP address (made by rivari-check split)\n"
         "r ^/?rivari\\.ini$ \\i/rivari.ini\n";
}

std::vector<std::string> ServerConfigurationLines(ServerKind Kind, const std::string &OutFolder) {
  switch (Kind) {
  case ServerKind::DnsmasqIp:
  case ServerKind::DnsmasqMac:
    // Without a boot file in its offer the firmware ignores the DHCP server, and every fetch fails at step 2.
    return {"enable-tftp", "tftp-root=" + OutFolder,
            std::string("tftp-unique-root=") + (Kind == ServerKind::DnsmasqIp ? "ip" : "mac"),
            std::string("dhcp-boot=") + TOLVANE_CONFIGURATION_FILE_NAME};
  case ServerKind::TftpdHpa:
    break;
  }
  std::vector<std::string> Lines = {"TFTP_DIRECTORY=\"" + OutFolder + "\"",
                                    "TFTP_OPTIONS=\"--secure --map-file " + OutFolder + "/" + TftpdMapFileName + "\"",
                                    std::string("# and the DHCP server offers the boot file ") +
                                        TOLVANE_CONFIGURATION_FILE_NAME +
                                        " (dnsmasq: dhcp-boot=" + TOLVANE_CONFIGURATION_FILE_NAME +
                                        "; ISC dhcpd: filename \"" + TOLVANE_CONFIGURATION_FILE_NAME + "\";)"};
  // The package's start script passes both settings unquoted: the shell splits them at blanks.
  if (OutFolder.find_first_of(" \t\"'$`\\") != std::string::npos) {
    Lines.push_back("# the folder's path holds a blank or a quote, which tftpd-hpa's settings cannot carry (its start "
                    "script splits them at blanks): serve the tree from a path without one, such as a link to it");
  }
  return Lines;
}

} // namespace RivariCheck
