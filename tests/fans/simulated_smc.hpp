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
  struct Fan {
    double min = 1200, max = 6000;
  };

  // Mode writes are taken but put back, as the thermal daemon does, until
  // "Ftst" is 1.
  bool daemonOwnsFans = false;
  // The target register keeps what it is given plus this.
  double targetSkew = 0;
  bool refuseUnlock = false;
  std::vector<std::string> writes;                             // every key written, in order
  std::map<std::string, std::pair<std::string, double>> keys;  // type and value

  explicit SimulatedSmc(const std::vector<Fan>& fans) {
    set("FNum", "ui8 ", static_cast<double>(fans.size()));
    for (size_t i = 0; i < fans.size(); ++i) {
      std::string f = "F" + std::to_string(i);
      const std::pair<const char*, double> floats[] = {
          {"Ac", 2000}, {"Mn", fans[i].min}, {"Mx", fans[i].max}, {"Tg", 0}};
      for (auto [suffix, value] : floats) set(f + suffix, "flt ", value);
      set(f + "Md", "ui8 ", 0);
    }
  }

  void set(const std::string& key, const std::string& type, double value) {
    keys[key] = {type, type == "flt " ? static_cast<float>(value) : static_cast<uint8_t>(value)};
  }
  double get(const std::string& key) const { return keys.at(key).second; }
  bool wrote(const std::string& key) const {
    return std::find(writes.begin(), writes.end(), key) != writes.end();
  }

  bool call(const platform::SmcBlock::Bytes& raw, platform::SmcBlock::Bytes& out) override {
    auto in = platform::SmcBlock::decode(raw);
    auto answer = in;
    answer.result = 0x84;
    auto name = platform::unpackSmcKey(in.key);
    if (auto it = keys.find(name); it != keys.end()) {
      auto& [type, value] = it->second;
      if (in.command == platform::SmcBlock::keyInfo) {
        answer.dataType = platform::packSmcKey(type);
        answer.dataSize = type == "flt " ? 4 : 1;
        answer.result = 0;
      } else if (in.command == platform::SmcBlock::readKey) {
        float f = static_cast<float>(value);
        if (type == "flt ")
          std::memcpy(answer.bytes.data(), &f, 4);
        else
          answer.bytes[0] = static_cast<uint8_t>(value);
        answer.result = 0;
      } else if (in.command == platform::SmcBlock::writeKey) {
        writes.push_back(name);
        double written = *platform::smcNumber(
            type, std::vector<uint8_t>(in.bytes.begin(), in.bytes.begin() + in.dataSize));
        bool mode = name.substr(2) == "Md" || name.substr(2) == "md";
        bool undone = mode && daemonOwnsFans && (!keys.count("Ftst") || get("Ftst") != 1);
        answer.result = name == "Ftst" && refuseUnlock ? 0x82 : 0;
        if (answer.result == 0 && !undone)  // an undone write is still accepted
          value = name.substr(2) == "Tg" ? written + targetSkew : written;
      }
    }
    out = answer.encode();
    return true;
  }
};

}  // namespace norvo::test
