"""Bad input raises ValueError with the console program's message."""

import pytest

import tarnok
from conftest import EXAMPLES, run_program, st_louis_files

PROFILE, FORM, DATA = st_louis_files()
MISSING = str(EXAMPLES / "st_louis" / "no such file.tsv")


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
], ids=["missing file", "data not a data file", "rotate not finite", "result is an input", "unknown total",
        "starts without a stop rule", "negative passes"])
def test_failure_is_value_error_with_console_text(program, tmp_path, console, call):
    args = [a.replace("{out}", str(tmp_path / "out.tsv")).replace("{dir}", str(tmp_path / "report")) for a in console]
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
