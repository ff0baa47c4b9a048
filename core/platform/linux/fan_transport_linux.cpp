// The fan keys over the kernel's fan interfaces
// (Documentation/hwmon/sysfs-interface.rst):
// - applesmc (Intel Macs): fan<n>_input, _min, _max, _output (the target) and
//   _manual on the platform device; the controller holds the target itself.
// - any other hwmon chip with pwm<n> and pwm<n>_enable beside fan<n>_input:
//   pwm<n>_enable 1 is manual, anything else the chip's own control; the
//   target lives in this transport and steer() reaches it through the duty
//   cycle. pwm<n> is taken to drive fan<n>, the layout of the common chips;
//   boards that cross them need a sensors configuration this does not read.
// - a fan that reports only its speed is listed and cannot be driven.
// The target of a PWM fan dies with the process that set it, so another
// process reads 0 for it.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "core/platform/fan_transport.hpp"
#include "core/platform/linux/text_file.hpp"
#include "core/platform/linux/unique_fd.hpp"

namespace norvo::platform::fan_transport {

namespace fs = std::filesystem;

int nextDuty(int duty, double rpm, double targetRPM, double maxRPM) {
  constexpr int step = 32;
  duty = std::clamp(duty, 0, 255);
  if (maxRPM > 0 && targetRPM >= maxRPM) return 255;
  int wanted;
  if (targetRPM <= 0) {
    wanted = 0;
  } else if (rpm <= 0) {
    wanted = duty + step;  // stalled or not yet spinning: push it
  } else if (duty == 0) {
    wanted = maxRPM > 0 ? static_cast<int>(std::lround(255 * targetRPM / maxRPM)) : step;
  } else {
    // Speed grows about in step with the duty cycle over the range fans run in.
    wanted = static_cast<int>(std::lround(duty * targetRPM / rpm));
    if (wanted == duty && std::abs(rpm - targetRPM) > 25) wanted += rpm < targetRPM ? 1 : -1;
  }
  return std::clamp(duty + std::clamp(wanted - duty, -step, step), 0, 255);
}

namespace {

std::optional<int64_t> readIntAt(int dir, const std::string& name) {
  int fd = ::openat(dir, name.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) return std::nullopt;
  char buf[64];
  ssize_t n;
  do {
    n = ::read(fd, buf, sizeof buf);
  } while (n < 0 && errno == EINTR);
  ::close(fd);
  if (n <= 0) return std::nullopt;
  return text_file::parseSigned(text_file::trim(std::string_view(buf, static_cast<size_t>(n))));
}

// O_NOFOLLOW: an attribute swapped for a link cannot redirect a root write.
// O_TRUNC is what a shell's ">" does; sysfs ignores it.
bool writeIntAt(int dir, const std::string& name, int64_t value) {
  int fd = ::openat(dir, name.c_str(), O_WRONLY | O_TRUNC | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) return false;
  std::string text = std::to_string(value) + "\n";
  ssize_t n;
  do {
    n = ::write(fd, text.data(), text.size());
  } while (n < 0 && errno == EINTR);
  bool closed = ::close(fd) == 0;
  return n == static_cast<ssize_t>(text.size()) && closed;
}

bool existsAt(int dir, const std::string& name) {
  struct stat st {};
  return ::fstatat(dir, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISREG(st.st_mode);
}

enum class Kind { applesmc, pwm, readOnly };

struct Fan {
  Kind kind = Kind::readOnly;
  std::shared_ptr<UniqueFd> dir;
  int n = 0;                         // the attribute number: fan<n>_input, pwm<n>
  std::optional<int64_t> givenBack;  // pwm<n>_enable before this transport took the fan
  std::optional<double> target;

  std::string attr(const char* suffix) const { return "fan" + std::to_string(n) + suffix; }
  std::string pwm(const char* suffix = "") const { return "pwm" + std::to_string(n) + suffix; }
};

// The numbers N of the files "fan<N>_input" in `dir`, ascending.
std::vector<int> fanNumbers(const fs::path& dir) {
  std::vector<int> out;
  std::error_code ec;
  for (fs::directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec)) {
    std::string name = it->path().filename().string();
    constexpr std::string_view suffix = "_input";
    if (name.size() <= 3 + suffix.size() || name.compare(0, 3, "fan") != 0 ||
        name.compare(name.size() - suffix.size(), suffix.size(), suffix) != 0)
      continue;
    auto digits = std::string_view(name).substr(3, name.size() - 3 - suffix.size());
    if (auto n = text_file::parseSigned(digits); n && *n >= 0 && *n < 1000)
      out.push_back(static_cast<int>(*n));
  }
  std::sort(out.begin(), out.end());
  return out;
}

// `dir` with every link resolved, opened, when it lies beneath `sys`: the
// class folders of sysfs are links into the device tree, and resolving them
// once here means no later write looks a path up again.
std::shared_ptr<UniqueFd> openBeneath(const fs::path& dir, const fs::path& sys) {
  std::error_code ec;
  auto real = fs::canonical(dir, ec);
  if (ec) return nullptr;
  auto base = fs::canonical(sys, ec);
  if (ec) return nullptr;
  auto rel = real.lexically_relative(base);
  if (rel.empty() || *rel.begin() == "..") return nullptr;
  int fd = ::open(real.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) return nullptr;
  return std::make_shared<UniqueFd>(fd);
}

class SysfsFanTransport final : public FanTransport {
 public:
  explicit SysfsFanTransport(std::vector<Fan> fans) : fans_(std::move(fans)) {}

