"""Bad input raises ValueError with the console program's message; the console's
warnings are Python warnings with its text."""

import os
import subprocess

import pytest

import tarnok
from conftest import EXAMPLES, run_program, st_louis_files

PROFILE, FORM, DATA = st_louis_files()
MISSING = str(EXAMPLES / "st_louis" / "no such file.tsv")


def data_variant(tmp_path, name, records=None, unmeasured=()):
    """The St. Louis data file with its first `records` records only, and the
    records numbered in `unmeasured` (from 0) with every uncertainty 0."""
    lines = open(DATA).read().splitlines(keepends=True)
    head, body = lines[:2], lines[2:2 + records] if records else lines[2:]
    for s in unmeasured:
        cells = body[s].rstrip("\n").split("\t")
        body[s] = "\t".join(cell if k % 2 else "0" if k else cell for k, cell in enumerate(cells)) + "\n"
    path = tmp_path / name
    path.write_text("".join(head + body))
    return str(path)


@pytest.mark.parametrize("console,call", [
    (["n", MISSING, FORM, DATA, "{out}"], lambda out: tarnok.load(MISSING, FORM, DATA)),
    (["n", PROFILE, FORM, PROFILE, "{out}"], lambda out: tarnok.load(PROFILE, FORM, PROFILE)),
    (["--passes", "5", "n", PROFILE, FORM, DATA, "{out}", "inf"],
     lambda out: tarnok.fit(tarnok.load(PROFILE, FORM, DATA), passes=5, rotate="inf")),
    (["--passes", "5", "n", PROFILE, FORM, DATA, DATA],
     lambda out: tarnok.fit(tarnok.load(PROFILE, FORM, DATA), passes=5, threads=1).write_table(DATA)),
    (["--passes", "5", "--report", "{dir}", "--total", "Nothing", "n", PROFILE, FORM, DATA, "{out}"],
     lambda out: tarnok.fit(tarnok.load(PROFILE, FORM, DATA), passes=5, threads=1).report(out, total="Nothing")),
    (["--starts", "3", "n", PROFILE, FORM, DATA, "{out}"],
     lambda out: tarnok.fit(tarnok.load(PROFILE, FORM, DATA), starts=3)),
    (["--passes", "-3", "n", PROFILE, FORM, DATA, "{out}"],
     lambda out: tarnok.fit(tarnok.load(PROFILE, FORM, DATA), passes=-3)),
    (["--passes", "5", "n", PROFILE, FORM, "{few}", "{out}"],
     lambda out: tarnok.fit(tarnok.load(PROFILE, FORM, os.path.join(os.path.dirname(out), "few.tsv")), passes=5)),
    (["--passes", "5", "--bootstrap", "2", "--block", "419", "--report", "{dir}", "n", PROFILE, FORM, DATA, "{out}"],
     lambda out: tarnok.fit(tarnok.load(PROFILE, FORM, DATA), passes=5, threads=1).bootstrap(2, block=419)),
    (["--passes", "5", "--hold", "Zinc smelter:Zn=1", "--hold", "Zinc smelter:Zn=2", "n", PROFILE, FORM, DATA, "{out}"],
     lambda out: tarnok.fit(tarnok.load(PROFILE, FORM, DATA), passes=5, hold=["Zinc smelter:Zn=1", "Zinc smelter:Zn=2"])),
    (["--passes", "5", "--hold", "Zinc smelter:Nope=1", "n", PROFILE, FORM, DATA, "{out}"],
     lambda out: tarnok.fit(tarnok.load(PROFILE, FORM, DATA), passes=5, hold={"Zinc smelter:Nope": 1})),
    (["--passes", "5", "--names", "A,B", "n", PROFILE, FORM, DATA, "{out}"],
     lambda out: tarnok.fit(tarnok.load(PROFILE, FORM, DATA), passes=5, names=["A", "B"])),
    (["--passes", "5", "--fresh-starts", "2", "--starts", "2", "n", PROFILE, FORM, DATA, "{out}"],
     lambda out: tarnok.fit(tarnok.load(PROFILE, FORM, DATA), passes=5, starts=2, fresh_starts=2)),
    (["--passes", "5", "--disp", "--disp-levels", "8,4", "--report", "{dir}", "n", PROFILE, FORM, DATA, "{out}"],
     lambda out: tarnok.fit(tarnok.load(PROFILE, FORM, DATA), passes=5, threads=1).displacement((8, 4))),
], ids=["missing file", "data not a data file", "rotate not finite", "result is an input", "unknown total",
        "starts without a stop rule", "negative passes", "fewer records than factors", "block above the records",
        "element held twice", "held variable unknown", "names for other factors", "starts and fresh starts",
        "levels not rising"])
def test_failure_is_value_error_with_console_text(program, tmp_path, console, call):
    few = data_variant(tmp_path, "few.tsv", records=5)
    args = [a.replace("{out}", str(tmp_path / "out.tsv")).replace("{dir}", str(tmp_path / "report"))
            .replace("{few}", few) for a in console]
    status, stdout = run_program(program, *args)
    assert status == 1
    with pytest.raises(ValueError) as raised:
        call(str(tmp_path / "report"))
    assert str(raised.value) and stdout.endswith(str(raised.value))


@pytest.mark.parametrize("console,kwargs", [
    (["--factors", "3"], dict(factors=3)),  # neither uncertainties nor detection limits
    (["--uncertainties", "{u}", "--factors", "3", "--bad", "Nope"], dict(bad=["Nope"], factors=3, unc=True)),
    (["--uncertainties", "{u}"], dict(unc=True)),
], ids=["no uncertainties", "unknown species", "no factors"])
def test_prepare_failure_is_value_error_with_console_text(program, tmp_path, console, kwargs):
    values = str(EXAMPLES / "st_louis" / "measured" / "concentrations.csv")
    u = values.replace("concentrations", "uncertainties")
    status, stdout = run_program(program, "prepare", *[a.replace("{u}", u) for a in console], values, tmp_path / "out")
    assert status == 1
    uncertainties = u if kwargs.pop("unc", False) else None
    with pytest.raises(ValueError) as raised:
        tarnok.prepare(values, uncertainties, **kwargs)
    assert stdout.endswith(str(raised.value))


@pytest.mark.parametrize("unmeasured", [(0,), (3, 7)], ids=["one record", "two records"])
def test_unmeasured_records_warn_with_console_text(program, tmp_path, unmeasured):
    data = data_variant(tmp_path, "unmeasured.tsv", unmeasured=unmeasured)
    console = subprocess.run([str(program), "--passes", "5", "n", PROFILE, FORM, data, str(tmp_path / "out.tsv")],
                             stdin=subprocess.DEVNULL, capture_output=True, check=True)
    with pytest.warns(UserWarning) as warned:
        tarnok.fit(tarnok.load(PROFILE, FORM, data), passes=5, threads=1).write_table(tmp_path / "python.tsv")
    assert [str(w.message) for w in warned] == [console.stderr.decode()]
    assert (tmp_path / "python.tsv").read_bytes() == (tmp_path / "out.tsv").read_bytes()
