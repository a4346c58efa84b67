// The settings behind plan_settings.dll: an IniDocument mirrored in a file, written through on
// every change so that the file always holds every value that was reported as stored.
#pragma once

#include <filesystem>
#include <functional>
#include <mutex>
#include <string_view>

#include "ini_document.h"

namespace settings {

class SettingsStore {
  public:
    // The file is located on each load, so the data folder may change between stop and start.
    using Locator = std::function<std::filesystem::path()>;
    explicit SettingsStore(Locator locate);

    // Reads the file again. SETTINGS_OK also when there is no file yet.
    int Start();
    // Forgets the values; the next call reads the file again. Nothing is pending: every change
    // was written when it was made.
    int Stop();

    // 0 when nothing readable is stored.
    int Get(std::string_view section, std::string_view key);
    // SETTINGS_OK only once the new file is in place. On failure the old file and the old value
    // stay as they were.
    int Set(std::string_view section, std::string_view key, int value);

    const IniDocument& Document() const { return m_document; }

  private:
    enum class State { NotLoaded, Loaded, Unreadable };
    int LoadLocked();
    int EnsureLoadedLocked();

    Locator m_locate;
    std::mutex m_mutex;
    State m_state = State::NotLoaded;
    std::filesystem::path m_path;
    IniDocument m_document;
};

}  // namespace settings
