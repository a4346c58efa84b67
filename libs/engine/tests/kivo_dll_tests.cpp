// Loads the real kivo.dll with LoadLibrary and drives it through its exports only, with
// PLAN_DESK_HOME pointing at a fresh folder (its name holds Chinese characters).
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "engine_api.h"

namespace {

const char* const kExports[] = {
    "kivo_add_backup",      "kivo_add_clear",        "kivo_auto_run",       "kivo_backup",
    "kivo_deinit",          "kivo_del_rule",         "kivo_enable_rule",    "kivo_get_backup",
    "kivo_get_backup_list", "kivo_get_clear",        "kivo_get_clear_list", "kivo_init",
    "kivo_is_run",          "kivo_man_run",          "kivo_preview_clear",  "kivo_regist_msg",
    "kivo_regist_run_event", "kivo_restore",         "kivo_stop_run",       "kivo_update_backup",
    "kivo_update_clear",    "kivo_verify_backup",
};
// The exports added beside the 19, at the ordinals kivo.def gives them.
const std::pair<const char*, int> kAddedOrdinals[] = {
    {"kivo_regist_run_event", 20}, {"kivo_verify_backup", 21}, {"kivo_preview_clear", 22}};

// The names in a loaded module's export directory.
std::vector<std::string> ExportedNames(HMODULE module) {
    auto base = reinterpret_cast<const unsigned char*>(module);
    auto dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
    auto nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
    const IMAGE_DATA_DIRECTORY& dir = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_EXPORT];
    auto exports = reinterpret_cast<const IMAGE_EXPORT_DIRECTORY*>(base + dir.VirtualAddress);
    auto names = reinterpret_cast<const DWORD*>(base + exports->AddressOfNames);
    std::vector<std::string> out;
    for (DWORD i = 0; i < exports->NumberOfNames; ++i)
        out.emplace_back(reinterpret_cast<const char*>(base + names[i]));
    // Every function has a name; an ordinal kept free for another export holds none.
    auto functions = reinterpret_cast<const DWORD*>(base + exports->AddressOfFunctions);
    EXPECT_EQ(DWORD(std::count_if(functions, functions + exports->NumberOfFunctions,
                                  [](DWORD f) { return f != 0; })),
              exports->NumberOfNames);
    return out;
}

struct Kivo {
    HMODULE module = nullptr;
    decltype(&kivo_init) init;
    decltype(&kivo_deinit) deinit;
    decltype(&kivo_regist_msg) regist_msg;
    decltype(&kivo_is_run) is_run;
    decltype(&kivo_auto_run) auto_run;
    decltype(&kivo_stop_run) stop_run;
    decltype(&kivo_man_run) man_run;
    decltype(&kivo_enable_rule) enable_rule;
    decltype(&kivo_del_rule) del_rule;
    decltype(&kivo_get_clear_list) get_clear_list;
    decltype(&kivo_get_backup_list) get_backup_list;
    decltype(&kivo_get_clear) get_clear;
    decltype(&kivo_get_backup) get_backup;
    decltype(&kivo_add_clear) add_clear;
    decltype(&kivo_add_backup) add_backup;
    decltype(&kivo_update_clear) update_clear;
    decltype(&kivo_update_backup) update_backup;
    decltype(&kivo_backup) backup;
    decltype(&kivo_restore) restore;
    decltype(&kivo_preview_clear) preview_clear;

    explicit Kivo(const std::wstring& file) {
        module = LoadLibraryW(file.c_str());
        if (!module) return;
        auto get = [&](auto& fn, const char* name) {
            // Through void*: FARPROC's own signature is not the export's.
            fn = reinterpret_cast<std::decay_t<decltype(fn)>>(
                reinterpret_cast<void*>(GetProcAddress(module, name)));
        };
        get(init, "kivo_init"), get(deinit, "kivo_deinit"), get(regist_msg, "kivo_regist_msg");
        get(is_run, "kivo_is_run"), get(auto_run, "kivo_auto_run"), get(stop_run, "kivo_stop_run");
        get(man_run, "kivo_man_run"), get(enable_rule, "kivo_enable_rule"), get(del_rule, "kivo_del_rule");
        get(get_clear_list, "kivo_get_clear_list"), get(get_backup_list, "kivo_get_backup_list");
        get(get_clear, "kivo_get_clear"), get(get_backup, "kivo_get_backup"),
            get(add_clear, "kivo_add_clear");
        get(add_backup, "kivo_add_backup"), get(update_clear, "kivo_update_clear");
        get(update_backup, "kivo_update_backup"), get(backup, "kivo_backup"), get(restore, "kivo_restore");
        get(preview_clear, "kivo_preview_clear");
    }
    ~Kivo() {
        if (module) FreeLibrary(module);
    }
};

