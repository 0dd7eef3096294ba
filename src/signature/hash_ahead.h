#pragma once
#include <sys/stat.h>

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <future>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <unordered_map>

#include "platform/adaptive_mutex.h"
#include "platform/read_only_file.h"
#include "signature/file_parts.h"
#include "signature/file_signature.h"
#include "signature/md5.h"

namespace veldrano {

// From this size on, two files read whole for their MD5 (or one hashed and
// both compared) are read side by side: one by the scan, the other by the
// worker hashing ahead.
inline constexpr std::int64_t SideBySideFromBytes = std::int64_t{1} << 20;

// Hashes, on a thread of its own, the files the scan is about to hash, in
// the order they were announced, so that the scan finds the hashes of a
// file computed while it dealt with the files before: their parts (the
// first steps of StepsFor) for the files the walk announces, the whole file
// for the ones the scan asks for urgently while it reads another. Files
// read whole go side by side, their MD5s folded together in vector lanes;
// where there is a second core, a second thread reads the largest alone,
// at the speed of one MD5, and takes over a lane when it has nothing else
// to read. It changes nothing
// the scan shows: the worker logs nothing and touches nothing of the scan's;
// the scan opens and checks each file itself, takes a signature only when
// the worker read the very same file whole, unchanged, and otherwise reads
// the file itself as it would have without this.
class HashAhead {
 public:
  HashAhead();
  ~HashAhead();
  HashAhead(const HashAhead&) = delete;
  HashAhead& operator=(const HashAhead&) = delete;

  // How far a job reads: the parts of the file before its last step (for a
  // file of one block, the whole file), or the whole file for its MD5.
  enum class Depth { Parts, Whole };

  // path, of size bytes, is about to be hashed to depth (nothing when it is
  // announced already); where tells how to open it.
  void Hint(const std::string& path, const platform::AnchoredPath& where, std::int64_t size,
            Depth depth = Depth::Parts);
  // The first file of a size, at path, will likely be wanted whole: another
  // file of its size is still to come, and where their bytes compare equal,
  // the scan takes the MD5 of this one for both. The worker reads it whole
  // before the parts of the files announced (a whole file is what the scan
  // would wait for longest), the largest of those foreseen first (what is
  // left at the end is then short, and the scan hashes a first file
  // itself, as it compares, when the worker has not begun it). It stays
  // announced while later files are taken, until it is taken itself; of
  // these, only the latest MaxForeseen are kept.
  void HintForeseen(const std::string& path, const platform::AnchoredPath& where, std::int64_t size);
  static constexpr std::size_t MaxForeseen = 32;
  // The first file of a size, about to be compared with path, is announced
  // with it: taking path (or the files before it) leaves it announced, for
  // the match that follows. When its parts turn out those of another file,
  // the worker reads it whole: a large one is then announced whole, which
  // the scan would ask for to take the signature of both (see Take).
  void HintFirstOf(const std::string& path, const std::string& firstPath, const platform::AnchoredPath& firstWhere,
                   std::int64_t size);

  // Announces path whole, to be read before anything else, unless the
  // worker is reading another file whole: false then, and the caller reads
  // path itself (two files are hashed at once; path announced whole but not
  // begun is then left to it). True when path is announced whole (already,
  // or now).
  bool HintWholeUnlessBusy(const std::string& path, const platform::AnchoredPath& where, std::int64_t size);

  // Has the worker (its first thread) run task, when it has nothing of its own to read: its
  // future tells when it is done. Nothing when the worker is busy (the
  // caller then does the work itself).
  std::optional<std::future<void>> RunIfIdle(std::function<void()> task);

  // In order, the worker takes the nearest announced file first (while a
  // rotating disk serves the reads, so that its reads and the scan's go one
  // way); else the farthest (the scan reads the near ones itself).
  void SetInOrder(bool inOrder);

  // The hashes of path, announced earlier to depth, when the worker has
  // begun it: waits for it, calling beforeBlock(offset) in order for each
  // block of 64 KiB (of a whole read) once the worker is past it, and wait() while it waits (false from
  // it, or from beforeBlock, gives up). opened is
  // the scan's own status of the file: the signature counts only for the
  // same file with the same size and times of change. None when path was
  // not announced, not begun (the worker leaves it to the scan), or could
  // not be read whole. Announcements before path are dropped.
  std::optional<FileHashes> Take(const std::string& path, Depth depth, const struct stat& opened,
                                 const std::function<bool(std::uint64_t)>& beforeBlock,
                                 const std::function<bool()>& wait);

  // What the worker found of a file it read (to the depth of its parts),
  // without waiting: its status as it opened it (a regular file of the size
  // announced, unchanged to the end of its reading) and its hashes. None when path is not
  // done yet (it stays announced) or could not be read whole (the scan reads
  // it itself and reports why).
  struct Finished {
    struct stat Seen;
    FileHashes Hashes;
  };
  std::optional<Finished> TakeFinished(const std::string& path);

