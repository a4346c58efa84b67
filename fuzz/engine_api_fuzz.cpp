// The task engine fed arbitrary records, ids, flags and texts through every entry point, on a
// scratch data folder, with a fake clock and the unavailable runner (so no run touches a file).
// Beyond surviving, it holds the engine to what engine_api.h documents:
// - a record that breaks a documented rule is refused, and a refused call stores nothing;
// - an accepted record reads back byte for byte (texts cut at their terminator), ids only grow;
// - the second list call never writes past the count the first one announced;
// - every result is one of the codes the call may give; run-log lines hold no control characters;
// - after a restart the rules are exactly the ones accepted.
#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "clock.h"
#include "engine.h"
#include "engine_api.h"
#include "fuzz_support.h"
#include "rule_records.h"

namespace {

using namespace kivo;

constexpr int64_t kLatestClock = 7'258'118'400;  // 2200-01-01: the clock stays in years a PC can show

class FuzzClock final : public Clock {
  public:
    FuzzClock(int64_t now, TimeZone zone) : m_now(now), m_zone(zone) {}
    int64_t NowUtc() const override { return m_now.load(); }
    TimeZone Zone() const override { return m_zone; }
    void Set(int64_t now) { m_now = std::clamp<int64_t>(now, 0, kLatestClock); }
    int64_t Now() const { return m_now.load(); }

  private:
    std::atomic<int64_t> m_now;
    const TimeZone m_zone;
};

class LogLines {
  public:
    static void Callback(const char* text, void* context) {
        auto* self = static_cast<LogLines*>(context);
        // A line must never break the run log's one-line-per-event shape.
        FUZZ_CHECK(text != nullptr && *text != '\0');
        for (const char* p = text; *p; ++p) FUZZ_CHECK(static_cast<unsigned char>(*p) >= 0x20);
        std::lock_guard lock(self->m_mutex);
        ++self->m_count;
    }

