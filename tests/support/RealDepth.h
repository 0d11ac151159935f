// Depth frames recorded by real sensors (../shared/realdepth from the project root), read as
// millimetres for the tracker core: 16-bit grey PNGs, either in millimetres or, for the Kinect
// recordings, raw 11-bit disparity converted with libfreenect's approximation.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace realdepth {

struct Image {
    int width = 0;
    int height = 0;
    std::vector<uint16_t> depth;  // millimetres, 0 = no reading
};

// The folder of the recordings, or "" when it is absent. TOLVANE_SOURCE_DIR (set by the test
// runner) is the project root; without it the current directory is taken for it.
std::string folder();

// Reads a 16-bit grey PNG. With `disparity`, the values are raw Kinect v1 disparities (2047 = no
// reading) and are converted to millimetres. False with a message in `error` on failure.
bool readPng(const std::string& path, bool disparity, Image& image, std::string& error);

// A Kinect recording: frames.txt gives the frame order and the wall-clock time of each frame.
struct Recording {
    std::vector<std::string> files;  // png/NNNN.png paths
    std::vector<double> seconds;     // since the first frame
};
bool readRecording(const std::string& dir, Recording& recording, std::string& error);

// Fields of view (radians) of the recording sensors.
inline constexpr float kKinectHfov = 1.0210176F;  // 58.5 degrees
inline constexpr float kKinectVfov = 0.7958701F;  // 45.6 degrees
inline constexpr float kSr305Hfov = 1.1833332F;   // 67.8 degrees
inline constexpr float kSr305Vfov = 0.9337511F;   // 53.5 degrees

}  // namespace realdepth