  bool call(const SmcBlock::Bytes& raw, SmcBlock::Bytes& out) override {
    auto in = SmcBlock::decode(raw);
    SmcBlock answer = in;
    answer.result = 0x84;  // the controller's "key not found"
    auto key = unpackSmcKey(in.key);
    auto type = typeOf(key);
    switch (in.command) {
      case SmcBlock::keyInfo:
        if (type) {
          answer.dataType = packSmcKey(*type);
          answer.dataSize = *type == "flt " ? 4 : 1;
          answer.result = 0;
        }
        break;
      case SmcBlock::readKey:
        if (auto value = type ? read(key) : std::nullopt) {
          if (*type == "flt ") {
            auto f = static_cast<float>(*value);
            std::memcpy(answer.bytes.data(), &f, 4);
          } else {
            answer.bytes[0] = static_cast<uint8_t>(std::clamp(*value, 0.0, 255.0));
          }
          answer.result = 0;
        }
        break;
      case SmcBlock::writeKey:
        if (type) {
          auto value = smcNumber(
              *type, std::vector<uint8_t>(in.bytes.begin(), in.bytes.begin() + in.dataSize));
          if (value && *value >= 0 && *value <= 1e6 && write(key, *value)) answer.result = 0;
        }
        break;
      default: break;
    }
    out = answer.encode();
    return true;
  }

  void steer() override {
    for (auto& fan : fans_) {
      if (fan.kind != Kind::pwm || !fan.target) continue;
      // Someone else took the fan back (a driver reset, the owner by hand):
      // it is no longer ours to drive.
      if (readIntAt(fan.dir->get(), fan.pwm("_enable")) != 1) {
        fan.target.reset();
        continue;
      }
      auto rpm = readIntAt(fan.dir->get(), fan.attr("_input"));
      auto duty = readIntAt(fan.dir->get(), fan.pwm());
      if (!rpm || !duty) continue;
      int next =
          nextDuty(static_cast<int>(*duty), static_cast<double>(*rpm), *fan.target, maxOf(fan));
      if (next != *duty) writeIntAt(fan.dir->get(), fan.pwm(), next);
    }
  }

 private:
  // Fan i and the two letters after "F<i>", for keys of this form.
  Fan* fanOf(const std::string& key, std::string& suffix) {
    if (key.size() != 4 || key[0] != 'F' || key[1] < '0' || key[1] > '9') return nullptr;
    size_t i = static_cast<size_t>(key[1] - '0');
    if (i >= fans_.size()) return nullptr;
    suffix = key.substr(2);
    return &fans_[i];
  }

  std::optional<std::string> typeOf(const std::string& key) {
    if (key == "FNum") return "ui8 ";
    std::string suffix;
    Fan* fan = fanOf(key, suffix);
    if (!fan) return std::nullopt;
    bool driven = fan->kind != Kind::readOnly;
    int dir = fan->dir->get();
    if (suffix == "Ac" || (suffix == "Tg" && driven) ||
        (suffix == "Mn" && existsAt(dir, fan->attr("_min"))) ||
        (suffix == "Mx" && existsAt(dir, fan->attr("_max"))))
      return "flt ";
    if (suffix == "Md" && driven) return "ui8 ";
    return std::nullopt;
  }

  static double maxOf(const Fan& fan) {
    auto max = readIntAt(fan.dir->get(), fan.attr("_max"));
    return max && *max > 0 ? static_cast<double>(*max) : 0;
  }

