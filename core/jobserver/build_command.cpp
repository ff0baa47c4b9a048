#include "core/jobserver/build_command.hpp"

#include <algorithm>
#include <cctype>

namespace norvo::jobserver {

namespace {

bool allDigits(std::string_view s) {
  return !s.empty() &&
         std::all_of(s.begin(), s.end(), [](unsigned char c) { return std::isdigit(c); });
}

std::optional<int64_t> number(std::string_view s) {
  if (!allDigits(s) || s.size() > 9) return std::nullopt;
  return std::stoll(std::string(s));
}

std::string_view baseName(std::string_view path) {
  auto slash = path.rfind('/');
  return slash == std::string_view::npos ? path : path.substr(slash + 1);
}

bool isMake(std::string_view program) { return program == "make" || program == "gmake"; }
bool isNinja(std::string_view program) { return program == "ninja" || program == "ninja-build"; }

// make's short options that take the rest of their word (or the next word)
// as an argument, so a 'j' inside that argument is no flag.
constexpr std::string_view kMakeArgumentLetters = "CfIoWEO";
// make's long options whose argument may be the next word.
bool makeLongTakesNext(std::string_view w) {
  for (std::string_view name :
       {"--directory", "--file", "--makefile", "--include-dir", "--old-file", "--assume-old",
        "--what-if", "--new-file", "--assume-new", "--eval"})
    if (w == name) return true;
  return false;
}

// Removes make's parallelism flags from argv[from..] up to a "--"; what it
// removed goes to `removed` and the last count asked for to `asked`.
void stripMakeJobs(std::vector<std::string>& argv, std::size_t from,
                   std::vector<std::string>& removed, std::optional<int64_t>& asked) {
  std::vector<std::string> out(argv.begin(), argv.begin() + static_cast<std::ptrdiff_t>(from));
  for (std::size_t i = from; i < argv.size(); ++i) {
    const std::string& w = argv[i];
    auto takeNextNumber = [&](std::string& note) {
      if (i + 1 < argv.size() && allDigits(argv[i + 1])) {
        asked = number(argv[i + 1]);
        note += " " + argv[++i];
      }
    };
    if (w == "--") {
      out.insert(out.end(), argv.begin() + static_cast<std::ptrdiff_t>(i), argv.end());
      break;
    }
    if (w == "--jobs") {
      std::string note = w;
      takeNextNumber(note);
      removed.push_back(note);
      continue;
    }
    if (w.rfind("--jobs=", 0) == 0) {
      asked = number(std::string_view(w).substr(7));
      removed.push_back(w);
      continue;
    }
    if (w.rfind("--", 0) == 0 || w.size() < 2 || w[0] != '-') {
      out.push_back(w);
      if (makeLongTakesNext(w) && i + 1 < argv.size()) out.push_back(argv[++i]);
      continue;
    }
    // A cluster of short options such as -sj8 or -kC dir.
    std::string kept = "-";
    bool hadJobs = false, argumentInNext = false;
    std::string note = w;
    for (std::size_t c = 1; c < w.size();) {
      char letter = w[c];
      if (kMakeArgumentLetters.find(letter) != std::string_view::npos) {
        kept += w.substr(c);
        argumentInNext = c + 1 == w.size() && letter != 'O';
        break;
      }
      if (letter == 'j') {
        hadJobs = true;
        std::size_t end = c + 1;
        while (end < w.size() && std::isdigit(static_cast<unsigned char>(w[end]))) ++end;
        if (end > c + 1) asked = number(std::string_view(w).substr(c + 1, end - c - 1));
        if (end == c + 1 && end == w.size()) takeNextNumber(note);
        c = end;
        continue;
      }
      kept += letter;
      ++c;
      if (letter == 'l')  // -l takes an optional load average in the same word
        while (c < w.size() && (std::isdigit(static_cast<unsigned char>(w[c])) || w[c] == '.'))
          kept += w[c++];
    }
    if (hadJobs) removed.push_back(note);
    if (kept != "-") out.push_back(kept);
    if (argumentInNext && i + 1 < argv.size()) out.push_back(argv[++i]);
  }
  argv = std::move(out);
}

// `cmake --build`'s own -j/--parallel, before any "--".
void stripCmakeJobs(std::vector<std::string>& argv, std::vector<std::string>& removed,
                    std::optional<int64_t>& asked) {
  std::vector<std::string> out;
  std::size_t i = 0;
  for (; i < argv.size() && argv[i] != "--"; ++i) {
    const std::string& w = argv[i];
    if (i > 0 && (w == "-j" || w == "--parallel")) {
      std::string note = w;
      if (i + 1 < argv.size() && allDigits(argv[i + 1])) {
        asked = number(argv[i + 1]);
        note += " " + argv[++i];
      }
      removed.push_back(note);
    } else if (i > 0 && ((w.rfind("-j", 0) == 0 && allDigits(std::string_view(w).substr(2))) ||
                         w.rfind("--parallel=", 0) == 0)) {
      asked = number(std::string_view(w).substr(w[1] == 'j' ? 2 : 11));
      removed.push_back(w);
    } else {
      out.push_back(w);
    }
  }
  out.insert(out.end(), argv.begin() + static_cast<std::ptrdiff_t>(i), argv.end());
  argv = std::move(out);
}

std::vector<std::string> words(std::string_view text) {
  std::vector<std::string> out;
  std::size_t i = 0;
  while (i < text.size()) {
    while (i < text.size() && std::isspace(static_cast<unsigned char>(text[i]))) ++i;
    std::size_t start = i;
    while (i < text.size() && !std::isspace(static_cast<unsigned char>(text[i]))) ++i;
    if (i > start) out.emplace_back(text.substr(start, i - start));
  }
  return out;
}

bool segmentBuilds(const std::vector<std::string>& w) {
  std::size_t i = 0;
  // Assignments and wrappers that run the next word as the command.
  while (i < w.size() && (w[i].find('=') != std::string::npos || w[i] == "env" || w[i] == "time" ||
                          w[i] == "nice" || w[i] == "command" || w[i] == "exec"))
    ++i;
  if (i >= w.size()) return false;
  std::string_view program = baseName(w[i]);
  if (isMake(program) || isNinja(program)) return true;
  auto rest = [&](auto pred) {
    return std::any_of(w.begin() + static_cast<std::ptrdiff_t>(i) + 1, w.end(), pred);
  };
  if (program == "cmake") return rest([](const std::string& a) { return a == "--build"; });
  if (program == "cargo") {
    for (std::size_t j = i + 1; j < w.size(); ++j) {
      if (w[j].rfind("-", 0) == 0 || w[j].rfind("+", 0) == 0) continue;
      static const std::vector<std::string> builds = {"build", "b",     "test",  "t", "run",
                                                      "r",     "bench", "check", "c", "install"};
      return std::find(builds.begin(), builds.end(), w[j]) != builds.end();
    }
    return false;
  }
  bool compiler = program == "gcc" || program == "g++" || program == "cc" || program == "c++" ||
                  program.rfind("gcc-", 0) == 0 || program.rfind("g++-", 0) == 0 ||
                  program.rfind("clang", 0) == 0;
  return compiler && rest([](const std::string& a) { return a.rfind("-flto", 0) == 0; });
}

}  // namespace

BuildPlan planBuild(const std::vector<std::string>& argv,
                    const std::optional<std::string>& cmakeParallelLevel, bool cmakeOverNinja,
                    int64_t defaultThreads) {
  BuildPlan plan{argv, {}, false, std::nullopt};
  if (argv.empty()) return plan;
  std::string_view program = baseName(argv[0]);
  std::optional<int64_t> asked;
  if (isMake(program)) {
    stripMakeJobs(plan.argv, 1, plan.removed, asked);
  } else if (isNinja(program)) {
    std::vector<std::string> ignored;
    stripMakeJobs(plan.argv, 1, ignored, asked);
    plan.ownThreads = asked && *asked > 0 ? *asked : defaultThreads;
  } else if (program == "cmake" && std::find(argv.begin(), argv.end(), "--build") != argv.end()) {
    stripCmakeJobs(plan.argv, plan.removed, asked);
    auto native = std::find(plan.argv.begin(), plan.argv.end(), "--");
    if (native != plan.argv.end())
      stripMakeJobs(plan.argv, static_cast<std::size_t>(native - plan.argv.begin()) + 1,
                    plan.removed, asked);
    if (cmakeParallelLevel) {
      plan.dropCmakeParallelLevel = true;
      if (!asked) asked = number(*cmakeParallelLevel);
      if (!cmakeOverNinja)
        plan.removed.push_back("CMAKE_BUILD_PARALLEL_LEVEL=" + *cmakeParallelLevel);
    }
    if (cmakeOverNinja) {
      plan.ownThreads = asked && *asked > 0 ? *asked : defaultThreads;
      plan.removed.clear();
    }
  }
  return plan;
}

std::vector<std::string> withThreads(const BuildPlan& plan, int64_t threads) {
  std::vector<std::string> out = plan.argv;
  if (out.empty()) return out;
  std::string count = std::to_string(std::max<int64_t>(1, threads));
  if (isNinja(baseName(out[0]))) {
    out.insert(out.begin() + 1, {"-j", count});
    return out;
  }
  auto native = std::find(out.begin(), out.end(), "--");
  out.insert(native, {"--parallel", count});
  return out;
}

std::string mergeMakeflags(std::string_view existing, int fd) {
  std::string flags, variables;
  auto rest = existing;
  // What follows " -- " is variable assignments, kept as they are.
  if (auto dashes = existing.find(" -- "); dashes != std::string_view::npos) {
    variables = std::string(existing.substr(dashes));
    rest = existing.substr(0, dashes);
  } else if (existing.rfind("-- ", 0) == 0) {
    variables = " " + std::string(existing);
    rest = {};
  }
  for (const auto& w : words(rest)) {
    bool jobs = w == "-j" || (w.rfind("-j", 0) == 0 && allDigits(std::string_view(w).substr(2))) ||
                w.rfind("--jobs", 0) == 0 || w.rfind("--jobserver-", 0) == 0;
    if (jobs) continue;
    flags += (flags.empty() ? "" : " ") + w;
  }
  std::string fds = std::to_string(fd);
  return flags + " -j --jobserver-auth=" + fds + "," + fds + variables;
}

bool startsBuild(std::string_view shellCommand) {
  std::string text(shellCommand);
  // Every list and pipe operator starts a new command.
  for (char& c : text)
    if (c == ';' || c == '&' || c == '|' || c == '\n' || c == '(' || c == ')' || c == '{' ||
        c == '}' || c == '`')
      c = '\x01';
  std::size_t start = 0;
  while (start <= text.size()) {
    auto end = text.find('\x01', start);
    if (end == std::string::npos) end = text.size();
    if (segmentBuilds(words(std::string_view(text).substr(start, end - start)))) return true;
    start = end + 1;
  }
  return false;
}

std::optional<std::string> throughPool(std::string_view shellCommand) {
  if (!startsBuild(shellCommand)) return std::nullopt;
  if (shellCommand.find_first_of(";&|`$()<>\n\\{}") != std::string_view::npos) return std::nullopt;
  auto w = words(shellCommand);
  if (w.empty() || w[0].find('=') != std::string::npos) return std::nullopt;
  std::size_t first = shellCommand.find_first_not_of(" \t");
  return "zemnorvo run -- " + std::string(shellCommand.substr(first));
}

std::string poolAdvice() {
  return "A shared build pool is live: prefix builds with `zemnorvo run --` so that every "
         "agent's builds share the machine's build threads.";
}

}  // namespace norvo::jobserver
