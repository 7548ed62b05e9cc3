// v_session_limit: a session's configured limits as the library stores and judges them, for
// callers that must act on a limit (the archive engine's decoding budget, a report's lines)
// without reading the configuration by rules of their own.
#include <cmath>
#include <cstring>

#include "private_session.h"
#include "session.h"
#include "sonara.h"

namespace {

void fill(double minimum, double maximum, bool enable, bool configured, SonaraLimit *out) {
    out->minimum = minimum;
    out->maximum = maximum;
    out->enabled = enable;
    out->configured = configured;
}

}  // namespace

extern "C" bool v_session_limit(Session *session, const char *property, SonaraLimit *out) {
    if (out == nullptr || property == nullptr || check_valid_session(session) != VOICE_SESSION_OK) return false;
    std::memset(out, 0, sizeof *out);
    const PrivateSession &payment = *session->payment;
    const struct {
        const char *name;
        const IntValue *range;
    } ranges[] = {{"duration", &payment.duration},
                  {"sample_rate", &payment.sample_rate},
                  {"channels", &payment.channels},
                  {"length", &payment.length},
                  {"depth", &payment.depth}};
    for (const auto &entry : ranges) {
        if (std::strcmp(property, entry.name) == 0) {
            out->range = true;
            fill(entry.range->i_min, entry.range->i_max, entry.range->enable, entry.range->configured, out);
            return true;
        }
    }
    const struct {
        const char *name;
        const SingleIntValue *border;
    } integers[] = {{"signal_noise", &payment.signal_noise}, {"telephony_border", &payment.telephony_border}};
    for (const auto &entry : integers) {
        if (std::strcmp(property, entry.name) == 0) {
            fill(entry.border->border, entry.border->border, entry.border->enable, entry.border->configured, out);
            return true;
        }
    }
    const struct {
        const char *name;
        const SingleFloatValue *border;
    } reals[] = {{"overload_border", &payment.overload_border}, {"voice_duration", &payment.voice_duration}};
    for (const auto &entry : reals) {
        if (std::strcmp(property, entry.name) == 0) {
            fill(entry.border->border, entry.border->border, entry.border->enable, entry.border->configured, out);
            return true;
        }
    }
    return false;
}