  std::optional<double> read(const std::string& key) {
    if (key == "FNum") return static_cast<double>(fans_.size());
    std::string suffix;
    Fan* fan = fanOf(key, suffix);
    if (!fan) return std::nullopt;
    int dir = fan->dir->get();
    std::optional<int64_t> value;
    if (suffix == "Ac") value = readIntAt(dir, fan->attr("_input"));
    if (suffix == "Mn") value = readIntAt(dir, fan->attr("_min"));
    if (suffix == "Mx") value = readIntAt(dir, fan->attr("_max"));
    if (suffix == "Tg") {
      // 0 while no target is held: the key must read for a write to learn its type.
      if (fan->kind == Kind::pwm) return fan->target.value_or(0);
      value = readIntAt(dir, fan->attr("_output"));
    }
    if (suffix == "Md") {
      if (fan->kind == Kind::pwm) {
        auto enable = readIntAt(dir, fan->pwm("_enable"));
        if (!enable) return std::nullopt;
        return *enable == 1 ? 1 : 0;
      }
      value = readIntAt(dir, fan->attr("_manual"));
      if (value) return *value != 0 ? 1 : 0;
    }
    if (!value || *value < 0) return std::nullopt;
    return static_cast<double>(*value);
  }

  bool write(const std::string& key, double value) {
    std::string suffix;
    Fan* fan = fanOf(key, suffix);
    if (!fan || fan->kind == Kind::readOnly) return false;
    int dir = fan->dir->get();
    auto rpm = std::llround(value);
    if (fan->kind == Kind::applesmc) {
      if (suffix == "Tg") return writeIntAt(dir, fan->attr("_output"), rpm);
      if (suffix == "Md") return writeIntAt(dir, fan->attr("_manual"), value != 0 ? 1 : 0);
      return false;
    }
    auto enable = readIntAt(dir, fan->pwm("_enable"));
    if (!enable) return false;
    if (suffix == "Md" && value != 0) {
      if (*enable == 1) return true;
      fan->givenBack = *enable;
      // The duty stays as the chip left it, so taking the fan changes nothing
      // until a target arrives.
      return writeIntAt(dir, fan->pwm("_enable"), 1);
    }
    if (suffix == "Md") {
      fan->target.reset();
      if (*enable != 1) return true;
      // 2 is the generic "automatic" of the interface, for a fan this process
      // did not take (a helper that crashed while it was manual).
      auto back = fan->givenBack.value_or(2);
      bool ok = writeIntAt(dir, fan->pwm("_enable"), back) ||
                (back != 2 && writeIntAt(dir, fan->pwm("_enable"), 2));
      if (ok) fan->givenBack.reset();
      return ok;
    }
    if (suffix == "Tg") {
      // A duty written while the chip drives the fan would be overwritten or refused.
      if (*enable != 1) return false;
      // The same target again (a client renewing it) keeps the duty that
      // steering has found since.
      if (fan->target == static_cast<double>(rpm)) return true;
      auto duty = readIntAt(dir, fan->pwm());
      auto measured = readIntAt(dir, fan->attr("_input"));
      if (!duty) return false;
      double max = maxOf(*fan);
      int first =
          max > 0 ? static_cast<int>(std::clamp<long long>(std::llround(255 * value / max), 0, 255))
                  : nextDuty(static_cast<int>(*duty), measured ? static_cast<double>(*measured) : 0,
                             value, max);
      if (!writeIntAt(dir, fan->pwm(), first)) return false;
      fan->target = static_cast<double>(rpm);
      return true;
    }
    return false;
  }

  std::vector<Fan> fans_;
};

}  // namespace

std::unique_ptr<FanTransport> open(const Roots& roots) {
  // The controller's keys number fans with one digit.
  constexpr size_t maxFans = 10;
  std::vector<Fan> fans;
  auto add = [&](const fs::path& dir, bool applesmc) {
    auto numbers = fanNumbers(dir);
    if (numbers.empty()) return;
    auto fd = openBeneath(dir, roots.sys);
    if (!fd) return;
    for (int n : numbers) {
      if (fans.size() == maxFans) return;
      Fan fan;
      fan.dir = fd;
      fan.n = n;
      if (applesmc)
        fan.kind = Kind::applesmc;
      else if (existsAt(fd->get(), fan.pwm()) && existsAt(fd->get(), fan.pwm("_enable")))
        fan.kind = Kind::pwm;
      fans.push_back(std::move(fan));
    }
  };
  add(roots.sys / "devices/platform/applesmc.768", true);
  std::vector<std::pair<int, fs::path>> chips;
  std::error_code ec;
  for (fs::directory_iterator it(roots.sys / "class/hwmon", ec), end; !ec && it != end;
       it.increment(ec)) {
    auto name = it->path().filename().string();
    if (name.rfind("hwmon", 0) != 0) continue;
    if (auto n = text_file::parseSigned(std::string_view(name).substr(5)); n && *n >= 0)
      chips.emplace_back(static_cast<int>(*n), it->path());
  }
  std::sort(chips.begin(), chips.end());
  for (const auto& [n, dir] : chips) {
    // The applesmc chip's fans were taken from its platform device above.
    if (text_file::readLine(dir / "name") == "applesmc") continue;
    add(dir, false);
  }
  return std::make_unique<SysfsFanTransport>(std::move(fans));
}

}  // namespace norvo::platform::fan_transport
