// Flushes a backup set's copied files on worker threads, so that copying the next file never waits
// for the disk and the flushes overlap each other. The set may be named complete only after Finish.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "runner_options.h"

namespace kivo {

class FlushWorkers {
  public:
    // threads 0 flushes each file inside Add, before the next is copied.
    FlushWorkers(const RunnerOptions& options, int threads);
    ~FlushWorkers();
    FlushWorkers(const FlushWorkers&) = delete;
    FlushWorkers& operator=(const FlushWorkers&) = delete;

    // A written copy, name in its folder `parent`; tag is the caller's, handed back with a failure.
    struct Copy {
        fs::File file;
        std::shared_ptr<const fs::Dir> parent;
        fs::NativeString name, relative;
        size_t tag = 0;
    };
    // Takes the copy and flushes it; waits only while many flushes are already waiting.
    void Add(Copy copy);

    struct Failure {
        fs::NativeString relative;
        fs::Status status;
        size_t tag = 0;
    };
    // Waits until every copy is flushed. The copies whose flush failed are deleted (they would pose
    // as the file) and listed, in the order they were added.
    std::vector<Failure> Finish();
    // Drops what still waits, without flushing it: the set is being thrown away.
    void Abandon();

  private:
    void Work();
    // Flushes one copy; on failure deletes it and records why.
    void Flush(Copy& copy, size_t order);

    const RunnerOptions& m_options;
    std::mutex m_mutex;
    std::condition_variable m_ready, m_room;
    std::deque<std::pair<size_t, Copy>> m_waiting;  // with the order of Add
    std::vector<std::pair<size_t, Failure>> m_failures;
    std::vector<std::thread> m_threads;
    size_t m_added = 0;
    int m_idle = 0;  // workers asleep
    bool m_producerWaiting = false;
    bool m_closing = false;
    bool m_lostFailure = false;  // a failure could not be recorded for want of memory
};

}  // namespace kivo
