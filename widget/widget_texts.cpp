#include "widget/widget_texts.hpp"

#include "core/platform/platform_words.hpp"

namespace norvo {

namespace {

WidgetTexts russian() {
  const auto& noun = platform::machineNoun();
  std::string machine(noun.russian);
  return {"Нагрузка " + std::string(noun.russianGenitive),
          "Процессор, память, диски, температура и самые тяжёлые программы.",
          "Откройте Zemra Norvo",
          "Нагрузка в норме",
          machine + " занят",
          machine + " перегружен",
          "Критическая нагрузка",
          "Процессор",
          "Память",
          "Температура",
          "свободно ",
          "",
          "AI может параллельно: тяжёлых задач — ",
          "Тяжёлые программы"};
}

WidgetTexts english() {
  std::string machine(platform::machineNoun().english);
  return {machine + " load",
          "Processor, memory, disks, temperature and the heaviest programs.",
          "Open Zemra Norvo",
          "Load is normal",
          machine + " is busy",
          machine + " is overloaded",
          "Critical load",
          "CPU",
          "Memory",
          "Temperature",
          "",
          " free",
          "Heavy jobs AI may run at once: ",
          "Heaviest programs"};
}

}  // namespace

const WidgetTexts& widgetTexts(platform::Language language) {
  static const WidgetTexts ru = russian(), en = english();
  return language == platform::Language::english ? en : ru;
}

}  // namespace norvo
