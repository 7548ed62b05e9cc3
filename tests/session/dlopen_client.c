/* An outside C caller: it knows only the record layout and the exported names, loads the library
 * at run time and drives one session from creation, through its switches, to a second, refused
 * destruction. */
#include <dlfcn.h>
#include <stdbool.h>
#include <stdint.h>
#include <stdio.h>
#include <string.h>

/* The records as a caller declares them from the documented layout. */
typedef struct {
    int32_t major, minor, patch;
    char vendor[256];
    char reserved_version[12];
    void *payment;
    int32_t state;
    char reserved_tail[12];
} Record;

typedef struct Slot {
    const char *name;
    bool enable;
    int32_t state;
    double value;
    char *text;
    struct Slot *next;
} Slot;

static int failures = 0;

#define CHECK(condition)                                                         \
    do {                                                                         \
        if (!(condition)) {                                                      \
            fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #condition); \
            ++failures;                                                          \
        }                                                                        \
    } while (0)

static void *symbol(void *library, const char *name) {
    void *found = dlsym(library, name);
    if (found == NULL) {
        fprintf(stderr, "missing symbol %s\n", name);
        ++failures;
    }
    return found;
}

int main(int argc, char **argv) {
    static const char *const chain[] = {"length",   "sample_rate", "voice_duration",
                                        "overload", "telephony_border", "channels",
                                        "depth",    "duration",    "signal_noise"};
    Record record;
    Slot *first = NULL;
    const Slot *slot;
    size_t count = 0;
    void *library;
    bool (*create)(Record *, const char *);
    bool (*destroy)(Record *);
    int (*destroy_code)(Record *);
    bool (*result)(Record *, Slot **);
    char *(*version)(Record *);
    bool (*enable_property)(Record *, const char *, bool);
    bool (*set_property)(Record *, const char *, const char *);

    if (argc != 2) {
        fprintf(stderr, "usage: %s <configuration file>\n", argv[0]);
        return 2;
    }
    /* Kept mapped after dlclose: libsoxr brings in libgomp, whose one start-up allocation
     * LeakSanitizer would report as a leak once the library is unmapped. */
    library = dlopen("libsonara.so", RTLD_NOW | RTLD_LOCAL | RTLD_NODELETE);
    if (library == NULL) {
        fprintf(stderr, "dlopen: %s\n", dlerror());
        return 1;
    }
    *(void **)&create = symbol(library, "v_create_session");
    *(void **)&destroy = symbol(library, "v_destroy_session");
    *(void **)&destroy_code = symbol(library, "voice_session_destroy");
    *(void **)&result = symbol(library, "v_result_session");
    *(void **)&version = symbol(library, "v_session_configuration_version");
    *(void **)&enable_property = symbol(library, "v_enable_property");
    *(void **)&set_property = symbol(library, "v_dbg_set_property");
    if (failures != 0) return 1;

    memset(&record, 0, sizeof record);
    CHECK(sizeof record == 304);
    CHECK(create(&record, argv[1]));
    CHECK(record.state == 0);
    CHECK(record.major == 1 && record.minor == 2 && record.patch == 5);
    CHECK(strcmp(record.vendor, "kestro") == 0);
    CHECK(record.payment != NULL);
    CHECK(strcmp(version(&record), "2026.12") == 0);

    CHECK(result(&record, &first));
    for (slot = first; slot != NULL && count < 16; slot = slot->next, ++count) {
        if (count < sizeof chain / sizeof chain[0]) CHECK(strcmp(slot->name, chain[count]) == 0);
        CHECK(slot->state == 0);
    }
    CHECK(count == sizeof chain / sizeof chain[0]);

    /* Switches: known names answer true, anything else false, and each leaves state 0. The
     * slots keep their enable copies until the next check resets them. */
    record.state = 55;
    CHECK(enable_property(&record, "voice_duration", false));
    CHECK(record.state == 0);
    CHECK(enable_property(&record, "overload_border", false));
    record.state = 55;
    CHECK(!enable_property(&record, "overload", true));
    CHECK(record.state == 0);
    CHECK(!enable_property(&record, "Duration", true));
    CHECK(first->next->next->enable); /* "voice_duration" slot: copy from the last reset */
    record.state = 55;
    CHECK(set_property(&record, "processing_sound_name", "first.wav"));
    CHECK(record.state == 0);
    CHECK(set_property(&record, "processing_sound_name", "second.wav"));
    CHECK(!set_property(&record, "processing_image_name", "x.jpg"));

    CHECK(destroy(&record));
    CHECK(record.state == 0 && record.payment == NULL && record.major == 0);
    CHECK(destroy_code(&record) == 8);
    CHECK(record.state == 101);
    record.state = 55;
    CHECK(!enable_property(&record, "duration", true));
    CHECK(record.state == 101);
    record.state = 55;
    CHECK(!set_property(&record, "processing_sound_name", "x.wav"));
    CHECK(record.state == 101);
    CHECK(!enable_property(NULL, "duration", true));

    dlclose(library);
    if (failures == 0) puts("client ok");
    return failures == 0 ? 0 : 1;
}
