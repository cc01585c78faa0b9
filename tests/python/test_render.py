"""One-call rendering functions, the music_meta dict and the Drawing class."""
import gc
import io
import math
import os
import re
import shutil
import subprocess
import sys
import tempfile
import textwrap
import tracemalloc
import unittest

import corvane_scores_rs as m

SOURCE = os.environ.get("CORVANE_SOURCE_DIR", os.path.join(os.path.dirname(__file__), "..", ".."))
EXAMPLE_SUS = os.path.join(SOURCE, "examples", "example.sus")
EXAMPLE_LYRICS = os.path.join(SOURCE, "examples", "example.lyrics")
EXAMPLE_REBASE = os.path.join(SOURCE, "examples", "example.rebase.json")

NO_RASTER = "PNG/JPEG output requires building with the `skia-image` feature"
SCORE_REQUIRED = "score is required when Drawing was created without one"
FUNCTIONS = ("sus_to_svg", "sus_to_png", "sus_to_jpg", "sus_to_jpeg")
RASTER = ("sus_to_png", "sus_to_jpg", "sus_to_jpeg")

# A SKILL at bar 0, fever from bar 1 to bar 2, and a few taps.
SMALL_CHART = """#TITLE "Small"
#ARTIST "Tester"
#BPM01: 120
#00008: 01
#00010: 11
#00112: 11
#00212: 1111
#00111: 11
#00211: 21
"""
TWO_SKILLS = {"skill_score_solo": [0.5], "skill_score_multi": [0.25]}

tmpdir = None
SMALL = None
MISSING = None


def setUpModule():
    global tmpdir, SMALL, MISSING
    tmpdir = tempfile.mkdtemp()
    SMALL = os.path.join(tmpdir, "small.sus")
    with open(SMALL, "w", encoding="utf-8") as f:
        f.write(SMALL_CHART)
    MISSING = os.path.join(tmpdir, "missing.sus")


def tearDownModule():
    shutil.rmtree(tmpdir)


def classes(svg):
    return set(re.findall(r'class="([^"]+)"', svg))


def note_hrefs(svg):
    return [h for h in re.findall(r'href="([^"#][^"]*)"', svg) if "/notes" in h]


def lane_widths(svg):
    return {int(w) for w in re.findall(r'<rect x="\d+" y="0" width="(\d+)" height="\d+" class="lane"/>', svg)}


class Unfloatable:
    def __float__(self):
        raise ArithmeticError("no float")


class RenderFunctionShapeTest(unittest.TestCase):
    def test_docstrings(self):
        params = ("sus_path, note_host=None, style_sheet=None, rebase_json=None, "
                  "lyric_content=None, skill=False, music_meta=None, "
                  "target_segment_seconds=None, generator=None, note_asset_extension=None")
        expected = {
            "sus_to_svg": (params, "generate SVG in one call"),
            "sus_to_png": (params, "generate PNG bytes in one call"),
            "sus_to_jpg": (params + ", jpeg_quality=90", "generate JPEG bytes in one call"),
            "sus_to_jpeg": (params + ", jpeg_quality=90", "generate JPEG bytes in one call"),
        }
        for name, (sig, tail) in expected.items():
            with self.subTest(name=name):
                fn = getattr(m, name)
                self.assertEqual(fn.__text_signature__, "(" + sig + ")")
                self.assertEqual(fn.__doc__, "Convenience function: parse a .sus file and " + tail)
                self.assertEqual(fn.__module__, "corvane_scores_rs")
                self.assertEqual(fn.__name__, name)

    def test_binding_errors_before_the_file_is_touched(self):
        for name in FUNCTIONS:
            fn = getattr(m, name)
            n = 11 if name in ("sus_to_jpg", "sus_to_jpeg") else 10
            cases = [
                ((), {}, f"{name}() missing 1 required positional argument: 'sus_path'"),
                ((MISSING,), {"foo": 1}, f"{name}() got an unexpected keyword argument 'foo'"),
                ((MISSING,) * (n + 1), {},
                 f"{name}() takes from 1 to {n} positional arguments but {n + 1} were given"),
                ((MISSING,), {"sus_path": MISSING},
                 f"{name}() got multiple values for argument 'sus_path'"),
                ((1,), {}, "argument 'sus_path': 'int' object is not an instance of 'str'"),
                ((MISSING,), {"skill": None},
                 "argument 'skill': 'None' is not an instance of 'bool'"),
                ((MISSING,), {"skill": 1}, "argument 'skill': 'int' object is not an instance of 'bool'"),
                ((MISSING,), {"rebase_json": {}},
                 "argument 'rebase_json': 'dict' object is not an instance of 'str'"),
                ((MISSING,), {"music_meta": []},
                 "argument 'music_meta': 'list' object is not an instance of 'dict'"),
                ((MISSING,), {"note_asset_extension": b"png"},
                 "argument 'note_asset_extension': 'bytes' object is not an instance of 'str'"),
                ((MISSING,), {"target_segment_seconds": "8"},
                 "argument 'target_segment_seconds': must be real number, not str"),
            ]
            for args, kwargs, msg in cases:
                with self.subTest(name=name, msg=msg), self.assertRaises(TypeError) as cm:
                    fn(*args, **kwargs)
                self.assertEqual(str(cm.exception), msg)
        with self.assertRaises(TypeError) as cm:
            m.sus_to_png(SMALL, jpeg_quality=90)
        self.assertEqual(str(cm.exception), "sus_to_png() got an unexpected keyword argument 'jpeg_quality'")

    def test_lyric_content_is_text_only(self):
        with open(EXAMPLE_LYRICS, encoding="utf-8") as f, self.assertRaises(TypeError) as cm:
            m.sus_to_svg(SMALL, lyric_content=f)
        self.assertEqual(str(cm.exception),
                         "argument 'lyric_content': 'TextIOWrapper' object is not an instance of 'str'")

    def test_conversion_cause_is_kept(self):
        class Path(str):
            pass

        # A str subclass is text; an unencodable str is not a TypeError.
        self.assertEqual(m.sus_to_svg(Path(SMALL)), m.sus_to_svg(SMALL))
        with self.assertRaises(UnicodeEncodeError):
            m.sus_to_svg("\ud800")


