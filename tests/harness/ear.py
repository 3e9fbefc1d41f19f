"""The ear: each of the game's four sounds heard by its own file in a
recording of the mix (docs/testing.md says how), and recordings of its own
mixed from those files."""

import array
import functools
import math
import operator
import os
import struct

from harness import Failure, check, read, wait_for, write

# Pitches of the synthesised sounds (Hz), before the game's random detune of up to 7 %
MENU_HZ = (560, 780)
START_HZ = (780, 1450)
STOP_HZ = (220, 560)
BOUNCE_HZ = (1250, 1800)
SOUND_FILES = {MENU_HZ: "menu.wav", START_HZ: "selected.wav", STOP_HZ: "stop.wav", BOUNCE_HZ: "zarv.wav"}

RATE = 44100  # samples a second, of the recording and of the sound files
DECIMATION = 4  # the sounds' pitches lie below 3.5 kHz: a quarter of the samples keeps them
HOP = 110  # decimated samples from one analysed window to the next: 10 ms
WINDOW = 330  # decimated samples a window: 30 ms, to tell 1320 Hz from 1400 Hz
BIN_HZ = RATE / DECIMATION / WINDOW  # the frequencies looked at, a window's resolution apart
DETUNE = (0.93, 1.07)  # a sound may play up to 7 % off its file's pitch: the menu's is new every frame
MISFIT = 0.3  # how far a sound's loudness, window by window, may stray from its file's
QUIETEST = 0.5  # how much quieter than its file a sound may be heard: it plays at full volume


