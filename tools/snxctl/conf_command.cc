// snxctl conf: the administrator's way to read and write the enciphered settings file
// "AutoSet.caf". It works through the same classes as the service, so what it writes the
// service reads. Bad input gets a clear message and a non-zero exit and leaves the file alone.

#include <cstdio>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "core/log_writer.h"
#include "files/all_sets.h"
#include "files/crypto_txtfile.h"
#include "files/ram_file_ro.h"
#include "files/settings_check.h"
#include "ops/ops_conf_check.h"
#include "platform/file_system.h"
#include "platform/path_map.h"
#include "snxctl/kept_log.h"
#include "snxctl/settings_access.h"
#include "snxctl/subcommand.h"

namespace snxctl {
namespace {

using snx::platform::Files;

constexpr const char* kUsage =
    "usage: snxctl conf [--dir FOLDER] COMMAND [ARGS...]\n"
    "\n"
    "Reads and writes the enciphered settings file AutoSet.caf of the service. FOLDER is the\n"
    "folder that holds it; by default the folder of snxctl itself (the install folder).\n"
    "\n"
    "commands:\n"
    "  show                  print the deciphered file, one line per line\n"
    "  export                the same: print the file as plain text, ready for import\n"
    "  get KEY               print the value of KEY in [KEYS] (exit 1 when there is none)\n"
    "  set KEY VALUE         set KEY in [KEYS], adding it when missing\n"
    "  list SECTION          print the lines of a section (URLS or [URLS])\n"
    "  add SECTION ENTRY     add ENTRY at the end of a section\n"
    "  remove SECTION ENTRY  remove the line ENTRY from a section (exit 1 when absent)\n"
    "  import PLAIN_FILE     replace the whole file by PLAIN_FILE enciphered (\"-\": stdin)\n"
    "  check                 check the settings and the restart program Sentinex.ini: one line\n"
    "                        per problem; exit 0 when sound, 1 otherwise\n"
    "\n"
    "A line holds at most 255 characters, each a printable ASCII character (codes 32 to 126).\n"
    "The output of show and export holds the administrator's password: keep it private.\n"
    "set refuses a value of the wrong type for a known key (exit 2) and warns on an unknown key.\n";

constexpr int kMaxLine = CCryptoTxtfile::kSettingsLineSize;

int Fail(const std::string& message, const KeptLog* details = nullptr) {
  std::fprintf(stderr, "snxctl conf: %s\n", message.c_str());
  if (details != nullptr) details->Print("  ");
  return kExitFailure;
}

int Usage(const std::string& message) { return UsageError("conf", message); }

bool IsBlankEnd(char c) { return !CQorStr::IsVisible(c); }

// Why a line cannot be stored in the settings file, or "" when it can.
std::string LineProblem(std::string_view line) {
  if (static_cast<int>(line.size()) > kMaxLine) {
    return "is " + std::to_string(line.size()) + " characters long; a line holds at most " +
           std::to_string(kMaxLine);
  }
  for (std::size_t i = 0; i < line.size(); ++i) {
    if (!CCryptoTxtfile::IsCipherSafe(line[i])) {
      return "has a character the file cannot carry (code " +
             std::to_string(static_cast<unsigned char>(line[i])) + " at column " +
             std::to_string(i + 1) + "); only printable ASCII (32 to 126) is allowed";
    }
  }
  return {};
}

// A line loses the blanks at its ends when the service loads it; a value only those at its end.
void WarnIfTrimmed(std::string_view text, const std::string& where, bool front_counts = true) {
  if (!text.empty() && ((front_counts && IsBlankEnd(text.front())) || IsBlankEnd(text.back()))) {
    std::fprintf(stderr,
                 "snxctl conf: warning: %s has blanks (spaces or \"~\") at its end; the "
                 "service drops them\n",
                 where.c_str());
  }
}

// "URLS" and "[urls]" both name the section "[URLS]" as the user wrote it.
bool SectionName(std::string_view arg, std::string& section) {
  if (arg.size() >= 2 && arg.front() == '[' && arg.back() == ']')
    arg = arg.substr(1, arg.size() - 2);
  if (arg.empty() || arg.find_first_of("[]") != std::string_view::npos) return false;
  for (char c : arg) {
    if (!CQorStr::IsVisible(c)) return false;
  }
  section.assign("[").append(arg).append("]");
  return true;
}

bool IsKeysSection(std::string_view section) {
  CQorStr upper(section);
  upper.MakeUpper();
  return upper.View() == CRamFileRO::kKeysSection;
}

// A value of the wrong type for a known key is refused; an unknown key is only a warning (a key
// of a later version, or one an administrator keeps for his own notes).
int CheckKeyAndValue(const std::string& name, const std::string& value) {
  namespace ss = snx::settings;
  const ss::KnownKey* key = ss::FindKnownKey(name);
  if (key == nullptr) {
    std::vector<std::string_view> names;
    for (const ss::KnownKey& k : ss::KnownKeys()) names.push_back(k.name);
    const std::string nearest = ss::NearestName(name, names);
    std::fprintf(stderr, "snxctl conf: warning: %s is not a key the service reads%s\n",
                 name.c_str(), nearest.empty() ? "" : ("; did you mean " + nearest + "?").c_str());
    return kExitOk;
  }
  if (ss::ValueProblem(*key, value).empty()) return kExitOk;
  std::fprintf(stderr, "snxctl conf: %s takes %s, not '%s'; nothing changed\n", key->name.c_str(),
               ss::Expected(*key).c_str(), value.c_str());
  return kExitUsage;
}

// One line per problem of the settings and the restart program beside them.
int Check(CRamFileRO& image, const std::string& folder) {
  std::vector<std::string> problems = snx::ops::ConfigurationProblems(image.Lines(), folder);
  for (std::string& line : RegistrationProblems()) problems.push_back(std::move(line));
  for (const std::string& line : problems) std::printf("%s\n", line.c_str());
  if (problems.empty()) std::printf("AutoSet.caf and Sentinex.ini: no problems found\n");
  return problems.empty() ? kExitOk : kExitFailure;
}

struct Options {
  std::string folder;
  std::string command;
  std::vector<std::string> args;
};

class SettingsFile {
 public:
  explicit SettingsFile(std::string folder)
      : folder_(std::move(folder)),
        path_(CRamFileRO::JoinPath(folder_, CAllSets::kSettingsFileName)),
        shown_(snx::platform::ToPosixPath(path_)) {}

