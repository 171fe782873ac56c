/*
 * Where each TFTP server looks for a client's own files, and the lines that
 * make it look there: dnsmasq adds the client's IP or MAC address to its
 * TFTP root as a folder (--tftp-unique-root), tftpd-hpa rewrites the name
 * rivari.ini by a map-file rule with the client's IP address (\i).
 */
#ifndef TOLVANE_TOOLS_SPLIT_SERVER_LAYOUT_H
#define TOLVANE_TOOLS_SPLIT_SERVER_LAYOUT_H

#include <optional>
#include <string>
#include <vector>

#include "ClientMap.h"

namespace RivariCheck {

enum class ServerKind { DnsmasqIp, DnsmasqMac, TftpdHpa };

/* Every server kind, the default first: the names --for accepts come from here. */
inline constexpr ServerKind ServerKinds[] = {ServerKind::DnsmasqIp, ServerKind::DnsmasqMac, ServerKind::TftpdHpa};

/* The map-file's name inside the output folder (tftpd-hpa). */
inline constexpr const char *TftpdMapFileName = "tftpd-hpa.map";

/* The server of a --for name (ServerKindName of one of ServerKinds). */
std::optional<ServerKind> ServerKindNamed(const std::string &Name);

const char *ServerKindName(ServerKind Kind);

/* How Kind names a client in the map. */
AddressKind ClientAddressKind(ServerKind Kind);

/* Where the client's rivari.ini goes, relative to the output folder. */
std::string ClientConfigurationPath(ServerKind Kind, const std::string &Address);

/* Where a numbered file of the client goes, relative to the output folder. */
std::string ClientNumberedFilePath(ServerKind Kind, const std::string &Address, const std::string &Name);

/* The tftpd-hpa map file's text; empty for the other servers. */
std::string ServerMapFile(ServerKind Kind);

/* The server's configuration lines for serving the folder at OutFolder (an absolute path). */
std::vector<std::string> ServerConfigurationLines(ServerKind Kind, const std::string &OutFolder);

} // namespace RivariCheck

#endif
