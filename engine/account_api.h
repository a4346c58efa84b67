// The account library (plan_account.dll).
#pragma once

extern "C" {

enum AccountResult : int {
    ACCOUNT_OK = 0,
    ACCOUNT_E_UNKNOWN_USER = -986,    // no account has this name
    ACCOUNT_E_WRONG_PASSWORD = -1094, // the password does not match
    ACCOUNT_E_LOCKED_OUT = -1200,     // too many failures; the account is refused for a while
    ACCOUNT_E_NOT_STARTED = -1201,    // called before the start entry or after the stop entry
    ACCOUNT_E_NULL_ARGUMENT = -1202,
    ACCOUNT_E_STORE = -1203,          // the account store could not be read or written
    ACCOUNT_E_EXISTS = -1204,         // (admin tool) the account already exists
    ACCOUNT_E_BAD_NAME = -1205,       // (admin tool) empty, too long or unusable name
    ACCOUNT_E_CRYPTO = -1206,         // the platform's key derivation failed
};

// Exported by ordinal only: 1 starts the library, 2 stops it.
int account_start(void);
int account_stop(void);

int login(const char* user_name, const char* password);

}  // extern "C"
