/* Compiled as strict C99: the public header must stand alone in C, and the record layout that C
 * callers see must be the one the library was built with. */
#undef NDEBUG
#include <assert.h>
#include <stddef.h>
#include <stdio.h>

#include "sonara.h"

int main(void) {
    Session session;
    SessionValue slot;
    bool (*create)(Session *, const char *) = v_create_session;
    int (*destroy)(Session *) = voice_session_destroy;

    assert(sizeof(Session) == 304);
    assert(offsetof(Session, major) == 0);
    assert(offsetof(Session, minor) == 4);
    assert(offsetof(Session, patch) == 8);
    assert(offsetof(Session, vendor) == 12);
    assert(sizeof(session.vendor) == 256);
    assert(offsetof(Session, payment) == 280);
    assert(offsetof(Session, state) == 288);
    assert(sizeof(session.state) == 4);
    assert(SESSION_VERSION_BLOCK_SIZE == 268);

    assert(offsetof(SessionValue, name) == 0);
    assert(offsetof(SessionValue, enable) == 8);
    assert(sizeof(slot.enable) == 1);
    assert(offsetof(SessionValue, state) == 12);
    assert(offsetof(SessionValue, value) == 16);
    assert(offsetof(SessionValue, text) == 24);
    assert(offsetof(SessionValue, next) == 32);
    assert(sizeof(SessionValue) == 40);

    assert(STATE_OK == 0 && STATE_BAD_SESSION == 101 && STATE_BAD_CONFIGURATION == 102);
    assert(STATE_VOICE_DURATION_FAILED == 114);
    assert(VOICE_SESSION_CONFIGURATION_NOT_READ == 6 && VOICE_SESSION_RECORD_DAMAGED == 8);
    assert(create != NULL && destroy != NULL);
    puts("layout ok");
    return 0;
}
