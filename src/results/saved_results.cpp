#include "results/saved_results.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cerrno>
#include <sstream>

#include "export/export_file.h"
#include "platform/file_times.h"
#include "platform/own_file.h"
#include "platform/system_error.h"
#include "platform/unique_fd.h"
#include "report/activity_log.h"
#include "report/formatting.h"
#include "results/reference_folders.h"
#include "scan/scan_context.h"
#include "scan/window_access.h"

namespace veldrano {

namespace {

using Json = nlohmann::json;

constexpr std::string_view Format = "veldrano-results";
constexpr int Version = 1;

std::string CountText(std::int64_t n) { return FormatCount(' ', static_cast<long double>(n)); }

// Names are bytes: one that is not UTF-8 is written as {"hex": "..."}.
Json Bytes(const std::string& bytes) {
  try {
    (void)Json(bytes).dump();
    return bytes;
  } catch (const Json::type_error&) {
    static constexpr char Hex[] = "0123456789abcdef";
    std::string hex;
    for (const char c : bytes) {
      hex += Hex[static_cast<unsigned char>(c) >> 4];
      hex += Hex[static_cast<unsigned char>(c) & 15];
    }
    return Json{{"hex", hex}};
  }
}

// What Bytes wrote; throws a Json error for anything else.
std::string BytesOf(const Json& value) {
  if (value.is_string()) return value.get<std::string>();
  const std::string hex = value.at("hex").get<std::string>();
  if (hex.size() % 2 != 0) throw Json::other_error::create(501, "odd hex", nullptr);
  std::string bytes;
  for (std::size_t i = 0; i < hex.size(); i += 2) bytes += static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16));
  return bytes;
}

Json StringsOf(const std::vector<std::string>& texts) {
  Json list = Json::array();
  for (const std::string& text : texts) list.push_back(Bytes(text));
  return list;
}

std::vector<std::string> StringsFrom(const Json& list) {
  std::vector<std::string> texts;
  for (const Json& text : list) texts.push_back(BytesOf(text));
  return texts;
}

Json FiltersOf(const ScanFilters& f) {
  const auto size = [](const std::optional<std::uint64_t>& s) { return s ? Json(*s) : Json(nullptr); };
  return {{"min_size", size(f.MinSize)},
          {"max_size", size(f.MaxSize)},
          {"excluded_folders", StringsOf(f.ExcludedFolders)},
          {"excluded_files", StringsOf(f.ExcludedFiles)},
          {"regex", f.RegexMode},
          {"skip_hidden", f.SkipHidden},
          {"one_file_system", f.OneFileSystem},
          {"skip_version_control", f.SkipVersionControl},
          {"skip_node_modules", f.SkipNodeModules},
          {"skip_caches", f.SkipCaches}};
}

ScanFilters FiltersFrom(const Json& j) {
  ScanFilters f;
  const auto size = [&j](const char* key) -> std::optional<std::uint64_t> {
    return j.at(key).is_null() ? std::nullopt : std::optional(j.at(key).get<std::uint64_t>());
  };
  f.MinSize = size("min_size");
  f.MaxSize = size("max_size");
  f.ExcludedFolders = StringsFrom(j.at("excluded_folders"));
  f.ExcludedFiles = StringsFrom(j.at("excluded_files"));
  f.RegexMode = j.at("regex").get<bool>();
  f.SkipHidden = j.at("skip_hidden").get<bool>();
  f.OneFileSystem = j.at("one_file_system").get<bool>();
  f.SkipVersionControl = j.at("skip_version_control").get<bool>();
  f.SkipNodeModules = j.at("skip_node_modules").get<bool>();
  f.SkipCaches = j.at("skip_caches").get<bool>();
  return f;
}

// Why the file at path is no longer the one the results name, or empty.
std::string ChangeOf(const std::string& path, std::int64_t size, const ScannedFile& id) {
  struct stat now {};
  if (lstat(path.c_str(), &now) != 0) {
    return errno == ENOENT ? "Gone since the results were saved" : "Can not be checked: " + SystemErrorText(errno);
  }
  if (!S_ISREG(now.st_mode)) return "No longer a regular file";
  if (static_cast<std::uint64_t>(now.st_dev) != id.Device || static_cast<std::uint64_t>(now.st_ino) != id.Inode) {
    return "Another file since the results were saved";
  }
  if (now.st_size != size) return "Its size changed since the results were saved";
  if (platform::Nanoseconds(now.st_mtim) != id.ModifiedNs) return "Changed since the results were saved";
  return {};
}

}  // namespace

