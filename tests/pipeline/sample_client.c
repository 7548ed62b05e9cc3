/*
 * An outside C client of libsonara: loads the library at run time, looks every function up by
 * its plain name, checks each recording listed in a verdicts file and compares the state and
 * the failing slot with the listed ones.
 *
 *   sample_client <libsonara.so> <configuration> <samples directory> <verdicts file>
 *
 * Prints one line per recording; exits 0 when every verdict matched.
 */
#include <dlfcn.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "session_types.h"

typedef bool (*create_fn)(Session *, const char *);
typedef bool (*check_fn)(Session *, const unsigned char *, size_t);
typedef bool (*result_fn)(Session *, SessionValue **);
typedef bool (*destroy_fn)(Session *);

struct Library {
    create_fn create;
    check_fn check;
    result_fn result;
    destroy_fn destroy;
};

static void *lookup(void *handle, const char *name) {
    void *symbol = dlsym(handle, name);
    if (symbol == NULL) fprintf(stderr, "missing symbol %s\n", name);
    return symbol;
}

/* The whole file in malloc'd memory; NULL when it can't be read. */
static unsigned char *read_all(const char *path, size_t *size) {
    FILE *file = fopen(path, "rb");
    if (file == NULL) return NULL;
    unsigned char *data = NULL;
    if (fseek(file, 0, SEEK_END) == 0) {
        const long length = ftell(file);
        if (length > 0 && fseek(file, 0, SEEK_SET) == 0) {
            data = malloc((size_t)length);
            if (data != NULL && fread(data, 1, (size_t)length, file) != (size_t)length) {
                free(data);
                data = NULL;
            }
            *size = (size_t)length;
        }
    }
    fclose(file);
    return data;
}

/* Checks one recording; 0 when its state and failing slots are the expected ones. */
static int check_one(const struct Library *library, Session *session, const char *directory,
                     const char *file, int expected_state, const char *expected_slot) {
    char path[4096];
    snprintf(path, sizeof path, "%s/%s", directory, file);
    size_t size = 0;
    unsigned char *content = read_all(path, &size);
    if (content == NULL) {
        printf("%s: cannot be read\n", file);
        return 1;
    }
    const bool passed = library->check(session, content, size);
    free(content);

    SessionValue *first = NULL;
    if (!library->result(session, &first)) {
        printf("%s: no result chain\n", file);
        return 1;
    }
    char failed[256] = "";
    int failures = 0;
    for (const SessionValue *slot = first; slot != NULL; slot = slot->next) {
        if (slot->state != SESSION_VALUE_FAILED) continue;
        if (failures++ > 0) strncat(failed, ",", sizeof failed - strlen(failed) - 1);
        strncat(failed, slot->name, sizeof failed - strlen(failed) - 1);
    }
    if (failures == 0) strcpy(failed, "-");

    const int matched = session->state == expected_state && passed == (expected_state == 0) &&
                        strcmp(failed, expected_slot) == 0;
    printf("%s: state=%d result=%s failed=%s%s\n", file, session->state,
           passed ? "true" : "false", failed, matched ? "" : "  <-- MISMATCH");
    if (!matched) printf("    expected state=%d failed=%s\n", expected_state, expected_slot);
    return matched ? 0 : 1;
}

int main(int argc, char **argv) {
    if (argc != 5) {
        fprintf(stderr, "usage: %s <libsonara.so> <configuration> <samples> <verdicts>\n", argv[0]);
        return 2;
    }
    /* Kept mapped after dlclose: libsoxr brings in libgomp, whose one start-up allocation
     * LeakSanitizer would report as a leak once the library is unmapped. */
    void *handle = dlopen(argv[1], RTLD_NOW | RTLD_LOCAL | RTLD_NODELETE);
    if (handle == NULL) {
        fprintf(stderr, "dlopen: %s\n", dlerror());
        return 2;
    }
    struct Library library;
    library.create = (create_fn)lookup(handle, "v_create_session");
    library.check = (check_fn)lookup(handle, "v_check");
    library.result = (result_fn)lookup(handle, "v_result_session");
    library.destroy = (destroy_fn)lookup(handle, "v_destroy_session");
    if (library.create == NULL || library.check == NULL || library.result == NULL ||
        library.destroy == NULL) {
        dlclose(handle);
        return 2;
    }

    FILE *verdicts = fopen(argv[4], "r");
    Session session;
    memset(&session, 0, sizeof session);
    if (verdicts == NULL || !library.create(&session, argv[2])) {
        fprintf(stderr, "cannot read %s or create a session on %s\n", argv[4], argv[2]);
        if (verdicts != NULL) fclose(verdicts);
        dlclose(handle);
        return 2;
    }

    int mismatches = 0;
    int checked = 0;
    char line[1024];
    while (fgets(line, sizeof line, verdicts) != NULL) {
        char file[512];
        char slot[64];
        int state = 0;
        if (line[0] == '#' || sscanf(line, "%511s %d %63s", file, &state, slot) != 3) continue;
        mismatches += check_one(&library, &session, argv[3], file, state, slot);
        ++checked;
    }
    fclose(verdicts);
    library.destroy(&session);
    dlclose(handle);
    printf("%d recordings checked, %d mismatched\n", checked, mismatches);
    return checked > 0 && mismatches == 0 ? 0 : 1;
}
