"""The Fraction class and the loose bar reading that accepts Fraction-like values."""
import math
import unittest

from corvane_scores_rs import Fraction, Score

I64_MAX = 2 ** 63 - 1


def parts(f):
    return (f.numerator, f.denominator)


class FractionTest(unittest.TestCase):
    def test_construction_reduces_and_prints(self):
        cases = [
            ((6, 4), (3, 2), "1.+1/2"),
            ((1, -2), (-1, 2), "-1/2"),
            ((0, 5), (0, 1), "0."),
            ((7,), (7, 1), "7."),
            ((-7, 2), (-7, 2), "-3.+-1/2"),
            ((True, 2), (1, 2), "1/2"),
            ((-4, -6), (2, 3), "2/3"),
        ]
        for args, expected, text in cases:
            with self.subTest(args):
                f = Fraction(*args)
                self.assertEqual(parts(f), expected)
                self.assertEqual(str(f), text)
                self.assertEqual(repr(f), text)

    def test_refused_arguments_name_the_argument(self):
        for args, kwargs, name in [
            ((2.5,), {}, "numerator"),
            (("1/2",), {}, "numerator"),
            ((None,), {}, "numerator"),
            ((1, None), {}, "denominator"),
            ((1,), {"denominator": 1.0}, "denominator"),
        ]:
            with self.subTest(args=args, kwargs=kwargs):
                with self.assertRaises(TypeError) as cm:
                    Fraction(*args, **kwargs)
                self.assertTrue(str(cm.exception).startswith(f"argument '{name}': "),
                                str(cm.exception))

    def test_out_of_range_integers_raise_overflow_unprefixed(self):
        for args in [(2 ** 63,), (1, -(2 ** 63) - 1), (-(2 ** 64),)]:
            with self.subTest(args), self.assertRaises(OverflowError) as cm:
                Fraction(*args)
            self.assertFalse(str(cm.exception).startswith("argument"))
        self.assertEqual(parts(Fraction(I64_MAX, 1)), (I64_MAX, 1))
        self.assertEqual(parts(Fraction(-(2 ** 63))), (-(2 ** 63), 1))

    def test_values_outside_the_model(self):
        with self.assertRaises(ZeroDivisionError) as cm:
            Fraction(1, 0)
        self.assertEqual(str(cm.exception), "Fraction(1, 0)")
        # Moving the sign of -2**63 to the numerator does not fit.
        with self.assertRaises(OverflowError):
            Fraction(-(2 ** 63), -1)

    def test_float_conversion(self):
        self.assertEqual(float(Fraction(1, 3)), 1 / 3)
        self.assertEqual(float(Fraction(-7, 2)), -3.5)
        self.assertEqual(float(Fraction(0, 9)), 0.0)
        # Each part rounds to a double before the one division.
        self.assertEqual(float(Fraction(2 ** 53 + 1, 2 ** 53)), float(2 ** 53 + 1) / float(2 ** 53))

    def test_limit_denominator(self):
        pi = Fraction(3141592653589793, 1000000000000000)
        self.assertEqual(parts(pi.limit_denominator(None)), (3126535, 995207))
        self.assertEqual(parts(pi.limit_denominator(10)), (22, 7))
        self.assertEqual(parts(pi.limit_denominator(max_denominator=1)), (3, 1))
        self.assertEqual(parts(pi), (3141592653589793, 1000000000000000))
        third = Fraction(1, 3)
        same = third.limit_denominator(1000000)
        self.assertIsNot(same, third)
        self.assertEqual(parts(same), (1, 3))
        self.assertEqual(parts(Fraction(-7, 3).limit_denominator(2)), (-5, 2))

    def test_limit_denominator_refusals(self):
        f = Fraction(1, 3)
        with self.assertRaises(TypeError):
            f.limit_denominator()
        for bound in [0, -5]:
            with self.subTest(bound), self.assertRaises(ValueError) as cm:
                f.limit_denominator(bound)
            self.assertEqual(str(cm.exception), "max_denominator should be at least 1")
        with self.assertRaises(TypeError) as cm:
            f.limit_denominator(1.5)
        self.assertTrue(str(cm.exception).startswith("argument 'max_denominator': "))
        with self.assertRaises(OverflowError):
            f.limit_denominator(2 ** 64)

    def test_immutable_and_identity_semantics(self):
        f = Fraction(1, 2)
        for attr in ["numerator", "denominator"]:
            with self.subTest(attr), self.assertRaises(AttributeError):
                setattr(f, attr, 5)
        self.assertEqual(parts(f), (1, 2))
        self.assertNotEqual(Fraction(1, 2), Fraction(1, 2))
        self.assertEqual(f, f)
        self.assertEqual(hash(f), object.__hash__(f))
        with self.assertRaises(TypeError):
            f + f
        with self.assertRaises(TypeError):
            int(f)


class FractionLikeTest(unittest.TestCase):
    """Readings of a bar argument, observed as times of an empty score (2 s a bar)."""

    def setUp(self):
        self.score = Score.from_str("")

    def time_of(self, bar):
        return parts(self.score.get_time(bar))

    def test_accepted_readings(self):
        class Index:
            def __index__(self):
                return 3

        class Both:
            def __index__(self):
                return 2

            def __float__(self):
                return 0.5

        class FloatOnly:
            def __float__(self):
                return 0.25

        cases = [
            (Fraction(3, 2), (3, 1)),
            (2, (4, 1)),
            (True, (2, 1)),
            (Index(), (6, 1)),
            (Both(), (4, 1)),  # the integer reading comes first
            (FloatOnly(), (1, 2)),
            (0.5, (1, 1)),
            (0.1, (1, 5)),
            (float("nan"), (0, 1)),
            ("3/4", (3, 2)),
            (" 2 ", (4, 1)),
            ("1.5", (3, 1)),
            (" 1 / 4 ", (1, 2)),
        ]
        for bar, expected in cases:
            with self.subTest(bar=bar):
                self.assertEqual(self.time_of(bar), expected)

    def test_saturated_values_reach_the_timing(self):
        # Infinity and integers beyond 64 bits saturate to 2**63 - 1 bars,
        # whose time no longer fits: the core's overflow, not a refusal.
        for bar in [float("inf"), 2 ** 70, I64_MAX]:
            with self.subTest(bar=bar), self.assertRaises(OverflowError):
                self.score.get_time(bar)

    def test_refused_values(self):
        for bar in [10 ** 400, "abc", None, [1], b"1", "", "1/", "\ud800", object()]:
            with self.subTest(bar=bar), self.assertRaises(TypeError) as cm:
                self.score.get_time(bar)
            self.assertEqual(str(cm.exception), "expected a Fraction-compatible value")

    def test_zero_denominator_text(self):
        with self.assertRaises(ZeroDivisionError):
            self.score.get_time("1/0")
        with self.assertRaises(ZeroDivisionError):
            self.score.get_time_delta(0, "3/0")

    def test_errors_of_loose_readings_are_discarded(self):
        class Broken:
            def __index__(self):
                raise ValueError("index")

            def __float__(self):
                raise KeyError("float")

        with self.assertRaises(TypeError) as cm:
            self.score.get_time(Broken())
        self.assertEqual(str(cm.exception), "expected a Fraction-compatible value")
        self.assertTrue(math.isfinite(float(self.score.get_time(1))))


if __name__ == "__main__":
    unittest.main()
