#include "tree_walker.h"

#include <algorithm>

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
        switch (entry.facts.kind) {
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
                if (fs::Status s = dir.OpenDir(entry.name, sub); !s) {
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

void WalkTree(const fs::Dir& root, TreeVisitor& visitor, const std::vector<fs::FileId>& guards) {
    WalkDir(root, fs::NativeString(), 0, visitor, guards);
}

}  // namespace kivo
