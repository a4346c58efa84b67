// The account library (plan_login.dll). Accounts live in "accounts.dat" in the data folder and
// are managed with the plan_account tool; the library never creates an account by itself.
#pragma once

extern "C" {

enum AccountResult : int {
    ACCOUNT_OK = 0,
    ACCOUNT_E_UNKNOWN_USER = -986,     // no account has this name
    ACCOUNT_E_WRONG_PASSWORD = -1094,  // the password does not match
    // Retired: earlier releases refused an account for a while after repeated failures. No account
    // is ever locked now, so this is never returned; the number stays out of use.
    ACCOUNT_E_RETIRED_LOCKED_OUT = -1200,
    ACCOUNT_E_NOT_STARTED = -1201,  // called before the start entry or after the stop entry
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
// derivation (~0.75 s) whether or not the name exists, and nothing more: there is no wait between
// attempts and no limit on their number. Consecutive failures are counted per account with the
// time of the latest ("plan_account list" shows both); a success resets the count, and so do
// "plan_account passwd" and "plan_account unlock". The count never decides a login: when it
// cannot be written, the right password is still accepted and a wrong one still refused with
// ACCOUNT_E_WRONG_PASSWORD.
// Results: ACCOUNT_OK, ACCOUNT_E_UNKNOWN_USER, ACCOUNT_E_WRONG_PASSWORD, ACCOUNT_E_NOT_STARTED,
// ACCOUNT_E_NULL_ARGUMENT, ACCOUNT_E_STORE (the store cannot be read), ACCOUNT_E_CRYPTO,
// ACCOUNT_E_INTERNAL.
int login(const char* user_name, const char* password);

}  // extern "C"
