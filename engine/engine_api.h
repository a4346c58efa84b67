// The task engine library (kivo.dll): the 19 functions the app calls, and their result codes, and
// the functions added since, each documented where it is declared, after the 19.
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

    // Added with the engine itself.
    KIVO_E_STORE_NEWER = 30,    // the rule file was written by a newer engine; it is left alone, nothing changed
    KIVO_E_INTERNAL = 31,       // an unexpected fault inside the engine (out of memory, for one); see the run log
    KIVO_E_ENGINE_THREAD = 32,  // kivo_deinit called from the run-log callback, a thread it would wait for

    // kivo_preview_clear
    KIVO_E_FOLDER_MISSING = 40,     // the rule's folder does not exist
    KIVO_E_FOLDER_UNREADABLE = 41,  // the rule's folder, or its volume's free space, cannot be read, or it is a link
    KIVO_E_STOPPED = 42,            // the caller's cancel flag stopped the call
};

// When rules run. Only while automatic running is on, and only enabled rules. Times are wall-clock
// times in the system's time zone (re-read at least once a minute), to the minute.
// - Modes, by the precedence of rule_records.h: interval, every N minutes of elapsed time counted from
//   the rule's last automatic run (or from when its schedule took effect); else monthly on day D at
//   HH:MM; else weekly on the ticked weekdays at HH:MM; else daily at HH:MM. An all-zero schedule is
//   daily at 00:00.
// - Monthly on a day the month lacks (31 in April, 29-31 in February) runs on the month's last day.
// - Daylight saving: a wall time skipped by the change forward runs at the first valid moment after it
//   (02:30 on a 02:00->03:00 day runs at 03:00); a wall time that occurs twice runs once, the first time.
//   Interval mode counts elapsed time and does not notice these changes.
// - Missed runs: whenever a rule's time has passed since its last automatic run (the app was closed,
//   the machine asleep, automatic running off, the clock jumped forward), it runs once as soon as
//   automatic running is on, logged as a catch-up run when it starts more than a minute late. Missed
//   occurrences are never run one by one.
// - The clock set back never repeats a run: the next run follows the last one. A last run more than
//   two days in the future is taken for a wrong clock: the rule is scheduled afresh from now (logged).
// - A rule still running, or queued, when its time comes skips that occurrence (logged).
// - Adding a rule, changing its schedule or enabling it starts its schedule from that moment: no
//   catch-up for the time before. Manual runs (kivo_man_run) do not move the automatic schedule.
// - Two worker threads carry out the runs. kivo_stop_run starts no further automatic runs; runs already
//   started or queued finish. kivo_deinit cancels them and returns when every engine thread has ended.
// - The run times of every rule persist in the rule file, so all of this holds across restarts.
//
// What a clean run deletes. A file under `path` (sub-folders included) is deleted only when it
// satisfies every condition the rule sets; an empty text or a 0 sets nothing, and a rule that sets
// none deletes every file.
// - keep_days: last modified at least keep_days x 24 h before the run started.
// - name_filter: the file's own name (not the folders above it) contains one of the ','-separated
//   keywords. The text is split without breaking GBK characters; empty keywords are ignored; blanks are
//   part of a keyword; ASCII letters match either case, everything else exactly. A filter made only of
//   commas matches nothing.
// - size_range: min x 1024 <= size in bytes <= max x 1024.
// - date_range: the local date of the last modification lies between the two dates, both included.
// - time_range: the local time of day of the last modification, to the minute, lies between the two
//   times, both included.
// min_free_percent, when set, first measures the free space of path's volume: at or above the
// percentage the run deletes nothing; below it, the run deletes the files that meet the other
// conditions, oldest modification first, and stops as soon as the percentage is reached.
// Only files are deleted, never folders. Symbolic links, junctions and other reparse points are neither
// followed nor deleted; a path that is itself a link is refused. A malformed condition fails the run.
// The run's summary line gives files examined, files deleted and bytes freed; every file that could not
// be deleted gets its own failure line.
//
// What a backup run writes. A new set "kivo-<id>-<YYYYMMDD>-<HHMMSS>" in backup_path holding a copy of
// source_path, written as "<name>.tmp", flushed to disk, then renamed; a set in which some files failed
// is named "...-incomplete". keep_days > 0 removes only this rule's own older sets, and only after a
// complete set; 0 keeps everything.
//
// The rule file and the data folder. Rules live in the data folder (PLAN_DESK_HOME, else
// %LOCALAPPDATA%\plan_desk) in "rules.dat", a checksummed, versioned file replaced atomically on every
// change and mirrored to "rules.bak". A damaged file is kept as "rules.dat.damaged-<UTC time>" and the
// rules come back from the mirror (logged). One engine at a time holds "kivo.lock"; another engine on the
// same folder reads the rules but refuses every change and every run with KIVO_E_STORE_LOCKED (logged),
// until the holder has gone. Rule ids are unique across both kinds and never reused.
//
// Input checks. Every entry point refuses, storing nothing: null pointers (KIVO_E_NULL_ARGUMENT);
// unknown ids (KIVO_E_UNKNOWN_RULE) and ids of the other kind (KIVO_E_WRONG_KIND); `enabled` or a flag
// other than 0/1 (KIVO_E_BAD_FLAG); a text field without its NUL, an empty description or path, a path
// that is not absolute, bytes that are not GBK text or are control characters (KIVO_E_BAD_TEXT);
// interval above 1440, month day above 31, week-mask bits above bit 6, time not a valid HH:MM, in any
// field whatever the mode (KIVO_E_BAD_SCHEDULE); negative keep_days, min_free_percent other than 0 or
// 5..95, range texts not "lo,hi" as rule_records.h describes them (KIVO_E_BAD_RANGE). The rule_id of a
// record handed to an add is ignored: the engine assigns a new one.

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
// that many records (never more than the previous null call on the same thread reported) and returns
// the count written; announced slots left over (rules deleted meanwhile) are zero-filled. Without a
// previous null call nothing is written. The answer is always a count, never an error code: 0 before
// kivo_init, after kivo_deinit and on a fault inside the engine.
int kivo_get_clear_list(ClearRule* array);
int kivo_get_backup_list(BackupRule* array);

