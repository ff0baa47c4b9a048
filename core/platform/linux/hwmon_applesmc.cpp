// The applesmc driver (Intel Macs running Linux) as a controller transport.
// Its sysfs device offers the key table by index only: write an index to
// key_at_index, then read that key's name, type, length and raw bytes
// (drivers/hwmon/applesmc.c). A key is found by binary search, because the
// controller keeps its keys sorted, as the driver's own lookup assumes.
// The driver has no general key write; the fan keys it exposes as fanN_*
// attributes are the writes this transport can carry.
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <map>
#include <mutex>
#include <string>

#include "core/platform/linux/text_file.hpp"
#include "core/platform/sensor_source.hpp"

namespace norvo::platform::sensor_source {

namespace fs = std::filesystem;

namespace {

bool writeText(const fs::path& path, const std::string& text) {
  int fd = ::open(path.c_str(), O_WRONLY | O_CLOEXEC);
  if (fd < 0) return false;
  ssize_t n;
  do {
    n = ::write(fd, text.data(), text.size());
  } while (n < 0 && errno == EINTR);
  ::close(fd);
  return n == static_cast<ssize_t>(text.size());
}

class AppleSmcTransport final : public SmcTransport {
 public:
  AppleSmcTransport(fs::path base, uint32_t count) : base_(std::move(base)), count_(count) {}

  bool call(const SmcBlock::Bytes& raw, SmcBlock::Bytes& out) override {
    auto in = SmcBlock::decode(raw);
    SmcBlock answer = in;
    answer.result = 0x84;  // the controller's "key not found"
    switch (in.command) {
      case SmcBlock::keyAtIndex:
        if (auto name = nameAt(in.data32)) {
          answer.key = packSmcKey(*name);
          answer.result = 0;
        }
        break;
      case SmcBlock::keyInfo:
        if (in.key == countKey) {
          answer.dataType = packSmcKey("ui32");
          answer.dataSize = 4;
          answer.result = 0;
        } else if (auto index = indexOf(in.key)) {
          auto type = field(*index, "key_at_index_type");
          auto length = text_file::readInt(base_ / "key_at_index_data_length");
          if (type && length && *length > 0 && *length <= 32) {
            answer.dataType = packSmcKey(*type);
            answer.dataSize = static_cast<uint32_t>(*length);
            answer.result = 0;
          }
        }
        break;
      case SmcBlock::readKey:
        if (in.key == countKey && in.dataSize == 4) {
          for (int i = 0; i < 4; ++i)
            answer.bytes[i] = static_cast<uint8_t>(count_ >> (24 - 8 * i));
          answer.result = 0;
        } else if (auto index = indexOf(in.key); index && select(*index)) {
          auto data = text_file::readText(base_ / "key_at_index_data", 32);
          if (data && data->size() == in.dataSize) {
            std::copy(data->begin(), data->end(), answer.bytes.begin());
            answer.result = 0;
          }
        }
        break;
      case SmcBlock::writeKey:
        if (writeFanKey(in)) answer.result = 0;
        break;
      default: break;
    }
    out = answer.encode();
    return true;
  }

 private:
  // The key count is the driver's key_count, whether or not the table lists "#KEY".
  static constexpr uint32_t countKey = 0x234B4559;  // "#KEY"

  bool select(uint32_t index) { return writeText(base_ / "key_at_index", std::to_string(index)); }

  // A four-character field of the selected key; the driver prints it with a
  // trailing newline, and keys such as "FS! " end in a blank that must stay.
  std::optional<std::string> field(uint32_t index, const char* name) {
    if (!select(index)) return std::nullopt;
    auto text = text_file::readText(base_ / name, 64);
    if (!text || text->size() < 4) return std::nullopt;
    return text->substr(0, 4);
  }

  std::optional<std::string> nameAt(uint32_t index) {
    if (index >= count_) return std::nullopt;
    return field(index, "key_at_index_name");
  }

  std::optional<uint32_t> indexOf(uint32_t packed) {
    if (auto it = indexes_.find(packed); it != indexes_.end()) return it->second;
    uint32_t lo = 0, hi = count_;
    while (lo < hi) {
      uint32_t mid = lo + (hi - lo) / 2;
      auto name = nameAt(mid);
      if (!name) return std::nullopt;
      uint32_t here = packSmcKey(*name);
      if (here == packed) {
        indexes_[packed] = mid;
        return mid;
      }
      if (here < packed) {
        lo = mid + 1;
      } else {
        hi = mid;
      }
    }
    return std::nullopt;
  }

  // "F<i>Tg", "F<i>Mn" and the mode keys map onto fan<i+1>_output, _min and
  // _manual; the driver encodes the rpm itself.
  bool writeFanKey(const SmcBlock& in) {
    std::string key = unpackSmcKey(in.key);
    if (key.size() != 4 || key[0] != 'F' || key[1] < '0' || key[1] > '9') return false;
    std::string suffix = key.substr(2);
    const char* attribute = suffix == "Tg"                       ? "_output"
                            : suffix == "Mn"                     ? "_min"
                            : (suffix == "Md" || suffix == "md") ? "_manual"
                                                                 : nullptr;
    if (!attribute) return false;
    auto index = indexOf(in.key);
    auto type = index ? field(*index, "key_at_index_type") : std::nullopt;
    if (!type) return false;
    auto number =
        smcNumber(*type, std::vector<uint8_t>(in.bytes.begin(), in.bytes.begin() + in.dataSize));
    if (!number || *number < 0) return false;
    std::string fan = "fan" + std::to_string(key[1] - '0' + 1) + attribute;
    return writeText(base_ / fan, std::to_string(static_cast<int64_t>(*number)));
  }

  fs::path base_;
  uint32_t count_;
  std::map<uint32_t, uint32_t> indexes_;
};

}  // namespace

std::unique_ptr<SmcTransport> openSmc(const Roots& roots) {
  fs::path base = roots.sys / "devices/platform/applesmc.768";
  auto count = text_file::readInt(base / "key_count");
  if (!count || *count < 1 || *count > 65535) return nullptr;
  return std::make_unique<AppleSmcTransport>(base, static_cast<uint32_t>(*count));
}

}  // namespace norvo::platform::sensor_source
