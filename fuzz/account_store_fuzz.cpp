// The account store's parser fed arbitrary text, and the account service working on such a store
// (with a cheap stand-in key derivation and a clock that only moves when told to). Half of the
// texts get a correct checksum line, so the checks behind it are reached too.
// Properties:
// - the parser accepts only the exact form the serializer writes: what it accepts writes back
//   byte for byte, with valid names given once;
// - a store the parser refuses is never written over, whatever the service is asked to do;
// - a store it accepts stays one it accepts after every change.
#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "account_api.h"
#include "account_file.h"
#include "account_service.h"
#include "account_store_codec.h"
#include "account_test_fakes.h"
#include "fuzz_support.h"
#include "shared_files.h"

namespace {

using account::AccountRecord;
using account::AccountStoreCodec;

std::string WithChecksumLine(const std::string& body) {
    char line[32];
    std::snprintf(line, sizeof line, "crc32 %08x\n", unsigned(shared::Crc32(body)));
    return body + line;
}

void CheckParse(const std::string& text) {
    const auto parsed = AccountStoreCodec::Parse(text);
    if (!parsed) return;
    FUZZ_CHECK(AccountStoreCodec::Serialize(*parsed) == text);
    for (size_t i = 0; i < parsed->size(); ++i) {
        const AccountRecord& r = (*parsed)[i];
        FUZZ_CHECK(account::IsValidAccountName(r.name) && r.hash.size() == account::kHashBytes &&
                   !r.salt.empty());
        for (size_t j = 0; j < i; ++j) FUZZ_CHECK((*parsed)[j].name != r.name);
    }
}

// Names mostly taken from the store, so that the service finds the accounts.
std::string PickName(FuzzedDataProvider& in, const std::vector<AccountRecord>& records) {
    if (!records.empty() && in.ConsumeBool())
        return records[in.ConsumeIntegralInRange<size_t>(0, records.size() - 1)].name;
    return in.ConsumeRandomLengthString(40);
}

void CheckService(FuzzedDataProvider& in, const std::string& text) {
    const std::filesystem::path path = fuzz::ScratchFolder() / "accounts.dat";
    fuzz::WriteFile(path, text);
    const auto parsed = AccountStoreCodec::Parse(text);
    const std::vector<AccountRecord> records = parsed.value_or(std::vector<AccountRecord>());

    account::AccountFile file(path);
    account::testing::FakeKdf kdf;
    account::testing::FakeClock clock;
    clock.now = in.ConsumeIntegralInRange<int64_t>(0, int64_t(1) << 45);
    account::AccountService service(file, kdf, clock);
    for (int step = 0; step < 12 && in.remaining_bytes() > 0; ++step) {
        const std::string name = PickName(in, records);
        const std::string password = in.ConsumeRandomLengthString(16);
        int rc = 0;
        switch (in.ConsumeIntegralInRange(0, 5)) {
            case 0:
                rc = service.Login(name, password);
                break;
            case 1:
                rc = service.Add(name, password);
                break;
            case 2:
                rc = service.SetPassword(name, password);
                break;
            case 3:
                rc = service.Remove(name);
                break;
            case 4:
                rc = service.ResetFailures(name);
                break;
            default: {
                std::vector<account::AccountSummary> list;
                rc = service.List(list);
                if (parsed) FUZZ_CHECK(rc == ACCOUNT_OK);
            }
        }
        // Back a little or on up to an hour, never before 1970: no system clock reads that.
        clock.now = std::max<int64_t>(0, clock.now + in.ConsumeIntegralInRange<int64_t>(-60'000, 3'600'000));
        const std::string now = fuzz::ReadFile(path);
        if (!parsed) {
            // Only a name or password refused before the store is read gives another answer.
            FUZZ_CHECK(rc == ACCOUNT_E_STORE || rc == ACCOUNT_E_BAD_NAME || rc == ACCOUNT_E_BAD_PASSWORD);
            FUZZ_CHECK(now == text);
        } else {
            FUZZ_CHECK(rc != ACCOUNT_E_STORE && rc != ACCOUNT_E_INTERNAL);
            FUZZ_CHECK(AccountStoreCodec::Parse(now).has_value());
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzedDataProvider in(data, size);
    const bool throughService = in.ConsumeBool();
    const bool fix = in.ConsumeBool();
    std::string text = in.ConsumeRandomLengthString(1 << 16);
    if (fix) text = WithChecksumLine(text);
    if (throughService) {
        fuzz::EmptyScratchFolder();
        CheckService(in, text);
    } else {
        CheckParse(text);
    }
    return 0;
}
