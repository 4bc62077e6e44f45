#pragma once

namespace tvx {

// What window placement needs to know of the screen, in pixels and dots per inch.
struct ScreenMetrics {
    int width = 1024;
    int height = 768;
    int fullScreenHeight = 720;  // client height of a maximised window: screen less task bars
    int captionHeight = 22;
    double logicalDpiX = 96;
    double logicalDpiY = 96;
};

class ScreenService {
public:
    virtual ~ScreenService() = default;
    virtual ScreenMetrics Metrics() = 0;
};

}  // namespace tvx
