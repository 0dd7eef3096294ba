#include "results/action_journal.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <ctime>

#include "platform/own_file.h"
#include "platform/private_directory.h"
#include "platform/renaming.h"
#include "platform/system_error.h"
#include "platform/user_folders.h"
#include "platform/write_all.h"
#include "report/backslash_escape.h"
#include "report/tab_columns.h"

namespace veldrano {

namespace {

constexpr char Header[] = "# veldrano action journal 1\n";
constexpr std::size_t ActFields = 19;
// The journals kept: the oldest beyond these go when a new one is made.
constexpr std::size_t KeptJournals = 100;

std::string Escaped(const std::string& text) { return BackslashEscape(text, true); }

template <typename Number>
bool ParseNumber(std::string_view text, Number& value, int base = 10) {
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value, base);
  return error == std::errc() && end == text.data() + text.size();
}

// An act line read back; false when it is not one.
bool ParseAct(const std::vector<std::string_view>& f, JournalEntry& e) {
  if (f.size() != ActFields || f[0] != "act") return false;
  std::optional<std::string> texts[5];
  const std::size_t textFields[5] = {1, 2, 3, 4, 15};
  for (int k = 0; k < 5; ++k) {
    texts[k] = BackslashUnescape(f[textFields[k]]);
    if (!texts[k]) return false;
  }
  e.Action = *texts[0], e.Path = *texts[1], e.Listed = *texts[2], e.Kept = *texts[3], e.Place = *texts[4];
  return ParseNumber(f[5], e.Size) && ParseNumber(f[6], e.Device) && ParseNumber(f[7], e.Inode) &&
         ParseNumber(f[8], e.KeptDevice) && ParseNumber(f[9], e.KeptInode) && ParseNumber(f[10], e.Mode, 8) &&
         ParseNumber(f[11], e.Owner) && ParseNumber(f[12], e.Group) && ParseNumber(f[13], e.AccessedNs) &&
         ParseNumber(f[14], e.ModifiedNs) && ParseNumber(f[16], e.PlaceDevice) && ParseNumber(f[17], e.PlaceInode) &&
         ParseNumber(f[18], e.Time);
}

std::string ActLine(const JournalEntry& e) {
  char mode[16];
  std::snprintf(mode, sizeof mode, "%o", static_cast<unsigned>(e.Mode));
  const std::string parts[ActFields] = {"act",
                                        Escaped(e.Action),
                                        Escaped(e.Path),
                                        Escaped(e.Listed),
                                        Escaped(e.Kept),
                                        std::to_string(e.Size),
                                        std::to_string(e.Device),
                                        std::to_string(e.Inode),
                                        std::to_string(e.KeptDevice),
                                        std::to_string(e.KeptInode),
                                        mode,
                                        std::to_string(e.Owner),
                                        std::to_string(e.Group),
                                        std::to_string(e.AccessedNs),
                                        std::to_string(e.ModifiedNs),
                                        Escaped(e.Place),
                                        std::to_string(e.PlaceDevice),
                                        std::to_string(e.PlaceInode),
                                        std::to_string(e.Time)};
  std::string line;
  for (const std::string& part : parts) line += (line.empty() ? "" : "\t") + part;
  return line + "\n";
}

// A journal of this user, opened for reading or appending.
platform::UniqueFd OpenJournal(const std::string& path, int flags, std::string& problem) {
  platform::Outcome<platform::UniqueFd> opened = platform::OpenOwnFile(path, flags);
  if (opened.Ok()) return std::move(opened.Value());
  problem = opened.Error() == EPERM ? "The journal " + path + " is not a file of this user"
                                    : "Can not open the journal " + path + ": " + SystemErrorText(opened.Error());
  return {};
}

bool IsJournalName(const std::string& name) { return name.starts_with("actions-") && name.ends_with(".tsv"); }

// Removes the oldest journals of the folder but the newest keep - 1.
void PruneJournals(int folder, std::size_t keep) {
  std::vector<std::string> names;
  platform::NamesIn(folder, names);
  std::erase_if(names, [](const std::string& name) { return !IsJournalName(name); });
  if (names.size() < keep) return;
  std::sort(names.begin(), names.end());
  for (std::size_t k = 0; k + keep <= names.size(); ++k) {
    struct stat status {};
    if (fstatat(folder, names[k].c_str(), &status, AT_SYMLINK_NOFOLLOW) == 0 && S_ISREG(status.st_mode)) {
      unlinkat(folder, names[k].c_str(), 0);
    }
  }
}

std::string TimeName() {
  const std::time_t now = std::time(nullptr);
  std::tm utc{};
  gmtime_r(&now, &utc);
  char text[32];
  std::strftime(text, sizeof text, "%Y%m%d-%H%M%S", &utc);
  return std::string("actions-") + text;
}

}  // namespace

std::string JournalFolder(std::string& problem) {
  std::string path;
  const platform::Outcome<platform::UniqueFd> folder =
      platform::OpenProgramFolder("XDG_STATE_HOME", ".local/state", path, problem);
  return folder.Ok() ? path : std::string();
}

