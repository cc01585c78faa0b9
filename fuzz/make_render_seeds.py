#!/usr/bin/env python3
"""Writes the seed inputs of fuzz_render into corpus/fuzz_render/.

The target reads its input with FuzzedDataProvider: numbers from the end of
the input, strings from the front. encode() lays the parts out the way
fuzz_render.cpp consumes them, so a change of that order needs a change here.
"""
import pathlib

HERE = pathlib.Path(__file__).resolve().parent
ROOT = HERE.parent

# pick_double selectors: indices into kSpecial, 14 = the usual value.
D = {"0": 0, "-0": 1, "1": 2, "-1": 3, "0.5": 4, "1e-300": 5, "1e300": 6, "1e9": 7,
     "-360": 8, "nan": 9, "inf": 10, "-inf": 11, "max": 12, "denorm": 13, "usual": 14}
# pick_int selectors: indices into kSpecial, 8 = the usual value.
I = {"0": 0, "1": 1, "-1": 2, "2": 3, "100": 4, "-16": 5, "max": 6, "min": 7, "usual": 8}


def string(s: bytes) -> bytes:
    return s.replace(b"\\", b"\\\\") + b"\\x"


def encode(chart, *, time_height="usual", lane_width="usual", note_size="usual",
           target=None, host=None, extension=None, skill=False, music=None,
           lyric=None, rebase=None, generator=None):
    flags = 0
    tail = []  # consumed from the end, in this order
    front = b""
    if target is not None:
        flags |= 1
    if host is not None:
        flags |= 2
        front += string(host)
    if extension is not None:
        flags |= 4
        front += string(extension)
    if skill:
        flags |= 8
    if music is not None:
        flags |= 16
    if lyric is not None:
        flags |= 32
        front += string(lyric)
    if rebase is not None:
        flags |= 64
        front += string(rebase)
    if generator is not None:
        flags |= 128
        front += string(generator)
    tail += [flags, D[time_height], I[lane_width], I[note_size]]
    if target is not None:
        tail.append(D[target])
    if music is not None:
        solo, multi, fever_end, fever_score = music
        tail += [len(solo), len(multi)]
        tail += [D[v] for v in solo] + [D[v] for v in multi]
        tail += [D[fever_end], D[fever_score]]
    return front + chart + bytes(reversed(tail))


def main():
    out = HERE / "corpus" / "fuzz_render"
    out.mkdir(parents=True, exist_ok=True)
    example = (ROOT / "examples" / "example.sus").read_bytes()
    rebase = (ROOT / "examples" / "example.rebase.json").read_bytes()
    lyrics = (ROOT / "examples" / "example.lyrics").read_bytes()
    slides = (HERE / "corpus" / "fuzz_score" / "slides.sus").read_bytes()
    headers = (HERE / "corpus" / "fuzz_score" / "headers.sus").read_bytes()
    seeds = {
        "example-defaults": encode(example),
        "example-overlays": encode(example, target="0.5", host=b"https://h.example/a&b",
                                   extension=b" ..PNG ", skill=True, lyric=lyrics,
                                   music=(["0.5", "1"], ["0.5", "0.5"], "usual", "usual"),
                                   generator=b"<Quillomat> & \"friends\""),
        "slides-rebased": encode(slides, time_height="0", rebase=rebase),
        "slides-odd-sizes": encode(slides, time_height="nan", lane_width="-16", note_size="0"),
        "headers-short-multi": encode(headers + b"#00010: 11\n", skill=True,
                                      music=(["0.5"], [], "-1", "nan")),
        "example-huge-target": encode(example, target="1e300", time_height="1e300",
                                      lane_width="max", note_size="min"),
    }
    for name, data in seeds.items():
        (out / name).write_bytes(data)


if __name__ == "__main__":
    main()