class RenderFunctionTest(unittest.TestCase):
    def test_svg_matches_drawing_class(self):
        self.assertEqual(m.sus_to_svg(SMALL), m.Drawing().svg(m.Score.open(SMALL)))
        self.assertEqual(m.sus_to_svg(sus_path=EXAMPLE_SUS),
                         m.Drawing(m.Score.open(EXAMPLE_SUS)).svg())

    def test_missing_file(self):
        for name in FUNCTIONS:
            with self.subTest(name=name), self.assertRaises(OSError) as cm:
                getattr(m, name)(MISSING)
            self.assertIs(type(cm.exception), OSError)
            self.assertEqual(str(cm.exception), "Failed to open score: No such file or directory")
        with self.assertRaises(OSError) as cm:
            m.sus_to_svg(tmpdir)
        self.assertTrue(str(cm.exception).startswith("Failed to open score: "))

    def test_invalid_utf8_file(self):
        path = os.path.join(tmpdir, "latin1.sus")
        with open(path, "wb") as f:
            f.write(b'#TITLE "\xe9"\n')
        with self.assertRaises(OSError) as cm:
            m.sus_to_svg(path)
        self.assertTrue(str(cm.exception).startswith("Failed to open score: "))

    def test_raster_functions_refuse_once_inputs_are_accepted(self):
        for name in RASTER:
            with self.subTest(name=name), self.assertRaises(RuntimeError) as cm:
                getattr(m, name)(SMALL, skill=True, music_meta=TWO_SKILLS, lyric_content="0: a")
            self.assertEqual(str(cm.exception), NO_RASTER)
        for q in (0, 255, 90, True):
            for name in ("sus_to_jpg", "sus_to_jpeg"):
                with self.subTest(name=name, q=q), self.assertRaises(RuntimeError):
                    getattr(m, name)(SMALL, jpeg_quality=q)

    def test_jpeg_quality(self):
        for name in ("sus_to_jpg", "sus_to_jpeg"):
            fn = getattr(m, name)
            for q in (256, 300, -1):
                with self.subTest(name=name, q=q), self.assertRaises(OverflowError) as cm:
                    fn(MISSING, jpeg_quality=q)  # before the file is opened
                self.assertEqual(str(cm.exception), "out of range integral type conversion attempted")
            with self.assertRaises(OverflowError):  # beyond a C long: the interpreter's message
                fn(MISSING, jpeg_quality=2**70)
            with self.assertRaises(TypeError) as cm:
                fn(MISSING, jpeg_quality=None)
            self.assertEqual(str(cm.exception), "argument 'jpeg_quality': 'NoneType' object "
                             "cannot be interpreted as an integer")
            with self.assertRaises(TypeError) as cm:
                fn(MISSING, jpeg_quality=1.5)
            self.assertTrue(str(cm.exception).startswith("argument 'jpeg_quality': "))

    def test_rebase_json(self):
        with open(EXAMPLE_REBASE, encoding="utf-8") as f:
            text = f.read()
        expected = m.Drawing().svg(m.Rebase.from_json(text).apply(m.Score.open(EXAMPLE_SUS)))
        self.assertEqual(m.sus_to_svg(EXAMPLE_SUS, rebase_json=text), expected)
        self.assertNotEqual(expected, m.sus_to_svg(EXAMPLE_SUS))
        for name in FUNCTIONS:
            with self.subTest(name=name), self.assertRaises(ValueError) as cm:
                getattr(m, name)(SMALL, rebase_json="")
            self.assertTrue(str(cm.exception).startswith("Invalid rebase JSON: "))
            self.assertIn("line 1", str(cm.exception))

    def test_lyrics(self):
        plain = m.sus_to_svg(SMALL)
        self.assertEqual(m.sus_to_svg(SMALL, lyric_content=""), plain)
        with_words = m.sus_to_svg(SMALL, lyric_content="1: hel/lo")
        self.assertEqual(len(re.findall(r'class="lyric-text">(hel|lo)<', with_words)), 2)

    def test_settings_reach_the_document(self):
        svg = m.sus_to_svg(SMALL, note_host="https://h.example/n", style_sheet=".extra {}",
                           generator="GenX")
        self.assertTrue(all(h.startswith("https://h.example/n/") for h in note_hrefs(svg)))
        self.assertTrue(note_hrefs(svg))
        self.assertIn("}\n.extra {}</style>", svg)
        self.assertIn("Generated by GenX", svg)
        # A short segment length closes a column at every bar.
        self.assertEqual(m.sus_to_svg(SMALL).count('class="lane"'), 1)
        self.assertGreater(m.sus_to_svg(SMALL, target_segment_seconds=0.1).count('class="lane"'), 1)

    def test_note_asset_extension(self):
        self.assertTrue(all(h.endswith(".png") for h in note_hrefs(m.sus_to_svg(SMALL))))
        for given, suffix in (("", "."), (" .JPG ", ".jpg"), ("webp", ".webp")):
            with self.subTest(given=given):
                hrefs = note_hrefs(m.sus_to_svg(SMALL, note_asset_extension=given))
                self.assertTrue(hrefs)
                self.assertTrue(all(h.endswith(suffix) and not h.endswith(".png") for h in hrefs), hrefs)
        self.assertEqual(m.sus_to_svg(SMALL, note_asset_extension=None), m.sus_to_svg(SMALL))

    def test_document_bound_covers_the_caller_texts(self):
        # Escaped, each of these alone passes 256 MiB: refused before any of
        # it is written.
        refusal = "chart too large to render: the document exceeds 256 MiB"
        for kw in (dict(generator='"' * 45_000_000), dict(note_host="&" * 4_000_000)):
            with self.subTest(arg=next(iter(kw))):
                with self.assertRaises(ValueError) as caught:
                    m.sus_to_svg(SMALL, **kw)
                self.assertEqual(str(caught.exception), refusal)

    def test_each_call_has_its_own_overlays(self):
        skilled = m.sus_to_svg(SMALL, skill=True,
                               music_meta=dict(TWO_SKILLS, fever_end_time=6.0, fever_score=0.1))
        self.assertTrue({"skill-score", "skill-duration", "fever-duration"} <= classes(skilled))
        self.assertIn(">solo+50.00% multi+25.00%<", skilled)
        self.assertIn(">multi+10.00%<", skilled)
        plain = m.sus_to_svg(SMALL)
        self.assertFalse({"skill-score", "skill-duration", "fever-duration"} & classes(plain))
        self.assertEqual(m.sus_to_svg(SMALL, skill=True, music_meta=TWO_SKILLS),
                         m.sus_to_svg(SMALL, skill=True, music_meta=TWO_SKILLS))


