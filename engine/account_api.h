// The account library (plan_login.dll). Accounts live in "accounts.dat" in the data folder and
// are managed with the plan_account tool; the library never creates an account by itself.
#pragma once

extern "C" {

enum AccountResult : int {
    ACCOUNT_OK = 0,
    ACCOUNT_E_UNKNOWN_USER = -986,     // no account has this name
    ACCOUNT_E_WRONG_PASSWORD = -1094,  // the password does not match
    ACCOUNT_E_LOCKED_OUT = -1200,      // too many failures; the account is refused for a while
    ACCOUNT_E_NOT_STARTED = -1201,     // called before the start entry or after the stop entry
    ACCOUNT_E_NULL_ARGUMENT = -1202,
    ACCOUNT_E_STORE = -1203,         // the account store could not be read or written
    ACCOUNT_E_EXISTS = -1204,        // (admin tool) the account already exists
    ACCOUNT_E_BAD_NAME = -1205,      // (admin tool) empty, too long or unusable name
    ACCOUNT_E_CRYPTO = -1206,        // the platform's key derivation failed
    ACCOUNT_E_BAD_PASSWORD = -1207,  // (admin tool) an empty password
    ACCOUNT_E_INTERNAL = -1208,      // an unexpected failure inside the library
};

// Exported by ordinal only: 1 starts the library, 2 stops it. Start returns ACCOUNT_OK, or
// ACCOUNT_E_CRYPTO when the platform's key derivation is not available.
int account_start(void);
int account_stop(void);

// Checks a GBK name (compared exactly, case-sensitive) and password. Takes about one key
// derivation (~0.75 s) whether or not the name exists. After 3 consecutive failures each further
// attempt first waits, 1 s after the 4th failure doubling up to 30 s; from 10 failures on the
// account answers ACCOUNT_E_LOCKED_OUT for 15 minutes after the last failure. A success resets
// the count; so does "plan_account passwd" or "plan_account unlock".
// Results: ACCOUNT_OK, ACCOUNT_E_UNKNOWN_USER, ACCOUNT_E_WRONG_PASSWORD, ACCOUNT_E_LOCKED_OUT,
// ACCOUNT_E_NOT_STARTED, ACCOUNT_E_NULL_ARGUMENT, ACCOUNT_E_STORE, ACCOUNT_E_CRYPTO,
// ACCOUNT_E_INTERNAL.
int login(const char* user_name, const char* password);

}  // extern "C"
