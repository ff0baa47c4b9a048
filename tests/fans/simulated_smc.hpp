// A controller in memory for the fan engine: fans with a range, an optional
// "Ftst", and the behaviours that shape the engine's retries.
#pragma once

#include <algorithm>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "core/measure/smc.hpp"

namespace norvo::test {

class SimulatedSmc : public platform::SmcTransport {
 public:
  struct Key {
    std::string type;
    std::vector<uint8_t> bytes;
  };
  struct Fan {
    double min = 1200, max = 6000;
  };

  // Mode writes are taken but put back, as the thermal daemon does, until
  // "Ftst" is 1.
  bool daemonOwnsFans = false;
  // The target register keeps what it is given plus this.
  double targetSkew = 0;
  bool refuseUnlock = false;
  std::vector<std::string> writes;  // every key written, in order
  std::map<std::string, Key> keys;

  explicit SimulatedSmc(const std::vector<Fan>& fans) {
    set("FNum", "ui8 ", static_cast<double>(fans.size()));
    for (size_t i = 0; i < fans.size(); ++i) {
      std::string f = "F" + std::to_string(i);
      set(f + "Ac", "flt ", 2000);
      set(f + "Mn", "flt ", fans[i].min);
      set(f + "Mx", "flt ", fans[i].max);
      set(f + "Tg", "flt ", 0);
      set(f + "Md", "ui8 ", 0);
    }
  }

  void set(const std::string& key, const std::string& type, double value) {
    Key k{type, {}};
    if (type == "flt ") {
      auto f = static_cast<float>(value);
      k.bytes.resize(4);
      std::memcpy(k.bytes.data(), &f, 4);
    } else {
      k.bytes = {static_cast<uint8_t>(value)};
    }
    keys[key] = k;
  }

  double get(const std::string& key) const {
    const auto& k = keys.at(key);
    return *platform::smcNumber(k.type, k.bytes);
  }

  bool wrote(const std::string& key) const {
    return std::find(writes.begin(), writes.end(), key) != writes.end();
  }

  bool call(const platform::SmcBlock::Bytes& raw, platform::SmcBlock::Bytes& out) override {
    auto in = platform::SmcBlock::decode(raw);
    auto answer = in;
    answer.result = 0x84;
    auto name = platform::unpackSmcKey(in.key);
    auto it = keys.find(name);
    if (it != keys.end()) {
      auto& key = it->second;
      if (in.command == platform::SmcBlock::keyInfo) {
        answer.dataType = platform::packSmcKey(key.type);
        answer.dataSize = static_cast<uint32_t>(key.bytes.size());
        answer.result = 0;
      } else if (in.command == platform::SmcBlock::readKey) {
        std::copy(key.bytes.begin(), key.bytes.end(), answer.bytes.begin());
        answer.result = 0;
      } else if (in.command == platform::SmcBlock::writeKey) {
        writes.push_back(name);
        std::vector<uint8_t> bytes(in.bytes.begin(), in.bytes.begin() + in.dataSize);
        double value = *platform::smcNumber(key.type, bytes);
        bool mode = name.size() == 4 && (name.substr(2) == "Md" || name.substr(2) == "md");
        if (name == "Ftst" && refuseUnlock) {
          answer.result = 0x82;
        } else if (mode && daemonOwnsFans && (!keys.count("Ftst") || get("Ftst") != 1)) {
          answer.result = 0;  // accepted, then undone
        } else {
          set(name, key.type, name.substr(2) == "Tg" ? value + targetSkew : value);
          answer.result = 0;
        }
      }
    }
    out = answer.encode();
    return true;
  }
};

}  // namespace norvo::test