  private:
    std::mutex m_mutex;
    size_t m_count = 0;
};

TimeZone PickZone(FuzzedDataProvider& in) {
    switch (in.ConsumeIntegralInRange(0, 4)) {
        case 0:
            return TimeZone();
        case 1:
            return TimeZone::Fixed(in.ConsumeIntegralInRange<int32_t>(-14 * 3600, 14 * 3600));
        case 2:
            return *TimeZone::FromPosix("CET-1CEST,M3.5.0,M10.5.0/3");
        case 3:
            return *TimeZone::FromPosix("AEST-10AEDT,M10.1.0,M4.1.0/3");
        default:
            return TimeZone::FromPosix(in.ConsumeRandomLengthString(48)).value_or(TimeZone());
    }
}

// A text field: usually a text that fits with stale bytes behind its terminator, sometimes one that
// fills the field without a terminator. `valid` keeps to printable ASCII that fits.
template <size_t N>
void FillText(FuzzedDataProvider& in, char (&field)[N], bool valid, std::string text) {
    std::memset(field, 0, N);
    if (valid) {
        for (char& c : text) {
            const auto b = static_cast<unsigned char>(c);
            if (b < 0x20 || b > 0x7E) c = char(0x20 + b % 0x5F);
        }
        if (text.size() > N - 1) text.resize(N - 1);
    }
    std::memcpy(field, text.data(), std::min(text.size(), N));
    if (text.size() + 1 < N && in.ConsumeBool())
        std::memset(field + text.size() + 1, 'x', N - text.size() - 1);
}

// One of the range texts: empty, well formed (low <= high, in the field's domain), or anything.
template <size_t N>
void FillRange(FuzzedDataProvider& in, char (&field)[N], bool valid, int64_t low, int64_t high,
               bool fourDigits) {
    switch (valid ? in.ConsumeIntegralInRange(0, 1) : in.ConsumeIntegralInRange(0, 2)) {
        case 0:
            std::memset(field, 0, N);
            return;
        case 1: {
            int64_t a = in.ConsumeIntegralInRange(low, high), b = in.ConsumeIntegralInRange(low, high);
            if (a > b) std::swap(a, b);
            char text[32];
            if (fourDigits) {
                std::snprintf(text, sizeof text, "%04d,%04d", int(a), int(b));
            } else {
                std::snprintf(text, sizeof text, "%lld,%lld", static_cast<long long>(a),
                              static_cast<long long>(b));
            }
            FillText(in, field, true, text);
            return;
        }
        default:
            FillText(in, field, false, in.ConsumeRandomLengthString(40));
    }
}

RunSchedule MakeSchedule(FuzzedDataProvider& in, bool valid) {
    RunSchedule s{};
    if (!valid) {
        s.interval_minutes = in.ConsumeIntegral<uint16_t>();
        s.month_day = in.ConsumeIntegral<uint16_t>();
        s.week_mask = in.ConsumeIntegral<uint16_t>();
        s.time_hhmm = in.ConsumeIntegral<uint16_t>();
        return s;
    }
    const uint16_t hhmm = uint16_t(in.ConsumeIntegralInRange(0, 23) * 100 + in.ConsumeIntegralInRange(0, 59));
    switch (in.ConsumeIntegralInRange(0, 3)) {
        case 0:
            s.interval_minutes = in.ConsumeIntegralInRange<uint16_t>(1, 1440);
            break;
        case 1:
            s.month_day = in.ConsumeIntegralInRange<uint16_t>(1, 31), s.time_hhmm = hhmm;
            break;
        case 2:
            s.week_mask = in.ConsumeIntegralInRange<uint16_t>(1, 127), s.time_hhmm = hhmm;
            break;
        default:
            s.time_hhmm = hhmm;
    }
    return s;
}

// Records are built field by field, so that most get past the first check; `valid` ones must be
// accepted. A few are raw bytes.
ClearRule MakeClear(FuzzedDataProvider& in, bool& valid) {
    ClearRule r{};
    if (in.ConsumeIntegralInRange(0, 15) == 0) {
        valid = false;
        const std::string raw = in.ConsumeBytesAsString(sizeof r);
        std::memcpy(&r, raw.data(), raw.size());
        return r;
    }
    valid = in.ConsumeBool();
    r.rule_id = in.ConsumeIntegral<int32_t>();
    r.enabled = valid || in.ConsumeBool() ? in.ConsumeIntegralInRange(0, 1) : in.ConsumeIntegral<int32_t>();
    r.keep_days = valid ? in.ConsumeIntegralInRange(0, 3650) : in.ConsumeIntegral<int32_t>();
    r.min_free_percent = valid ? (in.ConsumeBool() ? 0 : in.ConsumeIntegralInRange(5, 95))
                               : in.ConsumeIntegralInRange(-2, 100);
    r.schedule = MakeSchedule(in, valid);
    FillText(in, r.description, valid, "d" + in.ConsumeRandomLengthString(40));
    FillText(in, r.path, valid, (valid || in.ConsumeBool() ? "/" : "") + in.ConsumeRandomLengthString(300));
    FillText(in, r.name_filter, valid, in.ConsumeRandomLengthString(40));
    FillRange(in, r.size_range, valid, 0, 2147483647, false);
    FillRange(in, r.date_range, valid, 1970, 2099, false);
    if (valid && r.date_range[0]) {
        // Whole dates: the years drawn above become the first of January.
        const std::string years(FieldText(r.date_range));
        const size_t comma = years.find(',');
        FillText(in, r.date_range, true, years.substr(0, comma) + "0101," + years.substr(comma + 1) + "0101");
    }
    FillRange(in, r.time_range, valid, 0, 23, true);
    if (valid && r.time_range[0]) {
        const std::string hours(FieldText(r.time_range));
        FillText(in, r.time_range, true, hours.substr(2, 2) + "00," + hours.substr(7, 2) + "59");
    }
    return r;
}

BackupRule MakeBackup(FuzzedDataProvider& in, bool& valid) {
    BackupRule r{};
    if (in.ConsumeIntegralInRange(0, 15) == 0) {
        valid = false;
        const std::string raw = in.ConsumeBytesAsString(sizeof r);
        std::memcpy(&r, raw.data(), raw.size());
        return r;
    }
    valid = in.ConsumeBool();
    r.rule_id = in.ConsumeIntegral<int32_t>();
    r.enabled = valid || in.ConsumeBool() ? in.ConsumeIntegralInRange(0, 1) : in.ConsumeIntegral<int32_t>();
    r.keep_days = valid ? in.ConsumeIntegralInRange(0, 3650) : in.ConsumeIntegral<int32_t>();
    r.schedule = MakeSchedule(in, valid);
    FillText(in, r.description, valid, "d" + in.ConsumeRandomLengthString(40));
    FillText(in, r.source_path, valid,
             (valid || in.ConsumeBool() ? "/" : "") + in.ConsumeRandomLengthString(300));
    FillText(in, r.backup_path, valid,
             (valid || in.ConsumeBool() ? "/" : "") + in.ConsumeRandomLengthString(300));
    return r;
}

// The documented refusals, checked here without the engine's own code.
template <size_t N>
bool TextBroken(const char (&field)[N], bool required) {
    const void* nul = std::memchr(field, 0, N);
    if (!nul) return true;
    const size_t length = size_t(static_cast<const char*>(nul) - field);
    if (required && length == 0) return true;
    for (size_t i = 0; i < length; ++i) {
        const auto b = static_cast<unsigned char>(field[i]);
        if (b < 0x20 || b == 0x7F) return true;
    }
    return false;
}
template <size_t N>
bool PathBroken(const char (&field)[N]) {
    return TextBroken(field, true) || field[0] != '/';
}
bool ScheduleBroken(const RunSchedule& s) {
    return s.interval_minutes > 1440 || s.month_day > 31 || s.week_mask > 127 || s.time_hhmm / 100 > 23 ||
           s.time_hhmm % 100 > 59;
}
// Not "lo,hi" with two numbers and lo <= hi.
template <size_t N>
bool RangeBroken(const char (&field)[N]) {
    const std::string_view text = FieldText(field);
    if (text.empty()) return false;
    const size_t comma = text.find(',');
    if (comma == std::string_view::npos) return true;
    const std::string_view lo = text.substr(0, comma), hi = text.substr(comma + 1);
    for (std::string_view part : {lo, hi}) {
        if (part.empty() || part.find_first_not_of("0123456789") != std::string_view::npos) return true;
    }
    if (lo.size() <= 18 && hi.size() <= 18) return std::stoll(std::string(lo)) > std::stoll(std::string(hi));
    return false;
}
bool MustRefuse(const ClearRule& r) {
    return (r.enabled != 0 && r.enabled != 1) || TextBroken(r.description, true) || PathBroken(r.path) ||
           TextBroken(r.name_filter, false) || TextBroken(r.size_range, false) ||
           TextBroken(r.date_range, false) || TextBroken(r.time_range, false) || ScheduleBroken(r.schedule) ||
           r.keep_days < 0 ||
           (r.min_free_percent != 0 && (r.min_free_percent < 5 || r.min_free_percent > 95)) ||
           RangeBroken(r.size_range) || RangeBroken(r.date_range) || RangeBroken(r.time_range);
}
bool MustRefuse(const BackupRule& r) {
    return (r.enabled != 0 && r.enabled != 1) || TextBroken(r.description, true) ||
           PathBroken(r.source_path) || PathBroken(r.backup_path) || ScheduleBroken(r.schedule) ||
           r.keep_days < 0;
}

// What the engine keeps of an accepted record: the bytes behind each terminator are cleared.
template <size_t N>
void Tidy(char (&field)[N]) {
    const size_t length = FieldText(field).size();
    std::memset(field + length, 0, N - length);
}
ClearRule Tidied(ClearRule r) {
    Tidy(r.description), Tidy(r.path), Tidy(r.name_filter), Tidy(r.size_range), Tidy(r.date_range),
        Tidy(r.time_range);
    return r;
}
BackupRule Tidied(BackupRule r) {
    Tidy(r.description), Tidy(r.source_path), Tidy(r.backup_path);
    return r;
}

bool IsRecordRefusal(int rc) {
    return rc == KIVO_E_BAD_TEXT || rc == KIVO_E_BAD_SCHEDULE || rc == KIVO_E_BAD_FLAG ||
           rc == KIVO_E_BAD_RANGE;
}

template <class Record>
bool SameBytes(const Record& a, const Record& b) {
    return std::memcmp(&a, &b, sizeof(Record)) == 0;
}

class Session {
  public:
    Session(FuzzedDataProvider& in)
        : m_in(in),
          m_clock(std::make_shared<FuzzClock>(in.ConsumeIntegralInRange<int64_t>(0, kLatestClock),
                                              PickZone(in))) {
        Start();
    }
    ~Session() {
        m_engine.reset();
        Restart();  // what was accepted is what a restart finds
        CheckAllRules();
        m_engine.reset();
    }

