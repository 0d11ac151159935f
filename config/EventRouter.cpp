#include "config/EventRouter.h"

#include <cctype>
#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <sys/stat.h>

#include "platform/Log.h"

namespace {

class FileCloser {
  public:
    void operator()(std::FILE* f) const {
        if (f != nullptr) std::fclose(f);
    }
};

// Opens the configuration for reading. A directory opens on Linux but reads
// as an error, which the word reader could not tell from the end of the
// file: it is refused here like a file that cannot be opened.
std::unique_ptr<std::FILE, FileCloser> openConfiguration(const char* path) {
    std::unique_ptr<std::FILE, FileCloser> file(std::fopen(path, "r"));
    struct stat info {};
    if (file && fstat(fileno(file.get()), &info) == 0 && S_ISDIR(info.st_mode)) {
        file.reset();
        errno = EISDIR;
    }
    return file;
}

}  // namespace

// Reads the configuration as whitespace-separated words, remembering the
// line each word starts on. Words longer than the vocabulary allows are read
// whole and marked, so that the caller can refuse them.
class EventRouter::Reader {
  public:
    explicit Reader(std::FILE* file) : file_(file) {}

    // The next word; false at the end of the file.
    bool next(std::string& word) {
        word.clear();
        int c = std::fgetc(file_);
        while (c != EOF && std::isspace(static_cast<unsigned char>(c))) {
            if (c == '\n') ++line_;
            c = std::fgetc(file_);
        }
        if (c == EOF) return false;
        wordLine_ = line_;
        while (c != EOF && !std::isspace(static_cast<unsigned char>(c))) {
            word.push_back(static_cast<char>(c));
            c = std::fgetc(file_);
        }
        if (c != EOF) std::ungetc(c, file_);
        return true;
    }

    // Skips the rest of the line, its end included, but at most 1000 characters.
    void skipLine() {
        for (int n = 0; n < 1000; ++n) {
            const int c = std::fgetc(file_);
            if (c == EOF) return;
            if (c == '\n') {
                ++line_;
                return;
            }
        }
    }

    int wordLine() const { return wordLine_; }

  private:
    std::FILE* file_;
    int line_ = 1;
    int wordLine_ = 1;
};

namespace {

bool tooLong(const std::string& word) {
    return word.size() > static_cast<size_t>(kMaxWordLength);
}

bool parseInt(const std::string& word, int32_t& out) {
    if (word.empty()) return false;
    errno = 0;
    char* end = nullptr;
    const long v = std::strtol(word.c_str(), &end, 10);
    if (*end != '\0' || errno == ERANGE || v < INT32_MIN || v > INT32_MAX) return false;
    out = static_cast<int32_t>(v);
    return true;
}

bool parseFloat(const std::string& word, float& out) {
    if (word.empty()) return false;
    errno = 0;
    char* end = nullptr;
    const float v = std::strtof(word.c_str(), &end);
    if (*end != '\0' || errno == ERANGE || !std::isfinite(v)) return false;
    out = v;
    return true;
}

bool isSettingKeyword(const std::string& w) {
    return w == "ONE_HAND_MODE" || w == "TWO_HAND_MODE" || w == "FEEDBACK_SOUND" ||
           w == "FEEDBACK_WINDOW";
}

constexpr int kMaxKeysPerLine = 10;
// Largest stored param: 1e6 frames, a hold tolerance of 1e6 mm.
constexpr float kMaxParam = 1.0e6f;
// Largest cursor fine scale: hand steps reach 2e6 mm, and their scaled
// values must stay whole 32-bit numbers.
constexpr float kMaxFineScale = 100.0f;

}  // namespace

EventRouter::EventRouter(platform::Desktop& desktop)
    : keyboardEmitter(std::make_unique<KeyboardEmitter>(desktop)),
      mouseEmitter(std::make_unique<MouseEmitter>(desktop)),
      desktop_(desktop) {}

EventRouter::~EventRouter() = default;

void EventRouter::reportError(const char* what, const std::string& word, int line) {
    logLine("configuration file format : error\n");
    failed_ = true;
    loadErrors_.push_back(path_ + ":" + std::to_string(line) + ": " + what + " '" + word + "'");
}

