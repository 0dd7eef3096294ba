#pragma once
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "scan/disk_table.h"
#include "scan/memory_table.h"
#include "scan/store_record.h"
#include "scan/work_dir.h"

namespace veldrano {

// The run's files grouped by exact size: for each size met, an entry that
// lists the first file met with each content of that size, with its
// signature once one has been computed (a lone first file is not hashed
// until a second file of its size turns up).
//
// Entries live in memory, within a fixed budget. Only when the budget is
// used up do they move, all at once, to the work directory, which is made
// then; later entries start in memory again, and a size keeps its records
// in both places. A scan whose entries fit in the budget writes nothing to
// disk. Failures of the files on disk throw std::runtime_error.
class SizeStore {
 public:
  // Measured on trees of up to a million files: large enough that trees of
  // a hundred thousand files stay in memory, small enough that the peak
  // memory hardly moves beyond.
  static constexpr std::size_t DefaultByteBudget = std::size_t{16} << 20;

  explicit SizeStore(std::string workDirPath, std::size_t byteBudget = DefaultByteBudget);
  ~SizeStore();
  SizeStore(const SizeStore&) = delete;
  SizeStore& operator=(const SizeStore&) = delete;

  // The entry of a size: none yet, its lone first file (unsigned), or
  // signature lines (signed).
  struct Head {
    enum class Kind { None, Unsigned, Signed };
    Kind Kind = Kind::None;
    std::string FirstPath;  // the lone first file, when unsigned
  };
  Head FindHead(std::int64_t size);
  // A new entry holding the first file of its size, unsigned.
  void AddEntry(std::int64_t size, const std::string& path);
  // The entry of size goes from its lone first file to signature lines.
  void SignEntry(std::int64_t size);
  // The first file met with this size and signature, if any.
  std::optional<std::string> FindSignatureLine(std::int64_t size, const Digest& signature);
  void AddSignatureLine(std::int64_t size, const Digest& signature, const std::string& path);

  // Calls visit(size) once for every entry.
  void ForEachEntry(const std::function<void(std::int64_t)>& visit);
  // Deletes what the store has on disk, and its work directory.
  void RemoveFromDisk();
  // Whether entries had to move to disk.
  bool HasSpilled() const { return disk_ != nullptr; }
  const WorkDir& Directory() const { return workDir_; }

 private:
  void Add(const StoreRecord& record, const std::string& path);
  void Spill();

  std::uint64_t seed_;
  MemoryTable memory_;
  WorkDir workDir_;
  std::unique_ptr<DiskTable> disk_;
};

// The per-file step of the processing pass: enters the file into the run's
// store (ScanContext.Store) and records it as a duplicate when a file met
// earlier has its size and signature.
void ProcessFile(const std::string& path, std::int64_t size);

// Opens the file for reading and closes it again. Empty when that worked,
// else "[" + errno + "] " + the system's text.
std::string CheckFileAccess(const std::string& path);

// The decimal digits of a size, "0" for an empty file: the name of its entry.
std::string SizeText(std::int64_t size);

}  // namespace veldrano
