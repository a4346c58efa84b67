#include "settings_store.h"

#include <string>
#include <system_error>

#include "settings_api.h"
#include "shared_files.h"

namespace settings {

SettingsStore::SettingsStore(Locator locate) : m_locate(std::move(locate)) {}

int SettingsStore::LoadLocked() {
    m_path = m_locate();
    m_document = IniDocument();
    std::error_code ec;
    const bool exists = std::filesystem::exists(m_path, ec);
    if (ec) {
        m_state = State::Unreadable;
        return SETTINGS_E_UNREADABLE;
    }
    if (!exists) {
        m_state = State::Loaded;
        return SETTINGS_OK;
    }
    std::string text;
    if (!shared::ReadWholeFile(m_path, text)) {
        // Never write over a file we could not read: that would drop every value in it.
        m_state = State::Unreadable;
        return SETTINGS_E_UNREADABLE;
    }
    m_document = IniDocument::Parse(text);
    m_state = State::Loaded;
    return SETTINGS_OK;
}

int SettingsStore::EnsureLoadedLocked() {
    return m_state == State::Loaded ? SETTINGS_OK : LoadLocked();
}

int SettingsStore::Start() {
    std::lock_guard lock(m_mutex);
    return LoadLocked();
}

int SettingsStore::Stop() {
    std::lock_guard lock(m_mutex);
    m_state = State::NotLoaded;
    m_document = IniDocument();
    return SETTINGS_OK;
}

int SettingsStore::Get(std::string_view section, std::string_view key) {
    std::lock_guard lock(m_mutex);
    EnsureLoadedLocked();
    return m_document.GetInt(section, key).value_or(0);
}

int SettingsStore::Set(std::string_view section, std::string_view key, int value) {
    if (!IniDocument::CanStore(section, key)) return SETTINGS_E_BAD_NAME;
    std::lock_guard lock(m_mutex);
    if (int loaded = EnsureLoadedLocked(); loaded != SETTINGS_OK) return loaded;
    IniDocument changed = m_document;
    changed.SetInt(section, key, value);
    if (!shared::AtomicWriteFile(m_path, changed.Serialize())) return SETTINGS_E_WRITE;
    m_document = std::move(changed);
    return SETTINGS_OK;
}

}  // namespace settings
