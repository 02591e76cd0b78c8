// Command-line words, folded separators, base stems and the KILL guard of the launcher.

#include <string>

#include "platform/launcher.h"
#include "platform/path_map.h"

namespace snx::platform {

std::vector<std::string> SplitCommandLine(std::string_view line) {
  std::vector<std::string> words;
  if (line.size() > kMaxCommandLine) return words;
  std::string word;
  bool in_word = false;
  bool quoted = false;
  std::size_t i = 0;
  while (i < line.size()) {
    const char c = line[i];
    if (c == '\\') {
      std::size_t n = 0;
      while (i < line.size() && line[i] == '\\') {
        ++n;
        ++i;
      }
      in_word = true;
      if (i < line.size() && line[i] == '"') {
        word.append(n / 2, '\\');
        if (n % 2 == 1) {
          word += '"';
          ++i;
        }
        // An even run leaves the quote to act below.
      } else {
        word.append(n, '\\');
      }
      continue;
    }
    if (c == '"') {
      in_word = true;
      if (quoted && i + 1 < line.size() && line[i + 1] == '"') {
        word += '"';
        i += 2;
        continue;
      }
      quoted = !quoted;
      ++i;
      continue;
    }
    if ((c == ' ' || c == '\t') && !quoted) {
      if (in_word) words.push_back(std::move(word));
      word.clear();
      in_word = false;
      ++i;
      continue;
    }
    word += c;
    in_word = true;
    ++i;
  }
  if (in_word) words.push_back(std::move(word));
  return words;
}

std::string FoldSeparators(std::string_view word) {
  if (word.find('\\') == std::string_view::npos) return std::string(word);
  std::string out;
  out.reserve(word.size());
  for (std::size_t i = 0; i < word.size(); ++i) {
    if (IsPathSeparator(word[i])) {
      if (out.empty() || out.back() != '/') out += '/';
    } else {
      out += word[i];
    }
  }
  return out;
}

std::string_view BaseStem(std::string_view path) {
  const std::size_t cut = path.find_last_of("\\/");
  std::string_view name = cut == std::string_view::npos ? path : path.substr(cut + 1);
  const std::size_t dot = name.find('.');
  return dot == std::string_view::npos ? name : name.substr(0, dot);
}

bool KillAllowed(int pid, int self, int group_of_pid, int self_group) {
  return pid > 1 && pid != self && group_of_pid != self_group;
}

const char* LaunchOutcomeName(LaunchOutcome outcome) {
  switch (outcome) {
    case LaunchOutcome::kExited:
      return "exited";
    case LaunchOutcome::kStarted:
      return "started";
    case LaunchOutcome::kTimedOut:
      return "timed out";
    case LaunchOutcome::kStopped:
      return "stopped waiting";
    case LaunchOutcome::kNotFound:
      return "not found";
    case LaunchOutcome::kStartFailed:
      return "could not start";
    case LaunchOutcome::kBadCommand:
      return "bad command";
  }
  return "unknown";
}

LaunchResult Launcher::RunAndWait(std::string_view line, LaunchWindow window,
                                  std::chrono::milliseconds max_wait, std::function<bool()> stop) {
  LaunchRequest request;
  request.command_line = std::string(line);
  request.window = window;
  request.wait = true;
  request.max_wait = max_wait;
  request.stop = std::move(stop);
  return Run(request);
}

LaunchResult Launcher::RunNoWait(std::string_view line, LaunchWindow window) {
  LaunchRequest request;
  request.command_line = std::string(line);
  request.window = window;
  request.wait = false;
  return Run(request);
}

}  // namespace snx::platform