class MusicMetaTest(unittest.TestCase):
    def render(self, meta, **kwargs):
        return m.sus_to_svg(SMALL, skill=True, music_meta=meta, **kwargs)

    def assert_type_error(self, meta, msg):
        with self.assertRaises(TypeError) as cm:
            self.render(meta)
        self.assertEqual(str(cm.exception), msg)
        with self.assertRaises(TypeError) as cm:
            m.Drawing(music_meta=meta)
        self.assertEqual(str(cm.exception), msg)
        with self.assertRaises(TypeError) as cm:
            m.sus_to_jpg(SMALL, music_meta=meta)
        self.assertEqual(str(cm.exception), msg)

    def test_accepted_forms(self):
        empty = self.render({})
        self.assertEqual(self.render({"other": None, "fever_end_time": 0, "fever_score": 0.0,
                                      "skill_score_solo": [], "skill_score_multi": ()}), empty)
        self.assertEqual(self.render({"skill_score_solo": (0.5,), "skill_score_multi": [0.25]}),
                         self.render(TWO_SKILLS))

        class Number:
            def __float__(self):
                return 0.5

        class Index:
            def __index__(self):
                return 1

        self.assertEqual(self.render({"skill_score_solo": [Number()], "skill_score_multi": [0.25]}),
                         self.render(TWO_SKILLS))
        self.render({"skill_score_solo": [Index()], "skill_score_multi": range(3),
                     "fever_end_time": Index()})
        # A longer multi list is accepted; NaN is a float like any other.
        self.render({"skill_score_solo": [0.5], "skill_score_multi": [0.1, 0.2]})
        self.render({"fever_end_time": math.nan, "fever_score": math.inf})

    def test_reported_length_only_sizes_the_list(self):
        # A sequence whose __len__ is wrong or fails is still read item by item.
        def sequence(items, length):
            class Seq:
                def __len__(self):
                    return length()

                def __getitem__(self, i):
                    return items[i]

            return Seq()

        def failing_len():
            raise ValueError("no length")

        expected = self.render(TWO_SKILLS)
        for length in (lambda: 2 ** 62, lambda: 2 ** 58, lambda: 0, failing_len):
            with self.subTest(length=length):
                meta = {"skill_score_solo": sequence([0.5], length),
                        "skill_score_multi": sequence([0.25], length)}
                self.assertEqual(self.render(meta), expected)

    def test_refused_values_carry_no_argument_name(self):
        self.assert_type_error({"fever_end_time": None}, "must be real number, not NoneType")
        self.assert_type_error({"fever_score": "1"}, "must be real number, not str")
        self.assert_type_error({"skill_score_solo": "0.5"}, "Can't extract `str` to `Vec`")
        self.assert_type_error({"skill_score_multi": 5}, "'int' object is not an instance of 'Sequence'")
        self.assert_type_error({"skill_score_solo": None}, "'None' is not an instance of 'Sequence'")
        self.assert_type_error({"skill_score_solo": {0.5}}, "'set' object is not an instance of 'Sequence'")
        self.assert_type_error({"skill_score_multi": [0.5, "x"]}, "must be real number, not str")
        with self.assertRaises(ArithmeticError) as cm:
            self.render({"fever_score": Unfloatable()})
        self.assertEqual(str(cm.exception), "no float")

    def test_keys_read_in_order(self):
        self.assert_type_error({"skill_score_multi": 5, "skill_score_solo": "x",
                                "fever_score": None, "fever_end_time": "t"},
                               "must be real number, not str")
        self.assert_type_error({"skill_score_multi": 5, "skill_score_solo": "x", "fever_score": None},
                               "must be real number, not NoneType")
        self.assert_type_error({"skill_score_multi": 5, "skill_score_solo": "x"},
                               "Can't extract `str` to `Vec`")

    def test_dict_storage_only(self):
        class Meta(dict):
            def __getitem__(self, key):
                raise AssertionError("__getitem__ called")

            def __missing__(self, key):
                raise AssertionError("__missing__ called")

            def get(self, *args):
                raise AssertionError("get called")

        self.assertEqual(self.render(Meta(TWO_SKILLS)), self.render(TWO_SKILLS))
        self.assertEqual(self.render(Meta()), self.render({}))
        m.Drawing(music_meta=Meta(TWO_SKILLS))

    def test_lookup_failure_is_raised(self):
        class Clash:
            def __hash__(self):
                return hash("fever_score")

            def __eq__(self, other):
                raise LookupError("compared")

        with self.assertRaises(LookupError) as cm:
            self.render({Clash(): 1})
        self.assertEqual(str(cm.exception), "compared")

    def test_value_removed_during_its_own_conversion(self):
        # Run under the interpreter's debug allocator, which overwrites freed
        # objects, so a value read after the dict dropped it crashes the child.
        code = textwrap.dedent("""
            import warnings
            import corvane_scores_rs as m
            meta = {}

            class Real(float):
                pass

            class SelfRemoving:
                # A float subclass makes the interpreter look at the value
                # again after the call, when only the reader holds it.
                def __float__(self):
                    meta.clear()
                    return Real(2.0)

            class ListRemoving(list):
                def __iter__(self):
                    meta.clear()
                    return super().__iter__()

            meta["fever_end_time"] = SelfRemoving()
            with warnings.catch_warnings():
                warnings.simplefilter("ignore", DeprecationWarning)
                m.sus_to_svg(PATH, music_meta=meta)
            meta["skill_score_solo"] = ListRemoving([0.5])
            meta["skill_score_multi"] = [0.25]
            try:
                m.sus_to_svg(PATH, skill=True, music_meta=meta)
            except ValueError:
                # The multi key went with the clear: the label lacks its entry.
                print("ok")
        """).replace("PATH", repr(SMALL))
        env = dict(os.environ, PYTHONMALLOC="debug")
        done = subprocess.run([sys.executable, "-c", code], env=env, capture_output=True,
                              text=True, timeout=120)
        self.assertEqual((done.returncode, done.stdout), (0, "ok\n"), done.stderr)

    def test_errors_after_the_file_and_the_rebase(self):
        bad = {"fever_end_time": None}
        for name in FUNCTIONS:
            with self.subTest(name=name):
                with self.assertRaises(OSError):
                    getattr(m, name)(MISSING, music_meta=bad)
                with self.assertRaises(ValueError):
                    getattr(m, name)(SMALL, music_meta=bad, rebase_json="{")
                with self.assertRaises(TypeError):
                    getattr(m, name)(SMALL, music_meta=bad, lyric_content="0: a")

    def test_short_multi_list(self):
        meta = {"skill_score_solo": [0.5], "skill_score_multi": []}
        for call in (lambda: self.render(meta),
                     lambda: m.Drawing(m.Score.open(SMALL), skill=True, music_meta=meta).svg()):
            with self.assertRaises(ValueError):
                call()
        for name in RASTER:  # the raster functions never render
            with self.assertRaises(RuntimeError):
                getattr(m, name)(SMALL, skill=True, music_meta=meta)


