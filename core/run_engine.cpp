#include "core/run_engine.h"

#include <algorithm>
#include <condition_variable>
#include <exception>
#include <mutex>
#include <numeric>
#include <set>
#include <thread>

namespace ostrivane {
namespace {

// How many waiting steps a writer looks through for one it may start. Steps further on
// wait for these; it bounds the work of each choice when thousands of steps wait.
constexpr std::size_t kLookAhead = 64;

class Scheduler {
  public:
    Scheduler(std::vector<EngineStep>& steps, const std::vector<int>& writersPerQueue,
              const StepsConflict& conflicts)
        : steps_(steps),
          writers_(writersPerQueue),
          conflicts_(conflicts),
          state_(steps.size(), kWaiting),
          running_(writersPerQueue.size(), 0),
          abortAt_(steps.size()) {
        for (std::size_t i = 0; i < steps.size(); ++i) open_.insert(open_.end(), i);
    }

    void work() {
        std::unique_lock lock(mutex_);
        for (;;) {
            const std::size_t step = choose();
            if (step == kNone) {
                if (nothingLeft()) {
                    changed_.notify_all();
                    return;
                }
                changed_.wait(lock);
                continue;
            }
            state_[step] = kRunning;
            ++running_[queueOf(step)];
            mostAtOnce_ = std::max(mostAtOnce_, ++runningNow_);
            lock.unlock();
            std::exception_ptr thrown;
            try {
                steps_[step].work();
            } catch (...) {
                thrown = std::current_exception();
            }
            lock.lock();
            state_[step] = kDone;
            --running_[queueOf(step)];
            --runningNow_;
            open_.erase(step);
            if (thrown && step < abortAt_) {
                abortAt_ = step;
                thrown_ = thrown;
            }
            changed_.notify_all();
        }
    }

    int mostAtOnce() const { return mostAtOnce_; }

    void rethrow() const {
        if (thrown_) std::rethrow_exception(thrown_);
    }

  private:
    static constexpr char kWaiting = 0, kRunning = 1, kDone = 2;
    static constexpr std::size_t kNone = static_cast<std::size_t>(-1);

    std::size_t queueOf(std::size_t step) const {
        return static_cast<std::size_t>(steps_[step].queue);
    }

    // True when no step is running and none may start any more.
    bool nothingLeft() const {
        for (std::size_t step : open_) {
            if (state_[step] == kRunning) return false;
            if (step < abortAt_) return false;
        }
        return true;
    }

    // The earliest waiting step that may start now, or kNone.
    std::size_t choose() const {
        std::size_t looked = 0;
        for (auto it = open_.begin(); it != open_.end() && looked < kLookAhead; ++it) {
            const std::size_t step = *it;
            if (step >= abortAt_) break;
            if (state_[step] != kWaiting) continue;
            ++looked;
            if (running_[queueOf(step)] >= writers_[queueOf(step)]) continue;
            bool blocked = false;
            for (auto earlier = open_.begin(); earlier != it && !blocked; ++earlier)
                blocked = conflicts_(*earlier, step);
            if (!blocked) return step;
        }
        return kNone;
    }

