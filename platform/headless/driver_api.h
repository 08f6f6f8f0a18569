// The table of driver functions the native module exports as
// KestrelleHeadless() (module/native_exports.cpp).
#pragma once

#include "platform/headless/headless_driver.h"

namespace headless {

const KestrelleHeadlessApi* DriverApi();

}  // namespace headless
