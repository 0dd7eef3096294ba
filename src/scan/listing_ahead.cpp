#include "scan/listing_ahead.h"

#include <algorithm>

#include "scan/listing_memo.h"

namespace veldrano {

using platform::DirectoryReader;

ListingAhead::ListingAhead(const DirectoryReader& root, std::string path, bool topOfFileSystem, GoesInto goesInto,
                           Order order, Known known, std::size_t byteBudget, std::size_t slimBudget)
    : goesInto_(std::move(goesInto)),
      order_(order),
      known_(std::move(known)),
      budget_(byteBudget),
      slimBudget_(slimBudget) {
  // Its own descriptor of the root: a directory's reading position is
  // shared by whoever reads through one descriptor.
  helper_ = std::thread([this, path = std::move(path), topOfFileSystem, device = root.Device(), inode = root.Inode()] {
    try {
      DirectoryReader own(path);
      if (own.IsOpen() && own.Device() == device && own.Inode() == inode) Visit(own, path, topOfFileSystem);
    } catch (...) {
      // The walk lists what the helper did not.
    }
    const std::lock_guard lock(mutex_);
    helperDone_ = true;
    changed_.notify_all();
  });
}

ListingAhead::~ListingAhead() {
  {
    const std::lock_guard lock(mutex_);
    stopping_ = true;
  }
  changed_.notify_all();
  helper_.join();
}

std::optional<ListingAhead::Listing> ListingAhead::Take(const DirectoryReader& reader) {
  std::unique_lock lock(mutex_);
  const auto [place, made] = places_.try_emplace(Key{reader.Device(), reader.Inode()});
  if (made) {
    place->second.Now = State::WalkListing;
    return std::nullopt;
  }
  changed_.wait(lock, [this, &place] { return place->second.Now != State::HelperListing || helperDone_; });
  if (place->second.Now != State::Deposited) return std::nullopt;  // met before: listed again
  Place taken = std::move(place->second);
  place->second = Place{};
  place->second.Now = State::Taken;
  if (taken.Slim) {
    heldSlim_ -= taken.Slim->Bytes();
  } else {
    held_ -= ListingMemo::BytesOf(taken.Made);
  }
  lock.unlock();
  changed_.notify_all();
  return taken.Slim ? taken.Slim->Expanded() : std::move(taken.Made);
}

void ListingAhead::Listed(const DirectoryReader& reader, const Listing& listing) {
  {
    const std::lock_guard lock(mutex_);
    const auto place = places_.find(Key{reader.Device(), reader.Inode()});
    if (place == places_.end() || place->second.Now != State::WalkListing) return;
    place->second.Below = listing.Subdirectories();
    place->second.Now = State::WalkListed;
  }
  changed_.notify_all();
}

std::optional<std::vector<ListingAhead::Entry>> ListingAhead::SubdirectoriesOf(DirectoryReader& reader, bool& walks) {
  const Key key{reader.Device(), reader.Inode()};
  if (const auto known = known_.find(key); known != known_.end()) {
    std::vector<Entry> below = std::move(known->second);
    known_.erase(known);
    return below;
  }
  std::unique_lock lock(mutex_);
  // Not further ahead than the budgets: the walk lists for itself meanwhile.
  changed_.wait(lock,
                [this] { return held_ <= budget_ || (slimBudget_ > 0 && heldSlim_ <= slimBudget_) || stopping_; });
  if (stopping_) return std::nullopt;
  const auto [place, made] = places_.try_emplace(key);
  if (!made) {
    // The walk's, or met before (a folder reached twice is gone into once).
    changed_.wait(lock, [this, &place] { return place->second.Now != State::WalkListing || stopping_; });
    if (place->second.Now != State::WalkListed) return std::nullopt;
    walks = true;
    std::vector<Entry> below = std::move(place->second.Below);
    place->second.Below = {};
    place->second.Now = State::Visited;
    return below;
  }
  lock.unlock();
  Listing listing;
  try {
    listing = reader.ReadAll();
  } catch (...) {
    lock.lock();
    place->second.Now = State::Visited;  // the walk lists it
    lock.unlock();
    changed_.notify_all();
    throw;
  }
  std::vector<Entry> below = listing.Subdirectories();
  lock.lock();
  if (held_ <= budget_ || slimBudget_ == 0) {
    held_ += ListingMemo::BytesOf(listing);
    place->second.Made = std::move(listing);
  } else {
    place->second.Slim.emplace(listing);
    heldSlim_ += place->second.Slim->Bytes();
  }
  place->second.Now = State::Deposited;
  lock.unlock();
  changed_.notify_all();
  return below;
}

ListingAhead::SlimListing::SlimListing(const Listing& listing) : StepError(listing.StepError) {
  Items.reserve(listing.Entries.size());
  for (const Entry& entry : listing.Entries) {
    Names.append(entry.Name);
    Items.push_back(Item{entry.Size, static_cast<std::uint32_t>(Names.size()), entry.Kind});
    if (entry.Kind == Entry::Type::Directory) Directories.push_back(entry);
  }
  Names.shrink_to_fit();
}

ListingAhead::Listing ListingAhead::SlimListing::Expanded() const {
  Listing listing;
  listing.StepError = StepError;
  listing.Slim = true;
  listing.Entries.reserve(Items.size());
  std::uint32_t nameStart = 0;
  auto directory = Directories.begin();
  for (const Item& item : Items) {
    if (item.Kind == Entry::Type::Directory) {
      listing.Entries.push_back(*directory++);
    } else {
      Entry& entry = listing.Entries.emplace_back();
      entry.Name.assign(Names, nameStart, item.NameEnd - nameStart);
      entry.Kind = item.Kind;
      entry.Size = item.Size;
    }
    nameStart = item.NameEnd;
  }
  return listing;
}

std::size_t ListingAhead::SlimListing::Bytes() const {
  return sizeof(SlimListing) + Names.capacity() + Items.capacity() * sizeof(Item) +
         Directories.capacity() * sizeof(Entry);
}

bool ListingAhead::Visit(DirectoryReader& reader, const std::string& path, bool topOfFileSystem) {
  bool walks = false;
  std::optional<std::vector<Entry>> below = SubdirectoriesOf(reader, walks);
  if (below && order_ == Order::Backwards) std::ranges::reverse(*below);
  for (std::size_t index = 0; below && index < below->size(); ++index) {
    {
      const std::lock_guard lock(mutex_);
      if (stopping_) return false;
    }
    const Entry& entry = (*below)[index];
    if (!goesInto_(reader, path, entry, topOfFileSystem)) continue;
    DirectoryReader sub(reader, entry);
    if (sub.IsOpen() && !Visit(sub, path + entry.Name + "/", sub.Device() != reader.Device())) return false;
  }
  // Backwards, the walk came here first: what lies before this directory
  // is the walk's.
  return !(walks && order_ == Order::Backwards);
}

}  // namespace veldrano
