/*
 * Voice-activity detection with the libfvad interface. An Fvad instance classifies frames of
 * 16-bit mono samples of 10, 20 or 30 ms as voice or no voice. Instances are independent and
 * not thread-safe; use one per thread.
 */
#ifndef SONARA_FVAD_H
#define SONARA_FVAD_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef struct Fvad Fvad;

/* A new detector at 8000 Hz in mode 0, or null when it can't be created. */
Fvad *fvad_new(void);

/* Releases the detector; null is ignored. */
void fvad_free(Fvad *inst);

/* Aggressiveness 0 (least) to 3 (most eager to class a frame as no voice). 0 on success; -1
 * for any other mode, which leaves the previous mode in force. */
int fvad_set_mode(Fvad *inst, int mode);

/* 8000, 16000, 32000 or 48000 Hz. 0 on success; -1 for any other rate, which leaves the
 * previous rate in force. */
int fvad_set_sample_rate(Fvad *inst, int sample_rate);

/* Classifies one frame of 10, 20 or 30 ms at the current rate: 1 voice, 0 no voice, -1 for a
 * null instance or frame or any other length. */
int fvad_process(Fvad *inst, const int16_t *frame, size_t length);

#ifdef __cplusplus
}
#endif

#endif
