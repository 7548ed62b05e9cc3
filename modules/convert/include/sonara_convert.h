/*
 * libsonara_convert: turns a recording held in memory into what libsonara judges.
 *
 * Integer PCM WAV (format code 1, or 0xFFFE whose sub-format is PCM) is judged as it is and never
 * converted. Anything else (FLAC, Ogg Vorbis, Opus, MP3, WAV with A-law, µ-law, ADPCM, GSM or
 * float samples, ...) is decoded with libsndfile to signed 16-bit PCM at its own rate and channel
 * count, float data clipped at full scale, and wrapped in a canonical 44-byte WAV header in a
 * buffer of its own. Detection reads the bytes, never a file name.
 *
 * Plain C (C99 and C++20), usable through ctypes. Nothing is thrown; each call is independent, so
 * calls on different records may run on different threads at once.
 */
#ifndef SONARA_CONVERT_H
#define SONARA_CONVERT_H

#include <stdbool.h>
#include <stddef.h>

#ifdef __cplusplus
extern "C" {
#endif

/* The library is built with hidden visibility; these calls are its whole interface. */
#if defined(__GNUC__)
#define SONARA_CONVERT_API __attribute__((visibility("default")))
#else
#define SONARA_CONVERT_API
#endif

/* Return codes of sonara_convert. */
enum SonaraConvertCode {
    SONARA_CONVERT_AS_IS = 0,          /* integer PCM WAV, a RIFF/WAVE without a readable
                                          'fmt ' chunk, or no content: judge the content itself */
    SONARA_CONVERT_CONVERTED = 1,      /* wav/wav_size hold the WAV to judge */
    SONARA_CONVERT_UNREADABLE = -1,    /* libsndfile could not open or decode it; error holds
                                          libsndfile's text */
    SONARA_CONVERT_TOO_LARGE = -2,     /* the decoded WAV would pass max_wav_size */
    SONARA_CONVERT_NO_MEMORY = -3,
    SONARA_CONVERT_NOT_WAV_SHAPED = -4, /* rate or channel count no WAV header can hold */
    SONARA_CONVERT_BAD_ARGUMENT = -5   /* a null pointer */
};

#define SONARA_CONVERT_FORMAT_SIZE 64
#define SONARA_CONVERT_ERROR_SIZE 256
/* Size of the canonical header in front of a converted WAV's samples. */
#define SONARA_CONVERT_HEADER_SIZE 44

/* One conversion's outcome. The caller zero-fills it (or passes one released by
 * sonara_conversion_free); sonara_convert fills every field. */
typedef struct SonaraConversion {
    unsigned char *wav;    /* converted WAV (header + samples), owned; null unless converted */
    size_t wav_size;       /* its size in bytes */
    bool converted;        /* true exactly when the code is SONARA_CONVERT_CONVERTED */
    char source_format[SONARA_CONVERT_FORMAT_SIZE]; /* UTF-8, e.g. "FLAC 24-bit", "WAV A-law",
                                                       "WAV PCM 16-bit"; empty when unknown */
    char error[SONARA_CONVERT_ERROR_SIZE];          /* UTF-8; empty unless the code is negative */
} SonaraConversion;

/* true when the content is integer PCM WAV, which is judged as it is. */
SONARA_CONVERT_API bool sonara_convert_is_integer_pcm_wav(const unsigned char *content, size_t size);

/* Examines content and, unless it is judged as it is, decodes it into out->wav. The decoded WAV
 * is at most max_wav_size bytes, header included (0: the largest a RIFF size field holds).
 * Whatever out held before is overwritten, not released. */
SONARA_CONVERT_API int sonara_convert(const unsigned char *content, size_t size, size_t max_wav_size,
                   SonaraConversion *out);

/* Releases out->wav and clears the record; a null pointer is ignored. */
SONARA_CONVERT_API void sonara_conversion_free(SonaraConversion *out);

/* sizeof(SonaraConversion), so a binding that declares the record itself can check its layout. */
SONARA_CONVERT_API size_t sonara_conversion_size(void);

#ifdef __cplusplus
} /* extern "C" */
#endif

#endif /* SONARA_CONVERT_H */
