// The check pipeline over a file wherever its bytes are: v_check runs it on a buffer, the
// reader-based check on a file it reads as it goes.
#pragma once

#include <cstdint>

#include "payload_source.h"
#include "sonara.h"
#include "sound.h"

// A file the check reads.
class CheckedFile {
public:
    // read_head over the file's bytes: the same fields and log lines; false also when they can't
    // be read.
    virtual bool read_head(Head *head) = 0;
    // Where the payload's samples come from; null: from head->data, in memory.
    virtual PayloadSource *payload() = 0;

protected:
    ~CheckedFile() = default;
};

// One check of file, as v_check (stops_at_failure) or v_check_all: the session's test, the
// content's (has_content false or size 0: "Content failed", state 103), then every step, with
// Session.state set. size is the file's size in bytes, the length slot's value. Nothing is
// thrown. The argument tests log from here, so every check call writes the same lines.
bool check_file(Session *session, bool has_content, uint64_t size, CheckedFile &file,
                bool stops_at_failure);