int32_t EventRouter::applyModeSetting(const char* keyword, const char* value) {
    if (std::strcmp(keyword, "ONE_HAND_MODE") == 0) {
        oneHandMode = lookupInputMode(value);
        return oneHandMode;
    }
    if (std::strcmp(keyword, "TWO_HAND_MODE") == 0) {
        twoHandMode = lookupInputMode(value);
        return twoHandMode;
    }
    if (std::strcmp(keyword, "FEEDBACK_SOUND") == 0) {
        feedbackSound = std::strcmp(value, "BEEP") == 0 ? 1 : 0;
        return 0;
    }
    if (std::strcmp(keyword, "FEEDBACK_WINDOW") == 0) {
        static const char* const kWindows[] = {"WINDOW_NONE", "WINDOW1", "WINDOW2",
                                               "WINDOW3",     "WINDOW4", "WINDOW5"};
        for (int32_t i = 0; i < 6; ++i) {
            if (std::strcmp(value, kWindows[i]) == 0) feedbackWindow = i;
        }
        return 0;
    }
    return 0;
}

int32_t EventRouter::loadGestureConfig(const char* path, int32_t sensorWidth,
                                       int32_t sensorHeight) {
    path_ = path;
    failed_ = false;
    stopReading_ = false;
    loadErrors_.clear();
    logLine("Open configuration file : %s\n", path);
    const std::unique_ptr<std::FILE, FileCloser> file = openConfiguration(path);
    if (!file) {
        logLine("%s file not found\n", path);
        failed_ = true;
        loadErrors_.push_back(path_ + ": cannot be opened: " + std::strerror(errno));
    } else {
        logLine("\n[Gesture   Threshod   Mode   Key   Key_Rel   Param]\n");
        Reader reader(file.get());
        std::string word;
        std::string value;
        while (reader.next(word)) {
            const int line = reader.wordLine();
            if (word[0] == '#') {
                reader.skipLine();
                continue;
            }
            if (isSettingKeyword(word)) {
                reader.next(value);
                if (tooLong(value)) {
                    reportError("word longer than 49 characters", value, reader.wordLine());
                    break;
                }
                if (applyModeSetting(word.c_str(), value.c_str()) == -1) {
                    reportError("not a mode word", value, reader.wordLine());
                    break;
                }
                logLine(" (%s : %s)\n", word.c_str(), value.c_str());
                continue;
            }
            handleRuleLine(reader, word, line);
            if (stopReading_) break;
        }
        if (std::ferror(file.get()) != 0 && !failed_) {
            logLine("configuration file format : error\n");
            failed_ = true;
            loadErrors_.push_back(path_ + ": cannot be read: " + std::strerror(errno));
        }
    }
    mouseEmitter->configureScreenMapping(sensorWidth, sensorHeight);
    return failed_ ? 1 : 0;
}

