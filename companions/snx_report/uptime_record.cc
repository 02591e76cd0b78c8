#include "uptime_record.h"

#include <algorithm>
#include <cstring>
#include <memory>

namespace snx::report {
namespace {

constexpr std::string_view kEventKind = " (event): ";
constexpr std::string_view kMessageKind = " Message: ";
constexpr std::string_view kErrorKind = " Error: ";
constexpr std::string_view kCertificateOf = "Certificate of ";
constexpr std::string_view kExpiresAt = " expires at ";
constexpr std::string_view kEpoch = " (epoch ";
constexpr std::size_t kStampSize = 17;
// No more items than the watchdog can hold (4,096 of each of its five types).
constexpr std::size_t kMaxItems = 5 * 4096;

std::string Joined(std::string_view folder, std::string_view name) {
  std::string path(folder);
  if (!path.empty() && path.back() != '/' && path.back() != '\\') path.push_back('/');
  path.append(name);
  return path;
}

// The watchdog's own comparison of names: blanks at the ends ignored, letters without case.
std::string Folded(std::string_view name) {
  const std::size_t first = name.find_first_not_of(' ');
  if (first == std::string_view::npos) return "";
  name = name.substr(first, name.find_last_not_of(' ') - first + 1);
  std::string out(name);
  for (char& c : out) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return out;
}

bool StartsWith(std::string_view text, std::size_t at, std::string_view piece) {
  return text.size() >= at + piece.size() && text.compare(at, piece.size(), piece) == 0;
}

}  // namespace

std::string UptimeOldPath(std::string_view folder) { return Joined(folder, "Uptime.old"); }
std::string UptimeLogPath(std::string_view folder) { return Joined(folder, "Uptime.log"); }

bool UptimeReader::ReadFile(platform::FileSystem& files, std::string_view path) {
  std::unique_ptr<platform::File> file = files.Open(path, "rb");
  if (!file) return false;
  std::unique_ptr<char[]> buffer(new char[1 << 18]);
  for (;;) {
    const std::size_t n = file->Read(buffer.get(), 1 << 18);
    if (n == 0) break;
    Feed(std::string_view(buffer.get(), n));
  }
  const bool failed = file->Failed();
  // The file's last line ends with the file: the next file starts a line of its own.
  if (!partial_.empty() && !discarding_) TakeLine(partial_);
  partial_.clear();
  discarding_ = false;
  file->Close();
  if (failed) platform::SetLastFileError("cannot read " + std::string(path));
  return !failed;
}

void UptimeReader::Feed(std::string_view bytes) {
  while (!bytes.empty()) {
    const void* end = std::memchr(bytes.data(), '\n', bytes.size());
    const std::size_t length =
        end == nullptr ? bytes.size() : static_cast<const char*>(end) - bytes.data();
    const std::string_view piece = bytes.substr(0, length);
    if (!discarding_ && partial_.size() + piece.size() > kMaxLineBytes) {
      discarding_ = true;
      partial_.clear();
      ++record_.skipped;
      ++record_.too_long;
    }
    if (end == nullptr) {
      if (!discarding_) partial_.append(piece);
      return;
    }
    if (!discarding_) {
      if (partial_.empty()) {
        TakeLine(piece);
      } else {
        partial_.append(piece);
        TakeLine(partial_);
        partial_.clear();
      }
    }
    discarding_ = false;
    bytes.remove_prefix(length + 1);
  }
}

UptimeRecord UptimeReader::Finish() {
  if (!partial_.empty() && !discarding_) TakeLine(partial_);
  partial_.clear();
  discarding_ = false;
  for (ItemReports& item : record_.items) {
    if (item.type == kLocalUrlItem || item.type == kRemoteUrlItem) {
      const auto cert = certificates_.find(Folded(item.name));
      if (cert != certificates_.end()) item.cert_expiry = cert->second;
    }
    auto earlier = [](Report a, Report b) { return a.Time() < b.Time(); };
    if (!std::is_sorted(item.reports.begin(), item.reports.end(), earlier)) {
      std::stable_sort(item.reports.begin(), item.reports.end(), earlier);
    }
  }
  exact_.clear();
  folded_.clear();
  certificates_.clear();
  return std::move(record_);
}

void UptimeReader::TakeLine(std::string_view line) {
  while (!line.empty() && line.back() == '\r') line.remove_suffix(1);
  if (line.empty()) {
    ++record_.other_lines;  // the log's blank lines
    return;
  }
  std::int64_t civil;
  if (minute_civil_ >= 0 && line.size() >= kStampSize &&
      std::memcmp(line.data(), minute_text_, sizeof minute_text_) == 0 && line[14] == ':' &&
      line[15] >= '0' && line[15] <= '5' && line[16] >= '0' && line[16] <= '9') {
    civil = minute_civil_ + (line[15] - '0') * 10 + (line[16] - '0');
  } else {
    const std::optional<CivilTime> stamp = ParseLogStamp(line);
    if (!stamp) {
      ++record_.skipped;
      return;
    }
    civil = CivilSeconds(*stamp);
    minute_civil_ = civil - stamp->second;
    std::memcpy(minute_text_, line.data(), sizeof minute_text_);
  }
  if (!StartsWith(line, kStampSize, kEventKind)) {
    const bool message = StartsWith(line, kStampSize, kMessageKind);
    if (message) TakeCertificate(line.substr(kStampSize + kMessageKind.size()));
    const bool own = message || StartsWith(line, kStampSize, kErrorKind);
    ++(own ? record_.other_lines : record_.skipped);
    return;
  }
  const std::string_view text = line.substr(kStampSize + kEventKind.size());
  if (text.empty()) {
    ++record_.other_lines;  // the event line of a report that was neither up nor down
    return;
  }
  // "TYPE, name, UP" or "TYPE, name, DN"; the name may hold ", " itself.
  const bool up = text.ends_with(", UP");
  if (text.size() < 9 || (!up && !text.ends_with(", DN")) || text[0] != '1' || text[1] != '0' ||
      text[2] < '0' || text[2] > '4' || text[3] != ',' || text[4] != ' ') {
    ++record_.skipped;
    return;
  }
  const std::int32_t type = 100 + (text[2] - '0');
  const std::size_t index =
      ItemIndex(type, text.substr(0, text.size() - 4), text.substr(5, text.size() - 9));
  if (index == kMaxItems) {
    ++record_.skipped;
    return;
  }
  record_.items[index].reports.push_back(Report::Of(scale_.ToUnix(civil), up));
  ++record_.reports;
}

bool UptimeReader::TakeCertificate(std::string_view message) {
  if (!message.starts_with(kCertificateOf) || !message.ends_with(')')) return false;
  const std::size_t at = message.rfind(kExpiresAt);
  const std::size_t epoch = message.rfind(kEpoch);
  if (at == std::string_view::npos || at < kCertificateOf.size() ||
      epoch == std::string_view::npos || epoch < at) {
    return false;
  }
  const std::string_view digits =
      message.substr(epoch + kEpoch.size(), message.size() - 1 - epoch - kEpoch.size());
  std::int64_t expiry = 0;
  if (digits.empty() || digits.size() > 12) return false;
  for (const char c : digits) {
    if (c < '0' || c > '9') return false;
    expiry = expiry * 10 + (c - '0');
  }
  std::string url = Folded(message.substr(kCertificateOf.size(), at - kCertificateOf.size()));
  // Bounded as the items are.
  if (certificates_.size() >= kMaxItems && !certificates_.contains(url)) return false;
  certificates_[std::move(url)] = expiry;
  return true;
}

std::size_t UptimeReader::ItemIndex(std::int32_t type, std::string_view key,
                                    std::string_view name) {
  if (previous_ < follower_.size()) {
    const std::size_t guess = follower_[previous_];
    if (guess < last_key_.size() && last_key_[guess] == key) return previous_ = guess;
  }
  const std::size_t index = LookUp(type, key, name);
  if (index == kMaxItems) return index;
  if (previous_ < follower_.size()) follower_[previous_] = index;
  if (index == follower_.size()) follower_.push_back(kMaxItems), last_key_.emplace_back();
  last_key_[index] = key;
  return previous_ = index;
}

std::size_t UptimeReader::LookUp(std::int32_t type, std::string_view key, std::string_view name) {
  if (auto it = exact_.find(key); it != exact_.end()) return it->second;
  std::string folded = std::to_string(type) + '\n' + Folded(name);
  auto found = folded_.find(folded);
  if (found == folded_.end()) {
    if (record_.items.size() == kMaxItems) return kMaxItems;
    record_.items.push_back({type, std::string(name), {}, std::nullopt});
    found = folded_.emplace(std::move(folded), record_.items.size() - 1).first;
  }
  // Bounded as the items are: one spelling more for each item at most as often as lines come.
  if (exact_.size() < 4 * kMaxItems) exact_.emplace(std::string(key), found->second);
  return found->second;
}

bool ReadUptimeRecord(platform::FileSystem& files, LocalTimeScale& scale, std::string_view folder,
                      UptimeRecord& record, std::string& why) {
  UptimeReader reader(scale);
  std::vector<std::string> read;
  why.clear();
  for (const std::string& path : {UptimeOldPath(folder), UptimeLogPath(folder)}) {
    if (!files.Exists(path)) continue;
    if (reader.ReadFile(files, path)) {
      read.push_back(path);
    } else if (why.empty()) {
      why = platform::LastFileError();
    }
  }
  record = reader.Finish();
  record.files = std::move(read);
  if (record.files.empty() && why.empty()) {
    why = "no uptime log in " + (folder.empty() ? std::string(".") : std::string(folder)) +
          " (Uptime.log, Uptime.old)";
  }
  return !record.files.empty();
}

}  // namespace snx::report
