#include "signature/hash_ahead.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <span>
#include <utility>
#include <vector>

#include "platform/read_only_file.h"
#include "signature/file_signature.h"
#include "signature/mix64.h"

namespace veldrano {

namespace {

// How long the scan waits before it lets the window run again.
constexpr auto WaitStep = std::chrono::milliseconds(10);

}  // namespace

struct HashAhead::Job {
  enum class Stage { Waiting, Reading, Done, Failed, LeftToScan };
  std::string Path;
  std::size_t PathKey = 0;       // KeyOf(Path)
  platform::AnchoredPath Where;  // how to open it; the worker's alone once announced
  std::int64_t Size = 0;
  HashAhead::Depth Depth = HashAhead::Depth::Parts;
  HashAhead::Turn Turn = HashAhead::Turn::InTurn;
  std::string Partner;  // for the first file of a size: the file announced with it
  Stage Stage = Stage::Waiting;
  std::uint64_t Read = 0;  // bytes hashed so far
  struct stat Seen {};     // the file as the worker opened it
  FileHashes Hashes;
};

namespace {

// Beyond this many, the parts the worker met are forgotten (it only guesses
// with them).
constexpr std::size_t MaxPartsSeen = std::size_t{1} << 20;

std::uint64_t PartsKey(std::int64_t size, const FileHashes& hashes) {
  std::uint64_t prefix = 0, suffix = 0;
  std::memcpy(&prefix, hashes.Prefix->data(), sizeof prefix);
  if (hashes.Suffix) std::memcpy(&suffix, hashes.Suffix->data(), sizeof suffix);
  return Mix64(Mix64(static_cast<std::uint64_t>(size) ^ prefix) ^ suffix);
}

bool ReadMD5(const platform::ReadOnlyFile& file, std::int64_t size, FileHashes& hashes,
             const std::function<bool(std::uint64_t)>& publish) {
  TMD5Context context;
  MD5Init(context);
  if (ReadWhole(file, size, context, publish).How != WholeRead::Ending::Whole) return false;
  hashes.Full = MD5Final(context);
  return true;
}

}  // namespace

bool HashAhead::ReadAsScan(const platform::ReadOnlyFile& file, Job& job, bool firstOfSize, FileHashes& hashes,
                           const std::function<bool(std::uint64_t)>& publish) {
  const std::span<const HashStep> steps = StepsFor(job.Size);
  if (job.Depth == Depth::Whole || steps.size() == 1) return ReadMD5(file, job.Size, hashes, publish);
  for (const HashStep step : steps.first(steps.size() - 1)) {
    if (ReadPart(file, job.Size, step, hashes).How != WholeRead::Ending::Whole) return false;
  }
  // A file whose parts were met before, in another file, is likely a copy,
  // which the scan will read whole: read it here instead. A large one only
  // when it is the first of its size: the scan compares the other with it,
  // at a fraction of the cost of an MD5, and takes the MD5 of this one for
  // both (of the other, it would be spent in vain). It is then announced
  // whole, where the scan looks for it once the bytes compared equal.
  if (partsSeen_.size() >= MaxPartsSeen) partsSeen_.clear();
  const std::uint64_t inode = static_cast<std::uint64_t>(file.Status().st_ino);
  const auto [seen, first] = partsSeen_.try_emplace(PartsKey(job.Size, hashes), inode);
  if (!first && seen->second != inode && firstOfSize && job.Size >= SideBySideFromBytes) {
    {
      const std::lock_guard lock(mutex_);
      job.Depth = Depth::Whole;
    }
    return ReadMD5(file, job.Size, hashes, publish);
  }
  if (!first && seen->second != inode && job.Size < SideBySideFromBytes) {
    const auto total = static_cast<std::uint64_t>(job.Size);
    if (!ReadMD5(file, job.Size, hashes, [&publish, total](std::uint64_t done) { return done == 0 || publish(1); }))
      return false;
    return total > 0 && publish(1);
  }
  return publish(1);
}

std::size_t HashAhead::KeyOf(const std::string& path) { return std::hash<std::string>{}(path); }

std::deque<std::shared_ptr<HashAhead::Job>>::iterator HashAhead::FindJob(const std::string& path, Depth depth) {
  // The paths of a directory's files differ only near their ends: compared
  // whole, each of the few dozen jobs passed over would cost a comparison of
  // most of a path.
  const std::size_t key = KeyOf(path);
  return std::find_if(jobs_.begin(), jobs_.end(),
                      [&](const auto& job) { return job->PathKey == key && job->Depth == depth && job->Path == path; });
}

void HashAhead::Drop(std::deque<std::shared_ptr<Job>>::iterator found) {
  if ((*found)->Turn != Turn::InTurn) {
    jobs_.erase(found);
    return;
  }
  // The first of a size stays while the file it was announced with is
  // this one or still to come.
  const std::string& taken = (*found)->Path;
  const auto stays = [&](const auto& job) {
    return job->Turn != Turn::InTurn ||
           (!job->Partner.empty() &&
            (job->Partner == taken ||
             std::any_of(found + 1, jobs_.end(), [&](const auto& later) { return later->Path == job->Partner; })));
  };
  const auto kept = std::remove_if(jobs_.begin(), found, [&](const auto& job) { return !stays(job); });
  jobs_.erase(kept, found + 1);
}

HashAhead::HashAhead()
    : twoWorkers_(std::thread::hardware_concurrency() > 1),
      worker_([this] { Work(); }),
      solo_(twoWorkers_ ? std::thread([this] { WorkAlone(); }) : std::thread()) {}

void HashAhead::SetInOrder(bool inOrder) {
  if (inOrder == inOrderSet_) return;  // asked before every hint: the lock only for a change
  inOrderSet_ = inOrder;
  const std::lock_guard lock(mutex_);
  inOrder_ = inOrder;
  if (!inOrder && soloIdle_) soloChanged_.notify_one();
}

HashAhead::~HashAhead() {
  {
    const std::lock_guard lock(mutex_);
    ending_ = true;
  }
  changed_.notify_all();
  soloChanged_.notify_all();
  worker_.join();
  if (solo_.joinable()) solo_.join();
}

void HashAhead::Hint(const std::string& path, const platform::AnchoredPath& where, std::int64_t size, Depth depth) {
  Announce(path, where, size, depth, Turn::InTurn, {});
}

void HashAhead::HintForeseen(const std::string& path, const platform::AnchoredPath& where, std::int64_t size) {
  Announce(path, where, size, Depth::Whole, Turn::Foreseen, {});
}

void HashAhead::HintFirstOf(const std::string& path, const std::string& firstPath,
                            const platform::AnchoredPath& firstWhere, std::int64_t size) {
  Announce(firstPath, firstWhere, size, Depth::Parts, Turn::InTurn, path);
}

bool HashAhead::HintWholeUnlessBusy(const std::string& path, const platform::AnchoredPath& where, std::int64_t size) {
  {
    const std::lock_guard lock(mutex_);
    const bool lanesFull = (reading_ && reading_->Depth == Depth::Whole) || readingWhole_ >= MD5Lanes();
    const bool busy = lanesFull && (!soloIdle_ || inOrder_);
    if (const auto found = FindJob(path, Depth::Whole); found != jobs_.end()) {
      if ((*found)->Stage != Job::Stage::Waiting) return true;
      if (!busy) {
        (*found)->Turn = Turn::Urgent;  // before other foreseen files
        if (soloIdle_) soloChanged_.notify_one();
        return true;
      }
      // Foreseen, and not begun: the caller reads it now, while the worker
      // goes on with the other.
      (*found)->Stage = Job::Stage::LeftToScan;
      jobs_.erase(found);
      return false;
    }
    if (busy) return false;
  }
  Announce(path, where, size, Depth::Whole, Turn::Urgent, {});
  return true;
}

std::optional<std::future<void>> HashAhead::RunIfIdle(std::function<void()> task) {
  std::future<void> done;
  {
    const std::lock_guard lock(mutex_);
    if (!workerIdle_ || ending_ || task_.valid()) return std::nullopt;
    task_ = std::packaged_task<void()>(std::move(task));
    done = task_.get_future();
  }
  changed_.notify_all();
  return done;
}

void HashAhead::Announce(const std::string& path, const platform::AnchoredPath& where, std::int64_t size, Depth depth,
                         Turn turn, const std::string& partner) {
  bool wake = false, wakeSolo = false;
  {
    const std::lock_guard lock(mutex_);
    // A file announced whole is announced to its parts as well.
    auto found = FindJob(path, depth);
    if (found == jobs_.end() && depth == Depth::Parts) found = FindJob(path, Depth::Whole);
    if (found != jobs_.end()) {
      if (!partner.empty()) (*found)->Partner = partner;
      return;
    }
    if (turn == Turn::Foreseen) {
      // The oldest foreseen job not being read goes, beyond MaxForeseen:
      // what is kept stays cheap to search.
      const auto foreseen = [](const auto& job) { return job->Turn == Turn::Foreseen; };
      if (static_cast<std::size_t>(std::count_if(jobs_.begin(), jobs_.end(), foreseen)) >= MaxForeseen) {
        const auto oldest = std::find_if(jobs_.begin(), jobs_.end(), [&](const auto& job) {
          return foreseen(job) && job->Stage != Job::Stage::Reading;
        });
        if (oldest != jobs_.end()) jobs_.erase(oldest);
      }
    }
    auto job = std::make_shared<Job>();
    job->Path = path;
    job->PathKey = KeyOf(path);
    job->Where = where;
    job->Size = size;
    job->Depth = depth;
    job->Turn = turn;
    job->Partner = partner;
    jobs_.push_back(std::move(job));
    wake = workerIdle_;
    wakeSolo = soloIdle_ && turn != Turn::InTurn;  // it takes only files read whole
  }
  if (wake) changed_.notify_all();
  if (wakeSolo) soloChanged_.notify_one();
}

bool HashAhead::WaitUntil(std::unique_lock<platform::AdaptiveMutex>& lock, const std::function<bool()>& ready,
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

std::optional<FileHashes> HashAhead::Take(const std::string& path, Depth depth, const struct stat& opened,
                                          const std::function<bool(std::uint64_t)>& beforeBlock,
                                          const std::function<bool()>& wait) {
  std::unique_lock lock(mutex_);
  const auto found = FindJob(path, depth);
  if (found == jobs_.end()) return std::nullopt;
  const std::shared_ptr<Job> job = *found;
  Drop(found);
  if (job->Stage == Job::Stage::Waiting) {
    job->Stage = Job::Stage::LeftToScan;  // quicker read by the scan than waited for
    return std::nullopt;
  }
  const auto total = job->Depth == HashAhead::Depth::Whole || job->Size <= static_cast<std::int64_t>(PartBytes)
                         ? static_cast<std::uint64_t>(std::max<std::int64_t>(job->Size, 0))
                         : std::uint64_t{1};  // the parts: one step shown
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
  return job->Hashes;
}

std::optional<HashAhead::Finished> HashAhead::TakeFinished(const std::string& path) {
  const std::lock_guard lock(mutex_);
  const auto found = FindJob(path, Depth::Parts);
  if (found == jobs_.end()) return std::nullopt;
  const std::shared_ptr<Job> job = *found;
  if (job->Stage != Job::Stage::Done && job->Stage != Job::Stage::Failed) return std::nullopt;
  Drop(found);
  if (job->Stage == Job::Stage::Failed) return std::nullopt;
  return Finished{job->Seen, job->Hashes};
}

std::shared_ptr<HashAhead::Job> HashAhead::NextWhole(bool leaveFirst) const {
  // The files the scan waits for, in the order it asked; then the
  // foreseen, largest first.
  const auto before = [](const Job& a, const Job& b) {
    if ((a.Turn == Turn::Urgent) != (b.Turn == Turn::Urgent)) return a.Turn == Turn::Urgent;
    return a.Turn == Turn::Foreseen && a.Size > b.Size;
  };
  std::shared_ptr<Job> first, second;
  for (const auto& job : jobs_) {
    if (job->Turn == Turn::InTurn || job->Stage != Job::Stage::Waiting) continue;
    if (!first || before(*job, *first)) {
      second = std::move(first);
      first = job;
    } else if (!second || before(*job, *second)) {
      second = job;
    }
  }
  return leaveFirst ? second : first;
}

bool HashAhead::LeavesFirstWhole() const { return twoWorkers_ && soloIdle_ && !inOrder_; }

void HashAhead::ReadAlone(std::unique_lock<platform::AdaptiveMutex>& lock, std::shared_ptr<Job> job,
                          std::shared_ptr<const Job>& slot) {
  job->Stage = Job::Stage::Reading;
  slot = job;
  const bool firstOfSize = !job->Partner.empty();
  lock.unlock();

  // What the scan's own reading would take: the whole file, as listed,
  // unchanged from open to end. Each block read is published for the
  // scan, which may be waiting to show it.
  const platform::ReadOnlyFile file(job->Where);
  // Only a worker looks at Where: the folder need not stay open for a job
  // that waits to be taken.
  job->Where = {};
  const auto publish = [this, &lock, &job](std::uint64_t done) { return Publish(lock, job->Read, done); };
  FileHashes hashes;
  const bool whole = file.IsOpen() && ReadAsScan(file, *job, firstOfSize, hashes, publish);

  lock.lock();
  Finish(*job, whole ? &file : nullptr, hashes);
  slot.reset();
  if (scanWaiting_) changed_.notify_all();
}

bool HashAhead::Publish(std::unique_lock<platform::AdaptiveMutex>& lock, std::uint64_t& read, std::uint64_t done) {
  lock.lock();
  read = done;
  const bool goOn = !ending_;
  const bool wake = scanWaiting_;
  lock.unlock();
  if (wake) changed_.notify_all();
  return goOn;
}

void HashAhead::Finish(Job& job, const platform::ReadOnlyFile* readWhole, const FileHashes& hashes) {
  if (readWhole != nullptr) {
    job.Seen = readWhole->Status();
    job.Hashes = hashes;
  }
  job.Stage = readWhole != nullptr ? Job::Stage::Done : Job::Stage::Failed;
}

void HashAhead::Complete(Lane& lane) {
  FileHashes hashes;
  if (lane.Whole) hashes.Full = MD5Final(lane.Context);
  Finish(*lane.Of, lane.Whole ? &*lane.File : nullptr, hashes);
}

void HashAhead::ReadWholeSideBySide(std::unique_lock<platform::AdaptiveMutex>& lock, std::shared_ptr<Job> first) {
  std::vector<std::unique_ptr<Lane>> lanes;
  std::size_t joining = 0;  // the last lanes, not opened yet
  const auto join = [&](std::shared_ptr<Job> job) {
    job->Stage = Job::Stage::Reading;
    ++readingWhole_;
    lanes.push_back(std::make_unique<Lane>());
    lanes.back()->Of = std::move(job);
    ++joining;
  };
  join(std::move(first));
  std::vector<MD5Piece> pieces;
  for (;;) {
    lock.unlock();
    // Only the worker looks at Where: the folder need not stay open for a
    // job that waits to be taken.
    for (auto lane = lanes.end() - static_cast<std::ptrdiff_t>(joining); lane != lanes.end(); ++lane) {
      Lane& opening = **lane;
      opening.File.emplace(opening.Of->Where);
      opening.Of->Where = {};
      if (opening.File->IsOpen()) {
        opening.Reader.emplace(*opening.File, opening.Of->Size);
        MD5Init(opening.Context);
      }
    }
    joining = 0;
    // A block of each, their MD5s taken side by side.
    pieces.clear();
    for (const auto& lane : lanes) {
      if (!lane->Reader || !lane->Reader->More()) continue;
      const std::span<const unsigned char> block = lane->Reader->Next();
      if (!block.empty()) pieces.push_back({&lane->Context, block.data(), static_cast<std::uint32_t>(block.size())});
    }
    MD5UpdateMany(pieces);
    for (const auto& lane : lanes) {
      if (lane->Reader && lane->Reader->More()) continue;
      lane->Ended = true;
      lane->Whole = lane->Reader && lane->Reader->Finish().How == WholeRead::Ending::Whole;
    }

    lock.lock();
    // Each block is published for the scan, which may be waiting to show
    // it; the files read to their end are done.
    const bool stop = ending_;
    for (auto lane = lanes.begin(); lane != lanes.end();) {
      if ((*lane)->Reader) (*lane)->Of->Read = (*lane)->Reader->Done();
      if (!(*lane)->Ended && !stop) {
        ++lane;
        continue;
      }
      Complete(**lane);
      --readingWhole_;
      lane = lanes.erase(lane);
    }
    // With nothing else to read whole, the second thread, idle, takes the
    // lane with the most left to read, at the speed of one MD5: the last
    // files end sooner than side by side.
    if (!stop && LeavesFirstWhole() && !handed_ && lanes.size() > 1 && !NextWhole(false)) {
      const auto left = [](const auto& lane) { return lane->Of->Size - static_cast<std::int64_t>(lane->Of->Read); };
      const auto most =
          std::max_element(lanes.begin(), lanes.end(), [&](const auto& a, const auto& b) { return left(a) < left(b); });
      handed_ = std::move(*most);
      lanes.erase(most);
      --readingWhole_;
      soloChanged_.notify_one();
    }
    // The lanes freed go to the files the scan waits for, then to the
    // largest foreseen, while lanes are free.
    while (!stop && !inOrder_ && lanes.size() < MD5Lanes()) {
      std::shared_ptr<Job> next = NextWhole(LeavesFirstWhole());
      if (!next) break;
      join(std::move(next));
    }
    if (scanWaiting_) changed_.notify_all();
    if (lanes.empty()) return;
  }
}

void HashAhead::Work() {
  std::unique_lock lock(mutex_);
  for (;;) {
    std::shared_ptr<Job> job;
    workerIdle_ = true;
    changed_.wait(lock, [&] {
      if (ending_ || task_.valid()) return true;
      // What the scan waits for first, then what it will likely wait for
      // (the foreseen, largest first; the first of these left to the second
      // thread when it is idle); then the farthest announced file:
      // the scan reads the near ones itself when it reaches them, so the two
      // rarely wait for each other.
      if ((job = NextWhole(LeavesFirstWhole()))) return true;
      const auto waiting = [](const auto& j) { return j->Stage == Job::Stage::Waiting; };
      if (inOrder_) {
        const auto next = std::find_if(jobs_.begin(), jobs_.end(), waiting);
        if (next == jobs_.end()) return false;
        job = *next;
        return true;
      }
      const auto next = std::find_if(jobs_.rbegin(), jobs_.rend(), waiting);
      if (next == jobs_.rend()) return false;
      job = *next;
      return true;
    });
    workerIdle_ = false;
    if (ending_) return;
    if (task_.valid()) {
      std::packaged_task<void()> task = std::move(task_);
      lock.unlock();
      task();
      lock.lock();
      continue;
    }
    // Files read whole go side by side, their MD5s taken together; not
    // while reads wait for a rotating disk, which would seek between them.
    if (job->Depth == Depth::Whole && !inOrder_) {
      ReadWholeSideBySide(lock, std::move(job));
      continue;
    }
    ReadAlone(lock, std::move(job), reading_);
  }
}

void HashAhead::WorkAlone() {
  std::unique_lock lock(mutex_);
  for (;;) {
    std::shared_ptr<Job> job;
    soloIdle_ = true;
    soloChanged_.wait(lock, [&] { return ending_ || handed_ || (!inOrder_ && (job = NextWhole(false))); });
    soloIdle_ = false;
    if (ending_) return;
    if (!handed_) {
      ReadAlone(lock, std::move(job), readingAlone_);
      continue;
    }
    // A lane handed over: read on from where the first worker left it.
    const std::unique_ptr<Lane> lane = std::move(handed_);
    readingAlone_ = lane->Of;
    lock.unlock();
    lane->Whole = ReadOn(*lane->Reader, lane->Context, [&](std::uint64_t done) {
                    return Publish(lock, lane->Of->Read, done);
                  }).How == WholeRead::Ending::Whole;
    lock.lock();
    Complete(*lane);
    readingAlone_.reset();
    if (scanWaiting_) changed_.notify_all();
  }
}

}  // namespace veldrano
