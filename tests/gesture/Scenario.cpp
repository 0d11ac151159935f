#include "Scenario.h"

#include <gtest/gtest.h>

#include <array>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>

#include "gesture/Explainer.h"
#include "gesture/GestureFeed.h"
#include "gesture/Trace.h"
#include "platform/RecordingDesktop.h"

namespace gesture::scenario {

namespace {

using Hands = std::vector<Point3f>;

std::string trim(const std::string& s) {
    const size_t begin = s.find_first_not_of(" \t\r");
    if (begin == std::string::npos) return "";
    const size_t end = s.find_last_not_of(" \t\r");
    return s.substr(begin, end - begin + 1);
}

std::vector<std::string> words(const std::string& line) {
    std::istringstream in(line);
    std::vector<std::string> out;
    for (std::string w; in >> w;) out.push_back(w);
    return out;
}

// Control characters of the log as they are written in scenario files.
std::string escape(const std::string& s) {
    std::string out;
    for (char c : s) {
        if (c == '\t') {
            out += "\\t";
        } else if (c == '\a') {
            out += "\\a";
        } else if (c == '\\') {
            out += "\\\\";
        } else if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) {
            char hex[8];
            std::snprintf(hex, sizeof hex, "\\x%02X", static_cast<unsigned char>(c));
            out += hex;
        } else {
            out += c;
        }
    }
    return out;
}

bool parseNumber(const std::string& text, float& out) {
    if (text.empty()) return false;
    char* end = nullptr;
    errno = 0;
    out = std::strtof(text.c_str(), &end);
    return *end == '\0' && errno == 0;
}

bool parseInt(const std::string& text, int& out) {
    float v = 0.0f;
    if (!parseNumber(text, v) || v != static_cast<float>(static_cast<int>(v))) return false;
    out = static_cast<int>(v);
    return true;
}

// "x,y,z" in millimetres.
bool parsePoint(const std::string& text, Point3f& p) {
    std::array<float, 3> v{};
    size_t start = 0;
    for (int i = 0; i < 3; ++i) {
        const size_t comma = text.find(',', start);
        if ((i < 2) != (comma != std::string::npos)) return false;
        if (!parseNumber(text.substr(start, comma - start), v[i])) return false;
        start = comma + 1;
    }
    p = {v[0], v[1], v[2]};
    return true;
}

std::string keyText(const platform::KeyInput& k) {
    const bool up = (k.flags & platform::KEYEVENTF_KEYUP) != 0;
    return "key " + std::to_string(k.vk) + (up ? " up" : " down");
}

std::string mouseText(const platform::MouseInput& m) {
    struct Flag {
        uint32_t bit;
        const char* name;
    };
    static constexpr Flag kFlags[] = {{platform::MOUSEEVENTF_LEFTDOWN, "left down"},
                                      {platform::MOUSEEVENTF_LEFTUP, "left up"},
                                      {platform::MOUSEEVENTF_RIGHTDOWN, "right down"},
                                      {platform::MOUSEEVENTF_RIGHTUP, "right up"},
                                      {platform::MOUSEEVENTF_MIDDLEDOWN, "middle down"},
                                      {platform::MOUSEEVENTF_MIDDLEUP, "middle up"},
                                      {platform::MOUSEEVENTF_WHEEL, "wheel"}};
    std::string text = "mouse";
    for (const Flag& f : kFlags) {
        if (m.flags & f.bit) text.append(" ").append(f.name);
    }
    if (m.flags == 0) text += " none";
    if (m.mouseData != 0) text.append(" ").append(std::to_string(m.mouseData));
    return text;
}

char formatBuffer[512];

template <typename... Args>
std::string format(const char* fmt, Args... args) {
    std::snprintf(formatBuffer, sizeof formatBuffer, fmt, args...);
    return formatBuffer;
}

class Runner {
  public:
    Runner(std::string path, Sinks sinks) : path_(std::move(path)), sinks(sinks) {}

    Result run() {
        std::ifstream in(path_);
        if (!in) return fail(0, "cannot open the scenario file");
        for (std::string line; std::getline(in, line);) lines_.push_back(line);
        if (!readSetup()) return result_;
        if (!start()) return result_;
        for (; next_ < lines_.size(); ++next_) {
            const std::string line = trim(lines_[next_]);
            if (line.empty() || line[0] == '#') continue;
            if (line[0] == '>') {
                result_.expected.push_back(trim(line.substr(1)));
                continue;
            }
            result_.expected.push_back(line);
            result_.actual.push_back(line);
            if (!directive(line)) return result_;
        }
        finish();
        result_.ok = result_.error.empty() && result_.expected == result_.actual;
        return result_;
    }

