#include "engine/Messages.h"

#include <cstdio>
#include <cstring>

namespace brellin {

void composeMessage(char* out, const char* text, int number) {
    int length = std::snprintf(out, MESSAGE_SIZE, "[%04d] : %s", number, text ? text : "");
    if (length < 0) {
        out[0] = '\0';
        return;
    }
    if (static_cast<std::size_t>(length) >= MESSAGE_SIZE) {
        // Cut before a UTF-8 character that did not fit whole.
        std::size_t end = MESSAGE_SIZE - 1;
        std::size_t start = end;
        while (start > 0 && (static_cast<unsigned char>(out[start - 1]) & 0xC0) == 0x80) --start;
        if (start > 0) {
            auto lead = static_cast<unsigned char>(out[start - 1]);
            std::size_t expected = lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC0 ? 2 : 1;
            if (lead >= 0xC0 && end - (start - 1) < expected) out[start - 1] = '\0';
        }
    }
}

void showMessage(MessageSink& sink, const char* text, int number) {
    char message[MESSAGE_SIZE];
    composeMessage(message, text, number);
    sink.showMessageBox(message, MESSAGE_CAPTION);
}

void showMessage(MessageSink& sink, const char* text, int number, const std::string& detail) {
    if (detail.empty()) {
        showMessage(sink, text, number);
        return;
    }
    char message[MESSAGE_SIZE];
    composeMessage(message, text, number);
    const std::string whole = std::string(message) + "\n" + detail;
    sink.showMessageBox(whole.c_str(), MESSAGE_CAPTION);
}

void StderrMessageSink::showMessageBox(const char* text, const char* caption) {
    std::fprintf(stderr, "%s: %s\n", caption, text);
}

}  // namespace brellin
