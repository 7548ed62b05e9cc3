// Ownership of one Session record for a test. Each area creates its session its own way (from
// text, from a file); this part only guarantees the release, so no test leaks a session and
// the sanitizer build stays quiet.
#pragma once

#include "sonara.h"

namespace test_support {

class OwnedSession {
public:
    // Releases on the payment pointer rather than on created(): whatever creation left
    // allocated goes back, whether or not it reported success.
    ~OwnedSession() {
        if (session_.payment != nullptr) v_destroy_session(&session_);
    }
    OwnedSession(const OwnedSession &) = delete;
    OwnedSession &operator=(const OwnedSession &) = delete;

    bool created() const { return created_; }
    Session &record() { return session_; }

protected:
    // A zeroed record, as every create function expects; the subclass creates into it.
    OwnedSession() = default;

    Session session_{};
    bool created_ = false;
};

}  // namespace test_support
