#pragma once
// The soak's figures for a person (a few lines) and for scripts (one JSON
// object).

#include <string>

#include <json/value.h>

#include "soak/soak_run.h"

namespace soak {

std::string ReportText(const SoakResult& result);
Json::Value ReportJson(const SoakResult& result);

}  // namespace soak
