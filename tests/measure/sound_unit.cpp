// The sound unit compiled into the test binary, so the tests reach its local helpers
// without the library exporting them.
#include "sound.cpp"

void resample_for_test(Head *head, Unpack *unpack, uint32_t rate) {
    resample_payload(head, unpack, rate);
}
