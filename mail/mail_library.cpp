#include "mail/mail_library.h"

#include <curl/curl.h>
#include <gmime/gmime.h>

namespace lumopet {
namespace {

constexpr int kTextBufferOption = 1;
int textBufferSize = 8192;
bool started = false;

}  // namespace

int NMailInitializeWinSock() {
    if (started) return 0;
    // curl's global set-up is not thread-safe: it runs here, on the UI
    // thread, before any transfer can start.
    if (curl_global_init(CURL_GLOBAL_DEFAULT) != CURLE_OK) return -1;
    g_mime_init();
    started = true;
    return 0;
}

int NMailSetOption(int option, int value) {
    if (option != kTextBufferOption || value <= 0) return -1;
    textBufferSize = value;
    return 0;
}

int NMailEndWinSock() {
    if (!started) return 0;
    g_mime_shutdown();
    curl_global_cleanup();
    started = false;
    return 0;
}

int MailTextBufferSize() { return textBufferSize; }

}  // namespace lumopet
