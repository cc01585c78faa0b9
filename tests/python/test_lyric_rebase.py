"""Lyric and Rebase classes: loading from texts, files and dicts, and retiming scores."""
import io
import json
import os
import sys
import tempfile
import unittest

import corvane_scores_rs as m

SOURCE = os.environ.get("CORVANE_SOURCE_DIR", os.path.join(os.path.dirname(__file__), "..", ".."))
EXAMPLE_SUS = os.path.join(SOURCE, "examples", "example.sus")
EXAMPLE_LYRICS = os.path.join(SOURCE, "examples", "example.lyrics")
EXAMPLE_REBASE = os.path.join(SOURCE, "examples", "example.rebase.json")

REBASE_DOC = {
    "offset": 0.5,
    "events": [
        {"bar": 0, "bpm": 150, "barLength": 4, "section": "Intro"},
        {"bar": 4, "bpm": 90.5, "sentenceLength": 3},
        {"bar": 2.5, "text": "late", "barLength": 3},
    ],
    "meta": {"title": "Rebased", "genre": "tests", "basebpm": 150},
}


def event_tuple(e):
    return (str(e.bar), e.bpm and str(e.bpm), e.bar_length and str(e.bar_length),
            e.sentence_length, e.speed, e.section, e.text)


def score_content(score):
    """Everything a Score exposes, for comparing two scores."""
    meta = score.meta
    fields = ("title", "subtitle", "artist", "genre", "designer", "difficulty", "playlevel",
              "songid", "wave", "waveoffset", "jacket", "background", "movie", "movieoffset",
              "basebpm")
    return (
        tuple(getattr(meta, f) for f in fields),
        score.note_count(),
        score.event_count(),
        tuple(event_tuple(e) for e in score.events()),
        tuple(str(score.get_time(bar)) for bar in (0, 1, 2.5, 5, 9)),
        m.Drawing(score).svg(),
    )


class Reader:
    """A file-like object with only the methods given."""

    def __init__(self, read=None, readlines=None):
        if read is not None:
            self.read = read
        if readlines is not None:
            self.readlines = readlines


