#include "scan/entry_cache.h"

#include "scan/entry_file.h"

namespace veldrano {

EntryCache::EntryCache(std::size_t byteBudget, std::size_t writeThroughBytes)
    : byteBudget_(byteBudget), writeThroughBytes_(writeThroughBytes) {}

// What the lines take in memory: each string, its characters and the
// allocator's share.
std::size_t EntryCache::BytesOf(const std::vector<std::string>& lines) {
  std::size_t bytes = sizeof(Entry) + lines.capacity() * sizeof(std::string);
  for (const std::string& line : lines) bytes += line.capacity() + 16;
  return bytes;
}

void EntryCache::Touch(Entry& entry) { ages_.splice(ages_.begin(), ages_, entry.age); }

std::vector<std::string>* EntryCache::Find(const std::string& path) {
  const auto found = entries_.find(path);
  if (found == entries_.end()) return nullptr;
  Touch(found->second);
  return &found->second.lines;
}

void EntryCache::Hold(const std::string& path, std::vector<std::string> lines) {
  if (const auto old = entries_.find(path); old != entries_.end()) Forget(old);
  ages_.push_front(path);
  Entry& entry = entries_[path];
  entry.lines = std::move(lines);
  entry.bytes = BytesOf(entry.lines);
  entry.age = ages_.begin();
  bytes_ += entry.bytes;
  MakeRoom();
}

void EntryCache::Changed(const std::string& path) {
  const auto found = entries_.find(path);
  if (found == entries_.end()) return;
  Entry& entry = found->second;
  bytes_ -= entry.bytes;
  entry.bytes = BytesOf(entry.lines);
  bytes_ += entry.bytes;
  if (entry.bytes <= writeThroughBytes_) {
    WriteEntryFile(path, entry.lines);
    entry.unwritten = false;
  } else {
    entry.unwritten = true;
  }
  MakeRoom();
}

void EntryCache::WriteAndForget(const std::string& path) {
  const auto found = entries_.find(path);
  if (found == entries_.end()) return;
  if (found->second.unwritten) WriteEntryFile(path, found->second.lines);
  Forget(found);
}

void EntryCache::Forget(std::unordered_map<std::string, Entry>::iterator found) {
  bytes_ -= found->second.bytes;
  ages_.erase(found->second.age);
  entries_.erase(found);
}

void EntryCache::MakeRoom() {
  // The entry just used stays, even when it alone is over the budget.
  while (bytes_ > byteBudget_ && ages_.size() > 1) {
    const auto oldest = entries_.find(ages_.back());
    if (oldest->second.unwritten) WriteEntryFile(oldest->first, oldest->second.lines);
    Forget(oldest);
  }
}

}  // namespace veldrano
