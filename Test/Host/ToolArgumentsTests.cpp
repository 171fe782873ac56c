/* The field tool's argument checks: what reaches the service, and what gets the usage text instead. */
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "ToolArguments.h"

namespace {

struct AddressRow {
  const char *Behaviour;
  std::u16string Text;
  bool Accepted;
  UINT8 Bytes[4];
};

const AddressRow AddressRows[] = {
    {"dotted quad is read byte by byte", u"10.0.2.2", true, {10, 0, 2, 2}},
    {"each field may reach 255", u"255.255.255.0", true, {255, 255, 255, 0}},
    {"three fields are not an address", u"10.0.2", false, {}},
    {"five fields are not an address", u"10.0.2.2.1", false, {}},
    {"a field above 255 is refused", u"10.0.2.256", false, {}},
    {"an empty field is refused", u"10..2.2", false, {}},
    {"a field of four digits is refused", u"10.0.2.0002", false, {}},
    {"a trailing dot is refused", u"10.0.2.2.", false, {}},
    {"a host name is not an address", u"tftp.example", false, {}},
    {"an IPv6 address is refused", u"fe80::1", false, {}},
    {"a sign is refused", u"+10.0.2.2", false, {}},
    {"a port is refused", u"10.0.2.2:69", false, {}},
    {"the empty text is refused", u"", false, {}},
};

TEST(ToolArgumentsTest, ServerAddresses) {
  for (const AddressRow &Row : AddressRows) {
    EFI_IP_ADDRESS Address;
    std::memset(&Address, 0xA5, sizeof(Address));
    EFI_IP_ADDRESS Before = Address;
    ASSERT_EQ(ParseIpv4Address(Row.Text.c_str(), &Address), Row.Accepted) << Row.Behaviour;
    if (Row.Accepted) {
      EXPECT_EQ(std::memcmp(Address.v4.Addr, Row.Bytes, 4), 0) << Row.Behaviour;
      EXPECT_EQ(Address.Addr[1] | Address.Addr[2] | Address.Addr[3], 0u) << Row.Behaviour << ": IPv6 part cleared";
    } else {
      EXPECT_EQ(std::memcmp(&Address, &Before, sizeof(Address)), 0) << Row.Behaviour << ": left untouched";
    }
  }
}

struct IdentifierRow {
  const char *Behaviour;
  std::u16string Text;
  const char *Expected; // nullptr: refused
};

const IdentifierRow IdentifierRows[] = {
    {"eight characters are the whole identifier", u"ABCD1234", "ABCD1234"},
    {"a shorter identifier is zero-filled", u"ab12", "ab12"},
    {"one character is enough", u"X", "X"},
    {"nine characters are longer than an identifier", u"ABCD12345", nullptr},
    {"the empty text is refused", u"", nullptr},
    {"a blank is refused", u"AB CD", nullptr},
    {"a character beyond ASCII is refused", u"ABC\u00e9", nullptr},
    {"a control character is refused", u"AB\tC", nullptr},
};

TEST(ToolArgumentsTest, MachineIdentifiers) {
  for (const IdentifierRow &Row : IdentifierRows) {
    CHAR8 Identifier[TOLVANE_IDENTIFIER_LENGTH + 1];
    std::memset(Identifier, 'Z', sizeof(Identifier));
    ASSERT_EQ(ParseIdentifier(Row.Text.c_str(), Identifier), Row.Expected != nullptr) << Row.Behaviour;
    if (Row.Expected != nullptr) {
      CHAR8 Expected[TOLVANE_IDENTIFIER_LENGTH + 1] = {};
      std::memcpy(Expected, Row.Expected, std::strlen(Row.Expected));
      EXPECT_EQ(std::memcmp(Identifier, Expected, sizeof(Expected)), 0) << Row.Behaviour;
    }
  }
}

struct NumberRow {
  const char *Behaviour;
  std::u16string Text;
  bool Accepted;
  UINTN Value;
};

const NumberRow NumberRows[] = {
    {"zero is a number", u"0", true, 0},
    {"the highest four-digit number is accepted", u"9999", true, 9999},
    {"a leading zero reads as decimal", u"007", true, 7},
    {"above 9999 is refused", u"10000", false, 0},
    {"nineteen digits are refused, not wrapped", u"9999999999999999999", false, 0},
    {"twenty digits are refused, not wrapped", u"18446744073709551617", false, 0},
    {"a sign is refused", u"-1", false, 0},
    {"hexadecimal is refused", u"0x10", false, 0},
    {"trailing text is refused", u"12a", false, 0},
    {"the empty text is refused", u"", false, 0},
};

TEST(ToolArgumentsTest, EntryAndFileNumbers) {
  for (const NumberRow &Row : NumberRows) {
    UINTN Value = 12345;
    ASSERT_EQ(ParseNumber(Row.Text.c_str(), ToolNumberLimit, &Value), Row.Accepted) << Row.Behaviour;
    EXPECT_EQ(Value, Row.Accepted ? Row.Value : 12345u) << Row.Behaviour;
  }
}

} // namespace