int kivo_get_clear(int rule_id, ClearRule* out);
int kivo_get_backup(int rule_id, BackupRule* out);

// Add writes the assigned id back into rule->rule_id on success.
int kivo_add_clear(ClearRule* rule);
int kivo_add_backup(BackupRule* rule);
int kivo_update_clear(const ClearRule* rule);
int kivo_update_backup(const BackupRule* rule);

// Both report progress as run-log lines, at most one every two seconds, with the files and bytes
// done so far (manual_progress.h).
int kivo_backup(const char* source_folder, const char* backup_file);
int kivo_restore(const char* backup_file, const char* target_folder);

// ---- Added beside the 19: exported by name and at the ordinal given in kivo.def. ----

// One finished run of a rule (automatic, catch-up or by hand), as the engine judged it. The engine,
// not the text of its lines, says whether a run failed: a caller decides from `outcome`.
enum KivoRuleKind : int32_t { KIVO_RULE_CLEAR = 1, KIVO_RULE_BACKUP = 2 };
enum KivoRunOutcome : int32_t {
    KIVO_RUN_SUCCEEDED = 0,
    KIVO_RUN_PARTLY_FAILED = 1,  // the run finished, but some files failed (each has its own log line)
    KIVO_RUN_FAILED = 2,
    KIVO_RUN_CANCELLED = 3,  // the engine was shut down during the run
};
enum KivoRunTrigger : int32_t {
    KIVO_TRIGGER_SCHEDULED = 0,
    KIVO_TRIGGER_MANUAL = 1,
    KIVO_TRIGGER_CATCH_UP = 2,
    KIVO_TRIGGER_VERIFY = 3  // a check of a backup rule's sets (kivo_verify_backup), not a run of it
};

struct KivoRunEvent {
    int32_t size;  // sizeof(KivoRunEvent) of the engine that sent it; the record only ever grows
    int32_t rule_id;
    int32_t kind;          // KivoRuleKind
    int32_t outcome;       // KivoRunOutcome
    int32_t trigger;       // KivoRunTrigger
    int32_t reserved;      // 0
    int64_t end_utc;       // when the run ended: seconds since 1970-01-01 UTC, by the engine's clock
    char description[32];  // the rule's description as it was when the run started (GBK)
    // The run's end line exactly as the run log got it (GBK); a longer line is cut at a character
    // boundary and ends with "…".
    char end_line[1024];
};
static_assert(sizeof(KivoRunEvent) == 1088);
static_assert(offsetof(KivoRunEvent, rule_id) == 4);
static_assert(offsetof(KivoRunEvent, kind) == 8);
static_assert(offsetof(KivoRunEvent, outcome) == 12);
static_assert(offsetof(KivoRunEvent, trigger) == 16);
static_assert(offsetof(KivoRunEvent, end_utc) == 24);
static_assert(offsetof(KivoRunEvent, description) == 32);
static_assert(offsetof(KivoRunEvent, end_line) == 64);

