#!/usr/bin/env python3
"""Looks for request texts that end the helper: drives one synthesis helper
with generated texts (dotted letters, abbreviations, initials, Han text with
punctuation, long words, digits, mixed scripts, random characters, and
mutations of these) and records every text after which the process is gone,
with its exit status or signal; the helper is started again and the run goes
on. Afterwards a few findings of each outcome and generator are shrunk, each
candidate in a fresh process.

Run by hand, not in CI (it takes as long as it is given). With a Kokoro
fixture:

  /usr/bin/python3 tests/fixtures/make_tts_model.py kokoro /tmp/k
  nice -n 19 scripts/fuzz_texts.py build/velmora-corvane-tts /tmp/k \\
      --minutes 60 --out /tmp/fuzz-texts

The fixture's espeak-ng-data holds the English dictionary only, and letters
of a script whose dictionary is missing can crash the runtime too; to keep to
what a complete model directory meets, replace that directory by a link to
Debian's (/usr/lib/x86_64-linux-gnu/espeak-ng-data).

Options: --model (default kokoro-82m-v1.1-int8; supertonic-3-int8 works the
same way), --seed, --timeout (seconds one request may take, default 60),
--minimise N (findings shrunk per outcome and generator, default 2) and
--minimise-seconds (time for each, default 180).

Writes OUT/findings.jsonl (one record a finding: generator, outcome, text)
and OUT/minimised.jsonl (the shrunk texts), and prints a summary: texts sent,
replies by kind, findings by outcome and generator. A text counts as a
finding when the helper ends without a reply (exit status or signal) or does
not answer within the timeout. A finding may need the requests before it in
the same process; such a text does not shrink. Standard library only.
"""
import argparse
import collections
import json
import os
import random
import signal
import struct
import subprocess
import sys
import threading
import time

KOKORO = "kokoro-82m-v1.1-int8"
MAX_CHARS = 10000  # the helper refuses longer texts before the runtime

# ----------------------------------------------------------------------------
# The helper


def outcome_of(returncode):
    if returncode is None:
        return "hang"
    if returncode < 0:
        try:
            return "signal " + signal.Signals(-returncode).name
        except ValueError:
            return f"signal {-returncode}"
    return f"exit {returncode}"


