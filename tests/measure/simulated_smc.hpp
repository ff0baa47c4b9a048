// A System Management Controller in memory that answers the parameter blocks
// the way the real one does: key info, read and key at index, with the
// controller's "key not found" for unknown keys. Tests keep a handle on its
// state to change values or to count calls.
#pragma once

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "core/measure/smc.hpp"

namespace norvo::test {

class SimulatedSmc final : public platform::SmcTransport {
 public:
  struct Key {
    std::string name, type;
    std::vector<uint8_t> bytes;
  };
  struct State {
    std::vector<Key> keys;  // index order; "#KEY" is answered from its size
    int calls = 0;
    bool transportDown = false;

    void set(std::string name, std::string type, std::vector<uint8_t> bytes) {
      for (auto& k : keys)
        if (k.name == name) return void(k = {name, std::move(type), std::move(bytes)});
      keys.push_back({std::move(name), std::move(type), std::move(bytes)});
    }
  };

  explicit SimulatedSmc(std::shared_ptr<State> state) : state_(std::move(state)) {}

  bool call(const platform::SmcBlock::Bytes& raw, platform::SmcBlock::Bytes& out) override {
    using platform::SmcBlock;
    ++state_->calls;
    if (state_->transportDown) return false;
    auto in = SmcBlock::decode(raw);
    SmcBlock answer;
    answer.command = in.command;
    answer.result = 0x84;
    auto n = static_cast<uint32_t>(state_->keys.size());
    Key count{"#KEY", "ui32", {uint8_t(n >> 24), uint8_t(n >> 16), uint8_t(n >> 8), uint8_t(n)}};
    Key* key = in.key == SMC::packKey("#KEY") ? &count : nullptr;
    for (auto& k : state_->keys)
      if (SMC::packKey(k.name) == in.key) key = &k;
    if (in.command == SmcBlock::keyInfo && key) {
      answer.key = in.key;
      answer.dataSize = static_cast<uint32_t>(key->bytes.size());
      answer.dataType = SMC::packKey(key->type);
      answer.result = 0;
    } else if (in.command == SmcBlock::readKey && key && in.dataSize == key->bytes.size()) {
      std::copy(key->bytes.begin(), key->bytes.end(), answer.bytes.begin());
      answer.result = 0;
    } else if (in.command == SmcBlock::keyAtIndex && in.data32 < n) {
      answer.key = SMC::packKey(state_->keys[in.data32].name);
      answer.result = 0;
    }
    out = answer.encode();
    return true;
  }

  static std::vector<uint8_t> floatBytes(float f) {
    std::vector<uint8_t> b(4);
    std::memcpy(b.data(), &f, 4);
    return b;
  }

 private:
  std::shared_ptr<State> state_;
};

}  // namespace norvo::test
