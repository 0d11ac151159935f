#include "platform/Desktop.h"

namespace platform {

int16_t usKeyScan(char c) {
    const auto plain = [](int vk) { return static_cast<int16_t>(vk); };
    const auto shifted = [](int vk) { return static_cast<int16_t>(0x100 | vk); };
    if (c >= 'a' && c <= 'z') return plain(c - 'a' + 'A');
    if (c >= 'A' && c <= 'Z') return shifted(c);
    if (c >= '0' && c <= '9') return plain(c);
    switch (c) {
        case ' ':
            return plain(0x20);
        case '\b':
            return plain(0x08);
        case '\t':
            return plain(0x09);
        case '\r':
            return plain(0x0D);
        case 0x1B:
            return plain(0x1B);
        case ')':
            return shifted('0');
        case '!':
            return shifted('1');
        case '@':
            return shifted('2');
        case '#':
            return shifted('3');
        case '$':
            return shifted('4');
        case '%':
            return shifted('5');
        case '^':
            return shifted('6');
        case '&':
            return shifted('7');
        case '*':
            return shifted('8');
        case '(':
            return shifted('9');
        case ';':
            return plain(0xBA);
        case ':':
            return shifted(0xBA);
        case '=':
            return plain(0xBB);
        case '+':
            return shifted(0xBB);
        case ',':
            return plain(0xBC);
        case '<':
            return shifted(0xBC);
        case '-':
            return plain(0xBD);
        case '_':
            return shifted(0xBD);
        case '.':
            return plain(0xBE);
        case '>':
            return shifted(0xBE);
        case '/':
            return plain(0xBF);
        case '?':
            return shifted(0xBF);
        case '`':
            return plain(0xC0);
        case '~':
            return shifted(0xC0);
        case '[':
            return plain(0xDB);
        case '{':
            return shifted(0xDB);
        case '\\':
            return plain(0xDC);
        case '|':
            return shifted(0xDC);
        case ']':
            return plain(0xDD);
        case '}':
            return shifted(0xDD);
        case '\'':
            return plain(0xDE);
        case '"':
            return shifted(0xDE);
        default:
            return -1;
    }
}

}  // namespace platform