    void Step() {
        switch (m_in.ConsumeIntegralInRange(0, 16)) {
            case 0:
                return AddClear();
            case 1:
                return AddBackup();
            case 2:
                return UpdateClear();
            case 3:
                return UpdateBackup();
            case 4:
                return Get();
            case 5:
                return Announce();
            case 6:
                return Fill();
            case 7:
                return Delete();
            case 8:
                return Enable();
            case 9:
                return ManRun();
            case 10:
                return AutoRun();
            case 11:
                return MoveClock();
            case 12:
                return ManualBackupOrRestore();
            case 13:
                return NullArguments();
            case 14:
                m_engine->WaitIdle();
                return;
            case 15:
                return SecondEngine();
            default:
                return Restart();
        }
    }

  private:
    void Start() {
        EngineOptions options;
        options.dataFolder = fuzz::ScratchFolder();
        options.clock = m_clock;
        options.workers = 1;
        m_engine = std::make_unique<Engine>(std::move(options));
        m_engine->SetLogCallback(&LogLines::Callback, &m_log);
        m_engine->Start();
        m_announcedClear.reset();
        m_announcedBackup.reset();
    }
    void Restart() {
        m_engine.reset();
        Start();
        FUZZ_CHECK(!m_engine->IsAutoRunning());
        CheckAllRules();
    }

