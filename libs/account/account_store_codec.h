// The text form of the account store:
//
//   plan_desk accounts 1
//   <name hex> pbkdf2-sha256 <iterations> <salt hex> <hash hex> <failures> <last failure ms>
//   ...
//   crc32 <CRC-32 of every byte above, 8 hex digits>
//
// One line per account, LF line ends, lower-case hex; the last failure's time is negative (with a
// '-') when the clock stood before 1970. Parsing is strict: a store that is not
// exactly this (a bad line, a wrong checksum, a name given twice) is refused whole, so that a
// damaged store is never mistaken for one with fewer accounts and then written over.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "account_record.h"

namespace account {

class AccountStoreCodec {
  public:
    static std::string Serialize(const std::vector<AccountRecord>& records);
    static std::optional<std::vector<AccountRecord>> Parse(std::string_view text);
};

}  // namespace account
