#include "runner_test_support.h"

#include <zlib.h>

#include <cstdlib>
#include <fstream>
#include <random>
#include <stdexcept>

#include "civil_date.h"
#include "shared_files.h"
#include "zip_format.h"

#ifndef _WIN32
#include <sys/stat.h>
#endif

namespace kivo::test {

std::vector<std::string> RecordingContext::Matching(std::string_view text) const {
    std::vector<std::string> out;
    for (const auto& line : lines) {
        if (line.find(text) != std::string::npos) out.push_back(line);
    }
    return out;
}

fs::CivilTime UtcCivil(int64_t utc) {
    const CivilDate date = CivilFromDays(FloorDiv(utc, kSecondsPerDay));
    const int64_t second = FloorMod(utc, kSecondsPerDay);
    return {date.year, date.month, date.day, int(second / 3600), int(second / 60 % 60), int(second % 60)};
}

RunnerOptions UtcOptions() {
    RunnerOptions options;
    options.localTime = UtcCivil;
    // Files a test has just written count as settled: only the tests of that rule ask for a coarser clock.
    options.timeGranularity = [](const fs::Dir&) { return int64_t(0); };
    return options;
}

ScratchDir::ScratchDir() {
    std::random_device rd;
    for (int i = 0; i < 100; ++i) {
        auto candidate =
            std::filesystem::temp_directory_path() / ("kivo-runner-test-" + std::to_string(rd()));
        if (std::filesystem::create_directory(candidate)) {
            m_path = candidate;
            return;
        }
    }
    throw std::runtime_error("no scratch folder");
}

ScratchDir::~ScratchDir() {
    std::error_code ec;
    std::filesystem::remove_all(m_path, ec);  // removes links, never what they point to
}

std::filesystem::path ScratchDir::operator/(std::string_view relative) const {
    return m_path / std::filesystem::path(std::u8string(relative.begin(), relative.end()));
}

std::string U8(std::u8string_view text) {
    return std::string(text.begin(), text.end());
}

std::string Gbk(const std::filesystem::path& path) {
    auto gbk = shared::GbkFromPath(path);
    if (!gbk) throw std::runtime_error("path has no GBK form");
    return *gbk;
}

void WriteFile(const std::filesystem::path& path, std::string_view content) {
    std::filesystem::create_directories(path.parent_path());
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(content.data(), std::streamsize(content.size()));
    if (!out) throw std::runtime_error("cannot write " + path.string());
}

std::string ReadFile(const std::filesystem::path& path) {
    std::string out;
    if (!shared::ReadWholeFile(path, out)) throw std::runtime_error("cannot read " + path.string());
    return out;
}

void SetMtime(const std::filesystem::path& path, int64_t mtime) {
    using namespace std::chrono;
    std::filesystem::last_write_time(path, file_clock::from_sys(sys_seconds(seconds(mtime))));
}

int64_t Mtime(const std::filesystem::path& path) {
    using namespace std::chrono;
    return floor<seconds>(file_clock::to_sys(std::filesystem::last_write_time(path)))
        .time_since_epoch()
        .count();
}

std::map<std::string, std::string> Snapshot(const std::filesystem::path& root) {
    std::map<std::string, std::string> out;
    if (!std::filesystem::exists(std::filesystem::symlink_status(root))) return out;
    for (auto it = std::filesystem::recursive_directory_iterator(root);
         it != std::filesystem::recursive_directory_iterator(); ++it) {
        const auto relative = std::filesystem::relative(it->path(), root).generic_u8string();
        std::string key(relative.begin(), relative.end());
        if (it->is_symlink()) {
            out[key] = "-> " + std::filesystem::read_symlink(it->path()).string();
        } else if (it->is_directory()) {
            out[key + "/"] = "";
        } else {
            out[key] = ReadFile(it->path());
        }
    }
    return out;
}

ClearRule MakeClearRule(const std::filesystem::path& folder) {
    ClearRule rule{};
    rule.rule_id = 7;
    rule.enabled = 1;
    WriteField(rule.description, "clean");
    if (!WriteField(rule.path, Gbk(folder))) throw std::runtime_error("path too long for the rule");
    return rule;
}

BackupRule MakeBackupRule(int32_t id, const std::filesystem::path& source,
                          const std::filesystem::path& backup) {
    BackupRule rule{};
    rule.rule_id = id;
    rule.enabled = 1;
    WriteField(rule.description, "backup");
    if (!WriteField(rule.source_path, Gbk(source)) || !WriteField(rule.backup_path, Gbk(backup))) {
        throw std::runtime_error("path too long for the rule");
    }
    return rule;
}

int Shell(const std::string& command) {
    int status = std::system(command.c_str());
#ifdef _WIN32
    return status;
#else
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
#endif
}

std::string BuildRawZip(const std::vector<RawEntry>& entries, std::string_view comment) {
    using namespace zip;
    std::string body, central;
    for (const RawEntry& e : entries) {
        std::string data = e.data;
        if (e.deflate) {
            z_stream zs{};
            deflateInit2(&zs, 6, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY);
            std::string out(e.data.size() + 64, '\0');
            zs.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(e.data.data()));
            zs.avail_in = uInt(e.data.size());
            zs.next_out = reinterpret_cast<Bytef*>(out.data());
            zs.avail_out = uInt(out.size());
            deflate(&zs, Z_FINISH);
            out.resize(zs.total_out);
            deflateEnd(&zs);
            data = out;
        }
        const uint32_t crc = Crc32(e.data.data(), e.data.size());
        const uint16_t method = e.deflate ? kMethodDeflate : kMethodStored;
        if (e.alignTo) {
            const size_t start = body.size() + kLocalHeaderSize + e.name.size() + e.localPadding;
            body.append((e.alignTo - start % e.alignTo) % e.alignTo, '\0');
        }
        const uint32_t offset = uint32_t(body.size());
        Put32(body, kLocalHeaderSig);
        Put16(body, 20);
        Put16(body, e.flags);
        Put16(body, method);
        Put16(body, 0);
        Put16(body, 0x21);
        Put32(body, crc);
        Put32(body, uint32_t(data.size()));
        Put32(body, uint32_t(e.data.size()));
        Put16(body, uint16_t(e.name.size()));
        Put16(body, uint16_t(e.localPadding));
        body += e.name;
        body.append(e.localPadding, '\0');
        body += data;
        Put32(central, kCentralHeaderSig);
        Put16(central, e.madeBy);
        Put16(central, 20);
        Put16(central, e.flags);
        Put16(central, method);
        Put16(central, 0);
        Put16(central, 0x21);
        Put32(central, crc);
        Put32(central, uint32_t(data.size()));
        Put32(central, uint32_t(e.data.size()));
        Put16(central, uint16_t(e.name.size()));
        Put16(central, 0);
        Put16(central, 0);
        Put16(central, 0);
        Put16(central, 0);
        Put32(central, e.externalAttributes);
        Put32(central, offset);
        central += e.name;
    }
    std::string out = body + central;
    Put32(out, kEndSig);
    Put16(out, 0);
    Put16(out, 0);
    Put16(out, uint16_t(entries.size()));
    Put16(out, uint16_t(entries.size()));
    Put32(out, uint32_t(central.size()));
    Put32(out, uint32_t(body.size()));
    Put16(out, uint16_t(comment.size()));
    out += comment;
    return out;
}

}  // namespace kivo::test
