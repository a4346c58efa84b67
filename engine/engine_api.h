// The task engine library (kivo.dll): the 19 functions the app calls, and their result codes.
//
// Texts are NUL-terminated GBK (code page 936) byte strings of at most 255 bytes.
// Records are those of rule_records.h, passed by address. Every function may be
// called from any thread, but the app calls them on its user-interface thread only.
#pragma once

#include "rule_records.h"

extern "C" {

// Result codes. 0 is success; every failure is a positive number the app shows as is.
enum KivoResult : int {
    KIVO_OK = 0,
    KIVO_E_NOT_INITIALISED = 1,  // called before kivo_init or after kivo_deinit
    KIVO_E_NULL_ARGUMENT = 2,    // a required pointer was null
    KIVO_E_UNKNOWN_RULE = 3,     // no rule has this id
    KIVO_E_WRONG_KIND = 4,       // the id belongs to a rule of the other kind
    KIVO_E_BAD_TEXT = 5,         // a text field is unterminated, or a required one is empty
    KIVO_E_BAD_SCHEDULE = 6,     // a schedule field is out of range
    KIVO_E_BAD_FLAG = 7,         // enabled (or the enable flag) is neither 0 nor 1
    KIVO_E_BAD_RANGE = 8,        // a range text is malformed, or a number field is out of range
    KIVO_E_STORE_LOCKED = 9,     // another engine holds the data folder; nothing was changed
    KIVO_E_STORE_WRITE = 10,     // the rule file could not be written; nothing was changed
    KIVO_E_RULE_BUSY = 11,       // the rule is already running or queued
    KIVO_E_RULE_DISABLED = 12,   // a disabled rule cannot be run by hand
    KIVO_E_TOO_MANY_RULES = 13,  // the rule set is full
    KIVO_E_NOT_AVAILABLE = 14,   // the operation is not available in this build

    // kivo_backup / kivo_restore
    KIVO_E_SOURCE_MISSING = 20,     // the folder to back up, or the archive to restore, does not exist
    KIVO_E_TARGET_IN_SOURCE = 21,   // the archive would be written inside the folder it backs up
    KIVO_E_CREATE_FAILED = 22,      // the archive or a restored file could not be created
    KIVO_E_READ_FAILED = 23,        // a file could not be read
    KIVO_E_WRITE_FAILED = 24,       // a write failed (disk full, access denied)
    KIVO_E_ARCHIVE_DAMAGED = 25,    // the archive is not a valid .bkp, or a CRC check failed
    KIVO_E_ARCHIVE_UNSAFE = 26,     // an entry would land outside the target folder, or is a link
    KIVO_E_TARGET_INVALID = 27,     // the restore target is not a usable folder
    KIVO_E_PARTIAL = 28,            // some files were done, some failed; see the run log
    KIVO_E_CANCELLED = 29,          // the engine was shut down during the operation
};

// The run-log callback: one GBK line per call, from an engine thread.
typedef void (*KivoLogCallback)(const char* text, void* context);

int kivo_init(void);
int kivo_deinit(void);
int kivo_regist_msg(KivoLogCallback callback, void* context);

int kivo_is_run(void);
int kivo_auto_run(void);
int kivo_stop_run(void);
int kivo_man_run(int rule_id);

int kivo_enable_rule(int rule_id, int flag);
int kivo_del_rule(int rule_id);

// With a null array: the number of rules of that kind. With an array: fills at most
// that many records (never more than the previous null call reported) and returns the count written.
int kivo_get_clear_list(ClearRule* array);
int kivo_get_backup_list(BackupRule* array);

int kivo_get_clear(int rule_id, ClearRule* out);
int kivo_get_backup(int rule_id, BackupRule* out);

// Add writes the assigned id back into rule->rule_id on success.
int kivo_add_clear(ClearRule* rule);
int kivo_add_backup(BackupRule* rule);
int kivo_update_clear(const ClearRule* rule);
int kivo_update_backup(const BackupRule* rule);

int kivo_backup(const char* source_folder, const char* backup_file);
int kivo_restore(const char* backup_file, const char* target_folder);

}  // extern "C"