bool SaveResults(const std::string& path) {
  const bool saved = RunExport(path, "Can not save the results", [](ExportFile& file) {
    const auto line = [&file](const Json& j) { return file.Write(j.dump() + "\n"); };
    if (!line({{"format", Format}, {"version", Version}})) return false;
    for (const ListedFolder& folder : ScanContext.ListedFolders) {
      const bool reference =
          std::ranges::find(ScanContext.ReferenceFolders, folder.Path) != ScanContext.ReferenceFolders.end();
      if (!line({{"folder",
                  {{"path", Bytes(folder.Path)},
                   {"device", folder.Id.Device},
                   {"inode", folder.Id.Inode},
                   {"reference", reference}}}})) {
        return false;
      }
    }
    // Reference folders inside a listed one (veldrano-scan --reference).
    for (const std::string& reference : ScanContext.ReferenceFolders) {
      const bool listed =
          std::ranges::any_of(ScanContext.ListedFolders, [&](const ListedFolder& f) { return f.Path == reference; });
      if (!listed && !line({{"reference", Bytes(reference)}})) return false;
    }
    if (!line({{"filters", FiltersOf(ScanContext.Filters)}})) return false;
    const auto& rows = ScanContext.Selection;
    std::size_t groups = 0;
    if (ScanContext.ResultsRoot) {
      const auto& all = ScanContext.ResultsRoot->Groups;
      // Each file's place in the list and its tick.
      std::vector<std::vector<std::pair<std::size_t, bool>>> marks(all.size());
      for (std::size_t g = 0; g < all.size(); ++g) marks[g].assign(all[g].Files.size(), {SIZE_MAX, false});
      for (std::size_t r = 0; r < rows.size(); ++r) marks[rows[r].Group][rows[r].File] = {r, rows[r].Checked};
      for (std::size_t g = 0; g < all.size(); ++g, ++groups) {
        const SignatureGroup& group = all[g];
        Json files = Json::array();
        for (std::size_t f = 0; f < group.Files.size(); ++f) {
          const ScannedFile id = f < group.Scanned.size() ? group.Scanned[f] : ScannedFile{};
          files.push_back({{"path", Bytes(group.Files[f])},
                           {"device", id.Device},
                           {"inode", id.Inode},
                           {"modified_ns", id.ModifiedNs},
                           {"row", marks[g][f].first},
                           {"ticked", marks[g][f].second}});
        }
        if (!line({{"group", {{"signature", group.Signature}, {"size", group.Size}, {"files", files}}}})) {
          return false;
        }
      }
    }
    return line({{"end", {{"groups", groups}, {"rows", rows.size()}}}});
  });
  if (saved)
    AddLogEntry(LogInfo, "Results saved", path,
                CountText(static_cast<std::int64_t>(ScanContext.Selection.size())) + " files");
  return saved;
}

