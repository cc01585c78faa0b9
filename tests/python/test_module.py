"""Module registration and the binding conventions shared by every callable."""
import importlib.util
import inspect
import unittest
import weakref

import corvane_scores_rs as m

CLASSES = ["Fraction", "Meta", "Event", "Score", "Lyric", "Rebase", "Drawing"]
FUNCTIONS = ["sus_to_svg", "sus_to_png", "sus_to_jpg", "sus_to_jpeg"]
REGISTRATION_ORDER = CLASSES + FUNCTIONS


def fresh_module():
    spec = importlib.util.find_spec("corvane_scores_rs")
    return spec, importlib.util.module_from_spec(spec)


class RegistrationTest(unittest.TestCase):
    def test_all_lists_registered_names_in_order(self):
        self.assertIs(type(m.__all__), list)
        self.assertEqual(m.__all__, REGISTRATION_ORDER)
        for name in m.__all__:
            self.assertTrue(hasattr(m, name), name)

    def test_functions_are_builtins_of_the_module(self):
        for name in FUNCTIONS:
            with self.subTest(name):
                fn = getattr(m, name)
                self.assertEqual(type(fn).__name__, "builtin_function_or_method")
                self.assertEqual(fn.__name__, name)
                self.assertEqual(fn.__module__, "corvane_scores_rs")
                self.assertIs(fn.__self__, m)

    def test_module_docstring_is_empty(self):
        self.assertEqual(m.__doc__, "")

    def test_exec_on_fresh_module_reuses_type_objects(self):
        spec, mod = fresh_module()
        self.assertFalse(hasattr(mod, "__all__"))
        spec.loader.exec_module(mod)
        self.assertIsNot(mod, m)
        self.assertEqual(mod.__all__, m.__all__)
        for name in CLASSES:
            self.assertIs(getattr(mod, name), getattr(m, name))
        for name in FUNCTIONS:
            self.assertIs(getattr(mod, name).__self__, mod)

    def test_existing_list_all_gets_names_appended(self):
        spec, mod = fresh_module()
        mod.__all__ = ["existing"]
        spec.loader.exec_module(mod)
        self.assertEqual(mod.__all__, ["existing"] + m.__all__)

    def test_list_subclass_all_is_accepted(self):
        class Names(list):
            pass

        spec, mod = fresh_module()
        mod.__all__ = Names()
        spec.loader.exec_module(mod)
        self.assertIsInstance(mod.__all__, Names)
        self.assertEqual(list(mod.__all__), m.__all__)

    def test_tuple_all_fails_before_anything_is_added(self):
        spec, mod = fresh_module()
        mod.__all__ = ("x",)
        with self.assertRaises(TypeError) as cm:
            spec.loader.exec_module(mod)
        self.assertEqual(str(cm.exception), "'tuple' object is not an instance of 'list'")
        self.assertEqual(mod.__all__, ("x",))
        self.assertFalse(hasattr(mod, "Fraction"))

    def test_all_lookup_error_other_than_attribute_error_fails(self):
        spec, mod = fresh_module()

        def module_getattr(name):
            raise ValueError("lookup of " + name)

        mod.__getattr__ = module_getattr
        with self.assertRaises(ValueError) as cm:
            spec.loader.exec_module(mod)
        self.assertEqual(str(cm.exception), "lookup of __all__")

    def test_all_lookup_attribute_error_creates_list(self):
        spec, mod = fresh_module()

        def module_getattr(name):
            raise AttributeError(name)

        mod.__getattr__ = module_getattr
        spec.loader.exec_module(mod)
        self.assertEqual(mod.__dict__["__all__"], m.__all__)


