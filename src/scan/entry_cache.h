#pragma once
#include <cstddef>
#include <list>
#include <string>
#include <unordered_map>
#include <vector>

namespace veldrano {

// The entry files of the store used last, kept in memory.
//
// A size met by many files with different contents has a long entry file;
// loading it whole and writing it back whole for every new file of that size
// makes the work grow with the square of their number. Held here, it is
// parsed once, and a change stays in memory, marked unwritten, until the
// entry leaves the cache (then it is written, so it can be loaded again).
// Entries of at most writeThroughBytes are written at once instead (with
// SIZE_MAX, every change is). The cache takes at most about byteBudget bytes
// of memory, so memory stays bounded whatever the number of files scanned. What
// is still unwritten when the run ends is dropped with the store, which is
// deleted then.
class EntryCache {
 public:
  static constexpr std::size_t DefaultByteBudget = 8u << 20;
  static constexpr std::size_t DefaultWriteThroughBytes = 0;

  explicit EntryCache(std::size_t byteBudget = DefaultByteBudget,
                      std::size_t writeThroughBytes = DefaultWriteThroughBytes);

  // The lines of the entry file at path, or null when it is not held.
  std::vector<std::string>* Find(const std::string& path);
  // Holds lines as the entry file at path, which already has them on disk.
  void Hold(const std::string& path, std::vector<std::string> lines);
  // The lines held for path were changed: writes them now when they are
  // short enough, else marks them unwritten. Then makes room within the budget.
  // Store failures throw std::runtime_error.
  void Changed(const std::string& path);
  // Writes the entry at path if it is unwritten, and forgets it (its file
  // is about to move).
  void WriteAndForget(const std::string& path);

 private:
  struct Entry {
    std::vector<std::string> lines;
    std::size_t bytes = 0;
    bool unwritten = false;
    std::list<std::string>::iterator age;
  };
  static std::size_t BytesOf(const std::vector<std::string>& lines);
  void Touch(Entry& entry);
  void MakeRoom();
  void Forget(std::unordered_map<std::string, Entry>::iterator found);

  std::size_t byteBudget_;
  std::size_t writeThroughBytes_;
  std::size_t bytes_ = 0;
  std::unordered_map<std::string, Entry> entries_;
  std::list<std::string> ages_;  // most recently used first
};

}  // namespace veldrano