  private:
    Result& fail(size_t index, const std::string& message) {
        result_.error = path_ + ":" + std::to_string(index + 1) + ": " + message;
        result_.ok = false;
        return result_;
    }

    // Settings and the configuration, up to the first frame directive.
    bool readSetup() {
        for (; next_ < lines_.size(); ++next_) {
            const std::string line = trim(lines_[next_]);
            if (line.empty() || line[0] == '#') continue;
            const auto w = words(line);
            if (w[0] == "config" && w.size() == 1) {
                configText_.emplace();
                for (++next_; next_ < lines_.size() && trim(lines_[next_]) != "end"; ++next_) {
                    *configText_ += lines_[next_] + "\n";
                }
                if (next_ == lines_.size()) return fail(next_, "config without end"), false;
            } else if (w[0] == "config-file" && w.size() == 2) {
                configPath_ = (std::filesystem::path(path_).parent_path() / w[1]).string();
            } else if (w[0] == "screen" && w.size() == 3) {
                if (!parseInt(w[1], screen_.width) || !parseInt(w[2], screen_.height)) {
                    return fail(next_, "bad screen size"), false;
                }
            } else if (w[0] == "sensor" && w.size() == 3) {
                if (!parseInt(w[1], sensorWidth_) || !parseInt(w[2], sensorHeight_)) {
                    return fail(next_, "bad sensor size"), false;
                }
            } else if (w[0] == "explain" && w.size() == 1) {
                explain_ = true;
            } else if (w[0] == "frame-rate" && w.size() == 2) {
                if (!parseInt(w[1], frameRate_)) return fail(next_, "bad frame rate"), false;
            } else {
                break;
            }
        }
        if (!configText_ && configPath_.empty()) {
            return fail(next_, "no configuration (config ... end, or config-file)"), false;
        }
        return true;
    }

    bool start() {
        if (configText_) {
            configPath_ = ::testing::TempDir() + "scenario_" +
                          std::filesystem::path(path_).stem().string() + ".txt";
            std::ofstream out(configPath_);
            out << *configText_;
            if (!out) return fail(0, "cannot write " + configPath_), false;
        }
        desktop_.emplace(screen_);
        feed_.emplace(*desktop_);
        // The cursor worker runs on its own clock; scenarios keep it stopped and
        // read the cursor target instead. Its hold pulse comes from "hold-pulse".
        cursorThread().stop();
        feed_->manager().frameRate = frameRate_;
        if ((explain_ && sinks == Sinks::AsWritten) || sinks == Sinks::All) sinks_.add(&explainer_);
        if (sinks == Sinks::All) sinks_.add(&trace_);
        if (!sinks_.empty()) feed_->manager().setDecisionSink(&sinks_);
        ::testing::internal::CaptureStdout();
        const int32_t failed = feed_->manager().router().loadGestureConfig(
            configPath_.c_str(), sensorWidth_, sensorHeight_);
        const std::string echo = ::testing::internal::GetCapturedStdout();
        if (failed != 0) return fail(0, "the configuration did not load:\n" + echo), false;
        desktop_->take();
        return true;
    }

    CursorThread& cursorThread() { return feed_->manager().router().mouse().cursor(); }

    // Runs one directive, adding what it produced to the actual transcript.
    bool directive(const std::string& line) {
        const auto w = words(line);
        ::testing::internal::CaptureStdout();
        const bool ok = runDirective(w);
        const std::string out = ::testing::internal::GetCapturedStdout();
        for (const auto& record : desktop_->take()) {
            if (record.type == platform::InputRecord::Type::Key) {
                result_.actual.push_back(keyText(record.key));
            } else if ((record.mouse.flags & platform::MOUSEEVENTF_ABSOLUTE) == 0) {
                result_.actual.push_back(mouseText(record.mouse));
            }
        }
        std::istringstream lines(out);
        for (std::string l; std::getline(lines, l);) {
            if (!l.empty()) result_.actual.push_back("out: " + escape(l));
        }
        result_.actual.insert(result_.actual.end(), shown_.begin(), shown_.end());
        shown_.clear();
        return ok;
    }

    // Repeat count of a trailing "xN".
    bool repeatCount(std::vector<std::string>& w, int& n) {
        n = 1;
        if (w.size() > 1 && w.back().size() > 1 && w.back()[0] == 'x') {
            if (!parseInt(w.back().substr(1), n) || n < 1) return false;
            w.pop_back();
        }
        return true;
    }