class LyricTest(unittest.TestCase):
    def test_word_counts(self):
        self.assertEqual(m.Lyric.load("1: a/b\n2: c").word_count(), 3)
        self.assertEqual(m.Lyric.load("").word_count(), 0)
        self.assertEqual(m.Lyric.load(content="3: x").word_count(), 1)

    def test_loads_from_text_file_and_readlines(self):
        with open(EXAMPLE_LYRICS, encoding="utf-8") as f:
            from_file = m.Lyric.load(f)
        with open(EXAMPLE_LYRICS, encoding="utf-8") as f:
            text = f.read()
        self.assertEqual(from_file.word_count(), m.Lyric.load(text).word_count())
        self.assertEqual(from_file.word_count(), 13)
        # Lines joined as they are, so the first line's feed separates them.
        lines = Reader(readlines=lambda: ["1: a/b\n", "2: c"])
        self.assertEqual(m.Lyric.load(lines).word_count(), 3)
        self.assertEqual(m.Lyric.load(io.StringIO("5: x/y/z")).word_count(), 3)

    def test_refused_inputs(self):
        for bad in (b"1: a", 3, None, [1]):
            with self.subTest(bad=bad), self.assertRaises(TypeError) as cm:
                m.Lyric.load(bad)
            self.assertEqual(str(cm.exception), "expected a string or a file-like object")
        with open(EXAMPLE_LYRICS, "rb") as f, self.assertRaises(TypeError) as cm:
            m.Lyric.load(f)
        self.assertEqual(str(cm.exception), "'bytes' object is not an instance of 'str'")

    def test_file_like_errors_pass_unchanged(self):
        def fail():
            raise KeyError("boom")

        with self.assertRaises(KeyError):
            m.Lyric.load(Reader(read=fail))

        class ReadProperty:
            @property
            def read(self):
                raise ValueError("no reading")

        with self.assertRaises(ValueError) as cm:
            m.Lyric.load(ReadProperty())
        self.assertEqual(str(cm.exception), "no reading")

    def test_reading_precedence(self):
        # A text wins over its own read; read wins over readlines.
        class ReadableText(str):
            def read(self):
                return "1: a/b/c"

        self.assertEqual(m.Lyric.load(ReadableText("1: a")).word_count(), 1)
        # A text that cannot be encoded is not a text: its read is used.
        self.assertEqual(m.Lyric.load(ReadableText("\ud800")).word_count(), 3)
        with self.assertRaises(TypeError) as cm:
            m.Lyric.load("\ud800")
        self.assertEqual(str(cm.exception), "expected a string or a file-like object")

        def never():
            raise AssertionError("readlines looked at")

        self.assertEqual(m.Lyric.load(Reader(read=lambda: "1: a", readlines=never)).word_count(), 1)
        with self.assertRaises(TypeError) as cm:
            m.Lyric.load(Reader(read=lambda: None, readlines=lambda: ["1: a"]))
        self.assertEqual(str(cm.exception), "'None' is not an instance of 'str'")

    def test_missing_attribute_by_attribute_error_subclass(self):
        class Missing(AttributeError):
            pass

        class LinesOnly:
            def __getattr__(self, name):
                if name == "readlines":
                    return lambda: ["1: a\n", "2: b"]
                raise Missing(name)

        self.assertEqual(m.Lyric.load(LinesOnly()).word_count(), 2)

        class ReadLookupFails:
            def __getattr__(self, name):
                raise KeyError(name)

        with self.assertRaises(KeyError):
            m.Lyric.load(ReadLookupFails())

        class LinesLookupFails:
            def __getattr__(self, name):
                if name == "read":
                    raise AttributeError(name)
                raise LookupError(name)

        with self.assertRaises(LookupError):
            m.Lyric.load(LinesLookupFails())

    def test_readlines_results(self):
        accepted = [
            ([], 0),
            (("1: a\n", "2: b/c"), 3),
            (["1: a", "/b"], 2),  # joined without a line ending added
        ]
        for lines, words in accepted:
            with self.subTest(lines=lines):
                self.assertEqual(m.Lyric.load(Reader(readlines=lambda: lines)).word_count(), words)
        refused = [
            ("1: a", "Can't extract `str` to `Vec`"),
            ({"1: a": 1}, "'dict' object is not an instance of 'Sequence'"),
            ((x for x in ["1: a"]), "'generator' object is not an instance of 'Sequence'"),
            (None, "'None' is not an instance of 'Sequence'"),
            (["1: a", b"2: b"], "'bytes' object is not an instance of 'str'"),
        ]
        for lines, message in refused:
            with self.subTest(lines=lines), self.assertRaises(TypeError) as cm:
                m.Lyric.load(Reader(readlines=lambda: lines))
            self.assertEqual(str(cm.exception), message)

    def test_binding(self):
        with self.assertRaises(TypeError) as cm:
            m.Lyric.load()
        self.assertEqual(str(cm.exception),
                         "Lyric.load() missing 1 required positional argument: 'content'")
        with self.assertRaises(TypeError) as cm:
            m.Lyric.load("", text="")
        self.assertEqual(str(cm.exception), "Lyric.load() got an unexpected keyword argument 'text'")
        with self.assertRaises(TypeError):
            m.Lyric.load("").word_count(1)

    def test_class_shape(self):
        with self.assertRaises(TypeError):
            m.Lyric()
        self.assertEqual(m.Lyric.__doc__, "Python wrapper for Lyric")
        self.assertEqual(m.Lyric.__module__, "builtins")
        self.assertEqual(m.Lyric.load.__text_signature__, "(content)")
        self.assertEqual(m.Lyric.load.__doc__, "Load lyrics from a string or a file-like object")
        self.assertEqual(m.Lyric.word_count.__text_signature__, "($self)")
        self.assertEqual(m.Lyric.word_count.__doc__, "Get the number of words")
        with self.assertRaises(TypeError):
            type("Sub", (m.Lyric,), {})


