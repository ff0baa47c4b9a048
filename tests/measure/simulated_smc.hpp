// A System Management Controller in memory that answers the 80-byte
// parameter blocks the way the real one does: key info, read, key at index
// and write, with the controller's "key not found" for unknown keys. Tests
// keep a handle on its state to change values or see what was written.
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
    std::string name;
    std::string type;
    std::vector<uint8_t> bytes;
    bool writable = true;
  };
  struct State {
    std::vector<Key> keys;  // index order; "#KEY" is answered from its size
    int calls = 0;
    std::vector<std::string> writes;
    bool transportDown = false;

    Key* find(uint32_t packed) {
      for (auto& k : keys)
        if (SMC::packKey(k.name) == packed) return &k;
      return nullptr;
    }
    void set(std::string name, std::string type, std::vector<uint8_t> bytes) {
      for (auto& k : keys)
        if (k.name == name) {
          k.type = std::move(type);
          k.bytes = std::move(bytes);
          return;
        }
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
    Key count{"#KEY", "ui32", bigEndian32(static_cast<uint32_t>(state_->keys.size()))};
    Key* key = in.key == SMC::packKey("#KEY") ? &count : state_->find(in.key);
    switch (in.command) {
      case SmcBlock::keyInfo:
        if (key) {
          answer.key = in.key;
          answer.dataSize = static_cast<uint32_t>(key->bytes.size());
          answer.dataType = SMC::packKey(key->type);
          answer.result = 0;
        }
        break;
      case SmcBlock::readKey:
        if (key && in.dataSize == key->bytes.size()) {
          std::copy(key->bytes.begin(), key->bytes.end(), answer.bytes.begin());
          answer.result = 0;
        }
        break;
      case SmcBlock::keyAtIndex:
        if (in.data32 < state_->keys.size()) {
          answer.key = SMC::packKey(state_->keys[in.data32].name);
          answer.result = 0;
        }
        break;
      case SmcBlock::writeKey:
        if (key && key != &count && key->writable && in.dataSize == key->bytes.size()) {
          std::copy(in.bytes.begin(), in.bytes.begin() + in.dataSize, key->bytes.begin());
          state_->writes.push_back(key->name);
          answer.result = 0;
        }
        break;
      default: break;
    }
    out = answer.encode();
    return true;
  }

  static std::vector<uint8_t> bigEndian32(uint32_t v) {
    return {static_cast<uint8_t>(v >> 24), static_cast<uint8_t>(v >> 16),
            static_cast<uint8_t>(v >> 8), static_cast<uint8_t>(v)};
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