class ClassShapeTest(unittest.TestCase):
    def test_names_and_module(self):
        for name in CLASSES:
            cls = getattr(m, name)
            self.assertEqual(cls.__module__, "builtins")
            self.assertEqual(cls.__name__, name)
            self.assertEqual(cls.__qualname__, name)

    def test_classes_without_constructor_refuse_instantiation(self):
        for name in ["Meta", "Event", "Score", "Lyric", "Rebase"]:
            with self.subTest(name), self.assertRaises(TypeError):
                getattr(m, name)()
        self.assertEqual(str(m.Fraction(3)), "3.")
        self.assertIs(type(m.Drawing()), m.Drawing)

    def test_no_class_can_be_subclassed(self):
        for name in CLASSES:
            with self.subTest(name), self.assertRaises(TypeError):
                type("Derived", (getattr(m, name),), {})

    def test_instances_have_no_dict_and_no_weakrefs(self):
        score = m.Score.from_str("")
        for obj in [m.Fraction(1, 2), score, score.meta, score.get_event(0),
                    m.Lyric.load(""), m.Rebase.from_json("{}"), m.Drawing()]:
            with self.subTest(type(obj).__name__):
                with self.assertRaises(AttributeError):
                    obj.anything = 1
                with self.assertRaises(TypeError):
                    weakref.ref(obj)

    def test_docstrings_and_text_signatures(self):
        self.assertEqual(m.Fraction.__text_signature__, "(numerator, denominator=1)")
        self.assertEqual(m.Score.__doc__, "Python wrapper for Score")
        self.assertEqual(m.Event.__doc__, "Lightweight event view exposed to Python")
        self.assertIsNone(m.Meta.__doc__)
        self.assertEqual(m.Score.get_time_delta.__text_signature__,
                         "($self, bar_from, bar_to)")
        self.assertEqual(str(inspect.signature(m.Score.open)), "(path)")
        self.assertEqual(str(inspect.signature(m.Fraction.limit_denominator)),
                         "(self, /, max_denominator)")
        self.assertEqual(str(inspect.signature(m.Fraction)), "(numerator, denominator=1)")
        # Signature only: nothing after the end marker.
        self.assertEqual(m.Fraction.__doc__, "")
        self.assertIsNone(m.Fraction.limit_denominator.__doc__)
        self.assertEqual(m.Fraction.limit_denominator.__text_signature__,
                         "($self, max_denominator)")
        # Properties carry no docstring.
        for name in CLASSES:
            cls = getattr(m, name)
            for attr, member in vars(cls).items():
                if type(member).__name__ == "getset_descriptor" and not attr.startswith("__"):
                    with self.subTest(cls=name, attr=attr):
                        self.assertIsNone(member.__doc__)


class _Float:
    def __init__(self, fn):
        self.fn = fn

    def __float__(self):
        return self.fn()


