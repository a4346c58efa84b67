#include "reparse_tag.h"

namespace kivo {
namespace {

// Tags whose bit "name surrogate" is clear, yet which still only point elsewhere.
constexpr uint32_t kAppExecLink = 0x8000001B;  // an alias that starts an app
constexpr uint32_t kDfs = 0x8000000A;          // a DFS namespace link to another share
constexpr uint32_t kNfs = 0x80000014;          // an NFS server's own link or device

constexpr uint32_t kAfUnix = 0x80000023;
constexpr uint32_t kLxFifo = 0x80000024;
constexpr uint32_t kLxCharDevice = 0x80000025;
constexpr uint32_t kLxBlockDevice = 0x80000026;

constexpr uint32_t kNameSurrogate = 0x20000000;

}  // namespace

ReparseClass ClassifyReparseTag(uint32_t tag) {
    // No tag is no known kind: take it for a link rather than follow it.
    if (tag == 0 || (tag & kNameSurrogate) || tag == kAppExecLink || tag == kDfs || tag == kNfs)
        return ReparseClass::Link;
    if (tag == kAfUnix || tag == kLxFifo || tag == kLxCharDevice || tag == kLxBlockDevice)
        return ReparseClass::Special;
    // Deduplication, cloud files of every provider, HSM, single-instance storage, compressed (WOF)
    // files, and the tags of storage filters not known here: the file's data is behind the tag, and
    // reading the file through its filter gives it (or fails, which the run reports).
    return ReparseClass::Data;
}

}  // namespace kivo
