// The crash tests' way into shared::AtomicWriteFile: a hook that may stop a write before any of its
// steps, leaving the files exactly as a crash at that point would. The product never sets it, and
// its callers don't include this header.
#pragma once

#include <functional>

namespace shared {

// The steps of AtomicWriteFile, in order.
enum class WriteStep { CreateTemp, WriteFirstHalf, WriteSecondHalf, Flush, Replace };
using WriteFaultHook = std::function<bool(WriteStep)>;  // true: stop here
void SetWriteFaultHook(WriteFaultHook hook);

}  // namespace shared
