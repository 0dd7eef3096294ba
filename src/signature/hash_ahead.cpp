#include "signature/hash_ahead.h"

#include <algorithm>
#include <chrono>

#include "platform/read_only_file.h"
#include "signature/file_signature.h"

namespace veldrano {

namespace {

// How long the scan waits before it lets the window run again.
constexpr auto WaitStep = std::chrono::milliseconds(10);

}  // namespace

struct HashAhead::Job {
  enum class Stage { Waiting, Reading, Done, Failed, LeftToScan };
  std::string Path;
  platform::AnchoredPath Where;  // how to open it; the worker's alone once announced
  std::int64_t Size = 0;
  Stage Stage = Stage::Waiting;
  std::uint64_t Read = 0;  // bytes hashed so far
  struct stat Seen {};     // the file as the worker opened it
  MD5Digest Digest{};
};

std::deque<std::shared_ptr<HashAhead::Job>>::iterator HashAhead::FindJob(const std::string& path) {
  return std::find_if(jobs_.begin(), jobs_.end(), [&path](const auto& job) { return job->Path == path; });
}

HashAhead::HashAhead() : worker_([this] { Work(); }) {}

HashAhead::~HashAhead() {
  {
    const std::lock_guard lock(mutex_);
    ending_ = true;
  }
  changed_.notify_all();
  worker_.join();
}

void HashAhead::Hint(const std::string& path, const platform::AnchoredPath& where, std::int64_t size) {
  bool wake = false;
  {
    const std::lock_guard lock(mutex_);
    if (FindJob(path) != jobs_.end()) return;
    auto job = std::make_shared<Job>();
    job->Path = path;
    job->Where = where;
    job->Size = size;
    jobs_.push_back(std::move(job));
    wake = workerIdle_;
  }
  if (wake) changed_.notify_all();
}

bool HashAhead::WaitUntil(std::unique_lock<std::mutex>& lock, const std::function<bool()>& ready,
                          const std::function<bool()>& wait) {
  while (!ready()) {
    scanWaiting_ = true;
    const bool moved = changed_.wait_for(lock, WaitStep, ready);
    scanWaiting_ = false;
    if (moved) break;
    lock.unlock();
    const bool goOn = wait();
    lock.lock();
    if (!goOn) return false;
  }
  return true;
}

std::optional<MD5Digest> HashAhead::Take(const std::string& path, const struct stat& opened,
                                         const std::function<bool(std::uint64_t)>& beforeBlock,
                                         const std::function<bool()>& wait) {
  std::unique_lock lock(mutex_);
  const auto found = FindJob(path);
  if (found == jobs_.end()) return std::nullopt;
  const std::shared_ptr<Job> job = *found;
  jobs_.erase(jobs_.begin(), found + 1);  // those before it were passed over by the scan
  if (job->Stage == Job::Stage::Waiting) {
    job->Stage = Job::Stage::LeftToScan;  // quicker read by the scan than waited for
    return std::nullopt;
  }
  const auto total = static_cast<std::uint64_t>(std::max<std::int64_t>(job->Size, 0));
  for (std::uint64_t offset = 0; offset < total; offset += HashBlockBytes) {
    // The block is shown once the worker is past it, or done.
    if (!WaitUntil(
            lock, [&] { return job->Stage != Job::Stage::Reading || job->Read > offset; }, wait)) {
      return std::nullopt;
    }
    if (job->Stage == Job::Stage::Failed) return std::nullopt;
    lock.unlock();
    const bool goOn = beforeBlock(offset);
    lock.lock();
    if (!goOn) return std::nullopt;
  }
  if (!WaitUntil(
          lock, [&] { return job->Stage != Job::Stage::Reading; }, wait))
    return std::nullopt;
  if (job->Stage != Job::Stage::Done || !platform::SameFileState(job->Seen, opened)) return std::nullopt;
  return job->Digest;
}

std::optional<HashAhead::Finished> HashAhead::TakeFinished(const std::string& path) {
  const std::lock_guard lock(mutex_);
  const auto found = FindJob(path);
  if (found == jobs_.end()) return std::nullopt;
  const std::shared_ptr<Job> job = *found;
  if (job->Stage != Job::Stage::Done && job->Stage != Job::Stage::Failed) return std::nullopt;
  jobs_.erase(jobs_.begin(), found + 1);  // those before it were passed over by the scan
  if (job->Stage == Job::Stage::Failed) return std::nullopt;
  return Finished{job->Seen, job->Digest};
}

void HashAhead::Work() {
  std::unique_lock lock(mutex_);
  for (;;) {
    std::shared_ptr<Job> job;
    workerIdle_ = true;
    changed_.wait(lock, [&] {
      if (ending_) return true;
      // The farthest announced file first: the scan reads the near ones
      // itself when it reaches them, so the two rarely wait for each other.
      const auto next =
          std::find_if(jobs_.rbegin(), jobs_.rend(), [](const auto& j) { return j->Stage == Job::Stage::Waiting; });
      if (next == jobs_.rend()) return false;
      job = *next;
      return true;
    });
    workerIdle_ = false;
    if (ending_) return;
    job->Stage = Job::Stage::Reading;
    lock.unlock();

    // What the scan's own reading would take: the whole file, as listed,
    // unchanged from open to end. Each block read is published for the
    // scan, which may be waiting to show it.
    const platform::ReadOnlyFile file(job->Where);
    // Only the worker looks at Where: the folder need not stay open for a
    // job that waits to be taken.
    job->Where = {};
    TMD5Context context;
    MD5Init(context);
    const auto publish = [&](std::uint64_t done) {
      lock.lock();
      job->Read = done;
      const bool goOn = !ending_;
      const bool wake = scanWaiting_;
      lock.unlock();
      if (wake) changed_.notify_all();
      return goOn;
    };
    const bool whole = file.IsOpen() && ReadWhole(file, job->Size, context, publish).How == WholeRead::Ending::Whole;

    lock.lock();
    if (whole) {
      job->Seen = file.Status();
      job->Digest = MD5Final(context);
    }
    job->Stage = whole ? Job::Stage::Done : Job::Stage::Failed;
    if (scanWaiting_) changed_.notify_all();
  }
}

}  // namespace veldrano