class Lines {
  public:
    static void Callback(const char* text, void* context) {
        auto* self = static_cast<Lines*>(context);
        std::lock_guard lock(self->m_mutex);
        self->m_lines.emplace_back(text);
        self->m_changed.notify_all();
    }
    // Waits (at most 20 s, a guard against a hang, not a speed check) until `count` lines arrived.
    std::vector<std::string> WaitFor(size_t count) {
        std::unique_lock lock(m_mutex);
        m_changed.wait_for(lock, std::chrono::seconds(20), [&] { return m_lines.size() >= count; });
        return m_lines;
    }
    void Clear() {
        std::lock_guard lock(m_mutex);
        m_lines.clear();
    }

  private:
    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::vector<std::string> m_lines;
};

std::wstring ExeFolder() {
    wchar_t path[MAX_PATH];
    GetModuleFileNameW(nullptr, path, MAX_PATH);
    return std::filesystem::path(path).parent_path().wstring();
}

ClearRule Clear(const char* description, const std::string& path) {
    ClearRule r{};
    r.enabled = 1;
    r.keep_days = 30;
    r.schedule = RunSchedule{0, 0, 0, 230};
    WriteField(r.description, description);
    WriteField(r.path, path);
    WriteField(r.name_filter, ".tmp");
    WriteField(r.time_range, "0000,0600");
    return r;
}

BackupRule Backup(const char* description) {
    BackupRule r{};
    r.enabled = 1;
    r.schedule = RunSchedule{0, 31, 0, 2330};
    WriteField(r.description, description);
    WriteField(r.source_path, "C:\\文档");
    WriteField(r.backup_path, "D:\\备份");
    return r;
}

class KivoDll : public ::testing::Test {
  protected:
    void SetUp() override {
        wchar_t temp[MAX_PATH];
        GetTempPathW(MAX_PATH, temp);
        m_home = std::filesystem::path(temp) / (L"kivo_dll_测试_" + std::to_wstring(GetCurrentProcessId()) +
                                                L"_" + std::to_wstring(GetTickCount()));
        std::filesystem::create_directories(m_home / L"watched");
        SetEnvironmentVariableW(L"PLAN_DESK_HOME", m_home.c_str());
        m_kivo = std::make_unique<Kivo>(ExeFolder() + L"\\kivo.dll");
        ASSERT_TRUE(m_kivo->module);
    }
    void TearDown() override {
        if (m_kivo->module) m_kivo->deinit();
        m_kivo.reset();
        SetEnvironmentVariableW(L"PLAN_DESK_HOME", nullptr);
        std::error_code ec;
        std::filesystem::remove_all(m_home, ec);
    }
    std::string WatchedGbk() const {
        const std::wstring wide = (m_home / L"watched").wstring();
        int n = WideCharToMultiByte(936, 0, wide.c_str(), -1, nullptr, 0, nullptr, nullptr);
        std::string out(size_t(n), '\0');
        WideCharToMultiByte(936, 0, wide.c_str(), -1, out.data(), n, nullptr, nullptr);
        out.resize(size_t(n - 1));
        return out;
    }

    std::filesystem::path m_home;
    std::unique_ptr<Kivo> m_kivo;
};

}  // namespace

TEST_F(KivoDll, ExportsExactlyTheDocumentedFunctions) {
    std::vector<std::string> names = ExportedNames(m_kivo->module);
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, std::vector<std::string>(std::begin(kExports), std::end(kExports)));
    for (const char* name : kExports) EXPECT_NE(GetProcAddress(m_kivo->module, name), nullptr) << name;
    for (const auto& [name, ordinal] : kAddedOrdinals) {
        EXPECT_EQ(reinterpret_cast<void*>(GetProcAddress(m_kivo->module, MAKEINTRESOURCEA(ordinal))),
                  reinterpret_cast<void*>(GetProcAddress(m_kivo->module, name)))
            << name;
    }
}

