#!/usr/bin/env python3
"""Writes the small seed inputs of the fuzzers into fuzz/corpus/. Run it after changing a seed."""
import os
import struct

here = os.path.dirname(os.path.abspath(__file__))


def chunk(cid, payload, declared=None):
    size = len(payload) if declared is None else declared
    return cid + struct.pack('<I', size) + payload


def fmt(channels=1, rate=16000, bits=16, audio_format=1, declared=16, tail=b'', align=None,
        byte_rate=None):
    align = channels * (bits // 8) if align is None else align
    byte_rate = rate * align if byte_rate is None else byte_rate
    body = struct.pack('<HHIIHH', audio_format, channels, rate, byte_rate, align, bits)
    return chunk(b'fmt ', body + tail, declared)


def riff(*chunks, form=b'WAVE'):
    body = b''.join(chunks)
    return b'RIFF' + struct.pack('<I', len(body) + 4) + form + body


def pcm16(*samples):
    return struct.pack('<%dh' % len(samples), *samples)


def sine16(frames, channels):
    import math
    out = []
    for i in range(frames):
        for c in range(channels):
            out.append(int(8000 * math.sin(2 * math.pi * (440 + 220 * c) * i / 16000)))
    return pcm16(*out)


extensible_tail = struct.pack('<HHI', 22, 24, 3) + bytes(
    [1, 0, 0, 0, 0, 0, 0x10, 0, 0x80, 0, 0, 0xAA, 0, 0x38, 0x9B, 0x71])

wav_seeds = {
    'mono16.wav': riff(fmt(), chunk(b'data', sine16(400, 1))),
    'stereo16.wav': riff(fmt(channels=2), chunk(b'data', sine16(200, 2))),
    'mono8.wav': riff(fmt(bits=8), chunk(b'data', bytes(range(0, 255, 3)))),
    'stereo24_extensible.wav': riff(fmt(channels=2, rate=48000, bits=24, audio_format=0xFFFE,
                                        declared=40, tail=extensible_tail),
                                    chunk(b'data', bytes(range(0, 240)))),
    'mono32.wav': riff(fmt(bits=32), chunk(b'data', bytes(range(0, 200)))),
    'fmt18.wav': riff(fmt(declared=18, tail=b'\x02\x00ab'), chunk(b'data', sine16(100, 1))),
    'odd_list_pad.wav': riff(fmt(), chunk(b'LIST', b'INFOISFT' + b'x' * 17), b'\x00',
                             chunk(b'data', sine16(100, 1))),
    'odd_list_nopad.wav': riff(fmt(), chunk(b'LIST', b'y' * 25), chunk(b'data', sine16(100, 1))),
    'two_fmt.wav': riff(fmt(), fmt(channels=2, rate=44100), chunk(b'data', sine16(100, 2))),
    'data_before_fmt.wav': riff(chunk(b'data', pcm16(1, 2)), fmt()),
    'truncated_data.wav': riff(fmt(), chunk(b'data', pcm16(1, 2), declared=0xFFFFFFFF)),
    'block_align_small.wav': riff(fmt(channels=2, align=2), chunk(b'data', pcm16(1, 2, 3))),
    'block_align_zero.wav': riff(fmt(align=0, byte_rate=32000), chunk(b'data', pcm16(1, 2))),
    'avi_form.wav': riff(fmt(), chunk(b'data', pcm16(5, 6)), form=b'AVI '),
}

config_seeds = {
    'full.json': b'''{
  "version": "2026.12",
  "length":           { "min": 1,    "max": 20480 },
  "duration":         { "min": 2,    "max": 600 },
  "depth":            { "min": 16,   "max": 16 },
  "channels":         { "min": 1,    "max": 2 },
  "sample_rate":      { "min": 8000, "max": 48000 },
  "telephony_border": { "value": 10 },
  "overload_border":  { "value": 0.5 },
  "signal_noise":     { "value": 15 },
  "voice_duration":   { "value": 1.0 }
}
''',
    'minimal.json': b'{"signal_noise": {"value": 15}, "overload_border": {"value": 0.5}}\n',
    'disabled.json': b'{"version": "x", "signal_noise": {"value": 3, "enable": false}, '
                     b'"overload_border": {"value": 1e308}, "duration": {"min": -5, "max": 1e12}}\n',
    'odd_shapes.json': b'{"length": [1, 2], "depth": "16", "extra": {"nested": {"min": 1}}, '
                       b'"channels": {"min": 2, "max": 1, "value": 3}}\n',
    'broken.json': b'{"signal_noise": {"value": 15}, "overload_border": ',
}

for folder, seeds in (('wav', wav_seeds), ('config', config_seeds)):
    target = os.path.join(here, 'corpus', folder)
    os.makedirs(target, exist_ok=True)
    for name, content in seeds.items():
        with open(os.path.join(target, name), 'wb') as out:
            out.write(content)