def numpy_like(name, module="numpy", **members):
    """An instance of a class that passes for numpy's boolean scalar type."""
    return type(name, (), dict(members, __module__=module))()


class FlagConversionTest(unittest.TestCase):
    """skill: True, False, or numpy's boolean scalar by its type's module and name."""

    def svg(self, skill):
        return m.sus_to_svg(SMALL, skill=skill, music_meta=TWO_SKILLS)

    def drawing_svg(self, skill):
        return m.Drawing(m.Score.open(SMALL), skill=skill, music_meta=TWO_SKILLS).svg()

    def test_numpy_boolean_by_truth_value(self):
        on, off = self.svg(True), self.svg(False)
        self.assertNotEqual(on, off)
        for name in ("bool_", "bool"):
            with self.subTest(name=name):
                yes = numpy_like(name, __bool__=lambda self: True)
                no = numpy_like(name, __bool__=lambda self: False)
                self.assertEqual(self.svg(yes), on)
                self.assertEqual(self.svg(no), off)
                self.assertEqual(self.drawing_svg(yes), on)
                self.assertEqual(self.drawing_svg(no), off)

    def test_refusals(self):
        def refused(value, message):
            for call in (self.svg, lambda v: m.Drawing(skill=v)):
                with self.assertRaises(TypeError) as cm:
                    call(value)
                self.assertEqual(str(cm.exception), message)

        refused(numpy_like("bool_", "numpyx", __bool__=lambda self: True),
                "argument 'skill': 'bool_' object is not an instance of 'bool'")
        refused(numpy_like("bool8", __bool__=lambda self: True),
                "argument 'skill': 'bool8' object is not an instance of 'bool'")
        refused(numpy_like("bool_"),
                "argument 'skill': object of type 'bool_' does not define a '__bool__' conversion")
        # A length is no truth-value conversion of its own.
        refused(numpy_like("bool_", __len__=lambda self: 1),
                "argument 'skill': object of type 'bool_' does not define a '__bool__' conversion")
        for value in (0, 1, 1.0, "True", None):
            with self.subTest(value=value), self.assertRaises(TypeError):
                self.svg(value)

    def test_truth_value_errors(self):
        def raising(exc):
            def fn(self):
                raise exc
            return fn

        with self.assertRaises(ZeroDivisionError):
            self.svg(numpy_like("bool_", __bool__=raising(ZeroDivisionError("truth"))))
        with self.assertRaises(TypeError) as cm:
            self.svg(numpy_like("bool_", __bool__=raising(TypeError("truth"))))
        self.assertEqual(str(cm.exception), "argument 'skill': truth")
        with self.assertRaises(TypeError) as cm:
            self.svg(numpy_like("bool_", __bool__=lambda self: 1))
        self.assertTrue(str(cm.exception).startswith("argument 'skill': "), str(cm.exception))


