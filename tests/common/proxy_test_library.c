/* A stand-in checking library for the loader's tests: a few of the exported names, each
 * answering with a value the test can recognise. */
#include <stdbool.h>
#include <stddef.h>

#include "session_types.h"

bool i_create_session(Session *session, const char *path) {
    (void)path;
    session->state = 120;
    return true;
}

bool i_check(Session *session, const unsigned char *content, size_t size) {
    (void)content;
    session->state = (int32_t)size;
    return true;
}

static char version_text[] = "test-1";

char *v_session_configuration_version(Session *session) {
    (void)session;
    return version_text;
}

bool v_create_session_with_log(Session *session, const char *path, int level, void *target) {
    (void)path;
    (void)target;
    session->state = level;
    return true;
}
