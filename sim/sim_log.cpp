#include "sim/sim_log.h"

#include "sim/sim_driver.h"

#include <cstdarg>
#include <cstdio>
#include <deque>

namespace {

constexpr uint32_t kMaxTraceUnits = 4096;

struct RequestLog {
    std::mutex lock; // SimLock(), the whole simulator's
    std::deque<std::string> lines;
    FILE* file = nullptr;
    std::vector<std::u16string> traces;
};

RequestLog& TheLog() {
    static RequestLog log;
    return log;
}

} // namespace

std::mutex& SimLock() {
    return TheLog().lock;
}

void SimLogLocked(const std::string& line) {
    RequestLog& log = TheLog();
    log.lines.push_back(line);
    while (log.lines.size() > kSimMaxLogLines)
        log.lines.pop_front();
    if (log.file != nullptr) {
        std::fputs(line.c_str(), log.file);
        std::fputc('\n', log.file);
        std::fflush(log.file);
    }
}

void SimForgetLogLocked() {
    RequestLog& log = TheLog();
    log.lines.clear();
    log.traces.clear();
}

std::string SimFormat(const char* format, ...) {
    char text[512];
    va_list args;
    va_start(args, format);
    int n = vsnprintf(text, sizeof text, format, args);
    va_end(args);
    if (n < 0)
        return std::string();
    return std::string(text, static_cast<size_t>(n) < sizeof text ? static_cast<size_t>(n) : sizeof text - 1);
}

std::vector<std::string> SimLogLines() {
    RequestLog& log = TheLog();
    std::lock_guard<std::mutex> hold(log.lock);
    return std::vector<std::string>(log.lines.begin(), log.lines.end());
}

void SimClearLog() {
    RequestLog& log = TheLog();
    std::lock_guard<std::mutex> hold(log.lock);
    log.lines.clear();
}

void SimLogNote(const std::string& line) {
    std::lock_guard<std::mutex> hold(TheLog().lock);
    SimLogLocked(line);
}

int SimSetLogFile(const char* path) {
    RequestLog& log = TheLog();
    std::lock_guard<std::mutex> hold(log.lock);
    if (log.file != nullptr) {
        std::fclose(log.file);
        log.file = nullptr;
    }
    if (path == nullptr || path[0] == 0)
        return 1;
    log.file = std::fopen(path, "ab");
    return log.file != nullptr;
}

void SimTrace(const std::u16string& text) {
    std::u16string bounded = text.substr(0, kMaxTraceUnits);
    std::string line = "TRACE " + SimUtf16ToUtf8(bounded.c_str(), bounded.size());
    RequestLog& log = TheLog();
    std::lock_guard<std::mutex> hold(log.lock);
    log.traces.push_back(bounded);
    SimLogLocked(line);
}

std::vector<std::u16string> SimTraceTexts() {
    RequestLog& log = TheLog();
    std::lock_guard<std::mutex> hold(log.lock);
    return log.traces;
}

// ---- text ----

std::string SimUtf16ToUtf8(const Utf16* text, size_t maxUnits) {
    std::string out;
    if (text == nullptr)
        return out;
    for (size_t i = 0; i < maxUnits && text[i] != 0; ++i) {
        uint32_t c = text[i];
        if (c >= 0xD800 && c <= 0xDBFF && i + 1 < maxUnits && text[i + 1] >= 0xDC00 &&
            text[i + 1] <= 0xDFFF) {
            c = 0x10000 + ((c - 0xD800) << 10) + (static_cast<uint32_t>(text[i + 1]) - 0xDC00);
            ++i;
        } else if (c >= 0xD800 && c <= 0xDFFF) {
            c = 0xFFFD;
        }
        if (c < 0x80) {
            out.push_back(static_cast<char>(c));
        } else if (c < 0x800) {
            out.push_back(static_cast<char>(0xC0 | (c >> 6)));
            out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
        } else if (c < 0x10000) {
            out.push_back(static_cast<char>(0xE0 | (c >> 12)));
            out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
        } else {
            out.push_back(static_cast<char>(0xF0 | (c >> 18)));
            out.push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
        }
    }
    return out;
}

std::u16string SimUtf8ToUtf16(const std::string& text) {
    std::u16string out;
    size_t i = 0;
    while (i < text.size()) {
        uint8_t b = static_cast<uint8_t>(text[i++]);
        size_t extra = b < 0x80 ? 0 : (b >> 5) == 6 ? 1 : (b >> 4) == 14 ? 2 : (b >> 3) == 30 ? 3 : 4;
        uint32_t c = 0xFFFD;
        if (extra == 0) {
            c = b;
        } else if (extra < 4) {
            c = b & (0x3Fu >> extra);
            for (size_t k = 0; k < extra; ++k) {
                if (i >= text.size() || (static_cast<uint8_t>(text[i]) & 0xC0) != 0x80) {
                    c = 0xFFFD;
                    break;
                }
                c = (c << 6) | (static_cast<uint8_t>(text[i++]) & 0x3F);
            }
        }
        if (c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF))
            c = 0xFFFD;
        if (c >= 0x10000) {
            out.push_back(static_cast<char16_t>(0xD800 + ((c - 0x10000) >> 10)));
            out.push_back(static_cast<char16_t>(0xDC00 + ((c - 0x10000) & 0x3FF)));
        } else {
            out.push_back(static_cast<char16_t>(c));
        }
    }
    return out;
}
