/* An outside program built against an installed libsonara: creates a session from the given
 * configuration and prints its version block. */
#include <stdio.h>
#include <string.h>

#include "sonara.h"

int main(int argc, char **argv) {
    Session session;
    memset(&session, 0, sizeof(session));
    if (argc < 2 || !v_create_session(&session, argv[1])) return 1;
    printf("VERSION: %d.%d.%d\n", session.major, session.minor, session.patch);
    printf("CONFIG : %s\n", v_session_configuration_version(&session));
    printf("VENDOR : %s\n", session.vendor);
    return v_destroy_session(&session) ? 0 : 1;
}
