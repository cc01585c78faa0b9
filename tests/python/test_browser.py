"""The bundled example: its data, its note images, and its rendering in a real browser.

The browser tests run when Chromium is installed at /usr/bin/chromium and are
skipped otherwise.
"""
import importlib.machinery
import importlib.util
import os
import pathlib
import re
import shutil
import signal
import struct
import subprocess
import tempfile
import unittest
import xml.etree.ElementTree as ET
import zlib

import corvane_scores_rs as m

SOURCE = os.environ.get("CORVANE_SOURCE_DIR", os.path.join(os.path.dirname(__file__), "..", ".."))
EXAMPLES = os.path.join(SOURCE, "examples")
NOTES = os.path.join(EXAMPLES, "notes")
CHROMIUM = "/usr/bin/chromium"
CHROMIUM_FLAGS = ["--headless", "--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run",
                  "--disable-background-networking", "--disable-component-update", "--disable-sync"]
# The sanitizer build preloads its runtime into the interpreter; the browser must not get it.
CHILD_ENV_DROP = ("LD_PRELOAD", "ASAN_OPTIONS", "UBSAN_OPTIONS", "PYTHONMALLOC")


def load_generator():
    path = os.path.join(SOURCE, "scripts", "make-note-images")
    loader = importlib.machinery.SourceFileLoader("make_note_images", path)
    spec = importlib.util.spec_from_loader(loader.name, loader)
    module = importlib.util.module_from_spec(spec)
    loader.exec_module(module)
    return module


def read(name):
    with open(os.path.join(EXAMPLES, name), encoding="utf-8") as f:
        return f.read()


def render_example(**options):
    return m.sus_to_svg(os.path.join(EXAMPLES, "example.sus"),
                        rebase_json=read("example.rebase.json"),
                        lyric_content=read("example.lyrics"),
                        skill=True,
                        music_meta={"skill_score_solo": [1.0], "skill_score_multi": [1.3],
                                    "fever_end_time": 14.0, "fever_score": 0.2},
                        **options)


def notes_url():
    return pathlib.Path(NOTES).resolve().as_uri()


def render_local():
    return render_example(note_host=notes_url(), note_asset_extension="svg")


def page_size(svg):
    width, height = re.match(r'<svg [^>]*width="(\d+)" height="(\d+)"', svg).groups()
    return int(width), int(height)


def decode_png(data):
    """(width, height, rows of RGB or RGBA bytes) of an 8-bit, non-interlaced PNG."""
    if data[:8] != b"\x89PNG\r\n\x1a\n":
        raise ValueError("not a PNG")
    pos, header, idat = 8, None, []
    while pos < len(data):
        length, kind = struct.unpack(">I4s", data[pos:pos + 8])
        chunk = data[pos + 8:pos + 8 + length]
        pos += 12 + length
        if kind == b"IHDR":
            header = struct.unpack(">IIBBBBB", chunk)
        elif kind == b"IDAT":
            idat.append(chunk)
        elif kind == b"IEND":
            break
    width, height, depth, colour, _, _, interlace = header
    if depth != 8 or interlace or colour not in (2, 6):
        raise ValueError(f"unsupported PNG layout {header}")
    bpp = 3 if colour == 2 else 4
    raw = zlib.decompress(b"".join(idat))
    stride = width * bpp
    prev, rows = bytearray(stride), []
    for y in range(height):
        start = y * (stride + 1)
        kind, line = raw[start], bytearray(raw[start + 1:start + 1 + stride])
        if kind == 1:
            for i in range(bpp, stride):
                line[i] = (line[i] + line[i - bpp]) & 255
        elif kind == 2:
            line = bytearray((a + b) & 255 for a, b in zip(line, prev))
        elif kind == 3:
            for i in range(stride):
                left = line[i - bpp] if i >= bpp else 0
                line[i] = (line[i] + ((left + prev[i]) >> 1)) & 255
        elif kind == 4:
            for i in range(stride):
                a = line[i - bpp] if i >= bpp else 0
                b, c = prev[i], (prev[i - bpp] if i >= bpp else 0)
                p = a + b - c
                pa, pb, pc = abs(p - a), abs(p - b), abs(p - c)
                line[i] = (line[i] + (a if pa <= pb and pa <= pc else b if pb <= pc else c)) & 255
        rows.append(bytes(line))
        prev = line
    return width, height, bpp, rows


