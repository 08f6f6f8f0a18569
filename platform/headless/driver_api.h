// The table of driver functions the native module exports as
// KestrelleHeadless() (plugin/native_exports.cpp).
#pragma once

#include "headless_driver.h"

namespace headless {

const KestrelleHeadlessApi* DriverApi();

}  // namespace headless
