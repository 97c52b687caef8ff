#!/usr/bin/env python3
"""How close a dictated text is to what a person would write.

Pure functions over texts, used by text_quality.py:

  tokens        a text as words, numbers and marks (, . ? ! : ; a line feed,
                a paragraph break), each one token
  spoken words  a text read out: lower case, marks dropped, every number
                token replaced by the reading ("twenty three", "nineteen
                eighty four", "two three", "three point five", ...) that
                best matches the words actually said, so that "23" and
                "twenty three" compare equal
  align         Levenshtein alignment of two token lists, with its steps

Run it to check itself: python3 bench/text_metrics.py
"""

import itertools
import re

MARKS = {",": "comma", ".": "period", "?": "question", "!": "exclamation",
         ":": "colon", ";": "semicolon", "\n": "line", "\n\n": "paragraph"}

# Spoken punctuation: the words, and the mark a person writes for them.
COMMANDS = {
    ("comma",): ",", ("period",): ".", ("full", "stop"): ".",
    ("question", "mark"): "?", ("exclamation", "mark"): "!",
    ("exclamation", "point"): "!", ("colon",): ":", ("semicolon",): ";",
    ("new", "line"): "\n", ("new", "paragraph"): "\n\n",
}

# Titles a writer abbreviates that a speaker says whole: Whisper writes "Mr.",
# the transcripts "mister".
ABBREVIATIONS = {"mr": ["mister"], "mrs": ["missus"], "dr": ["doctor"]}

_TOKEN = re.compile(
    r"\n\s*\n\s*|\n"  # a paragraph break (blank line) or a line feed
    r"|\d+(?:[.,:]\d+)*(?:%|st|nd|rd|th)?"  # 23, 1,200, 3.5, 3:30, 50%, 21st
    r"|[^\W\d_]+(?:['’][^\W\d_]+)*"  # a word, with its apostrophes
    r"|[^\s\w]"  # any other mark
)


def tokens(text):
    result = []
    for token in _TOKEN.findall(text):
        if token.startswith("\n"):
            token = "\n\n" if token.count("\n") > 1 else "\n"
        result.append(token.replace("’", "'"))
    return result


def is_mark(token):
    return not any(c.isalnum() for c in token)


def is_number(token):
    return token[:1].isdigit()


def mark_name(token):
    return MARKS.get(token, token)


# Number readings

_ONES = ("zero one two three four five six seven eight nine ten eleven twelve thirteen "
         "fourteen fifteen sixteen seventeen eighteen nineteen").split()
_TENS = "_ _ twenty thirty forty fifty sixty seventy eighty ninety".split()
_SCALES = ((10 ** 9, "billion"), (10 ** 6, "million"), (1000, "thousand"), (100, "hundred"))
_ORDINALS = {"one": "first", "two": "second", "three": "third", "five": "fifth",
             "eight": "eighth", "nine": "ninth", "twelve": "twelfth"}