 private:
  struct Job;
  void Work();
  // What the scan's own reading would take, to the job's depth (a large
  // first of its size may be read whole: see HintFirstOf): false when the
  // file could not be read so. publish(bytes done) before each block.
  bool ReadAsScan(const platform::ReadOnlyFile& file, Job& job, bool firstOfSize, FileHashes& hashes,
                  const std::function<bool(std::uint64_t)>& publish);
  // When the worker takes a job up: those the scan waits for first, then
  // the foreseen, then the others (see the worker's choice).
  enum class Turn { InTurn, Foreseen, Urgent };
  // Announces path (see Hint); partner: see HintFirstOf.
  void Announce(const std::string& path, const platform::AnchoredPath& where, std::int64_t size, Depth depth, Turn turn,
                const std::string& partner);
  static std::size_t KeyOf(const std::string& path);
  // The announcement of path to depth not taken yet, or jobs_.end(); under
  // mutex_.
  std::deque<std::shared_ptr<Job>>::iterator FindJob(const std::string& path, Depth depth);
  // The next file to read whole, not begun: the first the scan waits for,
  // else the largest foreseen; or the one after it, leaveFirst, when the
  // first is left to the second thread. Under mutex_.
  std::shared_ptr<Job> NextWhole(bool leaveFirst) const;
  // Whether the second thread, idle, will take the next file to read
  // whole; under mutex_.
  bool LeavesFirstWhole() const;
  // Reads job on its own, as the scan would (see ReadAsScan), holding it in
  // slot meanwhile. Under lock on entry and exit.
  void ReadAlone(std::unique_lock<platform::AdaptiveMutex>& lock, std::shared_ptr<Job> job,
                 std::shared_ptr<const Job>& slot);
  // A file read whole side by side: its reading and MD5 so far.
  struct Lane {
    std::shared_ptr<Job> Of;
    std::optional<platform::ReadOnlyFile> File;
    std::optional<WholeReader> Reader;  // none when the file could not be opened
    TMD5Context Context;
    bool Ended = false;  // read to its end, or failed: Whole tells which
    bool Whole = false;
  };
  // Shows the scan that read bytes of a job are done (lock is not held);
  // false when the worker must stop.
  bool Publish(std::unique_lock<platform::AdaptiveMutex>& lock, std::uint64_t& read, std::uint64_t done);
  // Finishes job, done when it was readWhole (the file as read) with
  // hashes, else failed; under mutex_.
  static void Finish(Job& job, const platform::ReadOnlyFile* readWhole, const FileHashes& hashes);
  // Finishes the job of a lane ended; under mutex_.
  void Complete(Lane& lane);
  // The second thread's: the next file to read whole, alone, at the speed
  // of one MD5 (the first worker's lanes each go slower).
  void WorkAlone();
  // Reads first whole and, as lanes free up, the next files to read whole,
  // up to MD5Lanes() side by side, their MD5s taken together: one block of
  // each in turn, all folded at once. Returns, under lock as on entry, when
  // none is left to read.
  void ReadWholeSideBySide(std::unique_lock<platform::AdaptiveMutex>& lock, std::shared_ptr<Job> first);
  // Takes the job found out of the queue, with the files announced before
  // it, which the scan passed over (an urgent or foreseen job goes alone;
  // those, and the first of its size announced with it, stay).
  void Drop(std::deque<std::shared_ptr<Job>>::iterator found);
  // Waits, holding lock between looks, until ready(); lets wait() run every
  // few milliseconds meanwhile. False when wait() gave up.
  bool WaitUntil(std::unique_lock<platform::AdaptiveMutex>& lock, const std::function<bool()>& ready,
                 const std::function<bool()>& wait);

  platform::AdaptiveMutex mutex_;
  std::condition_variable_any changed_;
  // The second thread's own, woken only for what it takes (files read
  // whole, a lane handed over): woken at every announcement, it would
  // cost a switch of threads per file.
  std::condition_variable_any soloChanged_;
  // Who sleeps on changed_: a wake-up costs a switch of threads, so each
  // side wakes the other only when it waits.
  bool workerIdle_ = false;
  bool scanWaiting_ = false;
  std::packaged_task<void()> task_;          // RunIfIdle's, for the worker to take first
  std::deque<std::shared_ptr<Job>> jobs_;    // announced, not taken, in order
  std::shared_ptr<const Job> reading_;       // the job the worker reads on its own, if any
  std::size_t readingWhole_ = 0;             // the files it reads whole side by side
  std::shared_ptr<const Job> readingAlone_;  // the second thread's job, if any
  bool soloIdle_ = false;                    // the second thread waits for a job
  std::unique_ptr<Lane> handed_;             // a lane handed to it, not taken yet
  bool ending_ = false;
  bool inOrder_ = false;
  bool inOrderSet_ = false;  // the caller's copy of inOrder_, read without the lock
  // The worker's alone: the parts of the files it read, with the inode of
  // the first file met with them.
  std::unordered_map<std::uint64_t, std::uint64_t> partsSeen_;
  // A second thread reads a file alone where a second core can run it.
  const bool twoWorkers_;
  std::thread worker_;
  std::thread solo_;
};

}  // namespace veldrano
