// Arbitrary bytes through v_check end to end, on two sessions: one whose checks are all enabled
// and wide open, so every step of the pipeline runs whatever the values, and one with only the
// two required entries, so no header limit stops a file before decoding. A third session with
// everyday limits checks each input through v_check and then v_check_all, which goes on past
// every failure and must still end with v_check's answer and state. The second session keeps
// details with segments, each of which is read back. The wide-open session checks each input
// again through v_check_reader, served in small pieces, which must leave v_check's answer, state
// and slots bit for bit.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "libcommon.h"
#include "sonara.h"

namespace {

const char kWideOpen[] = R"({ "version": "fuzz",
    "length": { "min": 0, "max": 2147483647 }, "duration": { "min": 0, "max": 2147483647 },
    "depth": { "min": 0, "max": 65535 }, "channels": { "min": 0, "max": 65535 },
    "sample_rate": { "min": 0, "max": 2147483647 }, "telephony_border": { "value": -1000000 },
    "overload_border": { "value": 2.0 }, "signal_noise": { "value": -1000000 },
    "voice_duration": { "value": 0.0 } })";

const char kRequiredOnly[] =
    R"({ "signal_noise": { "value": 15 }, "overload_border": { "value": 0.5 } })";

const char kEveryday[] = R"({ "version": "fuzz",
    "length": { "min": 1, "max": 20480 }, "duration": { "min": 2, "max": 600 },
    "depth": { "min": 16, "max": 16 }, "channels": { "min": 1, "max": 2 },
    "sample_rate": { "min": 8000, "max": 48000 }, "telephony_border": { "value": 10 },
    "overload_border": { "value": 0.5 }, "signal_noise": { "value": 15 },
    "voice_duration": { "value": 1.0 } })";

struct Sessions {
    Session wide_open{};
    Session required_only{};
    Session everyday{};

    Sessions() {
        log_init(LOG_ERROR + 1, std::fopen("/dev/null", "w"), 0, 0);
        if (!v_create_session_from_memory(&wide_open, kWideOpen) ||
            !v_create_session_from_memory(&required_only, kRequiredOnly) ||
            !v_create_session_from_memory(&everyday, kEveryday)) {
            std::fputs("check_fuzzer: a session could not be created\n", stderr);
            std::abort();
        }
        v_dbg_set_property(&wide_open, "processing_sound_name", "fuzz.wav");
        v_set_details(&required_only, SONARA_DETAILS_EVIDENCE | SONARA_DETAILS_SEGMENTS);
    }
};

// Every channel has the same frame count and its segments are in order inside the recording.
void read_details(Session *session) {
    const SonaraDetails *details = nullptr;
    if (!v_details_session(session, &details)) return;
    for (uint32_t c = 0; c < details->channel_count; ++c) {
        const SonaraChannelDetails &channel = details->channels[c];
        double last_end = -1.0;
        for (uint64_t i = 0; i < channel.segment_count; ++i) {
            const SonaraSegment &segment = channel.segments[i];
            if (!(segment.start > last_end && segment.end > segment.start) ||
                channel.frames != details->channels[0].frames) {
                std::fputs("check_fuzzer: details out of order\n", stderr);
                std::abort();
            }
            last_end = segment.end;
        }
    }
}

// A reader over the input that answers at most 777 bytes a call.
struct Served {
    const uint8_t *data;
    size_t size;
};

int64_t read_served(void *user, unsigned char *buffer, size_t size, uint64_t offset) {
    const Served &served = *static_cast<const Served *>(user);
    if (offset >= served.size) return 0;
    const size_t count = std::min<size_t>({size, served.size - static_cast<size_t>(offset), 777});
    std::memcpy(buffer, served.data + offset, count);
    return static_cast<int64_t>(count);
}

// Every slot's state, value bits and text, in chain order.
std::string slots_of(Session &session) {
    std::string text;
    SessionValue *first = nullptr;
    if (!v_result_session(&session, &first)) return text;
    for (const SessionValue *value = first; value != nullptr; value = value->next) {
        uint64_t bits = 0;
        std::memcpy(&bits, &value->value, sizeof bits);
        text += std::to_string(value->state) + ":" + std::to_string(bits) + ":" +
                (value->text != nullptr ? value->text : "") + ";";
    }
    return text;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    // Sessions live for the whole run, as a server's would; the leak check runs after them.
    static Sessions *sessions = new Sessions;
    const bool open_result = v_check(&sessions->wide_open, data, size);
    const int32_t open_state = sessions->wide_open.state;
    const std::string open_slots = slots_of(sessions->wide_open);
    Served served{data, size};
    SonaraReader reader{read_served, &served, size, 0};
    if (v_check_reader(&sessions->wide_open, &reader, false) != open_result ||
        sessions->wide_open.state != open_state || reader.error != 0 ||
        slots_of(sessions->wide_open) != open_slots) {
        std::fprintf(stderr, "check_fuzzer: v_check_reader ended with %d (error %d), v_check with %d\n",
                     sessions->wide_open.state, reader.error, open_state);
        std::abort();
    }
    v_check(&sessions->required_only, data, size);
    read_details(&sessions->required_only);
    const bool result = v_check(&sessions->everyday, data, size);
    const int32_t state = sessions->everyday.state;
    if (v_check_all(&sessions->everyday, data, size) != result || sessions->everyday.state != state) {
        std::fprintf(stderr, "check_fuzzer: v_check_all ended with %d, v_check with %d\n",
                     sessions->everyday.state, state);
        std::abort();
    }
    return 0;
}
