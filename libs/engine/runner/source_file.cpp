#include "source_file.h"

#include "run_text.h"

namespace kivo {

std::optional<std::string> OpenSourceFile(const RunnerOptions& options, const fs::Dir& parent,
                                          const fs::NativeString& name, const fs::NativeString& relative,
                                          fs::File& in) {
    fs::Status s = AtSeam(options, RunnerOptions::Seam::OpenSource, relative);
    if (s) s = parent.OpenRead(name, in);
    if (s) return std::nullopt;
    return s.error == fs::Error::NotFound ? "文件在备份过程中消失" : ReasonText(s);
}

std::optional<std::string> SourceFactsBefore(const RunnerOptions& options, const fs::File& in,
                                             const fs::NativeString& relative, fs::Facts& before) {
    fs::Status s = in.GetState(before);
    // OpenRead refuses links, so a reparse point here is one whose data was read through it.
    if (before.kind == fs::Kind::Link) before.kind = fs::Kind::File;
    if (s) s = AtSeam(options, RunnerOptions::Seam::SourceOpened, relative);
    if (s) return std::nullopt;
    return ReasonText(s);
}

const char* ChangedWhileRead(const fs::File& in, const fs::Facts& before) {
    char extra;
    size_t got = 0;
    if (in.ReadAt(before.size, &extra, 1, got) && got > 0) return "文件在备份过程中变大";
    fs::Facts after;
    if (in.GetState(after) && (after.size != before.size || after.writeTicks != before.writeTicks ||
                               after.changeTicks != before.changeTicks))
        return "文件在备份过程中被修改";
    return nullptr;
}

}  // namespace kivo
