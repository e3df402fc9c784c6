"""The same bytes as the console program: the result table for 1 and 2 threads,
plain and robust, and the report folder's tables beside a bootstrap."""

import pandas as pd
import pytest

import tarnok
from conftest import EXAMPLES, run_program, st_louis_files


@pytest.mark.parametrize("threads", [1, 2])
@pytest.mark.parametrize("options,kwargs", [
    (["--passes", "300"], dict(passes=300)),
    (["--converge", "1e-4", "--keep-best", "--passes", "2000"], dict(converge=1e-4, keep_best=True, passes=2000)),
    (["--robust", "--passes", "100"], dict(robust=True, passes=100)),
    (["--accelerate", "--passes", "300"], dict(accelerate=True, passes=300)),
    (["--starts", "3", "--seed", "5", "--passes", "80"], dict(starts=3, seed=5, passes=80)),
], ids=["passes", "converge", "robust", "accelerate", "starts"])
def test_result_table_is_the_console_programs(program, st_louis, tmp_path, threads, options, kwargs):
    status, _ = run_program(program, *options, "--threads", threads, "n", *st_louis_files(), tmp_path / "console.tsv")
    assert status == 0
    result = tarnok.fit(st_louis, threads=threads, **kwargs)
    result.write_table(tmp_path / "python.tsv")
    assert (tmp_path / "python.tsv").read_bytes() == (tmp_path / "console.tsv").read_bytes()


def test_rotate_text_is_written_as_given(program, st_louis, tmp_path):
    run_program(program, "--passes", "50", "n", *st_louis_files(), tmp_path / "console.tsv", "-0.05")
    tarnok.fit(st_louis, passes=50, rotate="-0.05", threads=1).write_table(tmp_path / "python.tsv")
    assert (tmp_path / "python.tsv").read_bytes() == (tmp_path / "console.tsv").read_bytes()


def test_report_folder_and_bootstrap_are_the_console_programs(program, st_louis, tmp_path):
    status, _ = run_program(program, "--passes", "100", "--bootstrap", "8", "--seed", "3", "--threads", "2",
                            "--report", tmp_path / "console", "--total", "Mass", "n", *st_louis_files(),
                            tmp_path / "console.tsv")
    assert status == 0
    result = tarnok.fit(st_louis, passes=100, threads=2)
    result.write_table(tmp_path / "python.tsv")
    bootstrap = result.bootstrap(8, seed=3)
    result.report(tmp_path / "python", total="Mass", bootstrap=bootstrap)
    names = ["variables.tsv", "records.tsv", "bootstrap.tsv", "bootstrap_mapping.tsv"]
    for name in names:
        assert (tmp_path / "python" / name).read_bytes() == (tmp_path / "console" / name).read_bytes(), name
    console_figures = sorted(p.name for p in (tmp_path / "console" / "figures").iterdir())
    assert sorted(p.name for p in (tmp_path / "python" / "figures").iterdir()) == console_figures
    assert (tmp_path / "python" / "report.html").exists()


def test_prepare_from_paths_and_frames_is_the_console_prepare(program, tmp_path):
    values = str(EXAMPLES / "st_louis" / "measured" / "concentrations.csv")
    uncertainties = str(EXAMPLES / "st_louis" / "measured" / "uncertainties.csv")
    status, _ = run_program(program, "prepare", "--uncertainties", uncertainties, "--total", "Mass", "--factors", "7",
                            values, tmp_path / "prepared")
    assert status == 0
    console = tarnok.load(*(tmp_path / "prepared" / name for name in ("profile.tsv", "form.tsv", "data.tsv")))
    from_paths, species = tarnok.prepare(values, uncertainties, total="Mass", factors=7)
    from_frames, species_frames = tarnok.prepare(pd.read_csv(values, index_col=0), pd.read_csv(uncertainties, index_col=0),
                                                 total="Mass", factors=7)
    for problem in (from_paths, from_frames):
        for table in ("concentrations", "uncertainties", "starting_profiles", "form"):
            pd.testing.assert_frame_equal(getattr(problem, table), getattr(console, table), check_exact=True)
    pd.testing.assert_frame_equal(species, pd.read_csv(tmp_path / "prepared" / "species.tsv", sep="\t",
                                                       keep_default_na=False, na_values=["-"]))
    pd.testing.assert_frame_equal(species_frames, species)