std::optional<OpenedResults> OpenResults(const std::string& path, std::string& problem) {
  // The user's choice, links and all, but never waited on: a FIFO or a
  // device there is refused, not read.
  const platform::UniqueFd fd(open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY));
  struct stat status {};
  std::string bytes;
  if (!fd.IsOpen() || fstat(fd.Get(), &status) != 0 ||
      (S_ISREG(status.st_mode) && !platform::ReadToEnd(fd.Get(), bytes))) {
    problem = "Can not open " + path + ": " + SystemErrorText(errno);
    return std::nullopt;
  }
  if (!S_ISREG(status.st_mode)) {
    problem = path + " is not a regular file";
    return std::nullopt;
  }
  std::istringstream in(bytes);
  OpenedResults opened;
  std::vector<ListedFolder> listed;
  std::vector<std::string> references;
  auto root = std::make_unique<ResultsNode>();
  std::vector<std::pair<std::size_t, SelectionRow>> rows;
  bool ended = false;
  std::size_t number = 0;
  std::string text;
  try {
    while (std::getline(in, text)) {
      ++number;
      if (ended) throw Json::other_error::create(501, "lines after the end", nullptr);
      const Json j = Json::parse(text);
      if (number == 1) {
        if (!j.is_object() || j.value("format", "") != Format) {
          problem = path + " does not hold results saved by this program";
          return std::nullopt;
        }
        if (j.at("version").get<int>() > Version) {
          problem = path + " was saved by a newer version of this program";
          return std::nullopt;
        }
        continue;
      }
      if (j.contains("folder")) {
        const Json& f = j.at("folder");
        listed.push_back(
            {BytesOf(f.at("path")), {f.at("device").get<std::uint64_t>(), f.at("inode").get<std::uint64_t>(), 0}});
        opened.Folders.push_back(listed.back().Path);
        opened.Reference.push_back(f.at("reference").get<bool>());
        if (opened.Reference.back()) references.push_back(listed.back().Path);
      } else if (j.contains("reference")) {
        references.push_back(BytesOf(j.at("reference")));
      } else if (j.contains("filters")) {
        opened.Filters = FiltersFrom(j.at("filters"));
      } else if (j.contains("group")) {
        const Json& g = j.at("group");
        SignatureGroup group;
        group.Signature = g.at("signature").get<std::string>();
        group.Size = g.at("size").get<std::int64_t>();
        const auto index = static_cast<std::uint32_t>(root->Groups.size());
        for (const Json& f : g.at("files")) {
          group.Files.push_back(BytesOf(f.at("path")));
          group.Scanned.push_back({f.at("device").get<std::uint64_t>(), f.at("inode").get<std::uint64_t>(),
                                   f.at("modified_ns").get<std::int64_t>()});
          rows.push_back({f.at("row").get<std::size_t>(),
                          {index, static_cast<std::uint32_t>(group.Files.size() - 1), f.at("ticked").get<bool>()}});
        }
        if (group.Files.size() < 2 || group.Signature.size() != 32 ||
            !root->GroupIndex.emplace(group.Signature, index).second) {
          throw Json::other_error::create(501, "not a group", nullptr);
        }
        root->Groups.push_back(std::move(group));
      } else if (j.contains("end")) {
        if (j.at("end").at("groups").get<std::size_t>() != root->Groups.size() ||
            j.at("end").at("rows").get<std::size_t>() != rows.size()) {
          throw Json::other_error::create(501, "counts differ", nullptr);
        }
        ended = true;
      } else {
        throw Json::other_error::create(501, "unknown line", nullptr);
      }
    }
  } catch (const Json::exception&) {
    problem = path + " is damaged (line " + std::to_string(number) + ")";
    return std::nullopt;
  } catch (const std::exception&) {
    problem = path + " is damaged (line " + std::to_string(number) + ")";
    return std::nullopt;
  }
  if (number == 0 || !ended) {
    problem = number == 0 ? path + " is empty" : path + " is cut short: it does not end as saved results end";
    return std::nullopt;
  }
  // The list's order as saved: every file has its one place.
  std::sort(rows.begin(), rows.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
  for (std::size_t r = 0; r < rows.size(); ++r) {
    if (rows[r].first != r) {
      problem = path + " is damaged (the list's order)";
      return std::nullopt;
    }
  }

  ClearResults();
  ScanContext.ListedFolders = std::move(listed);
  ScanContext.ReferenceFolders = std::move(references);
  ScanContext.Filters = opened.Filters;
  for (SignatureGroup& group : root->Groups) {
    group.HasReference = std::ranges::any_of(group.Files, [](const std::string& f) { return InReferenceFolder(f); });
    for (std::uint32_t f = 0; f < group.Files.size(); ++f) {
      const std::string why = ChangeOf(group.Files[f], group.Size, group.Scanned[f]);
      if (why.empty()) continue;
      group.Changed.resize(group.Files.size());
      group.Changed[f] = why;
      ++opened.Changed;
    }
  }
  ScanContext.Selection.reserve(rows.size());
  for (auto& [place, row] : rows) {
    const SignatureGroup& group = root->Groups[row.Group];
    // What the user cannot act on is not ticked.
    if (ChangedSince(group, row.File) != nullptr || InReferenceFolder(group.Files[row.File])) row.Checked = false;
    ScanContext.Selection.push_back(row);
  }
  opened.Files = static_cast<std::int64_t>(rows.size());
  ScanContext.ResultsRoot = std::move(root);
  Display().ResultsRootCreated();
  Display().ResultsReplaced();
  AddLogEntry(LogInfo, "Results opened", path,
              CountText(opened.Files) + " files; gone or changed since they were saved: " + CountText(opened.Changed));
  for (const SignatureGroup& group : ScanContext.ResultsRoot->Groups) {
    for (std::uint32_t f = 0; f < group.Files.size(); ++f) {
      if (const std::string* why = ChangedSince(group, f)) AddLogEntry(LogWarning, *why, group.Files[f]);
    }
  }
  return opened;
}

}  // namespace veldrano
