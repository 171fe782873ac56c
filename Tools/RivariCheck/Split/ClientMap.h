/*
 * The map of a split: which machine identifier each client has, and the
 * address its TFTP server names it by (an IPv4 address, or a MAC address).
 * Every row is checked before anything is written; a bad row is refused
 * with its line number.
 */
#ifndef TOLVANE_TOOLS_SPLIT_CLIENT_MAP_H
#define TOLVANE_TOOLS_SPLIT_CLIENT_MAP_H

#include <cstdint>
#include <string>
#include <vector>

namespace RivariCheck {

/* How the chosen server names a client: by its IPv4 address or by its MAC address. */
enum class AddressKind { Ipv4, Mac };

/* One row of the map. */
struct ClientRow {
  uint64_t Line = 0;      // physical line of the map, from 1
  std::string Identifier; // exactly as a caller passes it to FetchConfiguration
  std::string Address;    // canonical: dotted quad without leading zeros, or aa-bb-cc-dd-ee-ff
};

/* A row that cannot be used, and why. */
struct MapError {
  uint64_t Line = 0;
  std::string Message;
};

struct ClientMap {
  std::vector<ClientRow> Rows;
  std::vector<MapError> Errors; // any error: the map is refused as a whole
};

/*
 * Reads the map text: one "identifier,address" row per line, blanks around
 * either field ignored, empty lines and lines starting with '#' skipped.
 * Addresses are of Kind; MAC addresses may be written aa:bb:cc:dd:ee:ff,
 * AA-BB-CC-DD-EE-FF, aabb.ccdd.eeff or aabbccddeeff. Two rows with the same
 * address are an error (the server would give both clients one file).
 */
ClientMap ReadClientMap(const std::string &Text, AddressKind Kind);

/* The canonical IPv4 address of Text, or an empty string when Text is not one. */
std::string CanonicalIpv4(const std::string &Text);

/* The canonical MAC address of Text (lower case, dashes), or an empty string when Text is not one. */
std::string CanonicalMac(const std::string &Text);

/* Empty when Identifier can name a section and numbered files; otherwise why not. */
std::string IdentifierProblem(const std::string &Identifier);

} // namespace RivariCheck

#endif
