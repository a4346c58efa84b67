#include "tree_walker.h"

#include <algorithm>

#include "reparse_tag.h"
#include "run_text.h"

namespace kivo {
namespace {

bool Guarded(const std::vector<fs::FileId>& guards, const fs::FileId& id) {
    return std::find(guards.begin(), guards.end(), id) != guards.end();
}

void WalkDir(const fs::Dir& dir, const fs::NativeString& relative, int depth, TreeVisitor& visitor,
             const std::vector<fs::FileId>& guards) {
    std::vector<fs::DirEntry> entries;
    if (fs::Status s = dir.List(entries); !s) {
        visitor.Failure(relative, s);
        return;
    }
    std::sort(entries.begin(), entries.end(),
              [](const fs::DirEntry& a, const fs::DirEntry& b) { return a.name < b.name; });
    for (const fs::DirEntry& entry : entries) {
        if (visitor.Stop()) return;
        const fs::NativeString child = JoinNative(relative, entry.name);
        const bool throughData = visitor.ReadsThroughData();
        switch (WalkKind(entry.facts, throughData)) {
            case fs::Kind::Link:
                visitor.Link(child);
                break;
            case fs::Kind::File:
                if (Guarded(guards, entry.facts.id)) {
                    visitor.Guarded(child);
                } else {
                    visitor.File(dir, entry, child);
                }
                break;
            case fs::Kind::Directory: {
                if (Guarded(guards, entry.facts.id)) {
                    visitor.Guarded(child);
                    break;
                }
                if (depth + 1 > kMaxTreeDepth) {
                    visitor.TooDeep(child);
                    break;
                }
                fs::Dir sub;
                if (fs::Status s = dir.OpenDir(entry.name, sub, throughData); !s) {
                    // Swapped for a link since the listing: still a link, still not followed.
                    if (s.error == fs::Error::IsLink) {
                        visitor.Link(child);
                    } else {
                        visitor.Failure(child, s);
                    }
                    break;
                }
                if (Guarded(guards, sub.Id())) {
                    visitor.Guarded(child);
                    break;
                }
                if (!visitor.EnterDirectory(sub, child, entry)) break;
                WalkDir(sub, child, depth + 1, visitor, guards);
                visitor.LeaveDirectory(child);
                break;
            }
            case fs::Kind::Other:
                break;  // devices, pipes, sockets: neither copied nor deleted
        }
    }
}

}  // namespace

fs::Kind WalkKind(const fs::Facts& facts, bool readsThroughData) {
    if (facts.kind != fs::Kind::Link || !readsThroughData || facts.reparseTag == 0) return facts.kind;
    switch (ClassifyReparseTag(facts.reparseTag)) {
        case ReparseClass::Data:
            return facts.beneath == fs::Kind::Directory ? fs::Kind::Directory : fs::Kind::File;
        case ReparseClass::Special:
            return fs::Kind::Other;
        case ReparseClass::Link:
            break;
    }
    return fs::Kind::Link;
}

void WalkTree(const fs::Dir& root, TreeVisitor& visitor, const std::vector<fs::FileId>& guards) {
    WalkDir(root, fs::NativeString(), 0, visitor, guards);
}

}  // namespace kivo
