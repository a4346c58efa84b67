// plan_login.dll: the C entry points over AccountService, with the store in the data folder and
// CNG for the key derivation. Nothing escapes into the caller.
#include "account_api.h"

#include <memory>
#include <mutex>

#include "account_clock.h"
#include "account_file.h"
#include "account_service.h"
#include "cng_password_kdf.h"
#include "shared_files.h"

namespace {

struct Library {
    account::AccountFile file{account::AccountFile::DefaultPath()};
    account::CngPasswordKdf kdf;
    account::SystemClock clock;
    account::AccountService service{file, kdf, clock};
};

std::mutex g_mutex;
std::shared_ptr<Library> g_library;  // shared: a login in progress keeps it alive through a stop

}  // namespace

extern "C" int account_start(void) {
    return shared::CatchAll(ACCOUNT_E_INTERNAL, [] {
        // Started again: take up the data folder as it is now.
        auto library = std::make_shared<Library>();
        if (!library->kdf.Available()) return ACCOUNT_E_CRYPTO;
        std::lock_guard lock(g_mutex);
        g_library = std::move(library);
        return ACCOUNT_OK;
    });
}

extern "C" int account_stop(void) {
    return shared::CatchAll(ACCOUNT_E_INTERNAL, [] {
        std::lock_guard lock(g_mutex);
        g_library.reset();
        return ACCOUNT_OK;
    });
}

extern "C" int login(const char* user_name, const char* password) {
    if (!user_name || !password) return ACCOUNT_E_NULL_ARGUMENT;
    return shared::CatchAll(ACCOUNT_E_INTERNAL, [&] {
        std::shared_ptr<Library> library;
        {
            std::lock_guard lock(g_mutex);
            library = g_library;
        }
        if (!library) return int(ACCOUNT_E_NOT_STARTED);
        return library->service.Login(user_name, password);
    });
}