TEST_F(KivoDll, PreviewListsExactlyWhatTheFollowingRunDeletesWhateverTheNames) {
    Kivo& k = *m_kivo;
    Lines lines;
    ASSERT_EQ(k.regist_msg(&Lines::Callback, &lines), 0);
    ASSERT_EQ(k.init(), 0);
    const std::filesystem::path watched = m_home / L"watched";
    const wchar_t* const names[] = {L"旧日志.tmp", L"한국어.tmp",       L"表情\U0001F600.tmp",
                                    L"保留.txt",   L"子目录\\新的.tmp", L"子目录\\深\\😀.tmp"};
    for (const wchar_t* name : names) {
        std::filesystem::create_directories((watched / name).parent_path());
        HANDLE f =
            CreateFileW((watched / name).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
        ASSERT_NE(f, INVALID_HANDLE_VALUE);
        DWORD wrote = 0;
        WriteFile(f, "1234", 4, &wrote, nullptr);
        CloseHandle(f);
    }
    ClearRule rule = Clear("预览", WatchedGbk());
    rule.keep_days = 0;
    WriteField(rule.time_range, "");
    ASSERT_EQ(k.add_clear(&rule), 0);

    struct Listed {
        std::vector<std::wstring> paths;
        static void Add(const KivoCleanFile* file, void* context) {
            static_cast<Listed*>(context)->paths.emplace_back(reinterpret_cast<const wchar_t*>(file->path),
                                                              size_t(file->path_length));
        }
    } listed;
    KivoCleanVerdict verdict;
    ASSERT_EQ(k.preview_clear(rule.rule_id, &Listed::Add, &listed, nullptr, &verdict), 0);
    std::sort(listed.paths.begin(), listed.paths.end());
    EXPECT_EQ(listed.paths, (std::vector<std::wstring>{L"子目录\\新的.tmp", L"子目录\\深\\😀.tmp",
                                                       L"旧日志.tmp", L"表情\U0001F600.tmp", L"한국어.tmp"}));
    EXPECT_EQ(verdict.bytes, 20u);
    EXPECT_TRUE(lines.WaitFor(0).empty());  // a preview writes no run-log line

    ASSERT_EQ(k.man_run(rule.rule_id), 0);
    lines.WaitFor(2);
    std::vector<std::wstring> deleted;
    for (const wchar_t* name : names) {
        if (!std::filesystem::exists(watched / name)) deleted.push_back(name);
    }
    std::sort(deleted.begin(), deleted.end());
    EXPECT_EQ(deleted, listed.paths);
}

TEST_F(KivoDll, RulesAddedThroughTheDllSurviveARestart) {
    Kivo& k = *m_kivo;
    Lines lines;
    ASSERT_EQ(k.regist_msg(&Lines::Callback, &lines), 0);
    ASSERT_EQ(k.init(), 0);
    ClearRule clear = Clear("清理临时文件", WatchedGbk());
    BackupRule backup = Backup("每月备份");
    ASSERT_EQ(k.add_clear(&clear), 0);
    ASSERT_EQ(k.add_backup(&backup), 0);
    EXPECT_EQ(clear.rule_id, 1);
    EXPECT_EQ(backup.rule_id, 2);
    EXPECT_TRUE(std::filesystem::exists(m_home / L"rules.dat"));
    EXPECT_TRUE(std::filesystem::exists(m_home / L"kivo.lock"));

    // The two-call list protocol, as the app does it.
    ASSERT_EQ(k.get_backup_list(nullptr), 1);
    std::vector<BackupRule> list(1);
    ASSERT_EQ(k.get_backup_list(list.data()), 1);
    EXPECT_EQ(std::memcmp(&list[0], &backup, sizeof backup), 0);

    BackupRule changed = backup;
    WriteField(changed.description, "每周备份");
    changed.schedule = RunSchedule{0, 0, 127, 2330};
    ASSERT_EQ(k.update_backup(&changed), 0);
    ASSERT_EQ(k.enable_rule(clear.rule_id, 0), 0);
    ASSERT_EQ(k.deinit(), 0);

    ASSERT_EQ(k.init(), 0);
    ClearRule gotClear{};
    BackupRule gotBackup{};
    ASSERT_EQ(k.get_clear(1, &gotClear), 0);
    ASSERT_EQ(k.get_backup(2, &gotBackup), 0);
    clear.enabled = 0;
    EXPECT_EQ(std::memcmp(&gotClear, &clear, sizeof clear), 0);
    EXPECT_EQ(std::memcmp(&gotBackup, &changed, sizeof changed), 0);
    ASSERT_EQ(k.del_rule(2), 0);
    ASSERT_EQ(k.get_backup_list(nullptr), 0);
    BackupRule again = Backup("新的备份");
    ASSERT_EQ(k.add_backup(&again), 0);
    EXPECT_EQ(again.rule_id, 3);  // never 2 again
}

TEST_F(KivoDll, AutomaticAndManualRunningAndTheRunLog) {
    Kivo& k = *m_kivo;
    Lines lines;
    ASSERT_EQ(k.init(), 0);
    ASSERT_EQ(k.regist_msg(&Lines::Callback, &lines), 0);
    ClearRule clear = Clear("清理临时文件", WatchedGbk());
    ASSERT_EQ(k.add_clear(&clear), 0);
    EXPECT_EQ(k.is_run(), 0);
    ASSERT_EQ(k.auto_run(), 0);
    EXPECT_EQ(k.is_run(), 1);
    ASSERT_EQ(k.man_run(clear.rule_id), 0);
    std::vector<std::string> got = lines.WaitFor(3);
    ASSERT_EQ(got.size(), 3u);
    EXPECT_EQ(got[0], "自动运行已启动");
    EXPECT_EQ(got[1], "清理规则 1「清理临时文件」开始手动运行");
    // How the run ends depends on the runner in this build; it ends, under the rule's name.
    EXPECT_EQ(got[2].rfind("清理规则 1「清理临时文件」运行", 0), 0u) << got[2];
    ASSERT_EQ(k.stop_run(), 0);
    EXPECT_EQ(k.is_run(), 0);
    EXPECT_EQ(lines.WaitFor(4).back(), "自动运行已停止");
    EXPECT_EQ(k.man_run(99), KIVO_E_UNKNOWN_RULE);
    ASSERT_EQ(k.enable_rule(clear.rule_id, 0), 0);
    EXPECT_EQ(k.man_run(clear.rule_id), KIVO_E_RULE_DISABLED);
}

TEST_F(KivoDll, GarbageFromTheCallerIsRefusedWithItsCode) {
    Kivo& k = *m_kivo;
    EXPECT_EQ(k.add_clear(nullptr), KIVO_E_NOT_INITIALISED);
    ASSERT_EQ(k.init(), 0);
    ClearRule clear = Clear("清理", WatchedGbk());
    ASSERT_EQ(k.add_clear(&clear), 0);
    ClearRule unterminated = clear;
    std::memset(unterminated.description, 'x', sizeof unterminated.description);
    ClearRule badSchedule = clear;
    badSchedule.schedule.week_mask = 0x180;
    ClearRule relative = clear;
    WriteField(relative.path, "watched");
    BackupRule wrongKind = Backup("备份");
    wrongKind.rule_id = clear.rule_id;
    char longText[300];
    std::memset(longText, 'a', sizeof longText);
    longText[299] = 0;
    struct Case {
        const char* name;
        int got, expected;
    } cases[] = {
        {"add null", k.add_clear(nullptr), KIVO_E_NULL_ARGUMENT},
        {"get null", k.get_clear(1, nullptr), KIVO_E_NULL_ARGUMENT},
        {"update unterminated", k.update_clear(&unterminated), KIVO_E_BAD_TEXT},
        {"add week bit 7", k.add_clear(&badSchedule), KIVO_E_BAD_SCHEDULE},
        {"add relative path", k.add_clear(&relative), KIVO_E_BAD_TEXT},
        {"update backup with a clear id", k.update_backup(&wrongKind), KIVO_E_WRONG_KIND},
        {"enable flag 5", k.enable_rule(1, 5), KIVO_E_BAD_FLAG},
        {"delete unknown", k.del_rule(-7), KIVO_E_UNKNOWN_RULE},
        {"backup null", k.backup(nullptr, "D:\\a.bkp"), KIVO_E_NULL_ARGUMENT},
        {"backup empty", k.backup("", "D:\\a.bkp"), KIVO_E_BAD_TEXT},
        {"restore over 255 bytes", k.restore(longText, "D:\\a"), KIVO_E_BAD_TEXT},
    };
    for (const Case& c : cases) EXPECT_EQ(c.got, c.expected) << c.name;
    EXPECT_EQ(k.get_clear_list(nullptr), 1);
}

TEST_F(KivoDll, ASecondEngineOnTheDataFolderIsRefusedChanges) {
    // A copy of the DLL is a second, independent engine in this process.
    const std::filesystem::path copy = m_home / L"kivo_second.dll";
    ASSERT_TRUE(CopyFileW((ExeFolder() + L"\\kivo.dll").c_str(), copy.c_str(), FALSE));
    ASSERT_EQ(m_kivo->init(), 0);
    ClearRule clear = Clear("清理", WatchedGbk());
    ASSERT_EQ(m_kivo->add_clear(&clear), 0);
    {
        Kivo second(copy.wstring());
        ASSERT_TRUE(second.module);
        Lines lines;
        ASSERT_EQ(second.regist_msg(&Lines::Callback, &lines), 0);
        ASSERT_EQ(second.init(), 0);
        EXPECT_EQ(second.get_clear_list(nullptr), 1);
        ClearRule another = Clear("另一条", WatchedGbk());
        EXPECT_EQ(second.add_clear(&another), KIVO_E_STORE_LOCKED);
        EXPECT_EQ(second.auto_run(), KIVO_E_STORE_LOCKED);
        const std::vector<std::string> got = lines.WaitFor(3);
        ASSERT_EQ(got.size(), 3u);
        EXPECT_EQ(got[1], "错误：数据文件夹正被另一个任务引擎使用，拒绝添加规则");
        EXPECT_EQ(got[2], "错误：数据文件夹正被另一个任务引擎使用，拒绝启动自动运行");
        EXPECT_EQ(second.deinit(), 0);
    }
    EXPECT_EQ(m_kivo->get_clear_list(nullptr), 1);
}
