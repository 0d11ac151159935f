// fakenect's recording format, as libfreenect's fakenect-record writes it: a
// folder with INDEX.txt, one file name a line in playing order, and a file
// per frame. A depth frame is named "d-SECONDS-TIMESTAMP.pgm" (SECONDS the
// wall-clock time, which paces the playback, TIMESTAMP the device clock) and
// holds a "P5 640 480 65535" line and 640 x 480 raw 11-bit values,
// little-endian.
#pragma once

#include <cstdint>
#include <fstream>
#include <string>

namespace platform {

// Whether `folder` holds a recording that fakenect plays without failing:
// INDEX.txt, and every frame it names present and of the right size. On
// failure `error` says what is wrong, naming the file.
bool checkFakenectRecording(const std::string& folder, std::string& error);

// Writes a recording frame by frame.
class FakenectWriter {
  public:
    // Creates `folder` if needed and starts its INDEX.txt.
    explicit FakenectWriter(const std::string& folder);
    bool ok() const { return ok_; }
    const std::string& error() const { return error_; }

    // One depth frame of 640 x 480 raw values, at `seconds` of wall-clock
    // time with device clock `timestamp`.
    bool addDepth(const uint16_t* raw, double seconds, uint32_t timestamp);
    int frames() const { return frames_; }

  private:
    bool fail(const std::string& what);

    std::string folder_;
    std::ofstream index_;
    bool ok_ = false;
    std::string error_;
    int frames_ = 0;
};

}  // namespace platform
