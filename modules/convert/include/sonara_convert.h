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
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* The library is built with hidden visibility; these calls are its whole interface. */
#if defined(__GNUC__)
#define SONARA_CONVERT_API __attribute__((visibility("default")))
#else
#define SONARA_CONVERT_API
#endif

/* Return codes of sonara_convert and sonara_convert_bounded. */
enum SonaraConvertCode {
    SONARA_CONVERT_AS_IS = 0,          /* integer PCM WAV, a RIFF/WAVE without a readable
                                          'fmt ' chunk, or no content: judge the content itself */
    SONARA_CONVERT_CONVERTED = 1,      /* wav/wav_size hold the WAV to judge */
    SONARA_CONVERT_UNREADABLE = -1,    /* libsndfile could not open or decode it, or the stream is
                                          damaged; error says why */
    SONARA_CONVERT_TOO_LARGE = -2,     /* the whole decoded WAV would pass max_wav_size */
    SONARA_CONVERT_NO_MEMORY = -3,
    SONARA_CONVERT_NOT_WAV_SHAPED = -4, /* rate or channel count no WAV header can hold */
    SONARA_CONVERT_BAD_ARGUMENT = -5   /* a null pointer, or a budget smaller than a header */
};

#define SONARA_CONVERT_FORMAT_SIZE 64
#define SONARA_CONVERT_ERROR_SIZE 256
/* Size of the canonical header in front of a converted WAV's samples. */
#define SONARA_CONVERT_HEADER_SIZE 44

/* One conversion's outcome. The caller zero-fills it (or passes one released by
 * sonara_conversion_free); the conversion calls fill every field. The counts below are set when
 * the code is SONARA_CONVERT_CONVERTED and zero otherwise. */
typedef struct SonaraConversion {
    unsigned char *wav;    /* converted WAV (header + samples), owned; null unless converted. Its
                              header describes the samples it holds: all of them, or the first
                              ones when truncated */
    size_t wav_size;       /* its size in bytes, never more than the budget */
    bool converted;        /* true exactly when the code is SONARA_CONVERT_CONVERTED */
    bool truncated;        /* the stream decoded to more than the budget holds: wav has its first
                              frames only, the rest were decoded and counted, not stored */
    bool declared_known;   /* the file's header declares a frame count (declared_frames) */
    uint16_t channels;     /* of the converted WAV (the source's) */
    uint32_t sample_rate;  /* Hz, of the converted WAV (the source's) */
    uint64_t declared_frames; /* frames per channel the header declares; 0 unless declared_known */
    uint64_t decoded_frames;  /* frames per channel the whole stream gave, to its end */
    uint64_t stored_frames;   /* frames per channel held in wav */
    uint64_t full_wav_size;   /* bytes of the WAV with every decoded frame:
                                 44 + decoded_frames * channels * 2 (== wav_size unless truncated) */
    char source_format[SONARA_CONVERT_FORMAT_SIZE]; /* UTF-8, e.g. "FLAC 24-bit", "WAV A-law",
                                                       "WAV PCM 16-bit"; empty when unknown */
    char error[SONARA_CONVERT_ERROR_SIZE];          /* UTF-8; empty unless the code is negative */
} SonaraConversion;

/* true when the content is integer PCM WAV, which is judged as it is (libsonara's own reading of
 * the header, the last 'fmt ' chunk before 'data'). */
SONARA_CONVERT_API bool sonara_convert_is_integer_pcm_wav(const unsigned char *content, size_t size);

/* Examines content and, unless it is judged as it is, decodes the whole stream, to its end (not
 * to the frame count a header declares), keeping at most `budget` bytes of WAV, header included:
 * past the budget, frames are decoded through one fixed block and only counted, so memory stays
 * the budget plus a fixed working set whatever the input, and out->truncated is set. A stream
 * whose whole WAV would pass max_wav_size is refused with SONARA_CONVERT_TOO_LARGE as soon as
 * it does (0: the largest a RIFF size field holds, which is also the most a budget can be).
 * budget 0 means max_wav_size; a budget under SONARA_CONVERT_HEADER_SIZE is refused. A length a
 * header gives that the stream can be shown to contradict is an error (SONARA_CONVERT_UNREADABLE,
 * the reason in error): a FLAC stream that ends before its STREAMINFO count, an MP3 whose Xing/Info
 * count is short of its frames, Ogg granule positions that go backwards; so is an Ogg Vorbis file
 * whose three headers libvorbis can't read. Whatever out held before is overwritten, not released. */
SONARA_CONVERT_API int sonara_convert_bounded(const unsigned char *content, size_t size, size_t max_wav_size,
                           size_t budget, SonaraConversion *out);

/* sonara_convert_bounded with the budget equal to max_wav_size: the WAV holds every frame, or
 * the file is refused as too large. */
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
