// A small X client for end-to-end tests: a mapped window that takes the
// keyboard focus and collects the key and button events it receives.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

struct XClientEvent {
    enum class Type { KeyDown, KeyUp, ButtonDown, ButtonUp };
    Type type;
    unsigned long keysym = 0;  // keys
    unsigned button = 0;       // buttons
    int x = 0;                 // pointer position (root) for buttons
    int y = 0;
};

class XClient {
  public:
    // Opens `display`, maps a window covering the screen and focuses it.
    explicit XClient(const std::string& display);
    ~XClient();
    XClient(const XClient&) = delete;
    XClient& operator=(const XClient&) = delete;

    bool ok() const;
    // Collects events until `count` have arrived or `timeoutMs` has passed.
    std::vector<XClientEvent> waitFor(size_t count, int timeoutMs);
    // The pointer position on the root window.
    void pointer(int& x, int& y);
    // Whether autorepeat is on for the key of a keysym.
    bool autoRepeat(unsigned long keysym);
    // Whether the server holds the key of a keysym down (whoever pressed it).
    bool keyIsDown(unsigned long keysym);
    // Whether any pointer button is down.
    bool buttonIsDown();
    // Gives the keyboard focus to the top-level window titled `title` and
    // types the key of `keysym` there through XTest; false when no such window.
    bool typeInto(const std::string& title, unsigned long keysym);
    // Takes the keyboard focus back.
    void focus();

  private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

// What the top-level window titled `title` on `display` shows, as
// 0x00RRGGBB pixels row by row; empty when there is no such window.
std::vector<uint32_t> windowPixels(const std::string& display, const std::string& title);