class DrawingConstructionTest(unittest.TestCase):
    def test_shape(self):
        self.assertEqual(m.Drawing.__doc__, "Python wrapper for Drawing")
        self.assertEqual(m.Drawing.__text_signature__,
                         "(score=None, lyric=None, style_sheet=None, note_host=None, skill=False, "
                         "music_meta=None, target_segment_seconds=None, generator=None, "
                         "note_asset_extension=None)")
        docs = {
            "svg": ("($self, score=None, lyric=None)", "Generate SVG string from a score"),
            "png": ("($self, score=None, lyric=None)",
                    "Generate PNG bytes from a score via direct Skia rendering"),
            "jpg": ("($self, score=None, lyric=None, jpeg_quality=90)",
                    "Generate JPEG bytes from a score via direct Skia rendering"),
            "jpeg": ("($self, score=None, lyric=None, jpeg_quality=90)",
                     "Generate JPEG bytes from a score via direct Skia rendering"),
        }
        for name, (sig, doc) in docs.items():
            self.assertEqual(getattr(m.Drawing, name).__text_signature__, sig)
            self.assertEqual(getattr(m.Drawing, name).__doc__, doc)
        with self.assertRaises(TypeError):
            type("Sub", (m.Drawing,), {})
        with self.assertRaises(AttributeError):
            m.Drawing().extra = 1

    def test_defaults(self):
        d = m.Drawing()
        self.assertEqual((d.note_size, d.time_height, d.lane_width), (16, 360.0, 16))
        self.assertIsInstance(d.time_height, float)
        score = m.Score.open(SMALL)
        self.assertEqual(d.svg(score), m.Drawing(None, None, None, None, False, None, None,
                                                 None, None).svg(score))

    def test_argument_errors(self):
        cases = [
            ((None,) * 10, {}, "Drawing.__new__() takes from 0 to 9 positional arguments but 10 were given"),
            ((), {"quality": 1}, "Drawing.__new__() got an unexpected keyword argument 'quality'"),
            ((None,), {"score": None}, "Drawing.__new__() got multiple values for argument 'score'"),
            ((3,), {}, "argument 'score': 'int' object is not an instance of 'Score'"),
            ((), {"lyric": "0: a"}, "argument 'lyric': 'str' object is not an instance of 'Lyric'"),
            ((), {"skill": None}, "argument 'skill': 'None' is not an instance of 'bool'"),
            ((), {"music_meta": []}, "argument 'music_meta': 'list' object is not an instance of 'dict'"),
            ((), {"style_sheet": 1}, "argument 'style_sheet': 'int' object is not an instance of 'str'"),
            ((), {"target_segment_seconds": None, "generator": 2},
             "argument 'generator': 'int' object is not an instance of 'str'"),
            # Conversion order: score before music_meta.
            ((3,), {"music_meta": []}, "argument 'score': 'int' object is not an instance of 'Score'"),
        ]
        for args, kwargs, msg in cases:
            with self.subTest(msg=msg), self.assertRaises(TypeError) as cm:
                m.Drawing(*args, **kwargs)
            self.assertEqual(str(cm.exception), msg)

        class Meta(dict):
            pass

        m.Drawing(music_meta=Meta())

    def test_music_meta_error_releases_borrows(self):
        score = m.Score.open(SMALL)
        lyric = m.Lyric.load("0: a")
        with self.assertRaises(TypeError) as cm:
            m.Drawing(score, lyric, music_meta={"fever_score": None})
        self.assertEqual(str(cm.exception), "must be real number, not NoneType")
        score.set_meta(title="still usable")  # exclusive: no borrow was left behind
        self.assertEqual(score.title(), "still usable")

    def test_score_in_use(self):
        score = m.Score.open(SMALL)
        seen = []

        class Bar:
            def __index__(self):
                for call in (lambda: m.Drawing(score), lambda: m.Drawing().svg(score),
                             lambda: m.Drawing().png(score)):
                    try:
                        call()
                    except RuntimeError as e:
                        seen.append(str(e))
                return 1

        score.get_time(Bar())
        self.assertEqual(seen, ["Already mutably borrowed", "Already borrowed", "Already borrowed"])
        m.Drawing(score).svg()

    def test_stored_values_are_copies(self):
        score = m.Score.open(SMALL)
        d = m.Drawing(score)
        first = d.svg()
        score.set_meta(title="Changed Title")
        self.assertIn("Changed Title", d.svg(score))
        self.assertNotIn("Changed Title", d.svg())
        self.assertEqual(d.svg(), first)
        del score
        gc.collect()
        self.assertEqual(d.svg(), first)


