// What the window program tells Qt about itself: the names its stored settings are kept under,
// its version, and the desktop entry that desktop shells match its window to.
#pragma once

void describeApplication();