    int32_t PickId() {
        std::vector<int32_t> ids;
        for (const auto& [id, r] : m_clear) ids.push_back(id);
        for (const auto& [id, r] : m_backup) ids.push_back(id);
        if (ids.empty() || m_in.ConsumeIntegralInRange(0, 7) == 0) {
            return m_in.ConsumeBool() ? m_lastId + 1 : m_in.ConsumeIntegral<int32_t>();
        }
        return ids[m_in.ConsumeIntegralInRange<size_t>(0, ids.size() - 1)];
    }
    bool Known(int32_t id) const { return m_clear.count(id) || m_backup.count(id); }

    template <class Record, class Add>
    void AddRecord(const Record& given, bool valid, std::map<int32_t, Record>& rules, Add add) {
        Record argument = given;
        const int rc = add(&argument);
        FUZZ_CHECK(rc == KIVO_OK || IsRecordRefusal(rc));
        if (MustRefuse(given)) FUZZ_CHECK(rc != KIVO_OK);
        if (valid) FUZZ_CHECK(rc == KIVO_OK);
        if (rc != KIVO_OK) {
            FUZZ_CHECK(SameBytes(argument, given));
            return;
        }
        // Only the id is written back, and it is one never handed out before.
        FUZZ_CHECK(argument.rule_id > m_lastId);
        m_lastId = argument.rule_id;
        Record expected = given;
        expected.rule_id = argument.rule_id;
        FUZZ_CHECK(SameBytes(argument, expected));
        rules[argument.rule_id] = Tidied(expected);
    }
    void AddClear() {
        bool valid = false;
        const ClearRule r = MakeClear(m_in, valid);
        AddRecord(r, valid, m_clear, [&](ClearRule* p) { return m_engine->AddClear(p); });
    }
    void AddBackup() {
        bool valid = false;
        const BackupRule r = MakeBackup(m_in, valid);
        AddRecord(r, valid, m_backup, [&](BackupRule* p) { return m_engine->AddBackup(p); });
    }