def _below_hundred(n):
    if n < 20:
        return [_ONES[n]]
    return [_TENS[n // 10]] + ([_ONES[n % 10]] if n % 10 else [])


def cardinal(n, with_and=False):
    """The words of a whole number; with_and puts "and" before the last
    part below a hundred ("one hundred and five")."""
    if n < 100:
        return _below_hundred(n)
    for value, name in _SCALES:
        if n >= value:
            words = cardinal(n // value, with_and) + [name]
            rest = n % value
            if rest:
                words += (["and"] if with_and and rest < 100 else []) + cardinal(rest, with_and)
            return words
    raise AssertionError(n)


def _digits(text):
    return [[_ONES[int(d)] for d in text], [("oh" if d == "0" else _ONES[int(d)]) for d in text]]


def _integer_readings(text):
    n = int(text)
    readings = [cardinal(n), cardinal(n, with_and=True)]
    if 1100 <= n < 10000 and n % 1000 >= 100:  # "twelve hundred (and) five"
        rest = n % 100
        for with_and in (False, True):
            readings.append(_below_hundred(n // 100) + ["hundred"] +
                            ((["and"] if with_and else []) + _below_hundred(rest) if rest else []))
    if 1000 <= n < 10000 and n % 1000 >= 10 or (n >= 1000 and n % 100 == 0 and n % 1000):
        # Years: "nineteen eighty four", "twenty twenty six", "nineteen oh five".
        high, low = divmod(n, 100)
        if low == 0:
            readings.append(_below_hundred(high) + ["hundred"])
        elif low < 10:
            readings.append(_below_hundred(high) + ["oh", _ONES[low]])
        else:
            readings.append(_below_hundred(high) + _below_hundred(low))
    if len(text) > 1:
        readings += _digits(text)
    return readings


def _ordinal(words):
    last = words[-1]
    if last in _ORDINALS:
        last = _ORDINALS[last]
    elif last.endswith("y"):
        last = last[:-1] + "ieth"
    else:
        last += "th"
    return words[:-1] + [last]


def readings(token):
    """Every way of saying a number token, as word lists."""
    text = token.replace(",", "")
    suffix = []
    if text.endswith("%"):
        text, suffix = text[:-1], ["percent"]
    ordinal = text[-2:] in ("st", "nd", "rd", "th")
    if ordinal:
        text = text[:-2]
    if ":" in text:  # a time of day
        hours, minutes = text.split(":", 1)
        m = int(minutes)
        tail = [[]] if m == 0 else [["oh", _ONES[m]]] if m < 10 else [_below_hundred(m)]
        if m == 0:
            tail.append(["o'clock"])
        return [cardinal(int(hours)) + t + suffix for t in tail]
    if "." in text:
        whole, _, fraction = text.partition(".")
        heads = _integer_readings(whole) if whole else [[]]
        return [h + ["point"] + d + suffix for h in heads for d in _digits(fraction)]
    result = _integer_readings(text)
    if ordinal:
        result = [_ordinal(r) for r in result]
    return [r + suffix for r in result]


# Alignment

def align(reference, hypothesis, same=lambda a, b: a == b):
    """Levenshtein alignment: [(reference index or None, hypothesis index
    or None)], in order; a pair is a match or a substitution."""
    rows, cols = len(reference), len(hypothesis)
    cost = [[0] * (cols + 1) for _ in range(rows + 1)]
    for i in range(rows + 1):
        cost[i][0] = i
    for j in range(cols + 1):
        cost[0][j] = j
    for i in range(1, rows + 1):
        for j in range(1, cols + 1):
            cost[i][j] = min(cost[i - 1][j] + 1, cost[i][j - 1] + 1,
                             cost[i - 1][j - 1] + (not same(reference[i - 1], hypothesis[j - 1])))
    steps = []
    i, j = rows, cols
    while i or j:
        if i and j and cost[i][j] == cost[i - 1][j - 1] + (
                not same(reference[i - 1], hypothesis[j - 1])):
            steps.append((i - 1, j - 1))
            i, j = i - 1, j - 1
        elif i and cost[i][j] == cost[i - 1][j] + 1:
            steps.append((i - 1, None))
            i -= 1
        else:
            steps.append((None, j - 1))
            j -= 1
    steps.reverse()
    return steps


def distance(reference, hypothesis):
    previous = list(range(len(hypothesis) + 1))
    for i, a in enumerate(reference, 1):
        current = [i] + [0] * len(hypothesis)
        for j, b in enumerate(hypothesis, 1):
            current[j] = min(previous[j] + 1, current[j - 1] + 1, previous[j - 1] + (a != b))
        previous = current
    return previous[-1]


def matched(steps, reference, hypothesis, same=lambda a, b: a == b):
    """The reference indices that the alignment matches exactly."""
    return {i for i, j in steps
            if i is not None and j is not None and same(reference[i], hypothesis[j])}


# Spoken words

def read_out(text_tokens, said, max_choices=512):
    """[(token, words)] for the non-mark tokens: each word lower-cased, each
    number replaced by the reading that makes the whole closest to the word
    list `said`."""
    parts = [(t, ABBREVIATIONS.get(t.lower(), [t.lower()])) for t in text_tokens
             if not is_mark(t)]
    numbers = [k for k, (t, _) in enumerate(parts) if is_number(t)]
    if not numbers:
        return parts
    options = [readings(parts[k][0]) for k in numbers]

    def words_with(choice):
        chosen = dict(zip(numbers, choice))
        return [w for k, (_, words) in enumerate(parts) for w in chosen.get(k, words)]

    total = 1
    for o in options:
        total *= len(o)
    if total <= max_choices:
        best = min(itertools.product(*options), key=lambda c: distance(said, words_with(c)))
    else:  # one number at a time, the others at their first reading
        best = [o[0] for o in options]
        for n, o in enumerate(options):
            best[n] = min(o, key=lambda r: distance(said, words_with(best[:n] + [r] + best[n + 1:])))
    chosen = dict(zip(numbers, best))
    return [(t, chosen.get(k, words)) for k, (t, words) in enumerate(parts)]


def flatten(parts):
    return [w for _, words in parts for w in words]


def drop_commands(words):
    """The words without any punctuation command phrase."""
    result, k = [], 0
    while k < len(words):
        for phrase in COMMANDS:
            if tuple(words[k:k + len(phrase)]) == phrase:
                k += len(phrase)
                break
        else:
            result.append(words[k])
            k += 1
    return result


def command_spans(words):
    """[(start, end, mark)] of the punctuation command phrases in a word list."""
    spans, k = [], 0
    while k < len(words):
        for phrase, mark in COMMANDS.items():
            if tuple(words[k:k + len(phrase)]) == phrase:
                spans.append((k, k + len(phrase), mark))
                k += len(phrase)
                break
        else:
            k += 1
    return spans


def self_test():
    assert tokens("Hi there, I'm 23.\n\nSee 3.5 and 50% on the 21st:\nok!") == [
        "Hi", "there", ",", "I'm", "23", ".", "\n\n", "See", "3.5", "and", "50%", "on", "the",
        "21st", ":", "\n", "ok", "!"]
    assert tokens("end.\n \nNext") == ["end", ".", "\n\n", "Next"]
    cases = {
        "23": "twenty three", "105": "one hundred and five", "2026": "two thousand twenty six",
        "1984": "nineteen eighty four", "3.5": "three point five", "50%": "fifty percent",
        "21st": "twenty first", "12th": "twelfth", "1965": "nineteen sixty five",
        "2030": "two thousand thirty", "40": "forty", "1905": "nineteen oh five",
        "1200": "twelve hundred", "3:30": "three thirty", "90th": "ninetieth",
        "350": "three hundred and fifty", "2.05": "two point oh five",
    }
    for token, words in cases.items():
        assert words.split() in readings(token), (token, readings(token))
    said = "we sold one hundred and five tickets in nineteen eighty four".split()
    parts = read_out(tokens("We sold 105 tickets in 1984."), said)
    assert flatten(parts) == said, parts
    said = "and mister john dashwood said".split()
    assert flatten(read_out(tokens("And Mr. John Dashwood said"), said)) == said
    assert flatten(read_out(tokens("Mrs. Dr. Drake"), [])) == ["missus", "doctor", "drake"]
    assert drop_commands("a comma b full stop c new line".split()) == ["a", "b", "c"]
    assert command_spans("x question mark y".split()) == [(1, 3, "?")]
    ref, hyp = "a b c d".split(), "a x c e d".split()
    steps = align(ref, hyp)
    assert sum(1 for i, j in steps if i is None or j is None or ref[i] != hyp[j]) == 2
    assert distance(ref, hyp) == 2 and matched(steps, ref, hyp) == {0, 2, 3}


if __name__ == "__main__":
    self_test()
    print("text_metrics: self-test passed")