class DrawingRenderTest(unittest.TestCase):
    def setUp(self):
        self.score = m.Score.open(SMALL)
        self.lyric = m.Lyric.load("1: stored")

    def test_without_score(self):
        d = m.Drawing(lyric=self.lyric)
        for call in (d.svg, d.png, d.jpg, d.jpeg, lambda: d.svg(None, None),
                     lambda: d.jpg(jpeg_quality=0), lambda: d.jpeg(lyric=self.lyric, jpeg_quality=255)):
            with self.assertRaises(TypeError) as cm:
                call()
            self.assertEqual(str(cm.exception), SCORE_REQUIRED)
        with self.assertRaises(OverflowError):  # quality is converted before the score check
            d.jpg(jpeg_quality=256)

    def test_raster_methods(self):
        for d, args in ((m.Drawing(self.score), ()), (m.Drawing(), (self.score,))):
            for call in (d.png, d.jpg, d.jpeg):
                for kwargs in ({}, {"lyric": self.lyric}):
                    with self.assertRaises(RuntimeError) as cm:
                        call(*args, **kwargs)
                    self.assertEqual(str(cm.exception), NO_RASTER)
            for call in (d.jpg, d.jpeg):
                for q in (0, 255):
                    with self.assertRaises(RuntimeError):
                        call(*args, jpeg_quality=q)
                for q in (256, -1):
                    with self.assertRaises(OverflowError) as cm:
                        call(*args, jpeg_quality=q)
                    self.assertEqual(str(cm.exception), "out of range integral type conversion attempted")
                with self.assertRaises(TypeError) as cm:
                    call(*args, jpeg_quality=None)
                self.assertTrue(str(cm.exception).startswith("argument 'jpeg_quality': "))
            with self.assertRaises(TypeError) as cm:
                d.png(*args, jpeg_quality=90)
            self.assertEqual(str(cm.exception), "Drawing.png() got an unexpected keyword argument 'jpeg_quality'")

    def test_method_argument_errors(self):
        d = m.Drawing()
        cases = [
            (d.svg, (), {"quality": 1}, "Drawing.svg() got an unexpected keyword argument 'quality'"),
            (d.svg, (None, None, None), {}, "Drawing.svg() takes from 0 to 2 positional arguments but 3 were given"),
            (d.jpg, (None,) * 4, {}, "Drawing.jpg() takes from 0 to 3 positional arguments but 4 were given"),
            (d.svg, (m.Fraction(1),), {}, "argument 'score': 'Fraction' object is not an instance of 'Score'"),
            (d.svg, (self.score, self.score), {}, "argument 'lyric': 'Score' object is not an instance of 'Lyric'"),
            (d.jpeg, (3,), {"jpeg_quality": 900}, "argument 'score': 'int' object is not an instance of 'Score'"),
        ]
        for call, args, kwargs, msg in cases:
            with self.subTest(msg=msg), self.assertRaises(TypeError) as cm:
                call(*args, **kwargs)
            self.assertEqual(str(cm.exception), msg)

    def test_stored_lyric_is_not_dropped_by_none(self):
        d = m.Drawing(self.score, self.lyric)
        stored = d.svg()
        self.assertIn(">stored<", stored)
        self.assertEqual(d.svg(None, None), stored)
        self.assertEqual(d.svg(score=None, lyric=None), stored)
        self.assertEqual(d.svg(self.score), stored)
        other = d.svg(lyric=m.Lyric.load("1: given"))
        self.assertIn(">given<", other)
        self.assertNotIn(">stored<", other)
        self.assertNotIn("lyric-text", classes(m.Drawing(self.score).svg()))

    def test_repeated_and_other_scores(self):
        d = m.Drawing(self.score, note_host="https://x.example")
        self.assertEqual(d.svg(), d.svg())
        example = m.Score.open(EXAMPLE_SUS)
        self.assertEqual(d.svg(example), m.Drawing(example, note_host="https://x.example").svg())
        self.assertEqual(d.svg(example), m.sus_to_svg(EXAMPLE_SUS, note_host="https://x.example"))

    def test_constructor_settings_match_functions(self):
        kwargs = dict(style_sheet=".s {}", note_host="https://n.example", skill=True,
                      music_meta=TWO_SKILLS, target_segment_seconds=3.0, generator="G",
                      note_asset_extension="WEBP")
        self.assertEqual(m.Drawing(self.score, **kwargs).svg(), m.sus_to_svg(SMALL, **kwargs))

    def test_properties(self):
        d = m.Drawing(self.score)
        self.assertEqual(lane_widths(d.svg()), {192})
        d.lane_width = 20
        self.assertEqual(d.lane_width, 20)
        self.assertEqual(lane_widths(d.svg()), {240})
        d.time_height = 400
        self.assertEqual(d.time_height, 400.0)
        self.assertIsInstance(d.time_height, float)
        d.note_size = -3
        self.assertEqual(d.note_size, -3)
        d.note_size = True
        self.assertEqual(d.note_size, 1)
        d.time_height = math.nan
        self.assertTrue(math.isnan(d.time_height))
        d.lane_width = 0
        d.svg()

    def test_property_errors_change_nothing(self):
        d = m.Drawing()
        for name in ("lane_width", "note_size"):
            with self.subTest(name=name):
                for v in (2**31, -2**31 - 1):
                    with self.assertRaises(OverflowError) as cm:
                        setattr(d, name, v)
                    self.assertEqual(str(cm.exception), "out of range integral type conversion attempted")
                with self.assertRaises(TypeError) as cm:
                    setattr(d, name, 1.5)
                self.assertEqual(str(cm.exception),
                                 "argument 'v': 'float' object cannot be interpreted as an integer")
                with self.assertRaises(TypeError) as cm:
                    setattr(d, name, None)
                self.assertTrue(str(cm.exception).startswith("argument 'v': "))
                self.assertEqual(getattr(d, name), 16)
                setattr(d, name, 2**31 - 1)
                self.assertEqual(getattr(d, name), 2**31 - 1)
        with self.assertRaises(TypeError) as cm:
            d.time_height = "1"
        self.assertEqual(str(cm.exception), "argument 'v': must be real number, not str")
        with self.assertRaises(ArithmeticError):
            d.time_height = Unfloatable()
        self.assertEqual(d.time_height, 360.0)
        for name in ("note_size", "time_height", "lane_width"):
            with self.assertRaises(AttributeError) as cm:
                delattr(d, name)
            self.assertEqual(str(cm.exception), "property has no deleter")

    def test_borrows_of_the_drawing(self):
        d = m.Drawing(self.score)
        seen = []

        class Width:
            """Reads and renders the drawing while its setter converts."""

            def __index__(self):
                seen.append(d.lane_width)
                seen.append(len(d.svg()) > 0)
                return 24

        d.lane_width = Width()
        self.assertEqual(seen, [16, True])
        self.assertEqual(d.lane_width, 24)

        class Quality:
            def __init__(self, action):
                self.action = action

            def __index__(self):
                self.action()
                return 90

        for action, msg in ((lambda: d.note_size, "Already mutably borrowed"),
                            (lambda: d.svg(), "Already borrowed"),
                            (lambda: setattr(d, "note_size", 3), "Already borrowed")):
            with self.subTest(msg=msg), self.assertRaises(RuntimeError) as cm:
                d.jpg(jpeg_quality=Quality(action))
            self.assertEqual(str(cm.exception), msg)
        self.assertEqual(d.note_size, 16)
        with self.assertRaises(RuntimeError) as cm:
            d.jpeg()
        self.assertEqual(str(cm.exception), NO_RASTER)


