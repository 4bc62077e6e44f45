#include "common/Display.h"

#include <cmath>

namespace tvx {

ScreenMetrics CaptureScreenMetrics(ScreenService& screen) {
    return screen.Metrics();
}

int TwipsPerPixel(double logicalDpi) {
    if (logicalDpi <= 0)
        return 15;
    int factor = int(std::lround(1440.0 / logicalDpi));
    return factor > 0 ? factor : 1;
}

}  // namespace tvx