void EventRouter::handleRuleLine(Reader& reader, const std::string& gestureWord, int line) {
    // Threshod, Mode, Key, Key_Rel, Param.
    std::string fields[5];
    int present = 0;
    while (present < 5 && reader.next(fields[present])) ++present;
    const std::string& thresholdWord = fields[0];
    const std::string& modeWord = fields[1];
    const std::string& keyWord = fields[2];
    const std::string& keyRelWord = fields[3];
    const std::string& paramWord = fields[4];

    int32_t threshold = 0;
    float param = 0.0f;
    const bool cutShort = present < 5;
    if (present >= 1 && !parseInt(thresholdWord, threshold)) {
        reportError("Threshod is not a whole number", thresholdWord, line);
        stopReading_ = true;
        return;
    }
    if (present == 5 && !parseFloat(paramWord, param)) {
        reportError("Param is not a number", paramWord, line);
        stopReading_ = true;
        return;
    }
    const int32_t gesture = lookupGesture(gestureWord.c_str());
    int32_t event = lookupEventType(modeWord.c_str());
    const bool isHold = gesture == GestureId::HAND_HOLD;
    if (isHold) {
        if (modeWord == "MOUSE_DOUBLE_CLICK") {
            event = EventType::MOUSEW_DCLICK;
        } else if (modeWord == "MOUSE_TOGGLE") {
            event = EventType::MOUSEW_TOGGLE;
        } else {
            event = EventType::MOUSEW_CLICK;
        }
        threshold /= 10;
    }
    const auto echo = [&] {
        logLine(" %s\t %d\t %s\t %s\t %s\t %.1f\n", gestureWord.c_str(), threshold,
                modeWord.c_str(), keyWord.c_str(), keyRelWord.c_str(), static_cast<double>(param));
    };
    if (cutShort) {
        // The file ended inside the line: nothing to add.
        echo();
        return;
    }
    for (const std::string* w : {&gestureWord, &modeWord, &keyWord, &keyRelWord}) {
        if (tooLong(*w)) {
            reportError("word longer than 49 characters", *w, line);
            echo();
            return;
        }
    }
    const uint8_t keyRel = lookupKeyCode(keyRelWord.c_str(), desktop_);

    uint8_t codes[kMaxKeysPerLine];
    int codeCount = 0;
    size_t start = 0;
    while (start <= keyWord.size()) {
        size_t comma = keyWord.find(',', start);
        if (comma == std::string::npos) comma = keyWord.size();
        if (comma > start) {
            const std::string piece = keyWord.substr(start, comma - start);
            if (codeCount == kMaxKeysPerLine) {
                reportError("more than 10 keys on one line", keyWord, line);
                echo();
                return;
            }
            codes[codeCount++] = lookupKeyCode(piece.c_str(), desktop_);
        }
        start = comma + 1;
    }

    const int64_t stored64 = static_cast<int64_t>(threshold) * 10;
    const int32_t stored = static_cast<int32_t>(
        stored64 > INT32_MAX ? INT32_MAX : (stored64 < INT32_MIN ? INT32_MIN : stored64));
    for (int k = 0; k < codeCount; ++k) {
        const uint8_t code = codes[k];
        if (gesture == GestureId::NOT_FOUND) {
            reportError("unknown gesture", gestureWord, line);
            break;
        }
        if (code == KeyCode::NOT_A_KEY) {
            reportError("not a key", keyWord, line);
            break;
        }
        if (event == EventType::NOT_FOUND) {
            reportError("unknown event type", modeWord, line);
            break;
        }
        float ruleParam = param;
        if (!(event >= EventType::MOUSE_MOVE && event <= EventType::MOUSEW_TOGGLE) && !isHold) {
            ruleParam = static_cast<float>(std::floor(static_cast<double>(param) / 1000.0 * 30.0));
        }
        // The emitters turn params into whole frame counts and tolerances, and
        // multiply hand steps by the HAND_MOVE one: keep them where that fits.
        if (std::fabs(ruleParam) > (gesture == GestureId::HAND_MOVE ? kMaxFineScale : kMaxParam)) {
            reportError("Param out of range", paramWord, line);
            break;
        }
        const bool mouse = EventType::isMouse(event);
        if (mouse ? mouseEmitter->ruleCount() >= MouseEmitter::kMaxRules
                  : keyboardEmitter->ruleCount() >= KeyboardEmitter::kMaxRules) {
            reportError("more than 50 rules for one emitter", gestureWord, line);
            break;
        }
        if (mouse && !mouseEmitter->registerButton(code)) {
            reportError("more than 10 different mouse codes", keyWord, line);
            break;
        }
        if (code == KeyCode::CHANGE_MODE) changeModeGesture = gesture;
        if (code == KeyCode::TOGGLE_MODE) toggleModeGesture = gesture;
        eventOfGesture[gesture] = event;
        if (mouse) {
            mouseEmitter->addRule(gesture, stored, code, ruleParam, event);
            mouseEmitter->registerButton(code);
        } else {
            keyboardEmitter->addRule(gesture, stored, code, keyRel, ruleParam, event);
            keyboardEmitter->registerKey(code);
        }
    }
    echo();
}
