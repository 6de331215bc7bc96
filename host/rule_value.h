#pragma once
// One record of a device's rule batch. The host fills a device's batch and
// evaluates it after every round; devices only count and hand it over.

#include <string>

#include "host/visibility.h"

struct QORV_API rule_value {
  std::string name;    // signal key the rule is about
  float value = 0.0f;  // value the rule compares
  int level = 0;       // alarm level the rule raises
};
