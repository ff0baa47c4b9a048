#include "test_support.hpp"

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace norvo::test {

namespace fs = std::filesystem;

TempDir::TempDir() {
  std::string tmpl = (fs::temp_directory_path() / "norvo-test-XXXXXX").string();
  if (!::mkdtemp(tmpl.data())) throw std::runtime_error("mkdtemp failed");
  path_ = tmpl;
}

TempDir::~TempDir() {
  std::error_code ec;
  fs::remove_all(path_, ec);
}

fs::path TempDir::write(const fs::path& relative, std::string_view content) const {
  fs::path target = path_ / relative;
  fs::create_directories(target.parent_path());
  std::ofstream out(target, std::ios::binary | std::ios::trunc);
  out.write(content.data(), static_cast<std::streamsize>(content.size()));
  return target;
}

ScopedEnv::ScopedEnv(std::string name, const std::optional<fs::path>& value)
    : name_(std::move(name)) {
  if (const char* old = std::getenv(name_.c_str())) old_ = old;
  if (value)
    ::setenv(name_.c_str(), value->c_str(), 1);
  else
    ::unsetenv(name_.c_str());
}

ScopedEnv::~ScopedEnv() {
  if (old_)
    ::setenv(name_.c_str(), old_->c_str(), 1);
  else
    ::unsetenv(name_.c_str());
}

fs::path fixture(const fs::path& relative) { return fs::path(NORVO_FIXTURES) / relative; }

const char* cliPath() { return NORVO_CLI_PATH; }

std::string readFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

std::map<std::string, std::string> treeOf(const fs::path& root) {
  std::map<std::string, std::string> out;
  std::error_code ec;
  for (fs::recursive_directory_iterator it(root, ec), end; !ec && it != end; it.increment(ec)) {
    auto& entry = out[it->path().lexically_relative(root).string()];
    if (it->is_symlink())
      entry = "-> " + fs::read_symlink(it->path()).string();
    else if (it->is_regular_file())
      entry = readFile(it->path());
    else
      entry = it->is_directory() ? "/" : "?";
  }
  return out;
}

}  // namespace norvo::test
