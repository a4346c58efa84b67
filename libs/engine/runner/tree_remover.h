// Removes a folder tree that the runner itself made (a backup set, a restore's staging folder),
// through handles. A link found inside is left alone and stops the removal of the folders above it.
#pragma once

#include "file_system.h"

namespace kivo {

fs::Status RemoveTree(const fs::Dir& parent, const fs::NativeString& name);

}  // namespace kivo
