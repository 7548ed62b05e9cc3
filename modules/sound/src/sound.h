// WAV parsing, sample decoding and the signal measurements of libsonara.
#pragma once

#include <cstdint>

// The parsed WAV header. Owns nothing: data points into the caller's content, name is borrowed.
struct Head {
    uint32_t data_size;
    uint32_t riff_size;
    uint32_t riff_format;
    uint32_t audio_format;
    uint32_t fmt_size;
    uint32_t sample_rate;
    uint32_t byte_rate;
    uint16_t channels;
    uint16_t bits_per_sample;
    uint16_t block_align;
    double duration;
    const unsigned char *data;
    const char *name;
};

// Decoded samples on the signed 16-bit scale, one malloc'd array of doubles per channel.
struct Unpack {
    double *times;
    uint64_t times_count;
    double **payload;
    uint64_t channel_count;
    uint64_t frames;
};

// Walks the RIFF chunks of content into head. false (one log line) when no usable header.
bool read_head(const unsigned char *content, uint64_t length, Head *head);

// Where the header walk gets a file's bytes when they are not all in memory. at(position,
// count) points at the count bytes at position (the walk has checked that they lie inside the
// length it was given; count is at most a few dozen), valid until the next call; null when they
// can't be had.
class HeadBytes {
public:
    virtual const unsigned char *at(uint64_t position, uint64_t count) = 0;

protected:
    ~HeadBytes() = default;
};
// read_head over a file of length bytes that bytes hands out: the same walk, fields and log
// lines. head->data stays null; data_offset gets where the payload starts. Also false, with no
// log line, as soon as bytes can't hand out a field.
bool read_head_from(HeadBytes &bytes, uint64_t length, Head *head, uint64_t *data_offset);
// read_head without its log lines; fmt_chunk gets the offset of the 'fmt ' chunk whose fields
// head holds (0: none was reached), reached_data whether the walk came to a 'data' chunk. Used
// to describe a file exactly as the check reads it.
bool read_head_quietly(const unsigned char *content, uint64_t length, Head *head, uint64_t *fmt_chunk,
                       bool *reached_data);
// Copies every field but data and name, which become null.
void copy_head(Head *destination, const Head *source);

// true when decoding and measuring head's payload costs work and memory in proportion to its
// bytes: at most one sample per payload byte, beyond 32 channels at least 16 KiB of payload per
// channel (the resampler's state per channel is fixed), and a sample rate that the 8000 Hz
// measurements multiply at most 8-fold (rate 0 is let through: resampling reports it). false
// logs why, once.
bool unpack_is_bounded(const Head *head);
// true when head describes a payload that can be decoded: a frame size and a header
// unpack_is_bounded accepts (which logs why not).
bool frames_are_decodable(const Head *head);
// true when the payload head points at can be decoded: frames_are_decodable and the payload
// itself.
bool payload_is_decodable(const Head *head);
// count samples of channel, from frame first on, decoded as read_unpack decodes them, into
// samples. The payload must be decodable and the frames inside it.
void decode_channel(const Head *head, uint64_t channel, uint64_t first, uint64_t count,
                    double *samples);

// Decodes the data chunk that head points at. Overwrites unpack without releasing it. false for
// block_align 0, a header unpack_is_bounded refuses, or exhausted memory.
bool read_unpack(const Head *head, Unpack *unpack);
// Releases every array of unpack; null and repeated calls are fine. Always true.
bool free_unpack(Unpack *unpack);
// Deep copy; destination's previous contents are overwritten, not released.
void copy_unpack(Unpack *destination, const Unpack *source);

// Channels resampled by resample_channels: new malloc'd arrays, released with free_resampled.
struct ResampledChannels {
    double **channels;  // null when nothing could be made (error says why)
    uint64_t frames;    // samples produced per channel
    const char *error;  // the text a resampling failure is logged with, or null
};

// Every channel of input (channels arrays of frames samples at rate from) at rate to, with the
// resampler fed in blocks. Logs nothing: the caller logs error where it belongs.
ResampledChannels resample_channels(double *const *input, uint64_t channels, uint64_t frames,
                                    uint32_t from, uint32_t to);
void free_resampled(ResampledChannels *resampled, uint64_t channels);

// The measurements' log lines, written here wherever the measurement runs.
// A resampling failure of the sound called name ("unknown" when null).
void log_resample_error(const char *name, const char *error);
// The detector can't be used (or a measurement's working memory can't be had).
void log_bad_sample_rate();
// A frame the detector could not classify; position is its first sample's index.
void log_frame_error(uint32_t position);
void log_overload_memory();

// Seconds of detected voice in the channel with the most of it, at 8000 Hz.
double get_filtered_duration(Head *head, Unpack *unpack);
// Signal-to-noise of every channel in dB; new[]'d array that the caller delete[]s. Every
// element is -1.0 when the detector can't be used; null only when the array itself can't be
// allocated (one log line).
double *read_signal_noise(Head *head, Unpack *unpack);
// Adds each sample to its bin (sample - minimum, truncated) of histogram.
void create_hist(double minimum, const double *samples, unsigned long count,
                 unsigned long *histogram, unsigned long bin_count);
// Clipping coefficient of one channel, 0 to 1: near 1 when clipped, and for short clean channels
// too (sparse histogram tails look alike).
double estimate_clipping_coefficient(const double *samples, unsigned long count);
// The smallest clipping coefficient of the channels.
double get_overloading_value(const Unpack *unpack);
// Signal-to-noise of the first channel after a pass through the resampler to 8000 Hz.
double get_telephony_border(const Head *head, const Unpack *unpack);
