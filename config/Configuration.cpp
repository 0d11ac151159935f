#include "config/Configuration.h"

#include <cctype>
#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

#include <sys/stat.h>

namespace {

class FileCloser {
  public:
    void operator()(std::FILE* f) const {
        if (f != nullptr) std::fclose(f);
    }
};

// Opens the configuration for reading. A directory opens on Linux but reads
// as an error, which would look like the end of the file: it is refused here
// like a file that cannot be opened.
std::unique_ptr<std::FILE, FileCloser> openConfiguration(const char* path) {
    std::unique_ptr<std::FILE, FileCloser> file(std::fopen(path, "r"));
    struct stat info {};
    if (file && fstat(fileno(file.get()), &info) == 0 && S_ISDIR(info.st_mode)) {
        file.reset();
        errno = EISDIR;
    }
    return file;
}

// Reads the configuration as whitespace-separated words, remembering the
// line each word starts on. Words longer than the vocabulary allows are read
// whole, so that the caller can refuse them.
class Reader {
  public:
    explicit Reader(std::string_view text) : text_(text) {}

    // The next word; false at the end of the text.
    bool next(std::string& word) {
        word.clear();
        while (at_ < text_.size() && isSpace(text_[at_])) {
            if (text_[at_] == '\n') ++line_;
            ++at_;
        }
        if (at_ == text_.size()) return false;
        wordLine_ = line_;
        const size_t start = at_;
        while (at_ < text_.size() && !isSpace(text_[at_])) ++at_;
        word.assign(text_.substr(start, at_ - start));
        return true;
    }

    // Skips the rest of the line, its end included, but at most 1000 characters.
    void skipLine() {
        for (int n = 0; n < 1000 && at_ < text_.size(); ++n) {
            if (text_[at_++] == '\n') {
                ++line_;
                return;
            }
        }
    }

    int wordLine() const { return wordLine_; }

  private:
    static bool isSpace(char c) { return std::isspace(static_cast<unsigned char>(c)) != 0; }

    std::string_view text_;
    size_t at_ = 0;
    int line_ = 1;
    int wordLine_ = 1;
};

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

const char* const kFormatError = "configuration file format : error\n";

// Fills one Configuration from the words of a file.
class Parser {
  public:
    Parser(Configuration& out, const std::string& path, const KeyScan& keyScan)
        : out_(out), path_(path), keyScan_(keyScan) {}

    void run(std::string_view text);

  private:
    void reportError(const char* what, const std::string& word, int line);
    // One rule line after its gesture word; false when reading stops.
    bool ruleLine(Reader& reader, const std::string& gestureWord, int line);

    Configuration& out_;
    const std::string& path_;
    const KeyScan& keyScan_;
    // The mouse codes the rules use so far, in order.
    uint8_t mouseCodes_[Configuration::kMaxMouseCodes]{};
    int mouseCodeCount_ = 0;
};

void Parser::reportError(const char* what, const std::string& word, int line) {
    out_.log.emplace_back(kFormatError);
    out_.errors.push_back(path_ + ":" + std::to_string(line) + ": " + what + " '" + word + "'");
}

void Parser::run(std::string_view text) {
    out_.log.emplace_back("\n[Gesture   Threshod   Mode   Key   Key_Rel   Param]\n");
    Reader reader(text);
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
                return;
            }
            if (out_.applySetting(word.c_str(), value.c_str()) == -1) {
                reportError("not a mode word", value, reader.wordLine());
                return;
            }
            // As printed with %s: a word ends at a NUL byte.
            out_.log.push_back(std::string(" (") + word.c_str() + " : " + value.c_str() + ")\n");
            continue;
        }
        if (!ruleLine(reader, word, line)) return;
    }
}

