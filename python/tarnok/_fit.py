"""The fit of a problem and its result as DataFrames; the numbers are those of the
console program's core, copied, never recomputed here."""

from __future__ import annotations

import os
from dataclasses import dataclass
from typing import Optional, Union

import pandas as pd

from . import _tarnok
from ._problem import Problem


@dataclass(frozen=True)
class Residue:
    """What the factors leave unexplained: one extra profile and its contributions."""

    contributions: pd.Series  # per sample, summing to 1
    profile: pd.Series  # per species


def _frame(cells: dict) -> pd.DataFrame:
    """A table of the program's text cells, numbers as numbers."""
    frame = pd.DataFrame(cells["rows"], columns=cells["headings"])
    for column in frame.columns:
        try:
            frame[column] = pd.to_numeric(frame[column])
        except (ValueError, TypeError):
            pass
    return frame


class Bootstrap:
    """The block bootstrap of a result: replicate fits and the spread of every
    profile element over the replicates mapped to its factor."""

    def __init__(self, core: _tarnok.Bootstrap, fit: _tarnok.Fit):
        self._core = core
        self._fit = fit

    replicates = property(lambda self: self._core.replicates)
    block = property(lambda self: self._core.block)
    fitted = property(lambda self: self._core.fitted)
    failed = property(lambda self: self._core.failed)
    not_run = property(lambda self: self._core.not_run)

    @property
    def summary(self) -> str:
        """The console's lines after a bootstrap."""
        return self._core.summary(self._fit)

    @property
    def table(self) -> pd.DataFrame:
        """Per factor and species: base value, percentiles and count (bootstrap.tsv)."""
        return _frame(self._core.table(self._fit))

    @property
    def mapping(self) -> pd.DataFrame:
        """Per factor the replicates mapped to it (bootstrap_mapping.tsv)."""
        return _frame(self._core.mapping(self._fit))


class Result:
    """A fit with a result: the tables of the result file as DataFrames labelled by
    sample, species and factor, the statistics of every pass and how it stopped."""

    def __init__(self, core: _tarnok.Fit, problem: Problem):
        self._core = core
        self.problem = problem
        self._table_path = ""

    @property
    def contributions(self) -> pd.DataFrame:
        return pd.DataFrame(self._core.x, index=self.problem.samples, columns=self.problem.factors)

    @property
    def profiles(self) -> pd.DataFrame:
        return pd.DataFrame(self._core.p, index=pd.Index(self.problem.species, name="species"),
                            columns=self.problem.factors)

    @property
    def residue(self) -> Residue:
        return Residue(pd.Series(self._core.t, index=self.problem.samples, name="Residue"),
                       pd.Series(self._core.r, index=pd.Index(self.problem.species, name="species"), name="Residue"))

    @property
    def variables(self) -> pd.DataFrame:
        """Per species: Chi2, the degrees of freedom ny, and the regression of the
        measured values on the contributions (a coefficient and its standard error
        s(factor) per factor), as the result table has them."""
        columns = {"Chi2": self._core.chi, "ny": self._core.ny}
        coef, se = self._core.coef, self._core.se
        for f, name in enumerate(self.problem.factors):
            columns[name] = coef[:, f]
            columns[f"s({name})"] = se[:, f]
        return pd.DataFrame(columns, index=pd.Index(self.problem.species, name="species"))

    @property
    def passes(self) -> pd.DataFrame:
        """The statistics line of every pass (chi2, ny, chi2/ny, sumsq) and its seconds."""
        lines = self._core.lines
        frame = pd.DataFrame({k: lines[k] for k in ("chi2", "ny", "chi2/ny", "sumsq")},
                             index=pd.RangeIndex(1, len(lines["chi2"]) + 1, name="pass"))
        if len(lines["seconds"]) == len(frame):
            frame["seconds"] = lines["seconds"]
        return frame

    chi2 = property(lambda self: self._core.chi2, doc="chi2 of the final contribution step")
    ny = property(lambda self: self._core.nytot, doc="its degrees of freedom")
    stop_reason = property(lambda self: self._core.reason,
                           doc="key, pass_limit, interrupted, converged or diverged")
    result_pass = property(lambda self: self._core.result_pass, doc="the pass the result belongs to")
    passes_run = property(lambda self: self._core.passes, doc="statistics lines of the fit")
    not_converged = property(lambda self: self._core.not_converged)
    stop_line = property(lambda self: self._core.stop_line, doc="the console's closing line")
    robust_line = property(lambda self: self._core.robust_line, doc="the console's line after a robust fit")

    @property
    def starts(self) -> Optional[pd.DataFrame]:
        """With starts=N: every start (starts.tsv)."""
        cells = self._core.starts
        return None if cells is None else _frame(cells)

    def write_table(self, path: Union[str, os.PathLike]) -> None:
        """Writes the result table: the same bytes as the console program's."""
        self._table_path = os.fspath(path)
        self._core.write_table(self._table_path)

    def bootstrap(self, replicates: int, *, block: int = 0, seed: int = 1, min_r: float = 0.6) -> Bootstrap:
        """The block bootstrap as --bootstrap N (--block, --seed, --min-r) runs it."""
        return Bootstrap(self._core.bootstrap(replicates, block, seed, min_r), self._core)

    def report(self, dir: Union[str, os.PathLike], *, total: str = "", bootstrap: Optional[Bootstrap] = None) -> None:
        """Writes the report folder as --report DIR (with --total NAME) does."""
        self._core.report(os.fspath(dir), total, self._table_path, None if bootstrap is None else bootstrap._core)

    def __repr__(self) -> str:
        return f"<tarnok.Result {self.stop_line.strip()}>"


def fit(problem: Problem, *, factors: Optional[int] = None, profiles: Optional[pd.DataFrame] = None,
        form: Optional[pd.DataFrame] = None, passes: Optional[int] = None, converge: float = 0.0,
        keep_best: bool = False, accelerate: bool = False, robust: Union[bool, float, None] = None, rotate: Union[str, float, None] = None,
        starts: int = 0, seed: int = 1, threads: Optional[int] = None) -> Result:
    """Fits the problem as the console program does with the same options.

    factors=K prepares a prepared problem again for K factors; profiles= (and
    form=) start from other profiles. passes, converge and keep_best are the stop
    rules (accelerate as --accelerate); without any of them the fit runs until interrupted. robust=True is
    --robust (alpha 4), a number its alpha; rotate is the rotate argument; starts,
    seed and threads as their options (threads=None: one per core)."""
    if factors is not None and profiles is not None:
        raise ValueError("Error: give factors= or profiles=, not both!\n")
    if factors is not None:
        problem = problem.with_factors(factors)
    if profiles is not None:
        problem = problem.with_start(profiles, form)
    elif form is not None:
        problem = problem.with_start(problem.starting_profiles, form)
    alpha = 4.0 if robust is True else float(robust or 0.0)
    rotate_text = None if rotate is None else str(rotate)
    core = _tarnok.fit(problem._core, -1 if passes is None else passes, converge, keep_best, accelerate, alpha, rotate_text,
                       starts, seed, threads or 0)
    return Result(core, problem)