class RebaseLoadingTest(unittest.TestCase):
    def setUp(self):
        self.score = m.Score.open(EXAMPLE_SUS)

    def applied(self, rebase):
        return score_content(rebase.apply(self.score))

    def test_empty_documents(self):
        empty = self.applied(m.Rebase.from_json("{}"))
        for text in ("[]", "null", "3", '"x"', '{"offset": "1", "events": {}, "meta": []}'):
            with self.subTest(text=text):
                self.assertEqual(self.applied(m.Rebase.from_json(text)), empty)
        for obj in ([], None, 3, "x", {}):
            with self.subTest(obj=obj):
                self.assertEqual(self.applied(m.Rebase.from_dict(obj)), empty)

    def test_invalid_json_messages(self):
        for text in ("", "{", "{} x", "{'a': 1}"):
            with self.subTest(text=text):
                with self.assertRaises(ValueError) as cm:
                    m.Rebase.from_json(text)
                msg = str(cm.exception)
                self.assertTrue(msg.startswith("Invalid JSON: "), msg)
                self.assertIn("line 1", msg)
                with self.assertRaises(ValueError) as cm:
                    m.Rebase.load(text)
                self.assertEqual(str(cm.exception), msg)
                with self.assertRaises(ValueError) as cm:
                    m.Rebase.load(io.StringIO(text))
                self.assertEqual(str(cm.exception), msg)
                # The one-call functions wrap the same parser message.
                with self.assertRaises(ValueError) as cm:
                    m.sus_to_svg(EXAMPLE_SUS, rebase_json=text)
                self.assertEqual(str(cm.exception),
                                 "Invalid rebase JSON: " + msg[len("Invalid JSON: "):])

    def test_nan_in_dict(self):
        for doc in ({"offset": float("nan")}, {"events": [{"bar": float("inf")}]}):
            with self.subTest(doc=doc):
                for load in (m.Rebase.load, m.Rebase.from_dict, m.Rebase.load_from_dict):
                    with self.assertRaises(ValueError) as cm:
                        load(doc)
                    self.assertTrue(str(cm.exception).startswith("Invalid rebase dict: "),
                                    str(cm.exception))
                    self.assertIn("column", str(cm.exception))

    def test_from_json_argument(self):
        with self.assertRaises(TypeError) as cm:
            m.Rebase.from_json(1)
        self.assertEqual(str(cm.exception),
                         "argument 'json_str': 'int' object is not an instance of 'str'")
        with self.assertRaises(TypeError) as cm:
            m.Rebase.from_json(io.StringIO("{}"))
        self.assertTrue(str(cm.exception).startswith("argument 'json_str': "))
        self.assertEqual(self.applied(m.Rebase.from_json(json_str="{}")),
                         self.applied(m.Rebase.from_json("{}")))

    def test_load_roads(self):
        with open(EXAMPLE_REBASE, encoding="utf-8") as f:
            text = f.read()
        expected = self.applied(m.Rebase.from_json(text))
        self.assertEqual(self.applied(m.Rebase.load(text)), expected)
        with open(EXAMPLE_REBASE, encoding="utf-8") as f:
            self.assertEqual(self.applied(m.Rebase.load(f)), expected)
        lines = text.splitlines(keepends=True)
        self.assertEqual(self.applied(m.Rebase.load(Reader(readlines=lambda: lines))), expected)
        self.assertEqual(self.applied(m.Rebase.load(json.loads(text))), expected)

        # A dict subclass takes the dict road even when it could be read.
        class ReadableDict(dict):
            def read(self):
                return "not json"

        self.assertEqual(self.applied(m.Rebase.load(ReadableDict(json.loads(text)))), expected)
        # A list is not a dict for load, while from_dict serialises it.
        with self.assertRaises(TypeError) as cm:
            m.Rebase.load([1, 2])
        self.assertEqual(str(cm.exception), "expected a string or a file-like object")
        with open(EXAMPLE_REBASE, "rb") as f, self.assertRaises(TypeError) as cm:
            m.Rebase.load(f)
        self.assertEqual(str(cm.exception), "'bytes' object is not an instance of 'str'")

    def test_dict_json_and_text_give_equal_rebases(self):
        expected = self.applied(m.Rebase.from_json(json.dumps(REBASE_DOC)))
        self.assertEqual(self.applied(m.Rebase.from_dict(REBASE_DOC)), expected)
        self.assertEqual(self.applied(m.Rebase.load_from_dict(dict=REBASE_DOC)), expected)
        self.assertEqual(self.applied(m.Rebase.load(REBASE_DOC)), expected)
        # Non-ASCII text survives the escapes json.dumps writes.
        doc = {"meta": {"title": "暁 – ünïcode"}}
        self.assertEqual(m.Rebase.from_dict(doc).apply(m.Score.from_str("")).meta.title,
                         "暁 – ünïcode")
        # The document really applied: the offset and the tempo moved the notes.
        self.assertNotEqual(expected, self.applied(m.Rebase.from_json("{}")))

    def test_dict_road_errors_pass_unchanged(self):
        with self.assertRaises(TypeError) as cm:
            m.Rebase.from_dict({1, 2})
        self.assertEqual(str(cm.exception), "Object of type set is not JSON serializable")
        with self.assertRaises(TypeError) as cm:
            m.Rebase.load({"meta": object()})
        self.assertEqual(str(cm.exception), "Object of type object is not JSON serializable")

    def test_dict_road_uses_loaded_json_dumps(self):
        calls = []
        original = json.dumps

        def fake(*args, **kwargs):
            calls.append((args, kwargs))
            return fake.result

        try:
            json.dumps = fake
            fake.result = "{}"
            doc = {"offset": 1}
            m.Rebase.from_dict(doc)
            self.assertEqual(calls, [((doc,), {})])
            self.assertIs(calls[0][0][0], doc)
            fake.result = b"{}"
            with self.assertRaises(TypeError) as cm:
                m.Rebase.load_from_dict({})
            self.assertEqual(str(cm.exception), "'bytes' object is not an instance of 'str'")
            fake.result = "{"
            with self.assertRaises(ValueError) as cm:
                m.Rebase.from_dict({})
            self.assertTrue(str(cm.exception).startswith("Invalid rebase dict: "))

            def raising(obj):
                raise OverflowError("custom")

            json.dumps = raising
            with self.assertRaises(OverflowError) as cm:
                m.Rebase.load({})
            self.assertEqual(str(cm.exception), "custom")
        finally:
            json.dumps = original

    def test_import_failure_passes_unchanged(self):
        saved = sys.modules.get("json")
        sys.modules["json"] = None  # makes "import json" raise ImportError
        try:
            with self.assertRaises(ImportError):
                m.Rebase.from_dict({})
        finally:
            sys.modules["json"] = saved
        m.Rebase.from_dict({})

    def test_class_shape(self):
        with self.assertRaises(TypeError):
            m.Rebase()
        with self.assertRaises(TypeError):
            type("Sub", (m.Rebase,), {})
        self.assertEqual(m.Rebase.__doc__, "Python wrapper for Rebase")
        docs = {
            "load": ("(value)", ""),
            "from_json": ("(json_str)", "Load from JSON string"),
            "from_dict": ("(dict)", "Load from a Python dict (serialised to JSON internally)"),
            "load_from_dict": ("(dict)", ""),
            "apply": ("($self, score)", "Apply rebase to a score"),
            "rebase": ("($self, score)", ""),
        }
        for name, (sig, doc) in docs.items():
            with self.subTest(name=name):
                member = getattr(m.Rebase, name)
                self.assertEqual(member.__text_signature__, sig)
                self.assertEqual(member.__doc__ or "", doc)