    bool parseHands(const std::vector<std::string>& w, size_t from, Hands& hands) {
        for (size_t i = from; i < w.size(); ++i) {
            Point3f p;
            if (!parsePoint(w[i], p)) return false;
            hands.push_back(p);
        }
        return true;
    }

    bool runDirective(std::vector<std::string> w) {
        const std::string& name = w[0];
        int n = 1;
        if (name == "none" || name == "hand" || name == "hands" || name == "three") {
            if (!repeatCount(w, n)) return fail(next_, "bad repeat count"), false;
            Hands hands;
            std::optional<Point3f> mid;
            if (name == "hands" && w.size() == 5 && w[3] == "mid") {
                Point3f m;
                if (!parsePoint(w[4], m)) return fail(next_, "bad midpoint"), false;
                mid = m;
                w.resize(3);
            }
            if (!parseHands(w, 1, hands)) return fail(next_, "bad point"), false;
            const size_t expected = name == "none"    ? 0
                                    : name == "hand"  ? 1
                                    : name == "hands" ? 2
                                                      : 3;
            if (hands.size() != expected) return fail(next_, "wrong number of points"), false;
            for (int i = 0; i < n; ++i) frame(hands, mid);
            return true;
        }
        if (name == "move" || name == "step") {
            if (w.size() < 3 || !parseInt(w[1], n) || n < 1) {
                return fail(next_, "expected: " + name + " N point [point]"), false;
            }
            Hands target;
            if (!parseHands(w, 2, target) || target.size() != last_.size() || target.empty()) {
                return fail(next_, "give one point per hand of the last frame"), false;
            }
            const Hands from = last_;
            for (int k = 1; k <= n; ++k) {
                Hands hands = from;
                for (size_t h = 0; h < hands.size(); ++h) {
                    const Point3f& t = target[h];
                    Point3f& p = hands[h];
                    if (name == "move") {
                        const float f = static_cast<float>(k) / static_cast<float>(n);
                        p = {p.x + (t.x - p.x) * f, p.y + (t.y - p.y) * f, p.z + (t.z - p.z) * f};
                    } else {
                        const float f = static_cast<float>(k);
                        p = {p.x + t.x * f, p.y + t.y * f, p.z + t.z * f};
                    }
                }
                frame(hands, std::nullopt);
            }
            return true;
        }
        if (name == "hold-pulse" && w.size() == 1) {
            pulse_ = true;
            return true;
        }
        if (name == "pointer" && w.size() == 3) {
            platform::ScreenPoint p;
            if (!parseInt(w[1], p.x) || !parseInt(w[2], p.y)) {
                return fail(next_, "bad pointer position"), false;
            }
            desktop_->setCursorPos(p);
            return true;
        }
        if (name == "show" && w.size() == 2) return show(w[1]);
        if (name == "reload" && w.size() == 1) return reload();
        if (name == "quit" && w.size() == 1) {
            feed_.reset();
            return true;
        }
        return fail(next_, "unknown directive '" + name + "'"), false;
    }

    // The configuration loaded again as -watch does: what the hands hold is
    // let go, a fresh router loads the file and takes the old one's place.
    bool reload() {
        if (!feed_) return fail(next_, "reload after quit"), false;
        EventRouter& old = feed_->manager().router();
        old.releaseAll();
        auto fresh = std::make_unique<EventRouter>(*desktop_);
        fresh->mouse().cursor().stop();
        const std::string released = ::testing::internal::GetCapturedStdout();
        ::testing::internal::CaptureStdout();
        const int32_t failed =
            fresh->loadGestureConfig(configPath_.c_str(), sensorWidth_, sensorHeight_);
        const std::string echo = ::testing::internal::GetCapturedStdout();
        ::testing::internal::CaptureStdout();
        std::fputs(released.c_str(), stdout);
        if (failed != 0) return fail(next_, "the configuration did not load:\n" + echo), false;
        feed_->manager().replaceRouter(std::move(fresh));
        return true;
    }

    void frame(const Hands& hands, std::optional<Point3f> mid) {
        if (!feed_) return;
        std::array<Point3f, 3> world{};
        const std::array<Point3f, 3> depth{};
        for (size_t i = 0; i < hands.size() && i < 3; ++i) world[i] = hands[i];
        if (hands.size() == 2) {
            // Without a given midpoint, the pixel between the hands is taken to
            // see the wall: the tracker then places it 200 mm behind the hands.
            world[2] = mid ? *mid
                           : Point3f{(hands[0].x + hands[1].x) / 2, (hands[0].y + hands[1].y) / 2,
                                     (hands[0].z + hands[1].z) / 2 + 200.0f};
        }
        if (pulse_) cursorThread().holdFlag = 1;
        feed_->feedHandPoints(depth, world, static_cast<int32_t>(hands.size()), state_);
        if (pulse_) cursorThread().holdFlag = 0;
        pulse_ = false;
        last_ = hands;
    }

