// Removes a folder tree that the runner itself made (a backup set, a restore's staging folder),
// through handles. A link found inside is left alone and stops the removal of the folders above it.
#pragma once

#include <functional>

#include "file_system.h"

namespace kivo {

struct RemoveOptions {
    // An entry of the top folder that goes only after everything else has gone, and stays when
    // anything else could not be removed (the mark of a backup set, so that a removal cut short
    // leaves a set that is still known).
    const fs::NativeString* last = nullptr;
    // Asked before each file is deleted, with its path below the top folder; a failure is taken as
    // the delete's own (a test seam).
    std::function<fs::Status(const fs::NativeString& relative)> beforeDelete;
};

fs::Status RemoveTree(const fs::Dir& parent, const fs::NativeString& name, const RemoveOptions& options = {});

}  // namespace kivo
