"""The Score class, its Meta and Event snapshots, borrows and repeated calls."""
import gc
import os
import pathlib
import resource
import tempfile
import tracemalloc
import unittest

from corvane_scores_rs import Event, Fraction, Meta, Score

# 120 BPM from bar 0 and 240 from bar 2, 3 beats a bar: bars 0-2 last 1.5 s
# each, later bars 0.75 s. Two taps on a playable lane, one SKILL event.
CHART = """\
#TITLE "Song"
#ARTIST "Me"
#WAVEOFFSET 0.25
#BASEBPM 150
#SUBTITLE ""
#BPM01: 120
#BPM02: 240
#00008: 01
#00208: 02
#00002: 3
#00112: 1111
#00010: 1100
"""

META_FIELDS = ["title", "subtitle", "artist", "genre", "designer", "difficulty", "playlevel",
               "songid", "wave", "waveoffset", "jacket", "background", "movie", "movieoffset",
               "basebpm"]


def parts(f):
    return (f.numerator, f.denominator)


class OpenTest(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.TemporaryDirectory()
        self.path = os.path.join(self.dir.name, "chart.sus")
        with open(self.path, "w", encoding="utf-8") as f:
            f.write(CHART)

    def tearDown(self):
        self.dir.cleanup()

    def test_open_reads_the_file_like_from_str(self):
        opened = Score.open(self.path)
        parsed = Score.from_str(CHART)
        self.assertIsInstance(opened, Score)
        self.assertEqual(opened.note_count(), parsed.note_count())
        self.assertEqual(opened.title(), "Song")

    def test_open_failures_are_plain_oserror(self):
        missing = os.path.join(self.dir.name, "missing.sus")
        with self.assertRaises(OSError) as cm:
            Score.open(missing)
        self.assertIs(type(cm.exception), OSError)
        self.assertTrue(str(cm.exception).startswith("Failed to open score: "))
        self.assertIsNone(cm.exception.errno)
        self.assertEqual(cm.exception.args, (str(cm.exception),))

        bad = os.path.join(self.dir.name, "bad.sus")
        with open(bad, "wb") as f:
            f.write(b"#TITLE \xff\xfe\n")
        with self.assertRaises(OSError) as cm:
            Score.open(bad)
        self.assertIs(type(cm.exception), OSError)
        self.assertTrue(str(cm.exception).startswith("Failed to open score: "))

    def test_open_refuses_path_objects_before_touching_files(self):
        with self.assertRaises(TypeError) as cm:
            Score.open(pathlib.Path(self.path))
        self.assertTrue(str(cm.exception).startswith("argument 'path': "))

    def test_chart_errors_keep_their_kind(self):
        with self.assertRaises(ZeroDivisionError):
            Score.from_str("#BPM01: 1/0\n")


class ScoreMembersTest(unittest.TestCase):
    def setUp(self):
        self.score = Score.from_str(CHART)

    def test_empty_chart(self):
        s = Score.from_str("")
        self.assertEqual((s.note_count(), s.event_count(), s.events(), s.title()), (0, 0, [], None))
        self.assertEqual(parts(s.get_time(1)), (2, 1))
        state = s.get_event(0)
        self.assertEqual(parts(state.bpm), (120, 1))
        self.assertEqual(parts(state.bar_length), (4, 1))
        self.assertEqual(state.sentence_length, 4)
        self.assertEqual(parts(s.get_bar_by_time(3.0)), (3, 2))
        self.assertEqual(parts(s.get_bar_by_time(3)), (3, 2))

    def test_counts_and_texts(self):
        s = self.score
        self.assertEqual(s.note_count(), 2)
        self.assertEqual(s.event_count(), 4)
        self.assertEqual((s.title(), s.artist(), s.difficulty(), s.playlevel()),
                         ("Song", "Me", None, None))

    def test_meta_snapshot(self):
        meta = self.score.meta
        self.assertIsInstance(meta, Meta)
        values = {name: getattr(meta, name) for name in META_FIELDS}
        self.assertEqual(values["title"], "Song")
        self.assertEqual(values["subtitle"], "")
        self.assertEqual(values["waveoffset"], "0.25")
        self.assertEqual(values["basebpm"], 150.0)
        self.assertIs(type(values["basebpm"]), float)
        for name in ["genre", "designer", "songid", "wave", "jacket", "background", "movie",
                     "movieoffset"]:
            self.assertIsNone(values[name], name)
        with self.assertRaises(AttributeError):
            meta.title = "x"
        self.assertIsNot(self.score.meta, meta)

    def test_events_are_fresh_snapshots(self):
        events = self.score.events()
        self.assertIsNot(self.score.events(), events)
        self.assertTrue(all(isinstance(e, Event) for e in events))
        rows = [(str(e.bar), e.bpm and str(e.bpm), e.bar_length and str(e.bar_length), e.text)
                for e in events]
        self.assertEqual(rows, [("0.", "120.", None, None), ("0.", None, "3.", None),
                                ("0.", None, None, "SKILL"), ("2.", "240.", None, None)])
        skill = events[2]
        self.assertEqual((skill.bpm, skill.bar_length, skill.sentence_length, skill.speed,
                          skill.section), (None, None, None, None, None))
        self.assertIsNot(skill.bar, skill.bar)
        events.clear()
        self.assertEqual(self.score.event_count(), 4)
        with self.assertRaises(AttributeError):
            skill.text = "x"

    def test_timing_queries(self):
        s = self.score
        self.assertEqual(parts(s.get_time(1)), (3, 2))
        self.assertEqual(parts(s.get_time(Fraction(3))), (15, 4))
        self.assertEqual(parts(s.get_time(0.5)), parts(s.get_time("1/2")))
        self.assertEqual(parts(s.get_time(Fraction(1, 2))), (3, 4))
        self.assertEqual(parts(s.get_time_delta(1, 3)), (9, 4))
        self.assertEqual(parts(s.get_time_delta(3, 1)), (-9, 4))
        self.assertEqual(parts(s.get_time_delta("5/2", "5/2")), (0, 1))
        self.assertEqual(parts(s.get_bar_by_time(3.75)), (3, 1))
        state = s.get_event("5/2")
        self.assertEqual((str(state.bar), str(state.bpm), str(state.bar_length)),
                         ("2.", "240.", "3."))

    def test_argument_errors(self):
        s = self.score
        with self.assertRaises(TypeError) as cm:
            s.get_time("abc")
        self.assertEqual(str(cm.exception), "expected a Fraction-compatible value")
        with self.assertRaises(TypeError) as cm:
            s.get_time_delta(1, None)
        self.assertEqual(str(cm.exception), "expected a Fraction-compatible value")
        with self.assertRaises(TypeError) as cm:
            s.get_bar_by_time("1.0")
        self.assertTrue(str(cm.exception).startswith("argument 'time': "))

    def test_docstrings(self):
        expected = {
            "open": "Open and parse a .sus file",
            "from_str": "Parse from string content",
            "set_meta": "Set metadata fields (keyword args, all optional)",
            "note_count": "Get the number of active notes",
            "event_count": "Get the number of events",
            "title": "Get the title",
            "artist": "Get the artist",
            "difficulty": "Get the difficulty",
            "playlevel": "Get the play level",
            "events": "Get all events as a list of Event objects",
            "get_time": None,
            "get_event": None,
            "get_time_delta": None,
            "get_bar_by_time": None,
        }
        for name, doc in expected.items():
            with self.subTest(name):
                self.assertEqual(getattr(Score, name).__doc__, doc)
        self.assertEqual(
            Score.set_meta.__text_signature__,
            "($self, title=None, artist=None, difficulty=None, playlevel=None, jacket=None, "
            "songid=None, subtitle=None)")
        self.assertEqual(Score.from_str.__text_signature__, "(content)")
        self.assertEqual(Score.title.__text_signature__, "($self)")


class SetMetaTest(unittest.TestCase):
    def setUp(self):
        self.score = Score.from_str(CHART)

    def test_rules(self):
        s = self.score
        before = s.meta
        s.set_meta(title="X")
        self.assertEqual((s.title(), s.artist()), ("X", "Me"))
        self.assertEqual(before.title, "Song")
        self.assertEqual(s.meta.title, "X")
        s.set_meta(title=None)
        self.assertEqual(s.title(), "X")
        s.set_meta(title="")
        self.assertEqual(s.title(), "")
        s.set_meta("T", "A")
        self.assertEqual((s.title(), s.artist()), ("T", "A"))
        s.set_meta(jacket="j.png", songid="42", subtitle="sub", difficulty="master",
                   playlevel="30")
        m = s.meta
        self.assertEqual((m.jacket, m.songid, m.subtitle, m.difficulty, m.playlevel),
                         ("j.png", "42", "sub", "master", "30"))
        self.assertEqual((m.waveoffset, m.basebpm), ("0.25", 150.0))

    def test_refused_value_changes_nothing(self):
        s = self.score
        with self.assertRaises(TypeError) as cm:
            s.set_meta(title="A", artist=5)
        self.assertEqual(str(cm.exception),
                         "argument 'artist': 'int' object is not an instance of 'str'")
        self.assertEqual((s.title(), s.artist()), ("Song", "Me"))

    def test_keeps_timing_table(self):
        s = self.score
        first = parts(s.get_time(3))
        s.set_meta(title="again")
        self.assertEqual(parts(s.get_time(3)), first)


class BorrowTest(unittest.TestCase):
    def setUp(self):
        self.score = Score.from_str(CHART)
        score = self.score
        self.seen = []

        class Reentrant:
            def __float__(inner):
                try:
                    score.title()
                except RuntimeError as e:
                    self.seen.append(str(e))
                    raise
                return 1.0

        self.reentrant = Reentrant()

    def test_bar_conversion_conflict_is_discarded(self):
        with self.assertRaises(TypeError) as cm:
            self.score.get_time(self.reentrant)
        self.assertEqual(str(cm.exception), "expected a Fraction-compatible value")
        self.assertEqual(self.seen, ["Already mutably borrowed"])

    def test_time_conversion_conflict_propagates_unprefixed(self):
        with self.assertRaises(RuntimeError) as cm:
            self.score.get_bar_by_time(self.reentrant)
        self.assertEqual(str(cm.exception), "Already mutably borrowed")

    def test_exclusive_conflict_and_release(self):
        score = self.score
        outcomes = []

        class SetsMeta:
            def __float__(self):
                try:
                    score.set_meta(title="inner")
                except RuntimeError as e:
                    outcomes.append(str(e))
                return 0.0

        score.get_time_delta(SetsMeta(), 1)
        self.assertEqual(outcomes, ["Already borrowed"])
        # Every path released its borrow: the score is usable again.
        self.assertEqual(score.title(), "Song")
        score.set_meta(title="after")
        self.assertEqual(score.title(), "after")

    def test_other_scores_are_not_affected(self):
        other = Score.from_str("")

        class ReadsOther:
            def __float__(self):
                return float(other.get_time(1))

        self.assertEqual(parts(self.score.get_bar_by_time(ReadsOther())), (4, 3))


def _maxrss_kib():
    return resource.getrusage(resource.RUSAGE_SELF).ru_maxrss


class RepeatedCallsTest(unittest.TestCase):
    """Many calls of each member, success and failure paths, leave memory flat."""

    ROUNDS = 4000

    def setUp(self):
        self.dir = tempfile.TemporaryDirectory()
        self.path = os.path.join(self.dir.name, "chart.sus")
        with open(self.path, "w", encoding="utf-8") as f:
            f.write(CHART)
        self.missing = os.path.join(self.dir.name, "missing.sus")

    def tearDown(self):
        self.dir.cleanup()

    def calls(self):
        s = Score.from_str(CHART)
        f = Fraction(7, 2)
        return [
            lambda: Score.open(self.path),
            lambda: Score.open(self.missing),
            lambda: Score.open(1),
            lambda: Score.from_str(CHART),
            lambda: Score.from_str(None),
            lambda: s.meta.title,
            lambda: s.set_meta(title="t", artist="a", subtitle=""),
            lambda: s.set_meta(title="t", artist=5),
            lambda: s.set_meta(1, 2, 3, 4, 5, 6, 7, 8),
            lambda: s.note_count(),
            lambda: s.event_count(),
            lambda: (s.title(), s.artist(), s.difficulty(), s.playlevel()),
            lambda: [(e.bar, e.bpm, e.bar_length, e.text) for e in s.events()],
            lambda: s.get_time("5/2"),
            lambda: s.get_time("abc"),
            lambda: s.get_time("1/0"),
            lambda: s.get_time(f),
            lambda: s.get_event(0.5).bpm,
            lambda: s.get_time_delta(1, 3),
            lambda: s.get_time_delta(foo=1),
            lambda: s.get_bar_by_time(2.5),
            lambda: s.get_bar_by_time("x"),
            lambda: (Fraction(6, 4), Fraction(1, 0), Fraction(2.5)),
            lambda: (str(f), repr(f), float(f), f.numerator, f.limit_denominator(3)),
            lambda: f.limit_denominator(0),
        ]

    def run_all(self, calls, rounds):
        for call in calls:
            for _ in range(rounds):
                try:
                    call()
                except Exception:
                    pass

    def test_memory_stays_flat(self):
        calls = self.calls()
        self.run_all(calls, 300)  # warm caches and free lists
        gc.collect()
        rss_before = _maxrss_kib()
        tracemalloc.start()
        traced_before = tracemalloc.get_traced_memory()[0]
        self.run_all(calls, self.ROUNDS)
        gc.collect()
        traced_growth = tracemalloc.get_traced_memory()[0] - traced_before
        tracemalloc.stop()
        rss_growth = _maxrss_kib() - rss_before
        self.assertLess(traced_growth, 64 * 1024, "Python objects leaked")
        # The address sanitizer's quarantine holds freed memory on purpose.
        if "asan" not in os.environ.get("LD_PRELOAD", ""):
            self.assertLess(rss_growth, 16 * 1024, "native memory grew")


if __name__ == "__main__":
    unittest.main()
