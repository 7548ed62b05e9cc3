// The details a session keeps of its last check (v_set_details, v_details_session): the
// accumulators the payload walk feeds, and the records handed to the caller afterwards.
#pragma once

#include <cstdint>
#include <memory>

#include "channel_evidence.h"
#include "sonara.h"

class PayloadAnalysis;

class CheckDetails {
public:
    static constexpr unsigned known_flags = SONARA_DETAILS_EVIDENCE | SONARA_DETAILS_SEGMENTS;

    // false for flags outside known_flags. Takes effect from the next check.
    bool set_flags(unsigned flags);

    // Forgets the last check's details. A check started while details are asked keeps them,
    // unmeasured until finish.
    void start_check();
    // The walk of a check is about to decode channels: true when it should feed the
    // accumulators, false when details are not asked or their memory can't be had (logged, and
    // the check keeps none).
    bool prepare(uint64_t channels);
    ChannelEvidence *evidence() { return evidence_.get(); }
    SpeechSegments *segments() { return segments_.get(); }
    // After the walk: the records of every channel, speech from analysis.
    void finish(const PayloadAnalysis &analysis);
    // The check ended without finishing its walk: nothing measured.
    void abandon();

    // The last check's details; null when it kept none.
    const SonaraDetails *answer() const { return kept_ ? &answer_ : nullptr; }

private:
    void drop(bool keep);

    unsigned flags_ = 0;
    bool kept_ = false;
    SonaraDetails answer_{false, 0, nullptr};
    uint64_t channels_ = 0;
    std::unique_ptr<ChannelEvidence[]> evidence_;
    std::unique_ptr<SpeechSegments[]> segments_;
    std::unique_ptr<SonaraChannelDetails[]> records_;
};
