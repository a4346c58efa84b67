// The settings library (plan_settings.dll): integer settings kept in an INI file in the data folder.
#pragma once

extern "C" {

// Exported by ordinal only: 1 starts the library, 2 stops it.
int settings_start(void);
int settings_stop(void);

// The stored value, or 0 when nothing (or nothing readable) is stored under the key.
int get_sys_cfg_int(const char* section, const char* key);
// 0 when the value was stored durably; non-zero otherwise.
int modify_sys_cfg_int(const char* section, const char* key, int value);

}  // extern "C"