    bool show(const std::string& what) {
        if (!feed_) return fail(next_, "show after quit"), false;
        GestureManager& m = feed_->manager();
        if (what == "feedback") {
            const FeedbackState& s = state_;
            shown_.push_back(format(
                "feedback mode=%d box=%d follows=%d mouse=%d active=%d dot=%d beep=%d double=%d",
                s.mode, s.twoHandBox, s.anchorFollows, s.mouseActive, s.active, s.twoHandDot,
                s.singleBeep, s.doubleBeep));
        } else if (what == "features") {
            const GestureFeatures& f = m.lastFeatures();
            shown_.push_back(format(
                "features hold=%g,%g,%g hands=%g,%g,%g ref=%g,%g holding=%d stroke=%d speed=%g "
                "dir=%d valid=%d",
                static_cast<double>(f.holdDeltaX), static_cast<double>(f.holdDeltaY),
                static_cast<double>(f.holdDeltaZ), static_cast<double>(f.handsDeltaX),
                static_cast<double>(f.handsDeltaY), static_cast<double>(f.handsDeltaZ),
                static_cast<double>(f.refDeltaY), static_cast<double>(f.refDeltaZ), f.holding,
                f.strokeClass, static_cast<double>(f.speed), f.direction, f.valid));
        } else if (what == "modes") {
            shown_.push_back(
                format("modes one=%d two=%d sub=%d latch=%d armed=%d", m.router().oneHandMode,
                       m.router().twoHandMode, m.mouseMode().inGestureSubMode() ? 1 : 0,
                       m.mouseMode().frozen() ? 1 : 0, m.mouseMode().dropArmed() ? 1 : 0));
        } else if (what == "cursor") {
            shown_.push_back(
                format("cursor %d %d", cursorThread().target().x, cursorThread().target().y));
        } else {
            return fail(next_, "show feedback|features|modes|cursor"), false;
        }
        return true;
    }

    // Tears the manager down unless the scenario did ("quit" puts the
    // release output into the transcript).
    void finish() {
        if (!feed_) return;
        ::testing::internal::CaptureStdout();
        feed_.reset();
        ::testing::internal::GetCapturedStdout();
    }

    std::string path_;
    std::vector<std::string> lines_;
    size_t next_ = 0;
    Result result_;
    std::optional<std::string> configText_;
    std::string configPath_;
    platform::ScreenSize screen_{1920, 1080};
    int sensorWidth_ = 640;
    int sensorHeight_ = 480;
    int frameRate_ = 30;
    std::optional<platform::RecordingDesktop> desktop_;
    std::optional<GestureFeed> feed_;
    FeedbackState state_;
    Hands last_;
    bool pulse_ = false;
    std::vector<std::string> shown_;
    Sinks sinks;
    bool explain_ = false;
    Explainer explainer_;
    TraceWriter trace_;
    DecisionFanout sinks_;
};

}  // namespace

Result runFile(const std::string& path, Sinks sinks) {
    return Runner(path, sinks).run();
}

std::vector<std::string> withoutExplanations(const std::vector<std::string>& transcript) {
    std::vector<std::string> kept;
    for (const std::string& line : transcript) {
        if (line.rfind("out: why: ", 0) != 0 && line.rfind("out: trace,", 0) != 0) {
            kept.push_back(line);
        }
    }
    return kept;
}

std::string diff(const std::vector<std::string>& expected, const std::vector<std::string>& actual) {
    // Longest common subsequence, then a walk that prints the edits.
    const size_t n = expected.size();
    const size_t m = actual.size();
    std::vector<std::vector<int>> lcs(n + 1, std::vector<int>(m + 1, 0));
    for (size_t i = n; i-- > 0;) {
        for (size_t j = m; j-- > 0;) {
            lcs[i][j] = expected[i] == actual[j] ? lcs[i + 1][j + 1] + 1
                                                 : std::max(lcs[i + 1][j], lcs[i][j + 1]);
        }
    }
    std::string out;
    size_t i = 0;
    size_t j = 0;
    while (i < n || j < m) {
        if (i < n && j < m && expected[i] == actual[j]) {
            out += "  " + expected[i++] + "\n";
            ++j;
        } else if (j < m && (i == n || lcs[i][j + 1] >= lcs[i + 1][j])) {
            out += "+ " + actual[j++] + "\n";
        } else {
            out += "- " + expected[i++] + "\n";
        }
    }
    return out;
}

}  // namespace gesture::scenario
