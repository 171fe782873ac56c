/*
 * Generated fleet files for the split's differential checks: headers of a
 * few machines with duplicates, blanks, lower case and trailing comments,
 * entries with quoted values, stray and unclosed double quotes that swallow
 * later headers, tokens before the first header, NUL bytes, and every
 * encoding the reader knows, all chosen by a stream of bytes.
 */
#ifndef TOLVANE_TEST_RIVARI_CHECK_FLEET_FILES_H
#define TOLVANE_TEST_RIVARI_CHECK_FLEET_FILES_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace FleetFiles {

/* The identifiers a generated file's headers are made from, and one that never has a section. */
const std::vector<std::string> &Identifiers();

/* A fleet file built from the choices in Choices (any bytes; fewer bytes make a shorter file). */
std::vector<uint8_t> GenerateFleet(const uint8_t *Choices, size_t Size);

} // namespace FleetFiles

#endif
