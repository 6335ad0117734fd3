"""Each program's manual page against its --help: every long option the
program shows there must be named in its page's source (man/NAME.1.in), so
an option added to a program without a word in its page fails here.

The built programs come from the environment (CTest sets them):
KORVELAN_PROGRAM, KORVELAN_PREPARE, KORVELAN_REPORT, KORVELAN_META, and the
pages' folder KORVELAN_MAN_DIR."""

import os
import re
import subprocess
from pathlib import Path

import pytest

PAGES = [
    ("KORVELAN_PROGRAM", "korvelan"),
    ("KORVELAN_PREPARE", "korvelan-prepare"),
    ("KORVELAN_REPORT", "korvelan-report"),
    ("KORVELAN_META", "korvelan-meta"),
]

# A long option: two hyphens, a letter, then letters, digits and hyphens;
# it ends where none of those follows, so --seed is not found in --seeds.
LONG_OPTION = re.compile(r"(?<![\w-])--[A-Za-z][A-Za-z0-9-]*(?![A-Za-z0-9-])")


def long_options(text):
    return set(LONG_OPTION.findall(text))


def roff_to_text(source):
    """The words of a page source as a reader sees them: roff writes a
    hyphen as \\- and switches fonts inline with \\fB, \\fI, \\fR, \\fP, \\f(XX
    or \\f[NAME], which would split an option's name in the source."""
    text = re.sub(r"\\f(\(..|\[[^\]]*\]|.)", "", source)
    text = text.replace("\\-", "-").replace("\\(hy", "-").replace("\\%", "").replace("\\&", "")
    return text


@pytest.mark.parametrize(
    "source, expected",
    [
        (r".BI \-\-seed " + '" N"', {"--seed"}),
        (r".BI \-o " + '", "' + r" \-\-out " + '" FILE"', {"--out"}),
        (r"\fB\-\-split\-ids\fR \fISEP\fR", {"--split-ids"}),
        (r"\f(CW\-\-min\-studies\fP", {"--min-studies"}),
        (r"\f[B]\-\-gene\-order\f[R]", {"--gene-order"}),
        (r"\-\-sort\%\-by", {"--sort-by"}),
        (r".B \-\-help, \-\-version", {"--help", "--version"}),
        (r"a \- dash and \-q alone", set()),
        (r"\-\-seeds", {"--seeds"}),
    ],
    ids=["BI argument", "short and long", "inline fonts", "two-letter font",
         "bracket font", "break point", "two on a line", "no long option", "longer name"],
)
def test_page_source_options(source, expected):
    assert long_options(roff_to_text(source)) == expected


@pytest.mark.parametrize(
    "help_line, expected",
    [
        ("  -o,--out TEXT REQUIRED    Results directory", {"--out"}),
        ("  -h,--help                 Print this help message and exit", {"--help"}),
        ("  --seed INT:INT in [1 - 2147483646]", {"--seed"}),
        ("  --first TEXT:{largest,smallest} Needs: --statistic", {"--first", "--statistic"}),
        ("  --threads T   run on T threads (1 to 256)", {"--threads"}),
        ("  (count + 1) / (total + 1) -- not an option", set()),
    ],
    ids=["CLI11 short and long", "help", "range", "needs", "console style", "bare dashes"],
)
def test_help_options(help_line, expected):
    assert long_options(help_line) == expected


@pytest.mark.parametrize("variable, page", PAGES, ids=[page for _, page in PAGES])
def test_every_help_option_is_in_the_page(variable, page):
    program = os.environ[variable]
    shown = subprocess.run([program, "--help"], check=True, capture_output=True, text=True,
                           timeout=60)
    options = long_options(shown.stdout)
    assert "--help" in options and len(options) >= 4, f"{page} --help shows too little:\n{shown.stdout}"
    source = Path(os.environ["KORVELAN_MAN_DIR"], f"{page}.1.in").read_text(encoding="utf-8")
    missing = sorted(options - long_options(roff_to_text(source)))
    assert not missing, f"{page}: shown by --help but absent from man/{page}.1.in: {', '.join(missing)}"