    template <class Record, class Update>
    void UpdateRecord(Record given, bool valid, std::map<int32_t, Record>& rules, bool otherKindHas,
                      Update update) {
        const int rc = update(&given);
        const int32_t id = given.rule_id;
        FUZZ_CHECK(rc == KIVO_OK || IsRecordRefusal(rc) || rc == KIVO_E_UNKNOWN_RULE ||
                   rc == KIVO_E_WRONG_KIND);
        if (MustRefuse(given)) FUZZ_CHECK(rc != KIVO_OK);
        if (rc == KIVO_OK) FUZZ_CHECK(rules.count(id));
        if (rc == KIVO_E_UNKNOWN_RULE) FUZZ_CHECK(!Known(id));
        if (rc == KIVO_E_WRONG_KIND) FUZZ_CHECK(otherKindHas);
        if (valid)
            FUZZ_CHECK(rc == (rules.count(id) ? KIVO_OK
                              : otherKindHas  ? KIVO_E_WRONG_KIND
                                              : KIVO_E_UNKNOWN_RULE));
        if (rc == KIVO_OK) rules[id] = Tidied(given);
    }
    void UpdateClear() {
        bool valid = false;
        ClearRule r = MakeClear(m_in, valid);
        r.rule_id = PickId();
        UpdateRecord(r, valid, m_clear, m_backup.count(r.rule_id) != 0,
                     [&](const ClearRule* p) { return m_engine->UpdateClear(p); });
    }
    void UpdateBackup() {
        bool valid = false;
        BackupRule r = MakeBackup(m_in, valid);
        r.rule_id = PickId();
        UpdateRecord(r, valid, m_backup, m_clear.count(r.rule_id) != 0,
                     [&](const BackupRule* p) { return m_engine->UpdateBackup(p); });
    }

    template <class Record, class GetOne>
    void GetRecord(int32_t id, const std::map<int32_t, Record>& rules, bool otherKindHas, GetOne get) {
        Record out;
        std::memset(&out, 0x5A, sizeof out);
        const Record untouched = out;
        const int rc = get(id, &out);
        if (auto it = rules.find(id); it != rules.end()) {
            FUZZ_CHECK(rc == KIVO_OK);
            FUZZ_CHECK(SameBytes(out, it->second));
        } else {
            FUZZ_CHECK(rc == (otherKindHas ? KIVO_E_WRONG_KIND : KIVO_E_UNKNOWN_RULE));
            FUZZ_CHECK(SameBytes(out, untouched));
        }
    }
    void Get() {
        const int32_t id = PickId();
        if (m_in.ConsumeBool()) {
            GetRecord(id, m_clear, m_backup.count(id) != 0,
                      [&](int32_t i, ClearRule* p) { return m_engine->GetClear(i, p); });
        } else {
            GetRecord(id, m_backup, m_clear.count(id) != 0,
                      [&](int32_t i, BackupRule* p) { return m_engine->GetBackup(i, p); });
        }
    }