class RebaseApplyTest(unittest.TestCase):
    def setUp(self):
        self.score = m.Score.open(EXAMPLE_SUS)
        with open(EXAMPLE_REBASE, encoding="utf-8") as f:
            self.rebase = m.Rebase.load(f)

    def test_four_ways_give_distinct_equal_scores(self):
        before = score_content(self.score)
        results = [
            self.rebase.apply(self.score),
            self.rebase.rebase(self.score),
            self.rebase(self.score),
            self.rebase(score=self.score),
            self.rebase.apply(score=self.score),
        ]
        self.assertEqual(len({id(r) for r in results}), len(results))
        for r in results:
            self.assertIsInstance(r, m.Score)
            self.assertIsNot(r, self.score)
        contents = [score_content(r) for r in results]
        for c in contents[1:]:
            self.assertEqual(c, contents[0])
        self.assertEqual(score_content(self.score), before)
        # The rebase took effect: the document's sections and genre are there.
        sections = [e.section for e in results[0].events() if e.section]
        self.assertEqual(sections, ["Intro", "Verse", "Chorus", "Outro"])
        self.assertEqual(results[0].meta.genre, "example")
        self.assertEqual(results[0].title(), "Corvane Sunrise")

    def test_results_are_independent(self):
        a = self.rebase(self.score)
        b = self.rebase(self.score)
        a.set_meta(title="changed")
        self.assertEqual(b.title(), "Corvane Sunrise")
        self.assertEqual(self.score.title(), "Corvane Sunrise")

    def test_score_argument_errors(self):
        for call in (self.rebase.apply, self.rebase.rebase, self.rebase):
            with self.subTest(call=call):
                with self.assertRaises(TypeError) as cm:
                    call(3)
                self.assertEqual(str(cm.exception),
                                 "argument 'score': 'int' object is not an instance of 'Score'")
                with self.assertRaises(TypeError) as cm:
                    call(m.Fraction(1))
                self.assertEqual(
                    str(cm.exception),
                    "argument 'score': 'Fraction' object is not an instance of 'Score'")
                with self.assertRaises(TypeError) as cm:
                    call(None)
                self.assertEqual(str(cm.exception),
                                 "argument 'score': 'None' is not an instance of 'Score'")

    def test_call_binding_messages(self):
        cases = [
            ((), {}, "Rebase.__call__() missing 1 required positional argument: 'score'"),
            ((1, 2), {}, "Rebase.__call__() takes 1 positional arguments but 2 were given"),
            ((self.score,), {"score": self.score},
             "Rebase.__call__() got multiple values for argument 'score'"),
            ((), {"scor": self.score}, "Rebase.__call__() got an unexpected keyword argument 'scor'"),
        ]
        for args, kwargs, msg in cases:
            with self.subTest(msg=msg), self.assertRaises(TypeError) as cm:
                self.rebase(*args, **kwargs)
            self.assertEqual(str(cm.exception), msg)
        with self.assertRaises(TypeError) as cm:
            self.rebase.apply()
        self.assertEqual(str(cm.exception),
                         "Rebase.apply() missing 1 required positional argument: 'score'")
        with self.assertRaises(TypeError) as cm:
            self.rebase.rebase(self.score, self.score)
        self.assertEqual(str(cm.exception),
                         "Rebase.rebase() takes 1 positional arguments but 2 were given")

    def test_score_in_use_is_refused_and_released(self):
        seen = []
        rebase, score = self.rebase, self.score

        class Bar:
            def __index__(self):
                for call in (rebase.apply, rebase.rebase, rebase):
                    try:
                        call(score)
                    except RuntimeError as e:
                        seen.append(str(e))
                return 1

        score.get_time(Bar())  # holds the score exclusively while converting
        self.assertEqual(seen, ["Already borrowed"] * 3)
        # Every borrow was released on the failing paths.
        self.assertIsInstance(rebase(score), m.Score)
        score.set_meta(title="free")


if __name__ == "__main__":
    unittest.main()
