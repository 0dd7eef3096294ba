#pragma once
#include "results/keep_rules.h"

namespace veldrano {

// The keep rules last used, and whether each scan ticks by them, kept in
// the desktop's settings place ($XDG_CONFIG_HOME/veldrano/veldrano.conf)
// from one run of the program to the next.
struct KeepRulesSettings {
  KeepRules Rules;
  bool AfterEveryScan = false;
};

KeepRulesSettings LoadKeepRulesSettings();
void SaveKeepRulesSettings(const KeepRulesSettings& settings);

}  // namespace veldrano