    void Announce() {
        if (m_in.ConsumeBool()) {
            const int n = m_engine->ClearList(nullptr);
            FUZZ_CHECK(n == int(m_clear.size()));
            m_announcedClear = size_t(n);
        } else {
            const int n = m_engine->BackupList(nullptr);
            FUZZ_CHECK(n == int(m_backup.size()));
            m_announcedBackup = size_t(n);
        }
    }
    // The second list call: at most the announced count, the current rules in id order, the
    // announced slots left over zero-filled, and not one byte past them.
    template <class Record, class List>
    void FillList(const std::optional<size_t>& announced, const std::map<int32_t, Record>& rules, List list) {
        const size_t slots = announced.value_or(0);
        std::vector<Record> buffer(slots + 1);
        std::memset(static_cast<void*>(buffer.data()), 0xA5, buffer.size() * sizeof(Record));
        const Record sentinel = buffer.back();
        const int rc = list(buffer.data());
        const size_t expected = std::min(slots, rules.size());
        FUZZ_CHECK(rc == int(expected));
        auto it = rules.begin();
        for (size_t i = 0; i < expected; ++i, ++it) FUZZ_CHECK(SameBytes(buffer[i], it->second));
        const Record zero{};
        for (size_t i = expected; i < slots; ++i) FUZZ_CHECK(SameBytes(buffer[i], zero));
        FUZZ_CHECK(SameBytes(buffer[slots], sentinel));
    }
    void Fill() {
        if (m_in.ConsumeBool()) {
            FillList(m_announcedClear, m_clear, [&](ClearRule* p) { return m_engine->ClearList(p); });
        } else {
            FillList(m_announcedBackup, m_backup, [&](BackupRule* p) { return m_engine->BackupList(p); });
        }
    }

    void Delete() {
        const int32_t id = PickId();
        const int rc = m_engine->DeleteRule(id);
        FUZZ_CHECK(rc == (Known(id) ? KIVO_OK : KIVO_E_UNKNOWN_RULE));
        m_clear.erase(id);
        m_backup.erase(id);
    }

    void Enable() {
        const int32_t id = PickId();
        const int flag = m_in.ConsumeIntegralInRange(0, 7) == 0 ? m_in.ConsumeIntegral<int>()
                                                                : m_in.ConsumeIntegralInRange(0, 1);
        const int rc = m_engine->EnableRule(id, flag);
        if (flag != 0 && flag != 1) {
            FUZZ_CHECK(rc == KIVO_E_BAD_FLAG);
        } else if (!Known(id)) {
            FUZZ_CHECK(rc == KIVO_E_UNKNOWN_RULE);
        } else {
            FUZZ_CHECK(rc == KIVO_OK);
            if (auto c = m_clear.find(id); c != m_clear.end()) c->second.enabled = flag;
            if (auto b = m_backup.find(id); b != m_backup.end()) b->second.enabled = flag;
        }
    }

    void ManRun() {
        const int32_t id = PickId();
        const int rc = m_engine->ManRun(id);
        std::optional<int> enabled;
        if (auto c = m_clear.find(id); c != m_clear.end()) enabled = c->second.enabled;
        if (auto b = m_backup.find(id); b != m_backup.end()) enabled = b->second.enabled;
        if (!enabled) {
            FUZZ_CHECK(rc == KIVO_E_UNKNOWN_RULE);
        } else if (*enabled != 1) {
            FUZZ_CHECK(rc == KIVO_E_RULE_DISABLED);
        } else {
            FUZZ_CHECK(rc == KIVO_OK || rc == KIVO_E_RULE_BUSY);
        }
    }

    void AutoRun() {
        if (m_in.ConsumeBool()) {
            FUZZ_CHECK(m_engine->AutoRun() == KIVO_OK);
            FUZZ_CHECK(m_engine->IsAutoRunning());
        } else {
            FUZZ_CHECK(m_engine->StopRun() == KIVO_OK);
            FUZZ_CHECK(!m_engine->IsAutoRunning());
        }
    }

    // Forward by up to a year, or back by up to three days; the scheduler looks at once.
    void MoveClock() {
        m_clock->Set(m_clock->Now() + m_in.ConsumeIntegralInRange<int64_t>(-3 * 86400, 366 * 86400));
        m_engine->EvaluateNow();
    }