  // The file as the administrator knows it.
  const std::string& path() const { return shown_; }
  bool Exists() { return Files().Exists(path_); }
  // Loads the file; a missing one starts empty and is only made by a save.
  bool Load() {
    if (!Exists()) return image_.InitializeWithLines(folder_, CAllSets::kSettingsFileName, {});
    return image_.Initialize(folder_, CAllSets::kSettingsFileName);
  }
  CRamFileRO& image() { return image_; }

  // Runs `change` on the file as it is under its update lock, and saves the result: a change
  // another process makes at the same time is never lost. `refusal`, when the change sets it,
  // is the reason it declined (the file is then left alone).
  int Update(const std::function<bool(CRamFileRO&)>& change, const std::string* refusal = nullptr) {
    KeptLog errors(KeptLines::kErrorsOnly);
    image_.InitializeWithLines(folder_, CAllSets::kSettingsFileName, {});  // the path only
    if (image_.Update(change)) return kExitOk;
    if (refusal != nullptr && !refusal->empty()) return Fail(*refusal);
    return Fail("cannot change " + shown_ + "; it is unchanged", &errors);
  }

 private:
  std::string folder_;
  std::string path_;
  std::string shown_;
  CRamFileRO image_;
};

// The plain text to import. Past the size of the largest settings file it is refused: an
// endless input (a pipe, /dev/zero) ends with a message, not with the memory.
constexpr std::size_t kMaxImportBytes = CRamFileRO::kMaxFileBytes;

bool ReadWholeFile(const std::string& name, std::string& bytes, std::string& why) {
  bytes.clear();
  char buffer[65536];
  std::unique_ptr<snx::platform::File> file;
  if (name != "-") {
    file = Files().Open(name, "rb");
    if (!file) {
      why = snx::platform::LastFileError();
      return false;
    }
  }
  for (;;) {
    const std::size_t room = kMaxImportBytes + 1 - bytes.size();
    const std::size_t want = room < sizeof buffer ? room : sizeof buffer;
    const std::size_t n = file ? file->Read(buffer, want) : std::fread(buffer, 1, want, stdin);
    if (n == 0) break;
    bytes.append(buffer, n);
    if (bytes.size() > kMaxImportBytes) {
      why = name + " is larger than " + std::to_string(kMaxImportBytes) +
            " bytes, more than any settings file holds";
      return false;
    }
  }
  if (file ? file->Failed() : std::ferror(stdin) != 0) {
    why = "cannot read " + name;
    return false;
  }
  return true;
}

// The lines of a plain text: LF or CR LF ends a line.
std::vector<std::string> SplitLines(const std::string& bytes) {
  std::vector<std::string> lines;
  std::size_t start = 0;
  while (start < bytes.size()) {
    std::size_t end = bytes.find('\n', start);
    const std::size_t next = end == std::string::npos ? bytes.size() : end + 1;
    if (end == std::string::npos) end = bytes.size();
    if (end > start && bytes[end - 1] == '\r') --end;
    lines.push_back(bytes.substr(start, end - start));
    start = next;
  }
  return lines;
}

int Import(SettingsFile& settings, const std::string& source) {
  std::string bytes;
  std::string why;
  if (!ReadWholeFile(source, bytes, why))
    return Fail(why + "; " + settings.path() + " is unchanged");
  const std::vector<std::string> lines = SplitLines(bytes);
  int problems = 0;
  for (std::size_t i = 0; i < lines.size(); ++i) {
    const std::string problem = LineProblem(lines[i]);
    if (!problem.empty()) {
      if (++problems <= 20) {
        std::fprintf(stderr, "snxctl conf: %s line %zu %s\n", source.c_str(), i + 1,
                     problem.c_str());
      }
      continue;
    }
    WarnIfTrimmed(lines[i], source + " line " + std::to_string(i + 1));
  }
  if (problems > 0) {
    return Fail(std::to_string(problems) + " line(s) cannot be stored; " + settings.path() +
                " is unchanged");
  }
  return settings.Update([&lines](CRamFileRO& image) { return image.ReplaceLines(lines); });
}

int PrintAll(SettingsFile& settings) {
  for (const auto& line : settings.image().Lines()) std::printf("%s\n", line.c_str());
  return std::fflush(stdout) == 0 ? kExitOk : kExitFailure;
}

int Run(const Options& o) {
  const std::string& cmd = o.command;
  const std::vector<std::string>& a = o.args;
  struct Shape {
    const char* name;
    std::size_t args;
    bool writes;
  };
  static const Shape kShapes[] = {{"show", 0, false},  {"export", 0, false}, {"get", 1, false},
                                  {"set", 2, true},    {"list", 1, false},   {"add", 2, true},
                                  {"remove", 2, true}, {"import", 1, true},  {"check", 0, false}};
  const Shape* shape = nullptr;
  for (const auto& s : kShapes) {
    if (cmd == s.name) shape = &s;
  }
  if (shape == nullptr) return Usage("unknown command '" + cmd + "'");
  if (a.size() != shape->args) {
    return Usage("'" + cmd + "' takes " + std::to_string(shape->args) + " argument(s)");
  }

  // Check the arguments before the file is touched.
  std::string section;
  if (cmd == "list" || cmd == "add" || cmd == "remove") {
    if (!SectionName(a[0], section)) return Usage("bad section name '" + a[0] + "'");
    if (cmd != "list" && IsKeysSection(section)) {
      return Usage("[KEYS] holds keys: use 'get' and 'set' for them");
    }
  }
  if (cmd == "set") {
    const std::string_view key = a[0];
    if (CQorStr(key).IsEmpty() || key.find_first_of("=[") != std::string_view::npos) {
      return Fail("a key name must not be empty or hold \"=\" or \"[\"");
    }
    if (a[1].find('[') != std::string::npos) {
      return Fail("a value must not hold \"[\": the service would read it as a section's end");
    }
    const std::string line = a[0] + "=" + a[1];
    const std::string problem = LineProblem(line);
    if (!problem.empty()) return Fail("the line " + a[0] + "=... " + problem);
    WarnIfTrimmed(a[1], "the value", false);
    if (const int code = CheckKeyAndValue(a[0], a[1]); code != kExitOk) return code;
  }
  if (cmd == "add") {
    const std::string problem = LineProblem(a[1]);
    if (!problem.empty()) return Fail("the entry " + problem);
    if (a[1].find('[') != std::string::npos) {
      return Fail("an entry must not hold \"[\": the service would read it as a section's end");
    }
    if (CQorStr(std::string_view(a[1])).IsSame("")) return Fail("an entry must not be empty");
    WarnIfTrimmed(a[1], "the entry");
  }

  if (!Files().FolderExists(o.folder)) return Fail("no such folder: " + o.folder);
  if (const std::string why = SettingsUnreadable(o.folder); !why.empty()) return Fail(why);
  SettingsFile settings(o.folder);
  if (cmd == "import") return Import(settings, a[0]);
  if (shape->writes) {
    std::string refusal;
    return settings.Update(
        [&](CRamFileRO& image) {
          if (cmd == "set") return image.SetKey(a[0], a[1]);
          if (cmd == "add") return image.AddLineToSection(section, a[1]);
          if (!image.RemoveLineFromSection(section, a[1])) {
            refusal = "no line '" + a[1] + "' in " + section;
            return false;
          }
          return true;
        },
        &refusal);
  }
  if (!settings.Exists()) return Fail("no settings file at " + settings.path());

  KeptLog errors(KeptLines::kErrorsOnly);
  if (!settings.Load()) return Fail("cannot read " + settings.path(), &errors);
  CRamFileRO& image = settings.image();

  if (cmd == "show" || cmd == "export") return PrintAll(settings);
  if (cmd == "check") return Check(image, o.folder);
  if (cmd == "get") {
    if (!image.HasKey(a[0])) return Fail("no key " + a[0] + " in [KEYS]");
    std::printf("%s\n", image.GetKey(a[0]));
    return kExitOk;
  }
  if (cmd == "list") {
    for (const char* line = image.FirstLineOfSection(section); *line != '\0';
         line = image.NextLineOfSection()) {
      std::printf("%s\n", line);
    }
    return kExitOk;
  }
  return kExitOk;
}

int ConfMain(const std::vector<std::string>& args) {
  Options o;
  bool have_folder = false;
  std::size_t i = 0;
  for (; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (arg == "--help" || arg == "-h") {
      std::fputs(kUsage, stdout);
      return kExitOk;
    }
    if (arg == "--dir") {
      if (i + 1 >= args.size()) return Usage("--dir needs a folder");
      o.folder = args[++i];
      have_folder = true;
    } else if (arg.rfind("--dir=", 0) == 0) {
      o.folder = arg.substr(6);
      have_folder = true;
    } else if (arg.size() > 1 && arg[0] == '-' && arg != "-") {
      return Usage("unknown option '" + arg + "'");
    } else {
      break;
    }
  }
  if (i >= args.size()) return Usage("no command given");
  o.command = args[i];
  o.args.assign(args.begin() + static_cast<std::ptrdiff_t>(i) + 1, args.end());
  if (have_folder && o.folder.empty()) return Usage("--dir needs a folder");
  if (!have_folder) {
    o.folder = InstallFolder();
    if (o.folder.empty()) return Fail("cannot tell the folder of snxctl; give --dir");
  }
  return Run(o);
}

const SubCommandRegistrar kConf({"conf", "read and write the settings file AutoSet.caf", ConfMain});

}  // namespace
}  // namespace snxctl