    std::vector<EngineStep>& steps_;
    const std::vector<int>& writers_;
    const StepsConflict& conflicts_;
    std::vector<char> state_;
    std::vector<int> running_;
    std::set<std::size_t> open_;  // steps not done yet, in order
    std::size_t abortAt_;         // no step from here on starts
    std::exception_ptr thrown_;
    int runningNow_ = 0, mostAtOnce_ = 0;
    std::mutex mutex_;
    std::condition_variable changed_;
};

}  // namespace

int RunSteps(std::vector<EngineStep>& steps, const std::vector<int>& writersPerQueue,
              const StepsConflict& conflicts) {
    long total = 0;
    for (int writers : writersPerQueue) total += std::max(writers, 1);
    const std::size_t threads =
        std::min({static_cast<std::size_t>(total), static_cast<std::size_t>(kMaxWriterThreads),
                  steps.size()});
    if (threads <= 1) {
        for (EngineStep& step : steps) step.work();
        return steps.empty() ? 0 : 1;
    }
    std::vector<int> writers = writersPerQueue;
    for (int& count : writers) count = std::max(count, 1);
    Scheduler scheduler(steps, writers, conflicts);
    std::vector<std::thread> pool;
    pool.reserve(threads);
    // Every writer is a thread of its own, the calling thread (which may be a window's, and
    // keeps its descriptor table) only waits: each writer opens and closes what it uses
    // itself, and a table of its own spares it from sharing one at every open and close.
    for (std::size_t i = 0; i < threads; ++i)
        pool.emplace_back([&] {
            UsePrivateDescriptorTable();
            scheduler.work();
        });
    for (std::thread& thread : pool) thread.join();
    scheduler.rethrow();
    return scheduler.mostAtOnce();
}

void RunEachAtOnce(std::size_t count, int writers, const std::function<void(std::size_t)>& each) {
    std::vector<EngineStep> steps;
    steps.reserve(count);
    for (std::size_t i = 0; i < count; ++i) steps.push_back({0, [&each, i] { each(i); }});
    RunSteps(steps, {writers}, [](std::size_t, std::size_t) { return false; });
}

WriterGate::WriterGate(int start, int most, Tuning tuning)
    : most_(std::max(1, most)),
      tuning_(tuning),
      limit_(std::clamp(start, 1, std::max(1, most))),
      windowStart_(std::chrono::steady_clock::now().time_since_epoch().count()) {}

// Takes a place when one is free; no lock on the way (copies of small files pass the gate
// tens of thousands of times a second).
bool WriterGate::tryEnter() {
    int running = running_.load();
    while (running < limit_.load())
        if (running_.compare_exchange_weak(running, running + 1)) return true;
    return false;
}

void WriterGate::enter() {
    if (tryEnter()) return;
    std::unique_lock lock(mutex_);
    ++waiting_;
    freed_.wait(lock, [&] { return tryEnter(); });
    --waiting_;
}

void WriterGate::leave(bool finished) {
    --running_;
    if (finished) {
        const int files = ++windowFiles_;
        const auto now = std::chrono::steady_clock::now();
        if (files >= tuning_.windowFiles &&
            now.time_since_epoch().count() - windowStart_.load() >=
                std::chrono::duration_cast<std::chrono::steady_clock::duration>(tuning_.window)
                    .count()) {
            std::lock_guard lock(mutex_);
            // Another writer may have ended the window meanwhile.
            if (now.time_since_epoch().count() - windowStart_.load() >=
                std::chrono::duration_cast<std::chrono::steady_clock::duration>(tuning_.window)
                    .count())
                endWindow(now);
        }
    }
    // A writer that waits counted itself before it looked at the places (both sequentially
    // consistent), so it is either seen here or sees this place free.
    if (waiting_.load() > 0) {
        std::lock_guard lock(mutex_);
        freed_.notify_all();
    }
}

int WriterGate::limit() const { return limit_.load(); }

void WriterGate::setLimit(int limit) {
    limit_ = std::clamp(limit, 1, most_);
    freed_.notify_all();
}

void WriterGate::endWindow(std::chrono::steady_clock::time_point now) {
    const auto start = std::chrono::steady_clock::time_point(
        std::chrono::steady_clock::duration(windowStart_.load()));
    const double seconds = std::chrono::duration<double>(now - start).count();
    const double rate = (windowFiles_.exchange(0) +
                         static_cast<double>(windowBytes_.exchange(0)) / kFileCost) /
                        seconds;
    windowStart_ = now.time_since_epoch().count();
    if (most_ == 1) return;
    if (triedFrom_ != 0) {
        const bool up = limit_ > triedFrom_;
        const bool keep = rate >= settledRate_ * (up ? tuning_.gain : tuning_.keep);
        // One fewer must hold for two windows: where the rate is noisy, a device that gains
        // from its writers does not lose them to one lucky window.
        if (keep && !up && ++confirmed_ < 2) return;
        confirmed_ = 0;
        if (!keep) {
            setLimit(triedFrom_);
            triedFrom_ = 0;
            settledRate_ = 0;  // measured again at the limit gone back to
            // A device that did not gain from one more is left alone longer and longer; one
            // that lost with one fewer is asked again sooner.
            int& backoff = up ? upBackoff_ : downBackoff_;
            wait_ = backoff;
            backoff = std::min(backoff * 2, up ? 64 : 8);
            nextStep_ = up ? -1 : 1;
            return;
        }
        triedFrom_ = 0;
        (up ? upBackoff_ : downBackoff_) = 1;
        nextStep_ = up ? 1 : -1;  // on in the same direction
    }
    settledRate_ = rate;
    if (wait_ > 0) {
        --wait_;
        return;
    }
    // The next try: in the direction chosen, else the other one.
    int step = nextStep_;
    if (limit_ + step < 1 || limit_ + step > most_) step = -step;
    triedFrom_ = limit_;
    setLimit(limit_ + step);
}

int WritersForDevice(std::uint64_t device, int requested) {
    if (requested > 1) return requested;
    return IsRotatingDisk(device) ? 1 : kFastDeviceWriters;
}

bool FolderFootprint::within(const FileIdentity& id) const {
    return std::find(chain.begin(), chain.end(), id) != chain.end();
}

FolderFootprint FootprintOf(const std::string& path) {
    FolderFootprint footprint;
    if (path.empty()) return footprint;
    std::string existing = path;
    std::string canonical = CanonicalPath(existing);
    footprint.known = !canonical.empty();
    // The names below the nearest existing folder, innermost first.
    std::vector<std::string> missing;
    // A folder that does not exist yet: the nearest existing folder above it.
    while (canonical.empty()) {
        while (existing.size() > 1 && existing.back() == platform::kSeparator) existing.pop_back();
        const std::size_t cut = existing.find_last_of(platform::kSeparator);
        missing.push_back(existing.substr(cut == std::string::npos ? 0 : cut + 1));
        // "a" -> ".", "/a" -> "/", "/a/b" -> "/a".
        existing.resize(cut == std::string::npos ? 0 : std::max<std::size_t>(cut, 1));
        if (existing.empty()) existing.push_back('.');
        canonical = CanonicalPath(existing);
        if (canonical.empty() && (existing == "." || existing.size() == 1)) return footprint;
    }
    footprint.places = PlacesOf(canonical);
    if (!missing.empty() && !footprint.places.empty()) {
        // The place the folder will have: below the existing one's, no mount inside it yet.
        footprint.places.resize(1);
        std::string& place = footprint.places.front().path;
        for (auto name = missing.rbegin(); name != missing.rend(); ++name) {
            if (name->empty() || *name == "." || *name == "..") {
                footprint.places.clear();  // a path that climbs through what is not there
                break;
            }
            if (place.empty() || place.back() != platform::kSeparator)
                place += platform::kSeparator;
            place += *name;
        }
    }
    // The canonical path has no links: each of its prefixes is a folder above it.
    for (;;) {
        FileIdentity id;
        if (!GetIdentity(canonical, id)) {
            footprint.known = false;
            footprint.chain.clear();
            footprint.places.clear();
            return footprint;
        }
        footprint.chain.push_back(id);
        const std::size_t cut = canonical.find_last_of(platform::kSeparator);
        if (cut == std::string::npos || canonical.size() == 1) break;
        canonical.resize(cut == 0 ? 1 : cut);
    }
    return footprint;
}

bool FolderFootprint::sharesPlaceWith(const FolderFootprint& other) const {
    if (places.empty() || other.places.empty()) return true;
    for (const FolderPlace& mine : places)
        for (const FolderPlace& theirs : other.places)
            if (PlacesOverlap(mine, theirs)) return true;
    return false;
}

bool FootprintsOverlap(const FolderFootprint& a, const FolderFootprint& b) {
    if (!a.known || !b.known) return true;
    return b.within(a.chain.front()) || a.within(b.chain.front()) || a.sharesPlaceWith(b);
}

bool FootprintOverlapsItself(const FolderFootprint& footprint) {
    const std::vector<FolderPlace>& places = footprint.places;
    for (std::size_t i = 0; i < places.size(); ++i)
        for (std::size_t j = i + 1; j < places.size(); ++j)
            if (PlacesOverlap(places[i], places[j])) return true;
    return false;
}

}  // namespace ostrivane
