// Logs without configuring the logger first, so a test can see the defaults.
#include "libcommon.h"

int main() {
    log_log(LOG_DEBUG, __FILE__, 5, "debug");
    log_log(LOG_INFO, __FILE__, 6, "info");
    log_log(LOG_NOTICE, __FILE__, 9, "notice");
    log_log(LOG_ERROR, __FILE__, 10, "error");
    return 0;
}
