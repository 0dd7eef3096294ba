#pragma once
#include <sys/types.h>

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "platform/directory_reader.h"

namespace veldrano {

// Lists the directories of one tree on a thread of its own, so that listing
// (a look at every entry) runs beside the walk. Forwards, in the walk's
// order, the next directories are listed while the walk works on the files
// of this one. Backwards, from the end of the tree, the two threads list it
// between them until they meet, for a walk that does little with each file.
//
// Each directory is listed once, by whichever thread comes to it first. The
// walk takes the listing the helper made (Take), or lists the directory
// itself and tells the helper what lies below it (Listed). The helper holds
// at most a budget of listings not yet taken, goes only where the walk
// would (goesInto), and lists no directory the walk holds a listing of
// already (known: the counting pass's own, kept for the processing pass;
// its subdirectories are given).
//
// Backwards, the helper's listings wait for the walk until they meet, which
// in a large tree is far: beyond its budget, it may keep them slim, in a
// second budget (slimBudget; 0: never), as the counting pass needs no more.
class ListingAhead {
 public:
  using Listing = platform::DirectoryReader::Listing;
  using Entry = platform::DirectoryEntry;
  using Key = std::pair<dev_t, ino_t>;
  // Directories whose listings the walk holds, with their subdirectories.
  using Known = std::map<Key, std::vector<Entry>>;
  // Whether the walk goes into the subdirectory entry of the directory
  // reader lists, at path (ending in "/"), which is the top of its file
  // system or not. Asked on the helper's thread.
  using GoesInto = std::function<bool(const platform::DirectoryReader& reader, const std::string& path,
                                      const Entry& entry, bool topOfFileSystem)>;

  enum class Order { Forwards, Backwards };

  // Listings of about 80 000 files.
  static constexpr std::size_t DefaultByteBudget = std::size_t{8} << 20;
  // Slim listings of about 500 000 files.
  static constexpr std::size_t DefaultSlimBudget = std::size_t{16} << 20;

  // Starts at root (at path, ending in "/"), the top of its file system or
  // not.
  ListingAhead(const platform::DirectoryReader& root, std::string path, bool topOfFileSystem, GoesInto goesInto,
               Order order, Known known = {}, std::size_t byteBudget = DefaultByteBudget, std::size_t slimBudget = 0);
  ListingAhead(const ListingAhead&) = delete;
  ListingAhead& operator=(const ListingAhead&) = delete;
  // Stops the helper (a listing under way is finished first).
  ~ListingAhead();

  // The listing of the directory reader has open, when the helper made it
  // (waited for while the helper is making it); else none: the walk lists
  // the directory itself, and tells Listed.
  std::optional<Listing> Take(const platform::DirectoryReader& reader);
  // What the walk listed of the directory reader has open.
  void Listed(const platform::DirectoryReader& reader, const Listing& listing);

 private:
  enum class State { HelperListing, Deposited, Taken, WalkListing, WalkListed, Visited };
  // A listing in little memory: each entry's name, kind and (a file's) size,
  // a directory's entry whole.
  struct SlimListing {
    struct Item {
      std::uint64_t Size = 0;
      std::uint32_t NameEnd = 0;  // in Names
      Entry::Type Kind = Entry::Type::Other;
    };
    std::string Names;
    std::vector<Item> Items;
    std::vector<Entry> Directories;  // in the listing's order
    int StepError = 0;

    explicit SlimListing(const Listing& listing);
    Listing Expanded() const;
    std::size_t Bytes() const;
  };
  struct Place {
    State Now = State::HelperListing;
    Listing Made;                     // Deposited: the helper's listing
    std::optional<SlimListing> Slim;  // or its slim form
    std::vector<Entry> Below;         // WalkListed: the subdirectories the walk found
  };

  // The helper's walk below the directory reader has open (at path); false
  // when it goes no further at all.
  bool Visit(platform::DirectoryReader& reader, const std::string& path, bool topOfFileSystem);
  // The subdirectories of the directory reader has open, listed here
  // unless known or the walk's (walks: set then); none when the helper
  // does not go below it.
  std::optional<std::vector<Entry>> SubdirectoriesOf(platform::DirectoryReader& reader, bool& walks);

  const GoesInto goesInto_;
  const Order order_;
  Known known_;
  const std::size_t budget_;
  const std::size_t slimBudget_;

  std::mutex mutex_;
  std::condition_variable changed_;
  std::map<Key, Place> places_;
  std::size_t held_ = 0;      // bytes of listings deposited, not yet taken
  std::size_t heldSlim_ = 0;  // of these, slim
  bool stopping_ = false;
  bool helperDone_ = false;
  std::thread helper_;
};

}  // namespace veldrano