std::optional<ActionJournal> ActionJournal::Create(std::string& problem) {
  std::string folderPath;
  platform::Outcome<platform::UniqueFd> folder =
      platform::OpenProgramFolder("XDG_STATE_HOME", ".local/state", folderPath, problem);
  if (!folder.Ok()) return std::nullopt;
  PruneJournals(folder.Value().Get(), KeptJournals);
  ActionJournal journal;
  const std::string stem = TimeName();
  std::string fresh;
  const int error = platform::MakeUnderFreshName(
      [&](const std::string& random) {
        // The time first, so that names sort as the actions came.
        journal.name_ = stem + "-" + random.substr(random.size() - 6) + ".tsv";
        journal.fd_ = platform::UniqueFd(openat(folder.Value().Get(), journal.name_.c_str(),
                                                O_WRONLY | O_CREAT | O_EXCL | O_APPEND | O_NOFOLLOW | O_CLOEXEC, 0600));
        return journal.fd_.IsOpen() ? 0 : errno;
      },
      fresh);
  if (error != 0) {
    problem = "Can not create a journal in " + folderPath + ": " + SystemErrorText(error);
    return std::nullopt;
  }
  journal.folder_ = std::move(folder.Value());
  journal.path_ = folderPath + "/" + journal.name_;
  if (!journal.WriteLine(Header)) {
    problem = "Can not write the journal " + journal.path_ + ": " + SystemErrorText(errno);
    journal.Discard();
    return std::nullopt;
  }
  return journal;
}

std::optional<ActionJournal> ActionJournal::OpenExisting(const std::string& path, std::string& problem) {
  std::vector<JournalEntry> entries;
  if (!ReadJournal(path, entries, problem)) return std::nullopt;
  ActionJournal journal;
  journal.fd_ = OpenJournal(path, O_WRONLY | O_APPEND, problem);
  if (!journal.fd_.IsOpen()) return std::nullopt;
  journal.path_ = path;
  return journal;
}

bool ActionJournal::WriteLine(const std::string& line) {
  if (!platform::WriteAll(fd_.Get(), line)) return false;
  ++lines_;
  return true;
}

bool ActionJournal::Append(const JournalEntry& entry) { return WriteLine(ActLine(entry)); }

bool ActionJournal::Sync() { return fsync(fd_.Get()) == 0; }

void ActionJournal::Discard() {
  if (folder_.IsOpen()) platform::RemoveFileIfSame(folder_.Get(), name_, fd_.Get());
}

bool ActionJournal::MarkUndone(std::size_t line) { return WriteLine("undone\t" + std::to_string(line) + "\n"); }

bool ReadJournal(const std::string& path, std::vector<JournalEntry>& entries, std::string& problem) {
  const platform::UniqueFd fd = OpenJournal(path, O_RDONLY, problem);
  if (!fd.IsOpen()) return false;
  std::string bytes;
  if (!platform::ReadToEnd(fd.Get(), bytes)) {
    problem = "Can not read the journal " + path + ": " + SystemErrorText(errno);
    return false;
  }
  if (!bytes.starts_with(Header)) {
    problem = path + " is not a journal of actions";
    return false;
  }
  entries.clear();
  std::size_t number = 1, start = sizeof Header - 1;
  while (start < bytes.size()) {
    ++number;
    std::size_t end = bytes.find('\n', start);
    // A last line cut short (a crash while it was written) is left out.
    if (end == std::string::npos) break;
    const std::vector<std::string_view> fields = TabColumns(std::string_view(bytes).substr(start, end - start));
    start = end + 1;
    JournalEntry entry;
    std::size_t undone = 0;
    if (ParseAct(fields, entry)) {
      entry.Line = number;
      entries.push_back(std::move(entry));
    } else if (fields.size() == 2 && fields[0] == "undone" && ParseNumber(fields[1], undone)) {
      for (JournalEntry& e : entries) e.Undone = e.Undone || e.Line == undone;
    } else {
      problem = path + ", line " + std::to_string(number) + ": not a line of a journal of actions";
      return false;
    }
  }
  return true;
}

std::string LastJournalToUndo(std::string& problem) {
  std::string folderPath;
  const platform::Outcome<platform::UniqueFd> folder =
      platform::OpenProgramFolder("XDG_STATE_HOME", ".local/state", folderPath, problem);
  if (!folder.Ok()) return {};
  std::vector<std::string> names;
  platform::NamesIn(folder.Value().Get(), names);
  std::erase_if(names,
                [](const std::string& name) { return !name.starts_with("actions-") || !name.ends_with(".tsv"); });
  std::sort(names.begin(), names.end(), std::greater<>());
  for (const std::string& name : names) {
    std::vector<JournalEntry> entries;
    std::string unreadable;
    if (!ReadJournal(folderPath + "/" + name, entries, unreadable)) continue;
    const bool shares = std::ranges::all_of(entries, [](const JournalEntry& e) { return e.Action == "share-blocks"; });
    if (shares) continue;  // nothing there needs undoing
    if (std::ranges::any_of(entries, [](const JournalEntry& e) { return !e.Undone; })) return folderPath + "/" + name;
  }
  return {};
}

}  // namespace veldrano