class Helper:
    """One helper process, started on demand and again after it ends."""

    def __init__(self, path, model_id, model_dir, timeout):
        self.path, self.model_id, self.model_dir = path, model_id, model_dir
        self.timeout = timeout
        self.child = None

    def _start(self):
        # The runtime writes diagnostics to standard error; they are discarded
        # so that a full pipe never stalls the helper.
        self.child = subprocess.Popen([self.path], stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                                      stderr=subprocess.DEVNULL)

    def _read(self, n, out):
        data = b""
        while len(data) < n:
            chunk = self.child.stdout.read(n - len(data))
            if not chunk:
                break
            data += chunk
        out.append(data)

    def say(self, text):
        """Returns ("wav", samples), ("error", message) or ("gone", outcome)."""
        if self.child is None:
            self._start()
        body = json.dumps({"model_id": self.model_id, "model_dir": self.model_dir, "sid": 0,
                           "language": "en", "speed": 1.0, "text": text}).encode("utf-8")
        try:
            self.child.stdin.write(struct.pack("<I", len(body)) + body)
            self.child.stdin.flush()
        except BrokenPipeError:
            return self._gone()
        got = []
        reader = threading.Thread(target=self._read, args=(5, got), daemon=True)
        reader.start()
        reader.join(self.timeout)
        if reader.is_alive():
            self.child.kill()
            self.child.wait()
            reader.join()
            self.child = None
            return ("gone", "hang")
        header = got[0]
        if len(header) < 5:
            return self._gone()
        length = struct.unpack("<I", header[1:])[0]
        got = []
        self._read(length, got)
        payload = got[0]
        if header[0] == 0:
            return ("wav", (len(payload) - 44) // 2)
        return ("error", payload.decode("utf-8", "replace"))

    def _gone(self):
        code = self.child.wait()
        self.child = None
        return ("gone", outcome_of(code))

    def close(self):
        if self.child is not None:
            self.child.stdin.close()
            self.child.wait()
            self.child = None


# ----------------------------------------------------------------------------
# Texts

ASCII_LETTERS = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ"
OTHER_LETTERS = "éèêëàâäçñøåæœßþðÉÀÇÑØÅÆŒαβγδλπωΑΩдлжщяДЖЯאבגابتअकखกขㄱ가あアｱ"
HAN_KNOWN = "你好"  # in the fixture's lexicon
HAN_OTHER = "中文字人大小国日月山水火"
SOLO_PUNCT = ";:,.!?—…\"()“”"  # a stretch of exactly one of these skips espeak
MORE_PUNCT = "-–'’‘`´*/\\|&@#%^_~<>[]{}=+、。，！？；：「」『』《》·•¡¿«»"
SPACES = [" ", "  ", "\t", "\n", "\u00a0", "\u3000", ""]
ABBREVIATIONS = ["U.S.", "U.K.", "U.S.A.", "e.g.", "i.e.", "a.m.", "p.m.", "Dr.", "Mr.", "Mrs.",
                 "St.", "Ph.D.", "etc.", "vs.", "No.", "A.I.", "D.C.", "N.A.S.A.", "J.", "R.",
                 "Jr.", "Sr.", "Inc.", "Ltd.", "Co.", "approx.", "dept.", "Fig.", "cf.", "et al.",
                 "a.k.a.", "R.S.V.P.", "B.Sc.", "M.D.", "Ave.", "Mt.", "Gen.", "Prof."]
WORDS = ["the", "quick", "brown", "fox", "jumps", "over", "lazy", "dog", "hello", "world",
         "read", "this", "sentence", "aloud", "please", "and", "then", "stop", "number"]
SCRIPT_RANGES = [(0x41, 0x7A), (0xC0, 0x24F), (0x370, 0x3FF), (0x400, 0x4FF), (0x530, 0x58F),
                 (0x590, 0x5FF), (0x600, 0x6FF), (0x900, 0x97F), (0x980, 0x9FF), (0xE00, 0xE7F),
                 (0x10A0, 0x10FF), (0x1100, 0x11FF), (0x3040, 0x30FF), (0x4E00, 0x9FFF),
                 (0xAC00, 0xD7A3), (0x2000, 0x206F), (0x2100, 0x22FF), (0x2460, 0x24FF),
                 (0xFF00, 0xFFEF), (0x1F300, 0x1F6FF), (0x1D400, 0x1D7FF)]


def pick(rng, seq):
    return seq[rng.randrange(len(seq))]


def letter(rng):
    return pick(rng, ASCII_LETTERS) if rng.random() < 0.7 else pick(rng, OTHER_LETTERS)


def scalar(rng):
    lo, hi = pick(rng, SCRIPT_RANGES)
    return chr(rng.randint(lo, hi))


def big(rng, top):
    """A count, mostly small, sometimes near `top`."""
    return int(top ** rng.random())


def dotted_letters(rng):
    n = big(rng, 260)
    same = rng.random() < 0.5
    first = letter(rng)
    sep = pick(rng, ["", "", "", " ", "  "])
    parts = [(first if same else letter(rng)) + "." for _ in range(n)]
    text = sep.join(parts)
    if rng.random() < 0.3:
        text = pick(rng, WORDS) + " " + text
    if rng.random() < 0.3:
        text += " " + pick(rng, WORDS)
    return text


def abbreviations(rng):
    n = big(rng, 220)
    sep = pick(rng, [" ", "", ", ", " and ", "  "])
    return sep.join(pick(rng, ABBREVIATIONS) for _ in range(n))


def initials(rng):
    out = []
    for _ in range(big(rng, 60)):
        out.append(" ".join(letter(rng).upper() + "." for _ in range(big(rng, 40))))
        out.append(pick(rng, ["Tolkien", "Smith", "and", ",", "Lee."]))
    return " ".join(out)


def cjk_punctuation(rng):
    n = big(rng, 1200)
    han = HAN_OTHER if rng.random() < 0.5 else HAN_KNOWN + HAN_OTHER
    punct = pick(rng, [SOLO_PUNCT, ".", "。，", SOLO_PUNCT + MORE_PUNCT])
    out = []
    for _ in range(n):
        out.append("".join(pick(rng, han) for _ in range(rng.randint(0, 3))))
        out.append("".join(pick(rng, punct) for _ in range(rng.choice([1, 1, 1, 2]))))
        if rng.random() < 0.05:
            out.append(pick(rng, SPACES))
    return "".join(out)


def long_word(rng):
    n = big(rng, 4000)
    kind = rng.randrange(5)
    if kind == 0:
        return "".join(pick(rng, ASCII_LETTERS) for _ in range(n))
    if kind == 1:
        syllable = pick(rng, ["ba", "ka", "tion", "str", "ough", "x", "qu", "é", "ж"])
        return syllable * max(1, n // len(syllable))
    if kind == 2:
        return "-".join(pick(rng, WORDS) for _ in range(max(1, n // 5)))
    if kind == 3:
        return "'".join(letter(rng) * rng.randint(1, 4) for _ in range(max(1, n // 3)))
    return "".join(letter(rng) for _ in range(n))


def digits(rng):
    kind = rng.randrange(8)
    n = big(rng, 3000)
    if kind == 0:
        return "".join(str(rng.randrange(10)) for _ in range(n))
    if kind == 1:
        return ",".join(f"{rng.randrange(1000):03d}" for _ in range(max(1, n // 4)))
    if kind == 2:
        return str(rng.randrange(10)) + "." + "".join(str(rng.randrange(10)) for _ in range(n))
    if kind == 3:
        return ".".join(str(rng.randrange(100)) for _ in range(max(1, n // 2)))
    if kind == 4:
        return " ".join(f"{rng.randrange(10**6)}{pick(rng, ['st', 'nd', 'th', '%', '$', ''])}"
                        for _ in range(max(1, n // 6)))
    if kind == 5:
        return "$" + "".join(str(rng.randrange(10)) for _ in range(n)) + ".99"
    if kind == 6:
        return "".join(pick(rng, "MDCLXVI") for _ in range(max(1, n // 10)))
    return "".join(pick(rng, "0123456789-/:+().,") for _ in range(n))


def mixed_scripts(rng):
    words = []
    for _ in range(big(rng, 500)):
        lo, hi = pick(rng, SCRIPT_RANGES)
        words.append("".join(chr(rng.randint(lo, hi)) for _ in range(rng.randint(1, 12))))
    return "".join(w + pick(rng, SPACES + list(SOLO_PUNCT)) for w in words)


def random_scalars(rng):
    out = []
    for _ in range(big(rng, 3000)):
        if rng.random() < 0.5:
            out.append(chr(rng.randint(0x20, 0x7E)))
        else:
            c = rng.randint(1, 0x10FFFF)
            if 0xD800 <= c <= 0xDFFF:
                c = 0xFFFD
            out.append(chr(c))
    return "".join(out)


def punctuation_runs(rng):
    pool = SOLO_PUNCT + MORE_PUNCT + " "
    return "".join(pick(rng, pool) * rng.choice([1, 1, 2, 3, 50]) for _ in range(big(rng, 800)))


def prose(rng):
    out = []
    for _ in range(big(rng, 400)):
        r = rng.random()
        if r < 0.15:
            out.append(pick(rng, ABBREVIATIONS))
        elif r < 0.2:
            out.append(str(rng.randrange(10 ** rng.randint(1, 12))))
        else:
            out.append(pick(rng, WORDS))
        out.append(pick(rng, [" ", " ", " ", ", ", ". ", "? ", "! ", "; ", ": ", " - "]))
    return "".join(out)


GENERATORS = {
    "dotted-letters": dotted_letters,
    "abbreviations": abbreviations,
    "initials": initials,
    "cjk-punctuation": cjk_punctuation,
    "long-word": long_word,
    "digits": digits,
    "mixed-scripts": mixed_scripts,
    "random": random_scalars,
    "punctuation": punctuation_runs,
    "prose": prose,
}


def mutate(rng, text):
    """Repeats, joins or perturbs a generated text."""
    r = rng.random()
    if r < 0.3 and text:
        i = rng.randrange(len(text))
        j = min(len(text), i + rng.randint(1, 12))
        return text[:i] + text[i:j] * big(rng, 300) + text[j:]
    if r < 0.5:
        return text + pick(rng, SPACES) + GENERATORS[pick(rng, list(GENERATORS))](rng)
    if r < 0.7:
        return "".join(c.upper() if rng.random() < 0.5 else c for c in text)
    if r < 0.85 and text:
        i = rng.randrange(len(text) + 1)
        return text[:i] + pick(rng, SOLO_PUNCT + MORE_PUNCT) + text[i:]
    return text


def generate(rng):
    name = pick(rng, list(GENERATORS))
    text = GENERATORS[name](rng)
    if rng.random() < 0.3:
        text = mutate(rng, text)
    text = text[:MAX_CHARS]
    if not text.strip():
        text = "." + text[: MAX_CHARS - 1]
    return name, text


# ----------------------------------------------------------------------------
# Shrinking


def same_end(a, b):
    """Crashes by any signal count as one end (a stack overwritten by the
    runtime shows as SIGSEGV or SIGBUS depending on the stack's address);
    exit statuses must be equal."""
    return a == b or (a.startswith("signal") and b.startswith("signal"))


def shrink(helper_args, text, outcome, budget_seconds, tries=3):
    """Removes pieces of `text` while a fresh helper still ends like
    `outcome` on it in one of `tries` runs (delta debugging over characters:
    some crashes depend on where the stack lies); returns the smallest text."""
    deadline = time.monotonic() + budget_seconds

    def ends(candidate):
        if not candidate.strip():
            return False
        for _ in range(tries):
            h = Helper(*helper_args)
            kind, detail = h.say(candidate)
            h.close()
            if kind == "gone" and same_end(detail, outcome):
                return True
        return False

    chunks = 2
    while len(text) >= 2 and time.monotonic() < deadline:
        size = max(1, len(text) // chunks)
        removed = False
        for start in range(0, len(text), size):
            if time.monotonic() >= deadline:
                break
            candidate = text[:start] + text[start + size:]
            if ends(candidate):
                text, chunks, removed = candidate, max(chunks - 1, 2), True
                break
        if not removed:
            if size == 1:
                break
            chunks = min(len(text), chunks * 2)
    return text


# ----------------------------------------------------------------------------


def main():
    parser = argparse.ArgumentParser(
        description="Looks for request texts that end the helper (see the header).")
    parser.add_argument("helper")
    parser.add_argument("model_dir")
    parser.add_argument("--model", default=KOKORO)
    parser.add_argument("--minutes", type=float, default=60.0)
    parser.add_argument("--seed", type=int, default=None)
    parser.add_argument("--timeout", type=float, default=60.0)
    parser.add_argument("--minimise", type=int, default=2)
    parser.add_argument("--minimise-seconds", type=float, default=180.0)
    parser.add_argument("--out", default="fuzz-texts")
    args = parser.parse_args()

    seed = args.seed if args.seed is not None else int(time.time())
    rng = random.Random(seed)
    os.makedirs(args.out, exist_ok=True)
    model_dir = os.path.abspath(args.model_dir)
    helper_args = (os.path.abspath(args.helper), args.model, model_dir, args.timeout)
    helper = Helper(*helper_args)

    started = time.monotonic()
    sent = 0
    replies = collections.Counter()
    by_class = collections.Counter()
    findings = []
    last_note = started
    with open(os.path.join(args.out, "findings.jsonl"), "w", encoding="utf-8") as log:
        while time.monotonic() - started < args.minutes * 60:
            name, text = generate(rng)
            kind, detail = helper.say(text)
            sent += 1
            replies[kind] += 1
            if kind == "gone":
                record = {"generator": name, "outcome": detail, "chars": len(text), "text": text}
                findings.append(record)
                by_class[(detail, name)] += 1
                log.write(json.dumps(record, ensure_ascii=False) + "\n")
                log.flush()
            if time.monotonic() - last_note > 300:
                last_note = time.monotonic()
                print(f"[{(last_note - started) / 60:.0f} min] {sent} texts, "
                      f"{len(findings)} findings", flush=True)
    helper.close()
    elapsed = time.monotonic() - started

    shrunk = []
    taken = collections.Counter()
    with open(os.path.join(args.out, "minimised.jsonl"), "w", encoding="utf-8") as log:
        for f in sorted(findings, key=lambda f: f["chars"]):
            key = (f["outcome"].split()[0], f["generator"])
            if taken[key] >= args.minimise or f["outcome"] == "hang":
                continue
            taken[key] += 1
            small = shrink(helper_args, f["text"], f["outcome"], args.minimise_seconds)
            record = {"generator": f["generator"], "outcome": f["outcome"],
                      "from_chars": f["chars"], "chars": len(small), "text": small}
            shrunk.append(record)
            log.write(json.dumps(record, ensure_ascii=False) + "\n")
            log.flush()

    print(f"seed {seed}, {elapsed / 60:.1f} min, {sent} texts "
          f"({', '.join(f'{k} {v}' for k, v in sorted(replies.items()))})")
    for (outcome, name), n in sorted(by_class.items()):
        print(f"  {outcome:16} {name:16} {n}")
    for r in shrunk:
        shown = r["text"] if len(r["text"]) <= 120 else r["text"][:117] + "..."
        print(f"  shrunk {r['outcome']}: {r['from_chars']} -> {r['chars']} chars: {shown!r}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