class BindingTest(unittest.TestCase):
    """Binding and conversion messages, checked through real callables."""

    def setUp(self):
        self.score = m.Score.from_str("")

    def assertTypeError(self, message, fn, *args, **kwargs):
        with self.assertRaises(TypeError) as cm:
            fn(*args, **kwargs)
        self.assertIs(type(cm.exception), TypeError)
        self.assertEqual(str(cm.exception), message)
        return cm.exception

    def test_too_many_positional(self):
        s = self.score
        self.assertTypeError("Score.get_time() takes 1 positional arguments but 2 were given",
                             s.get_time, 1, 2)
        self.assertTypeError(
            "Score.get_time_delta() takes 2 positional arguments but 3 were given",
            s.get_time_delta, 1, 2, 3)
        self.assertTypeError(
            "Score.set_meta() takes from 0 to 7 positional arguments but 8 were given",
            s.set_meta, *["x"] * 8)
        self.assertTypeError(
            "Fraction.__new__() takes from 1 to 2 positional arguments but 3 were given",
            m.Fraction, 1, 2, 3)

    def test_missing_required(self):
        s = self.score
        self.assertTypeError(
            "Score.get_time_delta() missing 2 required positional arguments: "
            "'bar_from' and 'bar_to'", s.get_time_delta)
        self.assertTypeError(
            "Score.get_time_delta() missing 1 required positional argument: 'bar_to'",
            s.get_time_delta, 1)
        self.assertTypeError(
            "Score.get_time_delta() missing 1 required positional argument: 'bar_from'",
            s.get_time_delta, bar_to=1)
        self.assertTypeError("Score.open() missing 1 required positional argument: 'path'",
                             m.Score.open)

    def test_keyword_errors(self):
        s = self.score
        self.assertTypeError("Score.get_time() got an unexpected keyword argument 'foo'",
                             s.get_time, 1, foo=2)
        self.assertTypeError("Score.get_time() got multiple values for argument 'bar'",
                             s.get_time, 1, bar=2)
        self.assertTypeError("Fraction.__new__() got multiple values for argument 'numerator'",
                             m.Fraction, 1, numerator=2)
        self.assertTypeError(
            "Fraction.__new__() got an unexpected keyword argument 'ünïcode'",
            m.Fraction, 1, **{"ünïcode": 2})

    def test_check_order(self):
        s = self.score
        # Positional count first, then keywords in the caller's order, then missing.
        self.assertTypeError("Score.get_time() takes 1 positional arguments but 2 were given",
                             s.get_time, 1, 2, foo=3)
        self.assertTypeError(
            "Score.get_time_delta() got an unexpected keyword argument 'zzz'",
            s.get_time_delta, zzz=1, aaa=2)
        self.assertTypeError(
            "Score.get_time_delta() got an unexpected keyword argument 'foo'",
            s.get_time_delta, foo=1)
        # A failing binding converts nothing.
        called = []
        self.assertTypeError(
            "Score.get_time_delta() missing 1 required positional argument: 'bar_to'",
            s.get_time_delta, _Float(lambda: called.append(1) or 1.0))
        self.assertEqual(called, [])

    def test_keywords_in_any_order(self):
        self.assertEqual(str(m.Fraction(denominator=4, numerator=2)), "1/2")
        self.assertEqual(str(self.score.get_time_delta(bar_to=2, bar_from=1)), "2.")

    def test_no_argument_methods_refuse_arguments(self):
        with self.assertRaises(TypeError):
            self.score.note_count(1)
        with self.assertRaises(TypeError):
            self.score.title(x=1)

    def test_cast_errors_are_prefixed(self):
        self.assertTypeError("argument 'path': 'int' object is not an instance of 'str'",
                             m.Score.open, 1)
        self.assertTypeError("argument 'path': 'None' is not an instance of 'str'",
                             m.Score.open, None)
        self.assertTypeError("argument 'content': 'bytes' object is not an instance of 'str'",
                             m.Score.from_str, b"")

    def test_prefixed_type_error_keeps_cause(self):
        root = ValueError("root")

        def bad():
            raise TypeError("bad float") from root

        err = self.assertTypeError("argument 'time': bad float",
                                   self.score.get_bar_by_time, _Float(bad))
        self.assertIs(err.__cause__, root)

    def test_only_exact_type_error_is_prefixed(self):
        class MyTypeError(TypeError):
            pass

        def raise_it(exc):
            def fn():
                raise exc
            return fn

        for exc in [ValueError("v"), MyTypeError("sub"), KeyError("k")]:
            with self.subTest(type(exc).__name__):
                with self.assertRaises(type(exc)) as cm:
                    self.score.get_bar_by_time(_Float(raise_it(exc)))
                self.assertIs(cm.exception, exc)
        with self.assertRaises(OverflowError) as cm:
            self.score.get_bar_by_time(10 ** 400)
        self.assertFalse(str(cm.exception).startswith("argument"))

    def test_text_conversion(self):
        class Text(str):
            pass

        self.score.set_meta(title=Text("sub"))
        self.assertEqual(self.score.title(), "sub")
        self.assertIs(type(self.score.title()), str)
        with self.assertRaises(UnicodeEncodeError):
            self.score.set_meta(title="\ud800")
        self.assertEqual(self.score.title(), "sub")

    def test_integer_conversion_accepts_index(self):
        class Index:
            def __index__(self):
                return 6

        f = m.Fraction(Index(), True)
        self.assertEqual((f.numerator, f.denominator), (6, 1))
        self.assertTypeError(
            "argument 'numerator': 'str' object cannot be interpreted as an integer",
            m.Fraction, "1")


if __name__ == "__main__":
    unittest.main()