// The record lives only for the call: copy what is kept.
typedef void (*KivoRunEventCallback)(const KivoRunEvent* event, void* context);

// @20. Registers the callback that hears of every finished run; null stops it. Like kivo_regist_msg
// it may be called before kivo_init (the registration carries over) and always answers 0. The event
// comes on the engine's log thread, right after the run's end line was handed to the run-log
// callback: lines and events keep one order. While no run-log callback is registered, lines wait
// for one but events do not wait behind them. An event that finds no run-event callback is dropped.
// A callback in progress when a new registration returns may still finish with the old one.
int kivo_regist_run_event(KivoRunEventCallback callback, void* context);

// @21. kivo_verify_backup: checks the backup rule's complete sets in its backup_path against the manifest
// each set keeps: every file is there, has the recorded size, and its content the recorded CRC-32.
// The check is queued onto the engine's workers like kivo_man_run and reports into the run log and the
// run history: per set "校验完成：<set>，N 个文件正常" or "校验发现问题：<set>，M 个文件缺失或损坏", and
// before the latter one line per bad file naming the file and what is wrong ("校验失败：<file>：..."). A set
// whose manifest is missing or damaged cannot be checked and says so. Only sets this installation
// owns are checked. 0 = queued; otherwise KIVO_E_NOT_INITIALISED, KIVO_E_UNKNOWN_RULE,
// KIVO_E_WRONG_KIND (a clean rule), KIVO_E_RULE_BUSY (the rule is running or queued) or
// KIVO_E_STORE_LOCKED. A disabled rule's sets may be checked.
int kivo_verify_backup(int rule_id);

// @22. Preview of a clean rule: the files a run of the rule would delete now, and why it would
// delete nothing. It takes the run's own walk and every one of its decisions (the conditions, the
// free-space verdict, the oldest-first stop), deletes nothing and writes no log or history line.
//
// One file the run would delete. The pointers are valid during the callback only.
typedef struct KivoCleanFile {
    const char16_t* path;      // below the rule's folder, NUL-terminated UTF-16, the platform's separator;
                               // the name exactly as on disk, GBK or not
    int path_length;           // in UTF-16 units, without the NUL
    unsigned long long size;   // bytes
    long long last_write;      // last modification, seconds since 1970-01-01 UTC
} KivoCleanFile;

typedef struct KivoCleanVerdict {
    int min_free_percent;  // the rule's own; 0: free space plays no part and was not measured
    int free_percent;      // the volume's free space when the preview began, in whole percent (rounded down)
    // 1: a run now deletes exactly the listed files. 0: free space is at or above min_free_percent, so a
    // run now deletes nothing; the list is what it would delete, oldest first, once free space is below.
    int deletes_now;
    int reserved;                     // 0
    unsigned long long free_bytes;    // as free_percent; 0 when not measured
    unsigned long long total_bytes;
    unsigned long long files;         // how many files were listed
    unsigned long long bytes;         // and their sizes added up
    char reason[256];                 // GBK: with KIVO_E_FOLDER_*, why (the words a run would log); else ""
} KivoCleanVerdict;

// Called once for each file, on the caller's thread, in the order the run would delete them.
typedef void (*KivoCleanFileCallback)(const KivoCleanFile* file, void* context);

// Runs on the caller's thread, not on the engine's workers, beside any running rule; several may run
// at once. cancel (may be null): a non-zero value stops the walk at the next file, with KIVO_E_STOPPED.
// With free space below min_free_percent, the run measures the volume after each delete and stops once
// the percentage is reached; the preview counts each listed file's size as freed instead.
// Results: 0, or KIVO_E_NOT_INITIALISED, KIVO_E_NULL_ARGUMENT (callback or verdict null),
// KIVO_E_UNKNOWN_RULE, KIVO_E_WRONG_KIND (a backup rule), KIVO_E_FOLDER_MISSING, KIVO_E_FOLDER_UNREADABLE
// (verdict->reason says why), KIVO_E_STOPPED, KIVO_E_CANCELLED (kivo_deinit meanwhile), KIVO_E_BAD_TEXT /
// KIVO_E_BAD_RANGE (a stored rule no run could use). The verdict is filled as far as the walk got.
int kivo_preview_clear(int rule_id, KivoCleanFileCallback callback, void* context, const volatile long* cancel,
                       KivoCleanVerdict* verdict);

}  // extern "C"
