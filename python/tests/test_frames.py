"""The result's DataFrames: labelled by sample, species and factor, shaped as the
problem, and holding the numbers of the result table."""

import numpy as np
import pandas as pd
import pytest

import tarnok


@pytest.fixture(scope="module")
def result(st_louis):
    return tarnok.fit(st_louis, passes=60, threads=1)


@pytest.mark.parametrize("table,index,columns", [
    ("contributions", "samples", "factors"),
    ("profiles", "species", "factors"),
    ("concentrations", "samples", "species"),
    ("uncertainties", "samples", "species"),
    ("starting_profiles", "species", "factors"),
    ("form", "species", "factors"),
])
def test_labels_and_shapes(st_louis, result, table, index, columns):
    owner = result if hasattr(result, table) else st_louis
    frame = getattr(owner, table)
    assert list(frame.index) == list(getattr(st_louis, index))
    assert list(frame.columns) == list(getattr(st_louis, columns))
    assert frame.shape == (len(getattr(st_louis, index)), len(getattr(st_louis, columns)))


def test_problem_labels_are_those_of_the_files(st_louis):
    assert st_louis.factors[0] == "Secondary sulfate" and len(st_louis.factors) == 7
    assert st_louis.species[:3] == ["Cd", "Cu", "Fe"] and st_louis.species[-1] == "Mass"
    assert st_louis.samples[0] == "6/22/2001 0:00" and len(st_louis.samples) == 418


def test_tables_hold_the_result_files_numbers(result, tmp_path):
    result.write_table(tmp_path / "result.tsv")
    lines = (tmp_path / "result.tsv").read_text().splitlines()
    nrec, nvar = len(result.contributions), len(result.profiles)
    first = lines[2].split("\t")
    assert [float(v) for v in first[1:-1]] == pytest.approx(result.contributions.iloc[0].tolist(), rel=1e-5)
    assert float(first[-1]) == pytest.approx(result.residue.contributions.iloc[0], rel=1e-5)
    variable = lines[2 + nrec + 2].split("\t")
    assert variable[0] == result.profiles.index[0]
    assert [float(v) for v in variable[1:8]] == pytest.approx(result.profiles.iloc[0].tolist(), rel=1e-5)
    assert float(variable[9]) == pytest.approx(result.variables["Chi2"].iloc[0], rel=1e-5)
    assert float(variable[11]) == pytest.approx(result.variables["Secondary sulfate"].iloc[0], rel=1e-5, abs=1e-12)
    last = lines[2 + nrec + 2 + nvar].split("\t")
    assert float(last[-2]) == pytest.approx(result.chi2, rel=1e-5) and int(last[-1]) == result.ny


def test_passes_and_stop(result):
    passes = result.passes
    assert list(passes.columns[:4]) == ["chi2", "ny", "chi2/ny", "sumsq"]
    assert len(passes) == result.passes_run == 60 and passes.index[0] == 1
    assert np.allclose(passes["chi2/ny"], passes["chi2"] / passes["ny"])
    assert result.stop_reason == "pass_limit" and result.result_pass == 61
    assert result.stop_line.startswith("Stopped: pass limit reached after 60 passes; results belong to pass 61")
    assert result.variables.columns[:4].tolist() == ["Chi2", "ny", "Secondary sulfate", "s(Secondary sulfate)"]


def test_start_from_other_profiles(st_louis):
    profiles = st_louis.starting_profiles.iloc[:, :5]
    form = st_louis.form.iloc[:, :5]
    result = tarnok.fit(st_louis, profiles=profiles.iloc[::-1], form=form, passes=5, threads=1)
    assert list(result.profiles.columns) == list(profiles.columns)
    assert list(result.profiles.index) == st_louis.species
    held = form.to_numpy() == 0
    assert (result.profiles.to_numpy()[held] == profiles.to_numpy()[held]).all()
