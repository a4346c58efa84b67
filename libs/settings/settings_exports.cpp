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
    return shared::CatchAll(SETTINGS_E_INTERNAL, [] { return Store().Start(); });
}

extern "C" int settings_stop(void) {
    return shared::CatchAll(SETTINGS_E_INTERNAL, [] { return Store().Stop(); });
}

extern "C" int get_sys_cfg_int(const char* section, const char* key) {
    if (!section || !key) return 0;
    return shared::CatchAll(0, [&] { return Store().Get(section, key); });
}

extern "C" int modify_sys_cfg_int(const char* section, const char* key, int value) {
    if (!section || !key) return SETTINGS_E_NULL_ARGUMENT;
    return shared::CatchAll(SETTINGS_E_INTERNAL, [&] { return Store().Set(section, key, value); });
}
