// plan_settings.dll: the C entry points over SettingsStore. Nothing escapes into the caller.
#include "settings_api.h"

#include "settings_store.h"
#include "shared_files.h"

namespace {

settings::SettingsStore& Store() {
    static settings::SettingsStore store([] { return shared::DataFolder() / "settings.ini"; });
    return store;
}

}  // namespace

extern "C" int settings_start(void) {
    try {
        return Store().Start();
    } catch (...) {
        return SETTINGS_E_INTERNAL;
    }
}

extern "C" int settings_stop(void) {
    try {
        return Store().Stop();
    } catch (...) {
        return SETTINGS_E_INTERNAL;
    }
}

extern "C" int get_sys_cfg_int(const char* section, const char* key) {
    if (!section || !key) return 0;
    try {
        return Store().Get(section, key);
    } catch (...) {
        return 0;
    }
}

extern "C" int modify_sys_cfg_int(const char* section, const char* key, int value) {
    if (!section || !key) return SETTINGS_E_NULL_ARGUMENT;
    try {
        return Store().Set(section, key, value);
    } catch (...) {
        return SETTINGS_E_INTERNAL;
    }
}
