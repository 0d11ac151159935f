#include "platform/FakenectRecording.h"

#include <bit>
#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <system_error>
#include <vector>

#include "platform/KinectBus.h"

namespace platform {

namespace {

constexpr uintmax_t kDepthBytes = uintmax_t{kKinectWidth} * kKinectHeight * 2;
const char kDepthHeader[] = "P5 640 480 65535\n";

// A depth file's header line as fakenect wants it, and nothing but the
// pixels after it.
bool checkDepthFile(const std::string& path, const std::string& name, std::string& error) {
    std::error_code ec;
    const uintmax_t size = std::filesystem::file_size(path, ec);
    if (ec) {
        error = "frame " + name + " is missing from the recording";
        return false;
    }
    std::FILE* f = std::fopen(path.c_str(), "rb");
    if (f == nullptr) {
        error = "cannot read frame " + name + ": " + std::strerror(errno);
        return false;
    }
    char line[64] = {};
    const bool got = std::fgets(line, sizeof line, f) != nullptr;
    std::fclose(f);
    int width = 0, height = 0, max = 0;
    if (!got || std::sscanf(line, "P5 %d %d %d", &width, &height, &max) != 3) {
        error = "frame " + name + " is not a depth picture (no \"P5 640 480 65535\" line)";
        return false;
    }
    if (width != kKinectWidth || height != kKinectHeight) {
        error = "frame " + name + " is " + std::to_string(width) + " x " + std::to_string(height) +
                ", not 640 x 480";
        return false;
    }
    if (size != std::strlen(line) + kDepthBytes) {
        error = "frame " + name + " holds " + std::to_string(size) + " bytes, not " +
                std::to_string(std::strlen(line) + kDepthBytes);
        return false;
    }
    return true;
}

}  // namespace

bool checkFakenectRecording(const std::string& folder, std::string& error) {
    const std::string where = folder.empty() ? std::string("(none)") : folder;
    std::FILE* index = folder.empty() ? nullptr : std::fopen((folder + "/INDEX.txt").c_str(), "r");
    if (index == nullptr) {
        error = where + " is not a fakenect recording: it has no INDEX.txt";
        return false;
    }
    int depthFrames = 0;
    int lineNumber = 0;
    bool ok = true;
    char buffer[512];
    while (ok && std::fgets(buffer, sizeof buffer, index) != nullptr) {
        ++lineNumber;
        std::string name = buffer;
        while (!name.empty() && (name.back() == '\n' || name.back() == '\r')) name.pop_back();
        if (name.empty()) continue;
        std::string path = folder;
        path.append("/").append(name);
        double seconds = 0;
        unsigned timestamp = 0;
        char tail[8] = {};
        const bool named =
            name.find('/') == std::string::npos && name.size() > 2 && name[1] == '-' &&
            std::sscanf(name.c_str() + 2, "%lf-%u.%3s", &seconds, &timestamp, tail) == 3;
        if (!named || (name[0] != 'd' && name[0] != 'r' && name[0] != 'a')) {
            error = where;
            error.append("/INDEX.txt:")
                .append(std::to_string(lineNumber))
                .append(": '")
                .append(name)
                .append("' is not a fakenect frame name");
            ok = false;
        } else if (name[0] == 'd') {
            ok = checkDepthFile(path, name, error);
            if (!ok) error.insert(0, where + ": ");
            ++depthFrames;
        } else if (!std::filesystem::exists(path)) {
            error = where;
            error.append(": frame ").append(name).append(" is missing from the recording");
            ok = false;
        }
    }
    std::fclose(index);
    if (ok && depthFrames == 0) {
        error = where + " is not a fakenect recording: INDEX.txt names no depth frame";
        ok = false;
    }
    return ok;
}

FakenectWriter::FakenectWriter(const std::string& folder) : folder_(folder) {
    std::error_code ec;
    std::filesystem::create_directories(folder, ec);
    if (ec) {
        fail("cannot create " + folder + ": " + ec.message());
        return;
    }
    index_.open(folder + "/INDEX.txt", std::ios::trunc);
    if (!index_) {
        fail("cannot write " + folder + "/INDEX.txt: " + std::strerror(errno));
        return;
    }
    ok_ = true;
}

bool FakenectWriter::fail(const std::string& what) {
    ok_ = false;
    error_ = what;
    return false;
}

bool FakenectWriter::addDepth(const uint16_t* raw, double seconds, uint32_t timestamp) {
    if (!ok_) return false;
    char name[96];
    std::snprintf(name, sizeof name, "d-%.6f-%" PRIu32 ".pgm", seconds, timestamp);
    std::ofstream out(folder_ + "/" + name, std::ios::binary | std::ios::trunc);
    // Little-endian, as the recorder writes on the machines it runs on.
    static_assert(std::endian::native == std::endian::little);
    out << kDepthHeader;
    out.write(reinterpret_cast<const char*>(raw), static_cast<std::streamsize>(kDepthBytes));
    if (!out) return fail(std::string("cannot write ") + folder_ + "/" + name);
    index_ << name << '\n' << std::flush;
    if (!index_) return fail("cannot write " + folder_ + "/INDEX.txt");
    ++frames_;
    return true;
}

}  // namespace platform
