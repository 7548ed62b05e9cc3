/*
 * Reference answers for the Python package's tests, straight from libsonara's C interface:
 * one session, each file checked in turn with v_check (or v_check_all when the first argument
 * is "all"), one line per file on standard output:
 *
 *   <path>\t<result 0|1>\t<state>[\t<name> <enable> <slot state> <value as %a> <text or ->]...
 *
 * The slots follow the chain; none are printed for state 103 (the block still holds the
 * previous file's values). A file that can't be read prints "<path>\terror".
 *
 *   c_reference check|all <configuration> <file>...
 */
#include <dlfcn.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "sonara.h"

typedef bool (*check_fn)(Session *, const unsigned char *, size_t);

static unsigned char *read_all(const char *path, size_t *size) {
    FILE *file = fopen(path, "rb");
    if (file == NULL) return NULL;
    size_t capacity = 1 << 16, used = 0;
    unsigned char *data = malloc(capacity);
    while (data != NULL) {
        used += fread(data + used, 1, capacity - used, file);
        if (used < capacity) break;
        unsigned char *grown = realloc(data, capacity * 2);
        if (grown == NULL) {
            free(data);
            data = NULL;
            break;
        }
        data = grown;
        capacity *= 2;
    }
    const int failed = ferror(file);
    fclose(file);
    if (failed) {
        free(data);
        return NULL;
    }
    *size = used;
    return data;
}

int main(int argc, char **argv) {
    if (argc < 3 || (strcmp(argv[1], "check") != 0 && strcmp(argv[1], "all") != 0)) {
        fprintf(stderr, "usage: c_reference check|all <configuration> <file>...\n");
        return 2;
    }
    check_fn check = v_check;
    if (strcmp(argv[1], "all") == 0) {
        /* Looked up at run time so this builds against a library without it. */
        check = (check_fn)dlsym(RTLD_DEFAULT, "v_check_all");
        if (check == NULL) {
            fprintf(stderr, "c_reference: this libsonara has no v_check_all\n");
            return 3;
        }
    }
    Session session;
    memset(&session, 0, sizeof session);
    if (!v_create_session(&session, argv[2])) {
        fprintf(stderr, "c_reference: configuration %s refused\n", argv[2]);
        return 2;
    }
    for (int i = 3; i < argc; ++i) {
        size_t size = 0;
        unsigned char *content = read_all(argv[i], &size);
        if (content == NULL) {
            printf("%s\terror\n", argv[i]);
            continue;
        }
        const bool passed = check(&session, content, size);
        free(content);
        printf("%s\t%d\t%d", argv[i], passed ? 1 : 0, session.state);
        SessionValue *slot = NULL;
        if (session.state != STATE_CONTENT_FAILED && v_result_session(&session, &slot)) {
            for (; slot != NULL; slot = slot->next) {
                printf("\t%s %d %d %a %s", slot->name, slot->enable ? 1 : 0, slot->state, slot->value,
                       slot->text != NULL ? slot->text : "-");
            }
        }
        printf("\n");
    }
    v_destroy_session(&session);
    return 0;
}
