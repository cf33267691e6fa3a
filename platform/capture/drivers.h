// The installed capture drivers, in index order. By default: the V4L2 video capture
// devices under /dev in the order of their numbers, then the demo camera, so that the demo
// camera connects only where no camera does. A program or a test may install its own list
// before the first capture window request.
#pragma once

#include <memory>
#include <vector>

#include "platform/capture/driver.h"

namespace platform {

using CaptureDriverList = std::vector<std::shared_ptr<CaptureDriver>>;

// Replaces the installed list. Drivers connected to an existing capture window stay
// connected to it until it disconnects.
void InstallCaptureDrivers(CaptureDriverList drivers);
// The default list: the cameras found now, then the demo camera.
CaptureDriverList DefaultCaptureDrivers();
// Driver `index` of the installed list (installing the default list on first use), or null.
std::shared_ptr<CaptureDriver> CaptureDriverAt(int index);

}  // namespace platform
