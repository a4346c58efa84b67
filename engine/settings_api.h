// The settings library (plan_settings.dll): integer settings kept in an INI file in the data folder.
#pragma once

extern "C" {

enum SettingsResult : int {
    SETTINGS_OK = 0,
    SETTINGS_E_NULL_ARGUMENT = -1,
    SETTINGS_E_BAD_NAME = -2,    // the section or key could not be written as an INI line and read back
    SETTINGS_E_WRITE = -3,       // the file could not be replaced; the values stored before are kept
    SETTINGS_E_UNREADABLE = -4,  // the settings file exists but cannot be read; it is left untouched
    SETTINGS_E_INTERNAL = -5,    // an unexpected failure inside the library
};

// Exported by ordinal only: 1 starts the library (reads the file), 2 stops it. The other entries
// also work without a start: they read the file on first use.
int settings_start(void);
int settings_stop(void);

// The stored value, or 0 when nothing (or nothing readable) is stored under the key.
// Sections and keys are compared without regard to the case of ASCII letters.
int get_sys_cfg_int(const char* section, const char* key);
// 0 when the value was stored durably; non-zero otherwise.
int modify_sys_cfg_int(const char* section, const char* key, int value);

}  // extern "C"