bool Parser::ruleLine(Reader& reader, const std::string& gestureWord, int line) {
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
        return false;
    }
    if (present == 5 && !parseFloat(paramWord, param)) {
        reportError("Param is not a number", paramWord, line);
        return false;
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
        // As printed with %s: a word ends at a NUL byte.
        std::string line =
            std::string(" ") + gestureWord.c_str() + "\t " + std::to_string(threshold);
        for (const std::string* w : {&modeWord, &keyWord, &keyRelWord}) {
            line.append("\t ").append(w->c_str());
        }
        char number[64];
        std::snprintf(number, sizeof number, "\t %.1f\n", static_cast<double>(param));
        out_.log.push_back(line + number);
    };
    if (cutShort) {
        // The file ended inside the line: nothing to add.
        echo();
        return true;
    }
    for (const std::string* w : {&gestureWord, &modeWord, &keyWord, &keyRelWord}) {
        if (tooLong(*w)) {
            reportError("word longer than 49 characters", *w, line);
            echo();
            return true;
        }
    }
    const uint8_t keyRel = lookupKeyCode(keyRelWord.c_str(), keyScan_);

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
                return true;
            }
            codes[codeCount++] = lookupKeyCode(piece.c_str(), keyScan_);
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
        std::vector<ConfiguredRule>& rules = mouse ? out_.mouseRules : out_.keyboardRules;
        if (rules.size() >= static_cast<size_t>(Configuration::kMaxRulesPerEmitter)) {
            reportError("more than 50 rules for one emitter", gestureWord, line);
            break;
        }
        if (mouse) {
            bool known = false;
            for (int b = 0; b < mouseCodeCount_; ++b) known |= mouseCodes_[b] == code;
            if (!known && mouseCodeCount_ == Configuration::kMaxMouseCodes) {
                reportError("more than 10 different mouse codes", keyWord, line);
                break;
            }
            if (!known) mouseCodes_[mouseCodeCount_++] = code;
        }
        if (code == KeyCode::CHANGE_MODE) out_.changeModeGesture = gesture;
        if (code == KeyCode::TOGGLE_MODE) out_.toggleModeGesture = gesture;
        out_.eventOfGesture[static_cast<size_t>(gesture)] = event;
        rules.push_back(
            ConfiguredRule{gesture, stored, code, mouse ? uint8_t{0} : keyRel, ruleParam, event});
    }
    echo();
    return true;
}

}  // namespace

int32_t Configuration::applySetting(const char* keyword, const char* value) {
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

const ConfiguredRule* Configuration::firstMouseRule(int32_t gesture) const {
    for (const ConfiguredRule& r : mouseRules) {
        if (r.gesture == gesture) return &r;
    }
    return nullptr;
}

ScreenMapping Configuration::screenMapping(int32_t sensorWidth, int32_t sensorHeight,
                                           platform::ScreenSize screen) const {
    const auto figures = [this](int32_t gesture, MappingRule& out) -> const MappingRule* {
        const ConfiguredRule* r = firstMouseRule(gesture);
        if (r == nullptr) return nullptr;
        out = MappingRule{r->threshold, r->param};
        return &out;
    };
    MappingRule move;
    MappingRule hold;
    return computeScreenMapping(sensorWidth, sensorHeight, screen,
                                figures(GestureId::HAND_MOVE, move),
                                figures(GestureId::HAND_HOLD, hold));
}

Configuration parseConfiguration(std::string_view text, const std::string& path,
                                 const KeyScan& keyScan) {
    Configuration c;
    Parser(c, path, keyScan).run(text);
    return c;
}

Configuration readConfiguration(const char* path, const KeyScan& keyScan) {
    const std::string opening = std::string("Open configuration file : ") + path + "\n";
    const std::unique_ptr<std::FILE, FileCloser> file = openConfiguration(path);
    if (!file) {
        Configuration c;
        c.log.push_back(opening);
        c.log.push_back(std::string(path) + " file not found\n");
        c.errors.push_back(std::string(path) + ": cannot be opened: " + std::strerror(errno));
        return c;
    }
    std::string text;
    char buffer[4096];
    size_t n = 0;
    while ((n = std::fread(buffer, 1, sizeof buffer, file.get())) > 0) text.append(buffer, n);
    const int readError = std::ferror(file.get()) != 0 ? errno : 0;
    Configuration c = parseConfiguration(text, path, keyScan);
    c.log.insert(c.log.begin(), opening);
    if (readError != 0 && !c.failed()) {
        c.log.emplace_back(kFormatError);
        c.errors.push_back(std::string(path) + ": cannot be read: " + std::strerror(readError));
    }
    return c;
}
