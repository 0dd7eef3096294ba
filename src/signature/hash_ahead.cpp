#include "signature/hash_ahead.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <span>
#include <tuple>
#include <utility>

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

// Reads two files whole side by side, folding their blocks into their MD5s
// two at a time; whether each was read whole (see ReadWhole).
std::pair<bool, bool> ReadTwoMD5(const platform::ReadOnlyFile& file, std::int64_t size, FileHashes& hashes,
                                 const std::function<bool(std::uint64_t)>& publish,
                                 const platform::ReadOnlyFile& otherFile, std::int64_t otherSize,
                                 FileHashes& otherHashes, const std::function<bool(std::uint64_t)>& otherPublish) {
  WholeReader reader(file, size), otherReader(otherFile, otherSize);
  TMD5Context context, otherContext;
  MD5Init(context);
  MD5Init(otherContext);
  bool goOn = true, otherGoOn = true;  // false: dropped
  for (;;) {
    const bool next = goOn && reader.More(), otherNext = otherGoOn && otherReader.More();
    if (!next && !otherNext) break;
    std::span<const unsigned char> block, otherBlock;
    if (next && (goOn = publish(reader.Done()))) block = reader.Next();
    if (otherNext && (otherGoOn = otherPublish(otherReader.Done()))) otherBlock = otherReader.Next();
    MD5UpdateTwo(context, block.data(), static_cast<std::uint32_t>(block.size()), otherContext, otherBlock.data(),
                 static_cast<std::uint32_t>(otherBlock.size()));
  }
  const bool whole = reader.Finish(!goOn).How == WholeRead::Ending::Whole;
  const bool otherWhole = otherReader.Finish(!otherGoOn).How == WholeRead::Ending::Whole;
  if (whole) hashes.Full = MD5Final(context);
  if (otherWhole) otherHashes.Full = MD5Final(otherContext);
  return {whole, otherWhole};
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

HashAhead::HashAhead() : worker_([this] { Work(); }) {}

void HashAhead::SetInOrder(bool inOrder) {
  if (inOrder == inOrderSet_) return;  // asked before every hint: the lock only for a change
  inOrderSet_ = inOrder;
  const std::lock_guard lock(mutex_);
  inOrder_ = inOrder;
}

HashAhead::~HashAhead() {
  {
    const std::lock_guard lock(mutex_);
    ending_ = true;
  }
  changed_.notify_all();
  worker_.join();
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
    const bool busy = reading_ && reading_->Depth == Depth::Whole;  // (and readingOther_, if any)
    if (const auto found = FindJob(path, Depth::Whole); found != jobs_.end()) {
      if ((*found)->Stage != Job::Stage::Waiting) return true;
      if (!busy) {
        (*found)->Turn = Turn::Urgent;  // before other foreseen files
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
  bool wake = false;
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
          return foreseen(job) && job != reading_ && job != readingOther_;
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
  }
  if (wake) changed_.notify_all();
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

std::shared_ptr<HashAhead::Job> HashAhead::LargestForeseen() const {
  std::shared_ptr<Job> largest;
  for (const auto& job : jobs_) {
    if (job->Turn == Turn::Foreseen && job->Stage == Job::Stage::Waiting && (!largest || job->Size > largest->Size))
      largest = job;
  }
  return largest;
}

void HashAhead::Work() {
  std::unique_lock lock(mutex_);
  for (;;) {
    std::shared_ptr<Job> job;
    workerIdle_ = true;
    changed_.wait(lock, [&] {
      if (ending_ || task_.valid()) return true;
      // What the scan waits for first, then what it will likely wait for
      // (the foreseen, largest first); then the farthest announced file:
      // the scan reads the near ones itself when it reaches them, so the two
      // rarely wait for each other.
      const auto urgent = std::find_if(jobs_.begin(), jobs_.end(), [](const auto& j) {
        return j->Turn == Turn::Urgent && j->Stage == Job::Stage::Waiting;
      });
      if (urgent != jobs_.end()) {
        job = *urgent;
        return true;
      }
      if ((job = LargestForeseen())) return true;
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
    job->Stage = Job::Stage::Reading;
    reading_ = job;
    // Two files foreseen whole are read side by side, their MD5s taken
    // together (in little more time than one alone).
    const std::shared_ptr<Job> other = job->Turn == Turn::Foreseen ? LargestForeseen() : nullptr;
    if (other) {
      other->Stage = Job::Stage::Reading;
      readingOther_ = other;
    }
    const bool firstOfSize = !job->Partner.empty();
    lock.unlock();

    // What the scan's own reading would take: the whole file, as listed,
    // unchanged from open to end. Each block read is published for the
    // scan, which may be waiting to show it.
    const platform::ReadOnlyFile file(job->Where);
    std::optional<platform::ReadOnlyFile> otherFile;
    if (other) otherFile.emplace(other->Where);
    // Only the worker looks at Where: the folder need not stay open for a
    // job that waits to be taken.
    job->Where = {};
    if (other) other->Where = {};
    const auto publishOf = [this, &lock](Job& of) {
      return [this, &lock, read = &of.Read](std::uint64_t done) {
        lock.lock();
        *read = done;
        const bool goOn = !ending_;
        const bool wake = scanWaiting_;
        lock.unlock();
        if (wake) changed_.notify_all();
        return goOn;
      };
    };
    FileHashes hashes, otherHashes;
    bool whole = false, otherWhole = false;
    if (other && file.IsOpen() && otherFile->IsOpen()) {
      std::tie(whole, otherWhole) =
          ReadTwoMD5(file, job->Size, hashes, publishOf(*job), *otherFile, other->Size, otherHashes, publishOf(*other));
    } else {
      whole = file.IsOpen() && ReadAsScan(file, *job, firstOfSize, hashes, publishOf(*job));
      otherWhole =
          other && otherFile->IsOpen() && ReadAsScan(*otherFile, *other, false, otherHashes, publishOf(*other));
    }

    lock.lock();
    const auto finish = [](Job& done, const platform::ReadOnlyFile& read, bool readWhole, const FileHashes& found) {
      if (readWhole) {
        done.Seen = read.Status();
        done.Hashes = found;
      }
      done.Stage = readWhole ? Job::Stage::Done : Job::Stage::Failed;
    };
    finish(*job, file, whole, hashes);
    if (other) finish(*other, *otherFile, otherWhole, otherHashes);
    reading_.reset();
    readingOther_.reset();
    if (scanWaiting_) changed_.notify_all();
  }
}

}  // namespace veldrano