def rss_bytes():
    try:
        with open("/proc/self/statm") as f:
            return int(f.read().split()[1]) * os.sysconf("SC_PAGE_SIZE")
    except OSError:
        return None


class RepeatedCallTest(unittest.TestCase):
    """Thousands of calls of every member, on success and failure paths, leave no growth."""

    def workload(self):
        score = m.Score.open(SMALL)
        lyric = m.Lyric.load("1: a/b")
        rebase = m.Rebase.from_json('{"offset": 0.25, "events": [{"bar": 0, "bpm": 90}]}')
        drawing = m.Drawing(score, lyric, skill=True, music_meta=TWO_SKILLS)

        def fails(exc, fn, *args, **kwargs):
            try:
                fn(*args, **kwargs)
            except exc:
                return
            raise AssertionError(f"{fn} did not raise {exc}")

        def raising_read():
            raise ValueError("read failed")

        bad_reader = type("R", (), {"read": staticmethod(raising_read)})()
        lines_reader = type("L", (), {"readlines": staticmethod(lambda: ["1: x\n", "2: y"])})()

        class Conflict:
            def __index__(self):
                fails(RuntimeError, rebase.apply, score)
                fails(RuntimeError, m.Drawing, score)
                fails(RuntimeError, drawing.svg, score)
                return 1

        def once():
            m.Lyric.load("1: a/b\n2: c").word_count()
            m.Lyric.load(io.StringIO("3: x")).word_count()
            m.Lyric.load(lines_reader)
            fails(TypeError, m.Lyric.load, b"x")
            fails(ValueError, m.Lyric.load, bad_reader)
            m.Rebase.from_json('{"events": [{"bar": 1, "bpm": 100}], "meta": {"title": "t"}}')
            m.Rebase.from_dict({"offset": 1, "events": [{"bar": 0, "bpm": 150}]})
            m.Rebase.load_from_dict({"meta": {"artist": "a"}})
            m.Rebase.load(io.StringIO("{}"))
            fails(ValueError, m.Rebase.from_json, "{")
            fails(ValueError, m.Rebase.load, {"offset": math.nan})
            fails(TypeError, m.Rebase.from_dict, {1})
            fails(ValueError, m.Rebase.load, bad_reader)
            rebase.apply(score)
            rebase.rebase(score=score)
            rebase(score)
            fails(TypeError, rebase, 3)
            fails(TypeError, rebase)
            score.get_time(Conflict())
            m.sus_to_svg(SMALL, lyric_content="1: w", skill=True, music_meta=TWO_SKILLS,
                         rebase_json='{"offset": 0.5}', note_asset_extension="JPG")
            fails(OSError, m.sus_to_svg, MISSING)
            fails(ValueError, m.sus_to_svg, SMALL, rebase_json="[")
            fails(TypeError, m.sus_to_svg, SMALL, music_meta={"skill_score_solo": [0.1, "x"]})
            fails(ValueError, m.sus_to_svg, SMALL, skill=True,
                  music_meta={"skill_score_solo": [0.1]})
            fails(RuntimeError, m.sus_to_png, SMALL, lyric_content="1: w")
            fails(RuntimeError, m.sus_to_jpg, SMALL, jpeg_quality=10, music_meta={})
            fails(OverflowError, m.sus_to_jpeg, SMALL, jpeg_quality=300)
            fails(TypeError, m.sus_to_svg, SMALL, foo=1)
            d = m.Drawing(score, lyric, ".x {}", "https://h", True, TWO_SKILLS, 4.0, "g", "webp")
            d.svg()
            d.svg(score, lyric)
            fails(RuntimeError, d.png)
            fails(RuntimeError, d.jpg, score, jpeg_quality=1)
            fails(RuntimeError, d.jpeg, lyric=lyric)
            fails(TypeError, m.Drawing().svg)
            fails(TypeError, m.Drawing, music_meta={"fever_score": None})
            fails(ValueError, m.Drawing(score, skill=True,
                                        music_meta={"skill_score_solo": [1]}).svg)
            d.lane_width = 18
            d.note_size = d.note_size + 1
            d.time_height = 300.5
            fails(OverflowError, setattr, d, "lane_width", 2**40)
            fails(TypeError, setattr, d, "time_height", "x")
            fails(AttributeError, delattr, d, "note_size")

        return once

    def test_no_growth(self):
        once = self.workload()
        for _ in range(50):
            once()
        gc.collect()
        tracemalloc.start()
        try:
            for _ in range(50):
                once()
            gc.collect()
            base_py, _ = tracemalloc.get_traced_memory()
            base_rss = rss_bytes()
            for _ in range(2000):
                once()
            gc.collect()
            grown_py, _ = tracemalloc.get_traced_memory()
            grown_rss = rss_bytes()
        finally:
            tracemalloc.stop()
        self.assertLess(grown_py - base_py, 256 * 1024)
        # The sanitizer build keeps freed blocks in quarantine, so RSS says nothing there.
        if base_rss is not None and "asan" not in os.environ.get("LD_PRELOAD", ""):
            self.assertLess(grown_rss - base_rss, 2 * 1024 * 1024)


if __name__ == "__main__":
    unittest.main()
