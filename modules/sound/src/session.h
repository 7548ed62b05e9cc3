// Internal entry points shared by the units of libsonara.
#pragma once

#include "sonara.h"

// 0 for a live record; 7 for a null record; 8 (state 101) for a damaged one.
int check_valid_session(Session *session);
// The worker behind both creation paths: text is a path when from_file, else the configuration.
int voice_session_init(Session *session, const char *text, bool from_file);