class ExampleChartTest(unittest.TestCase):
    def test_note_bodies_lie_on_playable_lanes_without_overlap(self):
        # Every body is the symbol notes-{kind}-{width} at x = lane × 16 with the
        # default sizes; two bodies at one height in one column must not share a
        # lane (a directional whose width differs from its tap's would show here).
        svg = render_example()
        columns = re.findall(r'<svg x="\d+" y="-?\d+" width="\d+" height="\d+">(.*?)</svg>', svg, re.S)
        self.assertGreaterEqual(len(columns), 2)
        bodies = 0
        for column in columns:
            rows = {}
            for width, x, y in re.findall(r'<use href="#notes-\d-(\d+)" x="(-?\d+)" y="(-?\d+)"', column):
                lane, width = int(x) / 16, int(width)
                self.assertTrue(lane.is_integer() and 2 <= lane and lane + width <= 14, (lane, width))
                rows.setdefault(int(y), []).append((int(lane), int(lane) + width))
            for y, spans in rows.items():
                spans.sort()
                for (_, end), (begin, _) in zip(spans, spans[1:]):
                    self.assertLessEqual(end, begin, f"overlapping notes at y {y}: {spans}")
            bodies += sum(len(s) for s in rows.values())
        self.assertGreater(bodies, 60)

    def test_local_note_images_exist_for_every_reference(self):
        svg = render_local()
        prefix = notes_url() + "/"
        refs = set(re.findall(r'href="([^"#][^"]*)"', svg))
        local = {r for r in refs if r.startswith(prefix)}
        # Only the jacket comes from elsewhere.
        self.assertEqual(len(refs - local), 1)
        names = {r[len(prefix):] for r in local}
        self.assertGreaterEqual(len(names), 17)
        for name in sorted(names):
            with self.subTest(name=name):
                self.assertTrue(os.path.isfile(os.path.join(NOTES, name)))

    def test_committed_note_images_match_the_generator(self):
        images = dict(load_generator().images())
        self.assertEqual(sorted(f[:-4] for f in os.listdir(NOTES)), sorted(images))
        for name, text in images.items():
            with self.subTest(name=name):
                with open(os.path.join(NOTES, name + ".svg"), encoding="utf-8", newline="") as f:
                    self.assertEqual(f.read(), text)
                root = ET.fromstring(text)
                self.assertEqual(root.tag, "{http://www.w3.org/2000/svg}svg")


@unittest.skipUnless(os.access(CHROMIUM, os.X_OK), "Chromium is not installed")
class BrowserTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.tmp = tempfile.mkdtemp()
        cls.svg = render_local()
        cls.path = os.path.join(cls.tmp, "example.svg")
        with open(cls.path, "w", encoding="utf-8") as f:
            f.write(cls.svg)
        cls.size = page_size(cls.svg)

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.tmp)

    def chromium(self, *args):
        """Runs one headless Chromium on the document with a fresh profile; its stdout."""
        profile = tempfile.mkdtemp(dir=self.tmp)
        env = {k: v for k, v in os.environ.items() if k not in CHILD_ENV_DROP}
        env["HOME"] = profile  # keeps the browser's caches out of the real home
        command = [CHROMIUM, *CHROMIUM_FLAGS, f"--user-data-dir={profile}", *args,
                   pathlib.Path(self.path).as_uri()]
        # Its own session, so a hung browser can be ended with all its helpers.
        proc = subprocess.Popen(command, stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                                env=env, cwd=self.tmp, start_new_session=True)
        try:
            out, err = proc.communicate(timeout=180)
        except subprocess.TimeoutExpired:
            os.killpg(proc.pid, signal.SIGKILL)
            proc.communicate()
            raise
        self.assertEqual(proc.returncode, 0, err.decode(errors="replace")[-2000:])
        return out

    def test_document_parses_whole(self):
        dom = self.chromium("--dump-dom").decode("utf-8")
        self.assertNotIn("parsererror", dom)
        root = ET.fromstring(dom)
        self.assertEqual(root.tag, "{http://www.w3.org/2000/svg}svg")
        self.assertEqual((int(root.get("width")), int(root.get("height"))), self.size)
        # Nothing was dropped on the way: the browser holds every element we wrote.
        self.assertEqual(sum(1 for _ in root.iter()), sum(1 for _ in ET.fromstring(self.svg).iter()))

    def test_screenshot_shows_the_page_with_its_notes(self):
        shot = os.path.join(self.tmp, "shot.png")
        width, height = self.size
        self.chromium("--hide-scrollbars", f"--window-size={width},{height}", f"--screenshot={shot}")
        with open(shot, "rb") as f:
            w, h, bpp, rows = decode_png(f.read())
        self.assertEqual((w, h), self.size)
        counts = {}
        for row in rows:
            for i in range(0, len(row), bpp):
                pixel = row[i:i + 3]
                counts[pixel] = counts.get(pixel, 0) + 1
        self.assertGreater(len(counts), 50)
        self.assertLess(max(counts.values()), 0.9 * w * h)
        # The fills of the note images are there, so the local images were loaded.
        gen = load_generator()
        for look in ("TAP", "CRITICAL", "FLICK", "SLIDE_END", "TRACE"):
            fill = bytes.fromhex(getattr(gen, look)[0][1:])
            with self.subTest(look=look):
                self.assertGreater(counts.get(fill, 0), 20)


if __name__ == "__main__":
    unittest.main()
