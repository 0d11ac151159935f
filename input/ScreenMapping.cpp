#include "input/ScreenMapping.h"

#include "platform/Log.h"

ScreenMapping computeScreenMapping(int32_t sensorWidth, int32_t sensorHeight,
                                   platform::ScreenSize screen, const MappingRule* move,
                                   const MappingRule* hold, const ScreenMapping& previous) {
    ScreenMapping m;
    m.sensorWidth = sensorWidth;
    m.sensorHeight = sensorHeight;
    m.screenWidth = screen.width;
    m.screenHeight = screen.height;
    m.scaleX = static_cast<float>(m.screenWidth / 350.0);
    m.scaleY = static_cast<float>(m.screenHeight / 250.0);
    m.offsetX = static_cast<int32_t>(
        (static_cast<float>(sensorWidth) * m.scaleX - static_cast<float>(m.screenWidth)) * 0.5);
    m.offsetY = static_cast<int32_t>(
        (static_cast<float>(sensorHeight) * m.scaleY - static_cast<float>(m.screenHeight)) * 0.5);
    m.moveThreshold = previous.moveThreshold;
    m.holdFrames = previous.holdFrames;
    if (move != nullptr && move->threshold != -1) m.moveThreshold = move->threshold;
    if (hold != nullptr && hold->threshold != -1) {
        m.holdFrames = static_cast<int32_t>(hold->threshold / 1000.0 * 30.0);
    }
    m.holdTolerance = (hold != nullptr && hold->param != 0.0f) ? 2.0f * hold->param : 10.0f;
    if (move != nullptr && move->param != 0.0f) m.fineScaleX = m.fineScaleY = move->param;
    return m;
}

void logScreenMapping(const ScreenMapping& m) {
    logLine("\nSensor resolution: (%d, %d), Screen resulotion: (%d, %d)\n", m.sensorWidth,
            m.sensorHeight, m.screenWidth, m.screenHeight);
}
