"""Each option the console has gives, from Python, the console's numbers: the
result table and the report folder's tables byte for byte."""

import pandas as pd
import pytest

import tarnok
from conftest import EXAMPLES, run_program, st_louis_files

NAMES = ["Sulfate", "Smelter", "Steel", "Nitrate", "Traffic", "Crustal", "Copper"]
HOLD = "Secondary sulfate:SO4=5.5"


def fit_names(problem, tmp):
    return tarnok.fit(problem, passes=50, threads=1, names=NAMES), {}


def fit_names_text(problem, tmp):
    return tarnok.fit(problem, passes=50, threads=1, names=",".join(NAMES)), {}


def fit_fresh_starts(problem, tmp):
    return tarnok.fit(problem, fresh_starts=3, seed=5, passes=60, threads=2), {}


def fit_hold_list(problem, tmp):
    return tarnok.fit(problem, hold=[HOLD], passes=100, threads=1), {}


def fit_hold_dict(problem, tmp):
    holds = {"Secondary sulfate:SO4": 5.5, "Zinc smelter:Zn": "0.25"}
    return tarnok.fit(problem, hold=holds, passes=100, threads=1), {}


def fit_accelerated_bootstrap(problem, tmp):
    result = tarnok.fit(problem, accelerate=True, passes=100, threads=2)
    return result, {"bootstrap": result.bootstrap(4, seed=3)}


def fit_units(problem, tmp):
    units = tmp / "species.tsv"
    units.write_text("name in fit\tunit\nCd\tng/m3\nMass\tug/m3\n")
    return tarnok.fit(problem, passes=40, threads=1), {"units": units}


def fit_displacement(problem, tmp):
    result = tarnok.fit(problem, passes=30, threads=2, names=["A", "B", "C"])
    bootstrap = result.bootstrap(4, seed=3, total="Mass")
    displacement = result.displacement([4], total="Mass", bootstrap=bootstrap)
    return result, {"total": "Mass", "bootstrap": bootstrap, "displacement": displacement}


CASES = {
    # name: (console options, the Python fit, report files compared besides the result table)
    "names": (["--passes", "50", "--threads", "1", "--names", ",".join(NAMES)], fit_names, ["variables.tsv"]),
    "names as text": (["--passes", "50", "--threads", "1", "--names", ",".join(NAMES)], fit_names_text, []),
    "fresh starts": (["--fresh-starts", "3", "--seed", "5", "--passes", "60", "--threads", "2"], fit_fresh_starts,
                     ["starts.tsv", "best_start_profile.tsv"]),
    "hold list": (["--hold", HOLD, "--passes", "100", "--threads", "1"], fit_hold_list,
                  ["variables.tsv"]),
    "hold dict": (["--hold", HOLD, "--hold", "Zinc smelter:Zn=0.25", "--passes", "100", "--threads", "1"], fit_hold_dict, ["variables.tsv"]),
    "accelerate bootstrap": (["--accelerate", "--passes", "100", "--threads", "2", "--bootstrap", "4", "--seed", "3"],
                             fit_accelerated_bootstrap, ["bootstrap.tsv", "bootstrap_mapping.tsv"]),
    "units": (["--passes", "40", "--threads", "1", "--units", "{tmp}/species.tsv"], fit_units, ["page_numbers.json", "figures/profile_01.svg"]),
    "displacement": (["--passes", "30", "--threads", "2", "--names", "A,B,C",
                      "--bootstrap", "4", "--seed", "3", "--total", "Mass", "--disp", "--disp-levels", "4"],
                     fit_displacement, ["bootstrap.tsv", "disp.tsv", "disp_summary.tsv", "disp_profile.tsv",
                                        "apportionment.tsv"]),
}


@pytest.fixture(scope="module")
def three_factors(program, tmp_path_factory):
    """St. Louis prepared by the console for 3 factors: few free elements, so that
    a displacement is quick."""
    folder = tmp_path_factory.mktemp("three") / "prepared"
    measured = EXAMPLES / "st_louis" / "measured"
    status, _ = run_program(program, "prepare", "--uncertainties", measured / "uncertainties.csv", "--total", "Mass",
                            "--factors", "3", measured / "concentrations.csv", folder)
    assert status == 0
    return [str(folder / name) for name in ("profile.tsv", "form.tsv", "data.tsv")]


@pytest.mark.parametrize("case", CASES, ids=list(CASES))
def test_option_gives_the_console_numbers(program, st_louis, three_factors, tmp_path, case):
    console, call, files = CASES[case]
    if case == "units":
        fit_units(st_louis, tmp_path)  # the species table the console reads too
    inputs = three_factors if case == "displacement" else st_louis_files()
    args = [a.replace("{tmp}", str(tmp_path)) for a in console]
    status, stdout = run_program(program, *args, "--report", tmp_path / "console", "n", *inputs,
                                 tmp_path / "console.tsv")
    assert status == 0, stdout
    result, extra = call(tarnok.load(*inputs), tmp_path)
    result.write_table(tmp_path / "python.tsv")
    result.report(tmp_path / "python", **extra)
    assert (tmp_path / "python.tsv").read_bytes() == (tmp_path / "console.tsv").read_bytes()
    for name in files:
        assert (tmp_path / "python" / name).read_bytes() == (tmp_path / "console" / name).read_bytes(), name
    # The console's lines are the result's (the closing line where the console
    # prints one: with a stop rule other than --passes, or with held elements).
    assert result.stop_line in stdout or "Stopped:" not in stdout
    assert "held Secondary sulfate:SO4=5.5" in result.stop_line or not case.startswith("hold")
    if "bootstrap" in extra:
        assert extra["bootstrap"].summary in stdout
    if "displacement" in extra:
        displacement = extra["displacement"]
        assert displacement.summary in stdout
        for frame, name in ((displacement.table, "disp.tsv"), (displacement.summary_table, "disp_summary.tsv"),
                            (displacement.apportionment, "apportionment.tsv")):
            console_frame = pd.read_csv(tmp_path / "console" / name, sep="\t", keep_default_na=False,
                                        na_values=[""])
            pd.testing.assert_frame_equal(frame, console_frame, check_dtype=False)
    if case == "fresh starts":
        assert result.stability_line() in stdout
    if case.startswith("names"):
        assert list(result.contributions.columns) == NAMES == list(result.problem.factors)
    if case.startswith("hold"):
        assert result.problem.form.loc["SO4", "Secondary sulfate"] == 0 and st_louis.form.loc["SO4", "Secondary sulfate"] == 1