def read_pcm(path, start=0):
    """A 16-bit mono WAV file's samples from sample start on; none before its header is written."""
    if not os.path.exists(path):
        return array.array("h")
    with open(path, "rb") as wav:  # from where it is wanted: the mix grows by megabytes a minute
        offset = wav.read(512).find(b"data")
        wav.seek(offset + 8 + 2 * start)
        body = wav.read() if offset >= 0 else b""
    return array.array("h", body[:len(body) // 2 * 2])


def wav_seconds(path):
    """The length of a PCM WAV file, from its header."""
    data = read(path, "rb")
    rate, = struct.unpack_from("<I", data, data.find(b"fmt ") + 12)
    block, = struct.unpack_from("<H", data, data.find(b"fmt ") + 20)
    size, = struct.unpack_from("<I", data, data.find(b"data") + 4)
    return size / block / rate


def decimated(pcm):
    return list(map(sum, zip(*[iter(pcm)] * DECIMATION)))


@functools.lru_cache(maxsize=None)
def probe(frequency_bin):
    """A Hann window's cosine and sine at that frequency, scaled so that a sine
    wave of amplitude a before decimation measures a."""
    hann = [0.5 - 0.5 * math.cos(2 * math.pi * (n + 0.5) / WINDOW) for n in range(WINDOW)]
    scale = 2 / sum(hann) / DECIMATION
    step = 2 * math.pi * frequency_bin * BIN_HZ * DECIMATION / RATE
    return ([h * scale * math.cos(step * n) for n, h in enumerate(hann)],
            [h * scale * math.sin(step * n) for n, h in enumerate(hann)])


def amplitude(window, frequency_bin):
    cosine, sine = probe(frequency_bin)
    return math.hypot(sum(map(operator.mul, window, cosine)), sum(map(operator.mul, window, sine)))


def stretch_pitch(pcm):
    """The pitch of a sound's loud part, from its zero crossings, in Hz."""
    loud = [i for i, s in enumerate(pcm) if abs(s) > 1500]
    if not loud:
        return 0
    part = pcm[loud[0]:loud[-1] + 1]
    crossings = sum(1 for a, b in zip(part, part[1:]) if (a < 0) != (b < 0))
    return crossings / 2 / (len(part) / RATE)


@functools.lru_cache(maxsize=None)
def sound_track(data):
    """A sound file's loudest frequency in each window, as the frequency bins
    the game may play it at, and its amplitude there: [(bins, amplitude)]."""
    samples = decimated(array.array("h", data))
    scanned = range(int(150 / BIN_HZ), int(2000 / BIN_HZ))
    track = []
    for start in range(0, len(samples), HOP):
        window = (samples[start:start + WINDOW] + [0] * WINDOW)[:WINDOW]
        loudest = max(scanned, key=lambda b: amplitude(window, b))
        track.append((range(int(loudest * DETUNE[0]), math.ceil(loudest * DETUNE[1]) + 1),
                      amplitude(window, loudest)))
    return track


class Recording:
    """The game's mix, 16-bit mono, analysed as it grows, from the mark a case
    takes before a key, for the sound the case waits for; sounds is the folder
    of the files the game plays."""

    def __init__(self, path, sounds, deadline):
        self.path, self.sounds, self.deadline = path, sounds, deadline
        self.decimated = []
        self.spectra = {}  # window -> {frequency bin: amplitude}
        self.loudness = {}  # (window, frequency bins) -> the loudest amplitude among them
        self.tracks = {}  # pitch range -> (the file's pitch, its track)
        self.fits = {}  # pitch range -> {onset window: (misfit, gain)}

    def samples(self, start=0):
        return read_pcm(self.path, start)

    def mark(self):
        return len(self.samples())

    def track(self, pitch_range):
        """The track of the sound file of pitch_range, once the file's own pitch
        is found in it. The first call works out every file's, so that none is
        left for a moment when a case times its keys by a sound."""
        if not self.tracks:
            for each, name in SOUND_FILES.items():
                pcm = read_pcm(os.path.join(self.sounds, name))
                self.tracks[each] = stretch_pitch(pcm), sound_track(pcm.tobytes())
        pitch, track = self.tracks[pitch_range]
        check(pitch_range[0] <= pitch <= pitch_range[1], "%s sounds at %.0f Hz, not %s..%s"
              % (SOUND_FILES[pitch_range], pitch, pitch_range[0], pitch_range[1]))
        return track

    def loudest(self, window, band):
        """The amplitude of the loudest frequency in band, where the spectrum
        peaks: the flank of a louder sound just outside it is not its own."""
        if (window, band) not in self.loudness:
            spectrum = self.spectra.setdefault(window, {})
            samples = self.decimated[window * HOP:window * HOP + WINDOW]
            silent = not any(samples)  # as the mix is between sounds
            for b in range(band.start - 1, band.stop + 1):
                if b not in spectrum:
                    spectrum[b] = 0 if silent else amplitude(samples, b)
            self.loudness[window, band] = max((spectrum[b] for b in band
                                               if spectrum[b - 1] <= spectrum[b] >= spectrum[b + 1]), default=0)
        return self.loudness[window, band]

    def fit(self, onset, track):
        """(misfit, gain) of the sound beginning in the onset window. A sound
        played up to 7 % slower or faster ends up to two windows later or
        sooner, which stays well within MISFIT."""
        expected = [a for _, a in track]
        heard = [self.loudest(onset + k, band) for k, (band, _) in enumerate(track)]
        power = sum(a * a for a in expected)
        gain = sum(map(operator.mul, heard, expected)) / power
        if gain <= 0:
            return math.inf, 0
        return math.sqrt(sum((h - gain * a) ** 2 for h, a in zip(heard, expected)) / power) / gain, gain

    def windows_since(self, mark, length=1):
        """The windows after mark where a sound of length windows may begin, as far as the recording goes."""
        self.decimated += decimated(self.samples(len(self.decimated) * DECIMATION))
        # from the window that mark falls in: a sound may begin late in it
        return range(mark // (DECIMATION * HOP), (len(self.decimated) - WINDOW) // HOP - length + 2)

    def began(self, mark, pitch_range):
        """Whether the sound of pitch_range has begun after mark: its first window is heard."""
        band, loudness = self.track(pitch_range)[0]
        return any(self.loudest(window, band) >= QUIETEST * loudness for window in self.windows_since(mark))

    def onsets(self, mark, pitch_range):
        """The windows where the sound of pitch_range begins after mark, as far as the recording goes."""
        track = self.track(pitch_range)
        fits = self.fits.setdefault(pitch_range, {})
        runs = []
        for onset in self.windows_since(mark, len(track)):
            if onset not in fits:
                fits[onset] = self.fit(onset, track)
            misfit, gain = fits[onset]
            if misfit <= MISFIT and gain >= QUIETEST:
                if runs and runs[-1][-1] == onset - 1:
                    runs[-1].append(onset)
                else:
                    runs.append([onset])
        return [min(run, key=lambda onset: fits[onset][0]) for run in runs]

    def seconds(self, mark, onset):
        return round(max(0, onset * HOP * DECIMATION - mark) / RATE, 3)

    def sounds_since(self, mark):
        """(seconds after mark, sound file) of each sound heard, in order."""
        return sorted((self.seconds(mark, onset), SOUND_FILES[pitch_range])
                      for pitch_range in SOUND_FILES for onset in self.onsets(mark, pitch_range))

    def wait_for_sound(self, mark, pitch_range, name):
        try:
            return wait_for(name, lambda: self.onsets(mark, pitch_range), self.deadline)
        except Failure:
            raise Failure("did not hear %s (%s, %s..%s Hz); heard %s"
                          % (name, SOUND_FILES[pitch_range], pitch_range[0], pitch_range[1],
                             self.sounds_since(mark)))


def played(pcm, pitch):
    """Samples as the game plays them at this pitch: resampled, by straight lines."""
    places = [i * pitch for i in range(int((len(pcm) - 1) / pitch))]
    return [pcm[int(x)] + (pcm[int(x) + 1] - pcm[int(x)]) * (x % 1) for x in places]


def write_mix(path, sounds):
    """A WAV file of sounds [(pcm, pitch, seconds)] played together, each from its own moment."""
    mix = []
    for pcm, pitch, seconds in sounds:
        start = round(seconds * RATE)
        resampled = played(pcm, pitch)
        mix += [0.0] * (start + len(resampled) - len(mix))
        mix[start:start + len(resampled)] = map(operator.add, mix[start:start + len(resampled)], resampled)
    mix += [0.0] * (RATE // 2)  # as the game's mix goes on
    body = array.array("h", [max(-32768, min(32767, round(s))) for s in mix]).tobytes()
    write(path, b"RIFF" + struct.pack("<I4s4sIHHIIHH4sI", 36 + len(body), b"WAVE", b"fmt ", 16, 1, 1, RATE, RATE * 2,
                                      2, 16, b"data", len(body)) + body)
