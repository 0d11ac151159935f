#include "gesture/Trace.h"

#include <cstdio>

#include "config/Vocabulary.h"
#include "platform/Log.h"

namespace gesture {

const char* TraceWriter::header() {
    return "trace,frame,hands,path,valid,hold_state,hold_count,holding,stroke,stroke_points,"
           "stroke_width,stroke_height,stroke_depth,hold_dx,hold_dy,hold_dz,speed,acceleration,"
           "direction,hands_dx,hands_dy,hands_dz,ref_dy,ref_dz,ref_set,ref_counter,sub_mode,"
           "judged";
}

int TraceWriter::format(char* buffer, int size, const FrameDecisions& d, const GestureFeatures& f) {
    const auto d1 = [](float v) { return static_cast<double>(v); };
    int n = std::snprintf(
        buffer, static_cast<size_t>(size),
        "trace,%llu,%d,%d,%d,%d,%d,%d,%d,%d,%d,%d,%d,%.1f,%.1f,%.1f,%.1f,%.1f,%d,%.1f,%.1f,%.1f,"
        "%.1f,%.1f,%d,%d,%d,",
        static_cast<unsigned long long>(d.frame), d.count, d.path, f.valid, d.holdState,
        d.holdCount, f.holding, f.strokeClass, d.strokePoints, d.strokeWidth, d.strokeHeight,
        d.strokeDepth, d1(f.holdDeltaX), d1(f.holdDeltaY), d1(f.holdDeltaZ), d1(f.speed),
        d1(f.peakAcceleration), f.direction, d1(f.handsDeltaX), d1(f.handsDeltaY),
        d1(f.handsDeltaZ), d1(f.refDeltaY), d1(f.refDeltaZ), d.referenceSet, d.referenceCounter,
        d.mouseMode == MouseMode::State::GESTURE ? 1 : 0);
    if (n < 0 || n >= size) return 0;
    // Judged gestures: WORD=value/threshold/result, separated by blanks.
    for (int32_t i = 0; i < d.judgedCount; ++i) {
        const Judgement& j = d.judged[i];
        const int m = std::snprintf(buffer + n, static_cast<size_t>(size - n), "%s%s=%d/%d/%d",
                                    i == 0 ? "" : " ", gestureName(j.gesture), j.value, j.threshold,
                                    j.result);
        if (m < 0 || m >= size - n) return 0;
        n += m;
    }
    if (n + 1 >= size) return 0;
    buffer[n++] = '\n';
    buffer[n] = '\0';
    return n;
}

void TraceWriter::frameDecided(const FrameDecisions& d, const GestureFeatures& f,
                               EventRouter& /*router*/) {
    if (!headerWritten_) {
        logOwnLine("%s\n", header());
        headerWritten_ = true;
    }
    char line[1000];
    if (format(line, sizeof line, d, f) > 0) logOwnLine("%s", line);
}

}  // namespace gesture
