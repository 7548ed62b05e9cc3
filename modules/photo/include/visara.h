/*
 * libvisara: judges the technical fitness of pictures (PNG, JPEG) held in memory, over the same
 * Session record and result chain as libsonara.
 */
#ifndef VISARA_H
#define VISARA_H

#include "session_types.h"

#ifdef __cplusplus
extern "C" {
#endif

/* The photo-only status codes (enum PhotoState) are declared in session_types.h. */

bool i_create_session(Session *session, const char *path);
bool i_create_session_with_log(Session *session, const char *path, int log_level, void *log_target);
bool i_destroy_session(Session *session);
bool i_check(Session *session, const unsigned char *content, size_t size);
bool i_result_session(Session *session, SessionValue **out);
char *i_session_configuration_version(Session *session);
char *i_session_configuration_hash(Session *session);
bool i_enable_property(Session *session, const char *name, bool enable);
bool i_dbg_set_property(Session *session, const char *name, const char *value);

#ifdef __cplusplus
} /* extern "C" */
#endif

#endif /* VISARA_H */