    // Texts in buffers of 256 bytes that need not hold a terminator: the engine reads no further.
    void ManualBackupOrRestore() {
        auto text = [&](std::vector<char>& buffer) -> const char* {
            if (m_in.ConsumeIntegralInRange(0, 15) == 0) return nullptr;
            const std::string bytes = m_in.ConsumeRandomLengthString(300);
            buffer.assign(256, 'a');
            std::memcpy(buffer.data(), bytes.data(), std::min<size_t>(bytes.size(), 256));
            if (bytes.size() < 256) buffer[bytes.size()] = '\0';
            return buffer.data();
        };
        std::vector<char> a, b;
        const char* first = text(a);
        const char* second = text(b);
        const int rc =
            m_in.ConsumeBool() ? m_engine->Backup(first, second) : m_engine->Restore(first, second);
        if (!first || !second) {
            FUZZ_CHECK(rc == KIVO_E_NULL_ARGUMENT || rc == KIVO_E_BAD_TEXT);
        } else {
            FUZZ_CHECK(rc == KIVO_E_BAD_TEXT || rc == KIVO_E_NOT_AVAILABLE);
        }
    }

    void NullArguments() {
        FUZZ_CHECK(m_engine->AddClear(nullptr) == KIVO_E_NULL_ARGUMENT);
        FUZZ_CHECK(m_engine->AddBackup(nullptr) == KIVO_E_NULL_ARGUMENT);
        FUZZ_CHECK(m_engine->UpdateClear(nullptr) == KIVO_E_NULL_ARGUMENT);
        FUZZ_CHECK(m_engine->UpdateBackup(nullptr) == KIVO_E_NULL_ARGUMENT);
        FUZZ_CHECK(m_engine->GetClear(PickId(), nullptr) == KIVO_E_NULL_ARGUMENT);
        FUZZ_CHECK(m_engine->GetBackup(PickId(), nullptr) == KIVO_E_NULL_ARGUMENT);
    }

    // A second engine on the same data folder reads the rules but changes nothing while the first
    // holds the folder.
    void SecondEngine() {
        EngineOptions options;
        options.dataFolder = fuzz::ScratchFolder();
        options.clock = m_clock;
        options.workers = 1;
        Engine second(std::move(options));
        second.SetLogCallback(&LogLines::Callback, &m_log);
        second.Start();
        std::optional<size_t> announced;
        CheckList(m_clear, announced, [&](ClearRule* p) { return second.ClearList(p); });
        bool valid = false;
        ClearRule c = MakeClear(m_in, valid);
        // The record is checked first; one that passes is refused for the lock.
        const int rc = second.AddClear(&c);
        FUZZ_CHECK(rc == KIVO_E_STORE_LOCKED || (IsRecordRefusal(rc) && !valid));
        const int32_t id = PickId();
        if (Known(id)) {
            FUZZ_CHECK(second.DeleteRule(id) == KIVO_E_STORE_LOCKED);
            FUZZ_CHECK(second.ManRun(id) == KIVO_E_STORE_LOCKED);
        }
        FUZZ_CHECK(second.AutoRun() == KIVO_E_STORE_LOCKED);
        FUZZ_CHECK(!second.IsAutoRunning());
    }

    void CheckAllRules() {
        CheckList(m_clear, m_announcedClear, [&](ClearRule* p) { return m_engine->ClearList(p); });
        CheckList(m_backup, m_announcedBackup, [&](BackupRule* p) { return m_engine->BackupList(p); });
    }
    template <class Record, class List>
    void CheckList(const std::map<int32_t, Record>& rules, std::optional<size_t>& announced, List list) {
        const int n = list(nullptr);
        FUZZ_CHECK(n == int(rules.size()));
        announced = size_t(n);
        FillList(announced, rules, list);
    }

    FuzzedDataProvider& m_in;
    std::shared_ptr<FuzzClock> m_clock;
    LogLines m_log;
    std::unique_ptr<Engine> m_engine;
    std::map<int32_t, ClearRule> m_clear;
    std::map<int32_t, BackupRule> m_backup;
    int32_t m_lastId = 0;
    std::optional<size_t> m_announcedClear, m_announcedBackup;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz::EmptyScratchFolder();
    FuzzedDataProvider in(data, size);
    {
        Session session(in);
        for (int step = 0; step < 48 && in.remaining_bytes() > 0; ++step) session.Step();
    }
    return 0;
}
